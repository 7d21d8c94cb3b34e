// Serial ports as Plug-and-Play devices: each port-map entry with a sysfs
// node becomes a Ports-class device described from sysfs (USB strings, the
// kernel driver); ports without one (ptys, virtual ports) become root
// devices. The registry's HKLM\SYSTEM\CurrentControlSet\Enum tree and the
// spooler's port list are computed from the same data.
#include "platform/posix/devices.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>

#include "platform/posix/registry.h"
#include "platform/posix/text.h"
#include "platform/posix/win32_errors.h"
#include "platform/posix/win32_kernel.h"
#include "platform/posix/win32_registry.h"

namespace winapi_posix {

const GUID kGuidPortsClass = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
const GUID kGuidComPortInterface = {0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};
const GUID kGuidUsbClass = {0x36FC9E60, 0xC465, 0x11CF, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

namespace {

std::optional<std::string> ReadAttribute(const std::string& path)
{
    std::ifstream in(path);
    if (!in) return std::nullopt;
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
        line.pop_back();
    std::size_t start = line.find_first_not_of(" \t");
    return start == std::string::npos ? std::string() : line.substr(start);
}

bool IsFile(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::optional<std::string> RealPath(const std::string& path)
{
    char buf[PATH_MAX];
    if (!::realpath(path.c_str(), buf)) return std::nullopt;
    return std::string(buf);
}

std::string BaseName(const std::string& path)
{
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Parent(const std::string& path)
{
    auto slash = path.find_last_of('/');
    return slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
}

std::string Upper(std::string s)
{
    for (auto& c : s)
        if (c >= 'a' && c <= 'z') c = char(c - 32);
    return s;
}

// Instance-ID components may not hold backslashes or control characters.
std::string IdPart(const std::string& s)
{
    std::string out;
    for (unsigned char c : s) out += (c < 0x21 || c == '\\' || c == 0x7F) ? '_' : char(c);
    return out;
}

std::u16string U(const std::string& s) { return FromUtf8(s); }

std::string DriverDescription(const std::string& driver)
{
    if (driver == "serial8250" || driver == "serial") return "Communications Port";
    if (driver == "cdc_acm") return "USB Serial Device";
    if (driver == "ftdi_sio" || driver == "ch341" || driver == "cp210x" || driver == "pl2303") return "USB Serial Port";
    if (driver == "uart-pl011") return "ARM PL011 UART";
    if (driver.empty()) return "Serial Port";
    return driver;
}

struct UsbInfo {
    std::string deviceDir;  // .../usb1/1-1
    std::string vid, pid, serial, product, manufacturer;
    std::string interfaceNumber;  // "00", empty if unknown
    int interfaces = 1;
};

// Walks up from the tty's device node to the USB device (the first folder
// with idVendor/idProduct); the folder below it is the interface.
std::optional<UsbInfo> FindUsb(const std::string& deviceDir, const std::string& sysRoot)
{
    std::string dir = deviceDir, below;
    while (!dir.empty() && dir.size() > sysRoot.size()) {
        if (IsFile(dir + "/idVendor") && IsFile(dir + "/idProduct")) {
            UsbInfo info;
            info.deviceDir = dir;
            info.vid = Upper(ReadAttribute(dir + "/idVendor").value_or(""));
            info.pid = Upper(ReadAttribute(dir + "/idProduct").value_or(""));
            info.serial = ReadAttribute(dir + "/serial").value_or("");
            info.product = ReadAttribute(dir + "/product").value_or("");
            info.manufacturer = ReadAttribute(dir + "/manufacturer").value_or("");
            info.interfaces = std::atoi(ReadAttribute(dir + "/bNumInterfaces").value_or("1").c_str());
            if (!below.empty()) info.interfaceNumber = Upper(ReadAttribute(below + "/bInterfaceNumber").value_or(""));
            if (info.vid.empty() || info.pid.empty()) return std::nullopt;
            return info;
        }
        below = dir;
        dir = Parent(dir);
    }
    return std::nullopt;
}

std::string SysfsRoot()
{
    const char* env = std::getenv("SPECTRO_SYSFS_ROOT");
    std::string root = env && *env ? env : "/sys";
    if (auto real = RealPath(root)) root = *real;
    return root;
}

// One Ports device from a sysfs tty node; nullopt when it vanished meanwhile.
std::optional<PnpDevice> FromSysfs(const PortMapEntry& entry, const std::string& sysRoot,
                                   std::map<std::string, int>& idCounts, std::vector<PnpDevice>& parents)
{
    auto tty = RealPath(entry.SysfsPath);
    if (!tty) return std::nullopt;
    auto deviceDir = RealPath(*tty + "/device");
    std::string driver;
    if (deviceDir) {
        if (auto drv = RealPath(*deviceDir + "/driver")) driver = BaseName(*drv);
    }
    PnpDevice d;
    d.IsPort = true;
    d.Service = U(driver);
    std::optional<UsbInfo> usb = deviceDir ? FindUsb(*deviceDir, sysRoot) : std::nullopt;
    if (usb) {
        std::string tail = IdPart(usb->serial.empty() ? BaseName(usb->deviceDir) : usb->serial);
        std::string hw = "USB\\VID_" + usb->vid + "&PID_" + usb->pid;
        if (usb->interfaces > 1 && !usb->interfaceNumber.empty()) {
            // A composite device: the port is one interface of it, as on Windows.
            std::string parentId = hw + "\\" + tail;
            hw += "&MI_" + usb->interfaceNumber;
            d.ParentId = U(parentId);
            bool known = false;
            for (auto& p : parents) known = known || EqualsNoCase(p.InstanceId, d.ParentId);
            if (!known) {
                PnpDevice parent;
                parent.InstanceId = d.ParentId;
                parent.ClassGuid = kGuidUsbClass;
                parent.ClassName = u"USB";
                parent.Description = U("USB Composite Device");
                parent.Manufacturer = U(usb->manufacturer);
                parent.Service = u"usbccgp";
                parent.HardwareId = U("USB\\VID_" + usb->vid + "&PID_" + usb->pid);
                parents.push_back(std::move(parent));
            }
        }
        d.HardwareId = U(hw);
        d.InstanceId = U(hw + "\\" + tail);
        d.Description = U(usb->product.empty() ? DriverDescription(driver) : usb->product);
        d.Manufacturer = U(usb->manufacturer);
    } else {
        std::string pnpId;
        if (deviceDir) pnpId = IdPart(ReadAttribute(*deviceDir + "/id").value_or(""));
        if (pnpId.empty()) {
            if (driver == "serial8250" || driver == "serial")
                pnpId = "PNP0501";
            else if (driver == "uart-pl011")
                pnpId = "ARMH0011";
        }
        std::string bus = pnpId.empty() ? "ROOT\\PORTS" : "ACPI\\" + pnpId;
        int n = idCounts[bus]++;
        char num[16];
        std::snprintf(num, sizeof num, pnpId.empty() ? "%04d" : "%d", n);
        d.HardwareId = U(pnpId.empty() ? bus : "ACPI\\" + pnpId);
        d.InstanceId = U(bus + "\\" + num);
        d.Description = U(DriverDescription(driver));
        d.Manufacturer = U(driver == "serial8250" || driver == "serial" ? "(Standard port types)" : "");
        d.LegacySerial = driver == "serial8250" || driver == "serial" || pnpId == "PNP0501";
    }
    // Gone between the first look and now: skip it rather than report half.
    if (!RealPath(entry.SysfsPath)) return std::nullopt;
    return d;
}

PnpDevice FromVirtual(const PortMapEntry& entry, std::map<std::string, int>& idCounts)
{
    PnpDevice d;
    d.IsPort = true;
    bool inProcess = entry.DevicePath.rfind("virtual:", 0) == 0;
    int n = idCounts["ROOT\\PORTS"]++;
    char num[16];
    std::snprintf(num, sizeof num, "%04d", n);
    d.InstanceId = U(std::string("ROOT\\PORTS\\") + num);
    d.HardwareId = u"ROOT\\PORTS";
    d.Description = inProcess ? u"Virtual Serial Port" : u"Pseudo Terminal Serial Port";
    d.Service = inProcess ? u"vport" : u"pty";
    d.Manufacturer = u"(Virtual port)";
    return d;
}

std::mutex g_devInstMutex;
std::map<std::u16string, DWORD> g_devInstByFoldedId;
std::map<DWORD, std::u16string> g_idByDevInst;
DWORD g_nextDevInst = kRootDevInst + 1;

}  // namespace

std::u16string GuidToString(const GUID& g, bool upper)
{
    char buf[40];
    std::snprintf(buf, sizeof buf,
                  upper ? "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}"
                        : "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                  unsigned(g.Data1), unsigned(g.Data2), unsigned(g.Data3), g.Data4[0], g.Data4[1], g.Data4[2],
                  g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return U(buf);
}

std::u16string InterfacePath(const PnpDevice& device, const GUID& interfaceClass)
{
    std::u16string id = device.InstanceId;
    for (auto& c : id) {
        if (c == u'\\')
            c = u'#';
        else if (c >= u'A' && c <= u'Z')
            c = char16_t(c + 32);
    }
    return u"\\\\?\\" + id + u"#" + GuidToString(interfaceClass, false);
}

DWORD DevInstOf(const std::u16string& instanceId)
{
    if (EqualsNoCase(instanceId, kRootInstanceId)) return kRootDevInst;
    std::lock_guard lock(g_devInstMutex);
    std::u16string key = UpperAscii(instanceId);
    auto it = g_devInstByFoldedId.find(key);
    if (it != g_devInstByFoldedId.end()) return it->second;
    DWORD n = g_nextDevInst++;
    g_devInstByFoldedId.emplace(key, n);
    g_idByDevInst.emplace(n, instanceId);
    return n;
}

std::u16string InstanceIdOf(DWORD devInst)
{
    if (devInst == kRootDevInst) return kRootInstanceId;
    std::lock_guard lock(g_devInstMutex);
    auto it = g_idByDevInst.find(devInst);
    return it == g_idByDevInst.end() ? std::u16string() : it->second;
}

std::vector<PnpDevice> ScanDevices()
{
    std::vector<PnpDevice> ports, parents;
    std::map<std::string, int> idCounts;
    const std::string sysRoot = SysfsRoot();
    for (const auto& entry : CurrentPortMap()) {
        std::optional<PnpDevice> d;
        if (!entry.SysfsPath.empty())
            d = FromSysfs(entry, sysRoot, idCounts, parents);
        else
            d = FromVirtual(entry, idCounts);
        if (!d) continue;
        d->ClassGuid = kGuidPortsClass;
        d->ClassName = u"Ports";
        d->PortName = entry.ComName;
        d->PdoName = entry.KernelName;
        // Two ports behind one interface (multi-port adapters) keep distinct IDs.
        for (const auto& other : ports) {
            if (EqualsNoCase(other.InstanceId, d->InstanceId)) {
                d->InstanceId += u"&" + entry.ComName;
                break;
            }
        }
        char key[8];
        std::snprintf(key, sizeof key, "\\%04u", unsigned(ports.size()));
        d->Driver = GuidToString(kGuidPortsClass) + U(key);
        std::u16string path = InterfacePath(*d, kGuidComPortInterface);
        std::u16string tail = path.substr(4);
        for (std::size_t i = 0; i < tail.size() && tail[i] != u'{'; ++i)
            if (tail[i] >= u'a' && tail[i] <= u'z') tail[i] = char16_t(tail[i] - 32);
        d->SymbolicName = u"\\??\\" + tail;
        ports.push_back(std::move(*d));
    }
    for (auto& p : parents) ports.push_back(std::move(p));
    for (auto& d : ports) d.DevInst = DevInstOf(d.InstanceId);
    return ports;
}

bool EnumTreeKey(const std::u16string& path, std::vector<RegValue>* values, std::vector<std::u16string>* subkeys)
{
    values->clear();
    subkeys->clear();
    const auto wanted = SplitKeyPath(path);
    bool exists = wanted.empty();
    for (const auto& d : ScanDevices()) {
        auto parts = SplitKeyPath(d.InstanceId);
        if (d.IsPort) parts.push_back(u"Device Parameters");
        if (wanted.size() > parts.size()) continue;
        bool prefix = true;
        for (std::size_t i = 0; prefix && i < wanted.size(); ++i) prefix = EqualsNoCase(wanted[i], parts[i]);
        if (!prefix) continue;
        exists = true;
        if (wanted.size() < parts.size()) {
            const auto& next = parts[wanted.size()];
            bool seen = false;
            for (const auto& s : *subkeys) seen = seen || EqualsNoCase(s, next);
            if (!seen) subkeys->push_back(next);
        }
        if (wanted.size() == 3) {
            // The device's own key.
            values->push_back(StringValue(u"DeviceDesc", d.Description));
            values->push_back(StringValue(u"Mfg", d.Manufacturer));
            values->push_back(StringValue(u"Service", d.Service));
            values->push_back(StringValue(u"Class", d.ClassName));
            values->push_back(StringValue(u"ClassGUID", GuidToString(d.ClassGuid)));
            if (d.IsPort) {
                values->push_back(StringValue(u"Driver", d.Driver));
                values->push_back(StringValue(u"FriendlyName", d.Description + u" (" + d.PortName + u")"));
            }
        } else if (wanted.size() == 4 && d.IsPort) {
            values->push_back(StringValue(u"PortName", d.PortName));
            values->push_back(StringValue(u"SymbolicName", d.SymbolicName));
        }
    }
    return exists;
}

}  // namespace winapi_posix

using namespace winapi_posix;

extern "C" {

// The local port monitor's list: the COM ports of the port map, then LPT1:
// and FILE: (spooler names keep their colon).
BOOL WINAPI EnumPortsW(LPWSTR pName, DWORD Level, LPBYTE pPorts, DWORD cbBuf, LPDWORD pcbNeeded, LPDWORD pcReturned)
{
    if (pName && *pName) {
        SetLastError(ERROR_INVALID_NAME);  // no remote print servers
        return FALSE;
    }
    if (Level != 1) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    if (!pcbNeeded || !pcReturned) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::vector<std::u16string> names;
    for (const auto& e : CurrentPortMap()) names.push_back(e.ComName + u":");
    names.push_back(u"LPT1:");
    names.push_back(u"FILE:");
    DWORD needed = DWORD(names.size() * sizeof(PORT_INFO_1W));
    for (const auto& n : names) needed += DWORD((n.size() + 1) * sizeof(WCHAR));
    *pcbNeeded = needed;
    *pcReturned = 0;
    if (!pPorts || cbBuf < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    auto* info = reinterpret_cast<PORT_INFO_1W*>(pPorts);
    auto* text = reinterpret_cast<WCHAR*>(pPorts + names.size() * sizeof(PORT_INFO_1W));
    for (std::size_t i = 0; i < names.size(); ++i) {
        info[i].pName = text;
        std::memcpy(text, names[i].c_str(), (names[i].size() + 1) * sizeof(WCHAR));
        text += names[i].size() + 1;
    }
    *pcReturned = DWORD(names.size());
    return TRUE;
}

}  // extern "C"
