// The port map (see portmap.h for the rules).
#include "platform/posix/portmap.h"

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <sstream>

#include "platform/posix/portwatch.h"
#include "platform/posix/text.h"

namespace winapi_posix {

namespace {

std::string Env(const char* name, const std::string& fallback)
{
    const char* value = std::getenv(name);
    return value && *value ? std::string(value) : fallback;
}

std::u16string Widen(const std::string& s) { return std::u16string(s.begin(), s.end()); }

std::string Trim(const std::string& s)
{
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

std::string ReadFirstLine(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return Trim(line);
}

std::string Basename(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool Exists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::string Resolve(const std::string& path)
{
    char buffer[PATH_MAX];
    return realpath(path.c_str(), buffer) ? std::string(buffer) : std::string();
}

std::u16string ComOf(unsigned n) { return u"COM" + Widen(std::to_string(n)); }

// "\Device\ttyUSB0"; a pty slave /dev/pts/3 is "\Device\pts3".
std::u16string KernelNameOf(const std::string& devicePath)
{
    std::string name = Basename(devicePath);
    if (devicePath.find("/pts/") != std::string::npos) name = "pts" + name;
    return u"\\Device\\" + Widen(name);
}

// Trailing decimal number of a name like "ttyUSB12"; -1 if none.
long TrailingNumber(const std::string& name, size_t prefixLength)
{
    if (name.size() <= prefixLength) return -1;
    long n = 0;
    for (size_t i = prefixLength; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return -1;
        n = n * 10 + (name[i] - '0');
        if (n > 1000000) return -1;
    }
    return n;
}

// A ttyS<n> node exists for every possible 8250 port; only those with a UART
// count: "type" (the UART type, 0 = none) when the kernel offers it, otherwise
// a bound driver other than the 8250 placeholder platform driver.
bool HasUart(const std::string& classDir)
{
    std::string type = ReadFirstLine(classDir + "/type");
    if (!type.empty()) return std::atol(type.c_str()) != 0;
    std::string driver = Basename(Resolve(classDir + "/device/driver"));
    return !driver.empty() && driver != "serial8250";
}

struct Found {
    int kind;  // 0 ttyS, 1 USB, 2 ACM, 3 AMA, 4 rfcomm
    long number;
    std::string name;
    std::string classDir;
};

std::string TtyClassDir() { return Env("SPECTRO_SYSFS_ROOT", "/sys") + "/class/tty"; }

std::string DevRoot() { return Env("SPECTRO_DEV_ROOT", "/dev"); }

void ScanSysfs(std::vector<PortMapEntry>* map)
{
    std::string devRoot = DevRoot();
    std::string classRoot = TtyClassDir();
    static const struct {
        const char* prefix;
        int kind;
    } kinds[] = {{"ttyS", 0}, {"ttyUSB", 1}, {"ttyACM", 2}, {"ttyAMA", 3}, {"rfcomm", 4}};
    std::vector<Found> found;
    if (DIR* dir = opendir(classRoot.c_str())) {
        while (dirent* e = readdir(dir)) {
            std::string name = e->d_name;
            for (const auto& k : kinds) {
                size_t len = std::char_traits<char>::length(k.prefix);
                if (name.compare(0, len, k.prefix) != 0) continue;
                long number = TrailingNumber(name, len);
                if (number < 0) continue;
                std::string classDir = classRoot + "/" + name;
                if (k.kind == 0 && !HasUart(classDir)) continue;
                found.push_back({k.kind, number, name, classDir});
                break;
            }
        }
        closedir(dir);
    }
    std::sort(found.begin(), found.end(),
              [](const Found& a, const Found& b) { return a.kind != b.kind ? a.kind < b.kind : a.number < b.number; });
    std::set<unsigned> used;
    for (const Found& f : found)
        if (f.kind == 0) used.insert(static_cast<unsigned>(f.number) + 1);
    unsigned next = 10;
    for (const Found& f : found) {
        unsigned com;
        if (f.kind == 0) {
            com = static_cast<unsigned>(f.number) + 1;
        } else {
            while (used.count(next)) ++next;
            com = next;
            used.insert(next);
        }
        PortMapEntry entry;
        entry.ComName = ComOf(com);
        entry.DevicePath = devRoot + "/" + f.name;
        entry.KernelName = u"\\Device\\" + Widen(f.name);
        std::string resolved = Resolve(f.classDir);
        entry.SysfsPath = resolved.empty() ? f.classDir : resolved;
        map->push_back(entry);
    }
}

// Adds or replaces: same COM name → replaced; the same device under another
// name loses its old name.
void Put(std::vector<PortMapEntry>* map, PortMapEntry entry)
{
    entry.ComName = UpperAscii(entry.ComName);
    map->erase(std::remove_if(map->begin(), map->end(),
                              [&](const PortMapEntry& e) {
                                  return e.ComName == entry.ComName ||
                                         (!entry.Virtual && !e.Virtual && e.DevicePath == entry.DevicePath);
                              }),
               map->end());
    map->push_back(std::move(entry));
}

PortMapEntry DeviceEntry(const std::string& comName, const std::string& devicePath)
{
    PortMapEntry entry;
    entry.ComName = UpperAscii(Widen(comName));
    entry.DevicePath = devicePath;
    entry.KernelName = KernelNameOf(devicePath);
    return entry;
}

// "COM5=/dev/pts/3" → true with its parts.
bool ParseAssignment(const std::string& text, std::string* com, std::string* path)
{
    size_t eq = text.find('=');
    if (eq == std::string::npos) return false;
    *com = Trim(text.substr(0, eq));
    *path = Trim(text.substr(eq + 1));
    return ComNumber(Widen(*com)) != 0 && !path->empty();
}

std::string UserFile()
{
    std::string config = Env("XDG_CONFIG_HOME", "");
    if (config.empty()) config = Env("HOME", "/tmp") + "/.config";
    return config + "/spectrometer/ports";
}

bool ProcessAlive(long pid) { return pid > 0 && (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM); }

void ReadRegistrations(std::vector<PortMapEntry>* map)
{
    std::string dirPath = PortRegistrationDir();
    DIR* dir = opendir(dirPath.c_str());
    if (!dir) return;
    std::vector<std::pair<std::string, std::string>> entries;
    while (dirent* e = readdir(dir)) {
        std::string name = e->d_name;
        if (name.size() < 6 || name.substr(name.size() - 5) != ".port") continue;
        std::ifstream in(dirPath + "/" + name);
        std::string line, path;
        long pid = 0;
        while (std::getline(in, line)) {
            if (line.rfind("path=", 0) == 0) path = Trim(line.substr(5));
            if (line.rfind("pid=", 0) == 0) pid = std::atol(line.c_str() + 4);
        }
        // A crashed owner leaves its file behind; neither it nor a vanished
        // device is offered.
        if (path.empty() || !ProcessAlive(pid) || !Exists(path)) continue;
        entries.emplace_back(name.substr(0, name.size() - 5), path);
    }
    closedir(dir);
    std::sort(entries.begin(), entries.end());
    for (const auto& [com, path] : entries)
        if (ComNumber(Widen(com)) != 0) Put(map, DeviceEntry(com, path));
}

std::mutex localMutex;
std::vector<PortMapEntry>& LocalPorts()
{
    static std::vector<PortMapEntry> ports;
    return ports;
}

std::mutex ownMutex;
// Never destroyed: the exit handler that removes the files runs after static
// destructors may have run.
std::set<std::u16string>& OwnRegistrations()
{
    static auto* own = new std::set<std::u16string>;
    return *own;
}

std::string Narrow(const std::u16string& s)
{
    std::string out;
    for (char16_t c : s) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

void RemoveOwnRegistrations()
{
    std::lock_guard<std::mutex> lock(ownMutex);
    for (const auto& com : OwnRegistrations()) unlink((PortRegistrationDir() + "/" + Narrow(com) + ".port").c_str());
    OwnRegistrations().clear();
}

bool MakeDirs(const std::string& path)
{
    std::string partial;
    std::stringstream parts(path);
    std::string part;
    if (!path.empty() && path[0] == '/') partial = "/";
    while (std::getline(parts, part, '/')) {
        if (part.empty()) continue;
        partial += part + "/";
        if (mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return true;
}

}  // namespace

unsigned ComNumber(const std::u16string& comName)
{
    std::u16string upper = UpperAscii(comName);
    if (upper.size() < 4 || upper.compare(0, 3, u"COM") != 0) return 0;
    unsigned n = 0;
    for (size_t i = 3; i < upper.size(); ++i) {
        if (upper[i] < u'0' || upper[i] > u'9') return 0;
        n = n * 10 + (upper[i] - u'0');
        if (n > 255 * 255) return 0;
    }
    return n;
}

std::string PortRegistrationDir()
{
    std::string dir = Env("SPECTRO_PORTMAP_DIR", "");
    if (!dir.empty()) return dir;
    std::string runtime = Env("XDG_RUNTIME_DIR", "");
    if (!runtime.empty()) return runtime + "/spectrometer/ports.d";
    return "/tmp/spectrometer-" + std::to_string(getuid()) + "/ports.d";
}

namespace {

std::mutex fakeMutex;
std::function<std::vector<PortMapEntry>()> fakeMap;

std::vector<PortMapEntry> ComputedPortMap()
{
    std::vector<PortMapEntry> map;
    ScanSysfs(&map);
    ReadRegistrations(&map);
    {
        std::lock_guard<std::mutex> lock(localMutex);
        for (const PortMapEntry& e : LocalPorts()) Put(&map, e);
    }
    {
        std::ifstream in(UserFile());
        std::string line, com, path;
        while (std::getline(in, line)) {
            line = Trim(line.substr(0, line.find('#')));
            if (ParseAssignment(line, &com, &path)) Put(&map, DeviceEntry(com, path));
        }
    }
    {
        std::stringstream env(Env("SPECTRO_PORTS", ""));
        std::string item, com, path;
        while (std::getline(env, item, ';'))
            if (ParseAssignment(item, &com, &path)) Put(&map, DeviceEntry(com, path));
    }
    std::stable_sort(map.begin(), map.end(), [](const PortMapEntry& a, const PortMapEntry& b) {
        return ComNumber(a.ComName) < ComNumber(b.ComName);
    });
    return map;
}

}  // namespace

std::vector<PortMapEntry> CurrentPortMap()
{
    std::function<std::vector<PortMapEntry>()> fake;
    {
        std::lock_guard<std::mutex> lock(fakeMutex);
        fake = fakeMap;
    }
    return fake ? fake() : ComputedPortMap();
}

void SetPortMapForTesting(std::function<std::vector<PortMapEntry>()> source)
{
    std::lock_guard<std::mutex> lock(fakeMutex);
    fakeMap = std::move(source);
}

bool FindPort(const std::u16string& name, PortMapEntry* entry)
{
    std::u16string upper = UpperAscii(name);
    std::string narrow = Narrow(name);
    for (const PortMapEntry& e : CurrentPortMap()) {
        if (e.ComName == upper || (!e.Virtual && e.DevicePath == narrow)) {
            *entry = e;
            return true;
        }
    }
    return false;
}

std::u16string FreeComName(unsigned first)
{
    std::set<unsigned> used;
    for (const PortMapEntry& e : CurrentPortMap()) used.insert(ComNumber(e.ComName));
    unsigned n = std::max(first, 1u);
    while (used.count(n)) ++n;
    return ComOf(n);
}

void RegisterLocalPort(const PortMapEntry& entry)
{
    PortMapEntry copy = entry;
    copy.ComName = UpperAscii(copy.ComName);
    {
        std::lock_guard<std::mutex> lock(localMutex);
        auto& ports = LocalPorts();
        ports.erase(std::remove_if(ports.begin(), ports.end(),
                                   [&](const PortMapEntry& e) { return e.ComName == copy.ComName; }),
                    ports.end());
        ports.push_back(std::move(copy));
    }
    PortMapWatcher::LocalPortsChanged();
}

void UnregisterLocalPort(const std::u16string& comName)
{
    {
        std::lock_guard<std::mutex> lock(localMutex);
        auto& ports = LocalPorts();
        std::u16string upper = UpperAscii(comName);
        ports.erase(
            std::remove_if(ports.begin(), ports.end(), [&](const PortMapEntry& e) { return e.ComName == upper; }),
            ports.end());
    }
    PortMapWatcher::LocalPortsChanged();
}

std::vector<std::string> PortMapSourceDirs()
{
    const std::string user = UserFile();
    return {TtyClassDir(), DevRoot(), PortRegistrationDir(), user.substr(0, user.find_last_of('/'))};
}

std::u16string RegisterSharedPort(const std::string& devicePath, const std::u16string& comName)
{
    std::u16string com = comName.empty() ? FreeComName(1) : UpperAscii(comName);
    if (ComNumber(com) == 0) return u"";
    std::string dir = PortRegistrationDir();
    if (!MakeDirs(dir)) return u"";
    std::string file = dir + "/" + Narrow(com) + ".port";
    std::string temp = file + ".tmp" + std::to_string(getpid());
    {
        std::ofstream out(temp);
        out << "path=" << devicePath << "\npid=" << getpid() << "\n";
        if (!out) return u"";
    }
    if (rename(temp.c_str(), file.c_str()) != 0) {  // readers never see half a file
        unlink(temp.c_str());
        return u"";
    }
    std::lock_guard<std::mutex> lock(ownMutex);
    static bool hooked = false;
    if (!hooked) {
        hooked = true;
        std::atexit(RemoveOwnRegistrations);
    }
    OwnRegistrations().insert(com);
    return com;
}

void UnregisterSharedPort(const std::u16string& comName)
{
    std::u16string com = UpperAscii(comName);
    unlink((PortRegistrationDir() + "/" + Narrow(com) + ".port").c_str());
    std::lock_guard<std::mutex> lock(ownMutex);
    OwnRegistrations().erase(com);
}

}  // namespace winapi_posix
