// SetupAPI and cfgmgr32 over a fake sysfs tree.
#include <gtest/gtest.h>
#include <winapi.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/posix/handles.h"
#include "platform_fixture.h"

namespace fs = std::filesystem;

namespace {

const GUID kPorts = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
const GUID kComPort = {0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};
const GUID kModem = {0x4D36E96D, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
const GUID kModemInterface = {0x2C7089AA, 0x2E0E, 0x11D1, {0xB1, 0x14, 0x00, 0xC0, 0x4F, 0xC2, 0xAA, 0xE4}};

struct Device {
    std::u16string instanceId, description, manufacturer, service, driver, pdo, portName, symbolic, regKey;
};

class SetupApi : public PlatformFixture {
protected:
    void SetUp() override
    {
        PlatformFixture::SetUp();
        sys_ = root_ + "/sys";
        // An FTDI adapter with a serial number (one interface) ...
        std::string usb = UsbDevice("1-2", "0403", "6001", "FT232R USB UART", 1);
        Attr(usb, "serial", "A10K1ABC");
        Attr(usb, "manufacturer", "FTDI");
        Driver(usb + "/1-2:1.0/ttyUSB0", "bus/usb-serial/drivers/ftdi_sio");
        ftdi_ = Tty(usb + "/1-2:1.0/ttyUSB0", "ttyUSB0");
        // ... a composite CDC ACM board without one ...
        std::string acm = UsbDevice("1-3", "2341", "8036", "Leonardo", 2);
        Driver(acm + "/1-3:1.0", "bus/usb/drivers/cdc_acm");
        acm_ = Tty(acm + "/1-3:1.0", "ttyACM0");
        // ... and a 16550 UART enumerated by PnP.
        std::string uart = sys_ + "/devices/pnp0/00:05";
        Attr(uart, "id", "PNP0501");
        Driver(uart, "bus/pnp/drivers/serial");
        uart_ = Tty(uart, "ttyS0");
        SetPorts({Port(u"COM1", u"\\Device\\Serial0", uart_), Port(u"COM5", u"\\Device\\pts3"),
                  Port(u"COM10", u"\\Device\\ttyUSB0", ftdi_), Port(u"COM11", u"\\Device\\ttyACM0", acm_)});
        setupapi_ = LoadLibraryW(u"SetupAPI.dll");
        ASSERT_NE(setupapi_, nullptr);
    }
    void TearDown() override
    {
        FreeLibrary(setupapi_);
        PlatformFixture::TearDown();
    }

    void Attr(const std::string& dir, const std::string& name, const std::string& value)
    {
        fs::create_directories(dir);
        WriteFile(dir + "/" + name, value + "\n");
    }
    // A USB device on port <port> of the first bus and its first interface.
    std::string UsbDevice(const std::string& port, const std::string& vid, const std::string& pid,
                          const std::string& product, int interfaces)
    {
        std::string usb = sys_ + "/devices/pci0000:00/0000:00:14.0/usb1/" + port;
        Attr(usb, "idVendor", vid);
        Attr(usb, "idProduct", pid);
        Attr(usb, "product", product);
        Attr(usb, "bNumInterfaces", " " + std::to_string(interfaces));
        Attr(usb + "/" + port + ":1.0", "bInterfaceNumber", "00");
        return usb;
    }
    void Driver(const std::string& dir, const std::string& driverPath)
    {
        fs::create_directories(dir);
        fs::create_directories(sys_ + "/" + driverPath);
        fs::create_symlink(sys_ + "/" + driverPath, dir + "/driver");
    }
    // <device>/tty/<name> with its "device" link, and class/tty/<name>.
    std::string Tty(const std::string& deviceDir, const std::string& name)
    {
        std::string node = deviceDir + "/tty/" + name;
        fs::create_directories(node);
        fs::create_symlink(deviceDir, node + "/device");
        fs::create_symlink(node, sys_ + "/class/tty/" + name);
        return sys_ + "/class/tty/" + name;
    }

    static std::u16string Property(HDEVINFO set, SP_DEVINFO_DATA* data, DWORD property)
    {
        BYTE buffer[512];
        DWORD needed = 0;
        if (!SetupDiGetDeviceRegistryPropertyW(set, data, property, nullptr, buffer, sizeof buffer, &needed))
            return u"";
        return std::u16string(reinterpret_cast<char16_t*>(buffer), needed / 2 - 1);
    }

    static std::u16string ReadString(HKEY key, const char16_t* name)
    {
        BYTE data[512];
        DWORD size = sizeof data, type = 0;
        if (RegQueryValueExW(key, name, nullptr, &type, data, &size) != ERROR_SUCCESS || type != REG_SZ) return u"?";
        return std::u16string(reinterpret_cast<char16_t*>(data), size / 2 - 1);
    }

    static std::u16string KeyName(HKEY key)
    {
        ULONG needed = 0;
        ZwQueryKey(key, KeyNameInformation, nullptr, 0, &needed);
        std::vector<BYTE> buffer(needed + 2, 0);
        ZwQueryKey(key, KeyNameInformation, buffer.data(), needed + 2, &needed);
        return std::u16string(reinterpret_cast<char16_t*>(buffer.data() + 4));
    }

    // What the library's class scan reads from each device.
    std::vector<Device> ClassScan(const GUID& guid)
    {
        std::vector<Device> out;
        HDEVINFO set = SetupDiGetClassDevsW(&guid, nullptr, nullptr, DIGCF_PRESENT);
        EXPECT_NE(set, INVALID_HANDLE_VALUE);
        SP_DEVINFO_DATA data{};
        data.cbSize = sizeof data;
        for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &data); ++i) {
            EXPECT_EQ(data.ClassGuid, guid);
            Device d;
            d.driver = Property(set, &data, SPDRP_DRIVER);
            d.service = Property(set, &data, SPDRP_SERVICE);
            d.pdo = Property(set, &data, SPDRP_PHYSICAL_DEVICE_OBJECT_NAME);
            d.description = Property(set, &data, SPDRP_DEVICEDESC);
            d.manufacturer = Property(set, &data, SPDRP_MFG);
            HKEY key = SetupDiOpenDevRegKey(set, &data, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
            if (key != reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE)) {
                d.regKey = KeyName(key);
                d.portName = ReadString(key, u"PortName");
                d.symbolic = ReadString(key, u"SymbolicName");
                RegCloseKey(key);
            }
            WCHAR id[256];
            DWORD size = 0;
            if (SetupDiGetDeviceInstanceIdW(set, &data, id, 256, &size)) d.instanceId = std::u16string(id, size - 1);
            out.push_back(d);
        }
        EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_MORE_ITEMS));
        EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
        return out;
    }

    std::vector<std::u16string> InterfacePaths(const GUID& guid)
    {
        std::vector<std::u16string> out;
        HDEVINFO set = SetupDiGetClassDevsW(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        SP_DEVICE_INTERFACE_DATA itf{};
        itf.cbSize = sizeof itf;
        for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &guid, i, &itf); ++i) {
            SP_DEVINFO_DATA data{};
            data.cbSize = sizeof data;
            DWORD needed = 0;
            EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set, &itf, nullptr, 0, &needed, &data));
            EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
            auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(LocalAlloc(LPTR, needed));
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
            EXPECT_TRUE(SetupDiGetDeviceInterfaceDetailW(set, &itf, detail, needed, &needed, &data));
            EXPECT_EQ(data.ClassGuid, kPorts);
            out.push_back(detail->DevicePath);
            LocalFree(detail);
        }
        SetupDiDestroyDeviceInfoList(set);
        return out;
    }

    std::string sys_, ftdi_, acm_, uart_;
    HMODULE setupapi_ = nullptr;
};

TEST_F(SetupApi, PortsClassDescribesEachTtyFromSysfs)
{
    const std::size_t handles = winapi_posix::OpenHandleCount();
    auto devices = ClassScan(kPorts);
    ASSERT_EQ(devices.size(), 4u);

    const Device& uart = devices[0];
    EXPECT_EQ(uart.instanceId, u"ACPI\\PNP0501\\0");
    EXPECT_EQ(uart.description, u"Communications Port");
    EXPECT_EQ(uart.service, u"serial");
    EXPECT_EQ(uart.manufacturer, u"(Standard port types)");
    EXPECT_EQ(uart.portName, u"COM1");
    EXPECT_EQ(uart.pdo, u"\\Device\\Serial0");

    const Device& pty = devices[1];
    EXPECT_EQ(pty.instanceId.rfind(u"ROOT\\PORTS\\", 0), 0u);
    EXPECT_EQ(pty.portName, u"COM5");

    const Device& ftdi = devices[2];
    EXPECT_EQ(ftdi.instanceId, u"USB\\VID_0403&PID_6001\\A10K1ABC");
    EXPECT_EQ(ftdi.description, u"FT232R USB UART");
    EXPECT_EQ(ftdi.manufacturer, u"FTDI");
    EXPECT_EQ(ftdi.service, u"ftdi_sio");
    EXPECT_EQ(ftdi.driver, u"{4D36E978-E325-11CE-BFC1-08002BE10318}\\0002");
    EXPECT_EQ(ftdi.portName, u"COM10");
    EXPECT_EQ(ftdi.symbolic, u"\\??\\USB#VID_0403&PID_6001#A10K1ABC#{86e0d1e0-8089-11d0-9ce4-08003e301f73}");
    EXPECT_EQ(ftdi.regKey,
              u"\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_0403&PID_6001\\A10K1ABC\\Device "
              u"Parameters");

    const Device& acm = devices[3];
    EXPECT_EQ(acm.instanceId, u"USB\\VID_2341&PID_8036&MI_00\\1-3");
    EXPECT_EQ(acm.description, u"Leonardo");
    EXPECT_EQ(acm.service, u"cdc_acm");
    EXPECT_EQ(acm.manufacturer, u"");
    EXPECT_EQ(acm.portName, u"COM11");

    // The hardware key is reachable again by its path, as the library reads it.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                            u"SYSTEM\\CurrentControlSet\\Enum\\usb\\vid_0403&pid_6001\\A10K1ABC\\Device Parameters", 0,
                            KEY_READ, &key),
              ERROR_SUCCESS);
    EXPECT_EQ(ReadString(key, u"PortName"), u"COM10");
    RegCloseKey(key);
    EXPECT_EQ(winapi_posix::OpenHandleCount(), handles);
}

TEST_F(SetupApi, InterfaceClassesAndEmptyClasses)
{
    auto com = InterfacePaths(kComPort);
    ASSERT_EQ(com.size(), 4u);
    EXPECT_EQ(com[2], u"\\\\?\\usb#vid_0403&pid_6001#a10k1abc#{86e0d1e0-8089-11d0-9ce4-08003e301f73}");
    // The Ports GUID as an interface: only the UART registers it.
    auto legacy = InterfacePaths(kPorts);
    ASSERT_EQ(legacy.size(), 1u);
    EXPECT_EQ(legacy[0].rfind(u"\\\\?\\acpi#pnp0501#0#", 0), 0u);
    EXPECT_TRUE(InterfacePaths(kModemInterface).empty());
    EXPECT_TRUE(ClassScan(kModem).empty());

    // Wrong record sizes are refused as on Windows.
    HDEVINFO set = SetupDiGetClassDevsW(&kPorts, nullptr, nullptr, DIGCF_PRESENT);
    SP_DEVINFO_DATA data{};
    data.cbSize = 28;  // a 32-bit process's size
    EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 0, &data));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_USER_BUFFER));
    SetupDiDestroyDeviceInfoList(set);
    EXPECT_FALSE(SetupDiDestroyDeviceInfoList(set));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    // Every call on a destroyed set says so.
    data.cbSize = sizeof data;
    SetLastError(0);
    EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 0, &data));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    SetLastError(0);
    EXPECT_EQ(SetupDiOpenDevRegKey(set, &data, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ),
              reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}

TEST_F(SetupApi, PropertyBuffersFollowTheSizeRules)
{
    HDEVINFO set = SetupDiGetClassDevsW(&kPorts, nullptr, nullptr, DIGCF_PRESENT);
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 2, &data));
    DWORD needed = 0, type = 0;
    BYTE small[8];
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(set, &data, SPDRP_DEVICEDESC, &type, small, sizeof small, &needed));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(needed, DWORD((std::u16string(u"FT232R USB UART").size() + 1) * 2));
    EXPECT_EQ(type, DWORD(REG_SZ));
    WCHAR id[4];
    EXPECT_FALSE(SetupDiGetDeviceInstanceIdW(set, &data, id, 4, &needed));
    EXPECT_EQ(needed, DWORD(std::u16string(u"USB\\VID_0403&PID_6001\\A10K1ABC").size() + 1));
    // The ACM device has no manufacturer string: the property is missing.
    ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 3, &data));
    BYTE buffer[512];
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(set, &data, SPDRP_MFG, nullptr, buffer, sizeof buffer, &needed));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_DATA));
    SetupDiDestroyDeviceInfoList(set);
}

TEST_F(SetupApi, BusRelationsThroughConfigurationManager)
{
    ULONG length = 0;
    // The composite board's interface is on its bus.
    ASSERT_EQ(CM_Get_Device_ID_List_SizeW(&length, u"USB\\VID_2341&PID_8036\\1-3", CM_GETIDLIST_FILTER_BUSRELATIONS),
              ULONG(CR_SUCCESS));
    std::vector<WCHAR> list(length);
    ASSERT_EQ(
        CM_Get_Device_ID_ListW(u"USB\\VID_2341&PID_8036\\1-3", list.data(), length, CM_GETIDLIST_FILTER_BUSRELATIONS),
        ULONG(CR_SUCCESS));
    EXPECT_EQ(std::u16string(list.data()), u"USB\\VID_2341&PID_8036&MI_00\\1-3");
    EXPECT_EQ(list[length - 1], 0);
    EXPECT_EQ(list[length - 2], 0);
    EXPECT_EQ(CM_Get_Device_ID_ListW(u"USB\\VID_2341&PID_8036\\1-3", list.data(), length - 1,
                                     CM_GETIDLIST_FILTER_BUSRELATIONS),
              ULONG(CR_BUFFER_SMALL));

    // A port has nothing on its bus: an empty list.
    ASSERT_EQ(
        CM_Get_Device_ID_List_SizeW(&length, u"USB\\VID_0403&PID_6001\\A10K1ABC", CM_GETIDLIST_FILTER_BUSRELATIONS),
        ULONG(CR_SUCCESS));
    EXPECT_EQ(length, 1u);
    EXPECT_EQ(CM_Get_Device_ID_List_SizeW(&length, u"USB\\NOPE\\1", CM_GETIDLIST_FILTER_BUSRELATIONS),
              ULONG(CR_INVALID_DEVICE_ID));

    DEVINST port = 0, parent = 0;
    ASSERT_EQ(CM_Locate_DevNodeW(&port, const_cast<WCHAR*>(u"USB\\VID_2341&PID_8036&MI_00\\1-3"), 0),
              ULONG(CR_SUCCESS));
    ASSERT_EQ(CM_Get_Parent(&parent, port, 0), ULONG(CR_SUCCESS));
    DEVINST byId = 0;
    CM_Locate_DevNodeW(&byId, const_cast<WCHAR*>(u"usb\\vid_2341&pid_8036\\1-3"), 0);
    EXPECT_EQ(parent, byId);
    DEVINST child = 0;
    EXPECT_EQ(CM_Get_Child(&child, parent, 0), ULONG(CR_SUCCESS));
    EXPECT_EQ(child, port);
}

TEST_F(SetupApi, EntriesThatVanishMidScanAreSkipped)
{
    // The port map still lists ttyUSB0, but its sysfs node is gone.
    fs::remove(sys_ + "/class/tty/ttyUSB0");
    auto devices = ClassScan(kPorts);
    ASSERT_EQ(devices.size(), 3u);
    for (const auto& d : devices) EXPECT_NE(d.portName, u"COM10");

    // A set made before a device left keeps answering from what it saw, but
    // the device's hardware key is gone with the device.
    HDEVINFO set = SetupDiGetClassDevsW(&kPorts, nullptr, nullptr, DIGCF_PRESENT);
    fs::remove(sys_ + "/class/tty/ttyACM0");
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 2, &data));
    EXPECT_EQ(Property(set, &data, SPDRP_DEVICEDESC), u"Leonardo");
    EXPECT_EQ(SetupDiOpenDevRegKey(set, &data, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE),
              reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    SetupDiDestroyDeviceInfoList(set);
}

}  // namespace
