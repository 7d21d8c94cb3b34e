// The port map: sysfs scan and COM numbering, user file and environment
// overrides, cross-process registrations with stale-entry handling.
#include "platform/posix/portmap.h"

#include "platform/device_access.h"
#include "platform/posix/portwatch.h"

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <fstream>
#include <mutex>

#include "tests/serial/serial_test_util.h"

using namespace serial_test;
using winapi_posix::CurrentPortMap;
using winapi_posix::PortMapEntry;

namespace {

::testing::Environment* const environment = ::testing::AddGlobalTestEnvironment(new PrivatePortMap);

class PortMap : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/portmap-test-XXXXXX";
        root = mkdtemp(pattern);
        UsePortMapRoot(root, "/dev");
    }
    void TearDown() override
    {
        std::string command = "rm -rf '" + root + "'";
        EXPECT_EQ(system(command.c_str()), 0);
    }
    void Run(const std::string& command) { ASSERT_EQ(system(command.c_str()), 0) << command; }
    // class/tty/<name> -> devices/<bus>/<name>, as the kernel lays it out.
    void AddTty(const std::string& name, const std::string& type = "", const std::string& driver = "")
    {
        std::string device = root + "/sys/devices/" + name + "-dev";
        std::string node = device + "/tty/" + name;
        Run("mkdir -p '" + node + "' '" + root + "/sys/class/tty'");
        Run("ln -s '" + device + "' '" + node + "/device'");
        if (!type.empty()) std::ofstream(node + "/type") << type << "\n";
        if (!driver.empty()) {
            Run("mkdir -p '" + root + "/sys/bus/drivers/" + driver + "'");
            Run("ln -s '" + root + "/sys/bus/drivers/" + driver + "' '" + device + "/driver'");
        }
        // The class entry last, as the kernel adds a complete device: a watcher
        // that looks at it as soon as it appears sees the whole device.
        Run("ln -s '" + node + "' '" + root + "/sys/class/tty/" + name + "'");
    }
    std::string Names()
    {
        std::string out;
        for (const PortMapEntry& e : CurrentPortMap()) out += Narrow(e.ComName) + "=" + e.DevicePath + " ";
        return out;
    }
    std::string root;
};

TEST_F(PortMap, SysfsPortsGetStableComNumbers)
{
    AddTty("ttyS0", "4");
    AddTty("ttyS1", "0");                // no UART behind it
    AddTty("ttyS2", "", "serial8250");   // placeholder driver only
    AddTty("ttyS3", "", "dw-apb-uart");  // a real UART driver
    AddTty("ttyUSB1");
    AddTty("ttyUSB0");
    AddTty("ttyACM0");
    AddTty("tty1");  // not a serial port
    EXPECT_EQ(Names(), "COM1=/dev/ttyS0 COM4=/dev/ttyS3 COM10=/dev/ttyUSB0 COM11=/dev/ttyUSB1 COM12=/dev/ttyACM0 ");
    auto map = CurrentPortMap();
    EXPECT_EQ(Narrow(map[2].KernelName), "\\Device\\ttyUSB0");
    EXPECT_FALSE(map[2].Virtual);
    EXPECT_EQ(map[2].SysfsPath, root + "/sys/devices/ttyUSB0-dev/tty/ttyUSB0");

    AddTty("ttyS9", "4");  // COM10 is taken by a ttyS: the USB ports move up
    EXPECT_EQ(Names(),
              "COM1=/dev/ttyS0 COM4=/dev/ttyS3 COM10=/dev/ttyS9 COM11=/dev/ttyUSB0 COM12=/dev/ttyUSB1 "
              "COM13=/dev/ttyACM0 ");
}

TEST_F(PortMap, UserFileAndEnvironmentOverrideInThatOrder)
{
    AddTty("ttyUSB0");
    Run("mkdir -p '" + root + "/config/spectrometer'");
    std::ofstream(root + "/config/spectrometer/ports") << "# instrument\nCOM5 = /dev/pts/3\n"
                                                       << "COM3=/dev/ttyUSB0  # moves the adapter\n"
                                                       << "junk line\nLPT1=/dev/lp0\n";
    EXPECT_EQ(Names(), "COM3=/dev/ttyUSB0 COM5=/dev/pts/3 ");
    auto map = CurrentPortMap();
    EXPECT_EQ(Narrow(map[1].KernelName), "\\Device\\pts3");

    setenv("SPECTRO_PORTS", "COM5=/dev/pts/9;com20=/dev/ttyX;bad", 1);
    EXPECT_EQ(Names(), "COM3=/dev/ttyUSB0 COM5=/dev/pts/9 COM20=/dev/ttyX ");

    PortMapEntry entry;
    ASSERT_TRUE(winapi_posix::FindPort(u"com20", &entry));
    EXPECT_EQ(entry.DevicePath, "/dev/ttyX");
    ASSERT_TRUE(winapi_posix::FindPort(u"/dev/pts/9", &entry));
    EXPECT_EQ(Narrow(entry.ComName), "COM5");
    EXPECT_FALSE(winapi_posix::FindPort(u"COM6", &entry));
}

TEST_F(PortMap, RegistrationsFromOtherProcessesAndTheirStaleEntries)
{
    Pty pty, other;
    std::u16string name = winapi_posix::RegisterSharedPort(pty.path, u"COM6");
    EXPECT_EQ(name, u"COM6");
    std::u16string automatic = winapi_posix::RegisterSharedPort(other.path);
    EXPECT_EQ(automatic, u"COM1");
    EXPECT_EQ(Names(), "COM1=" + other.path + " COM6=" + pty.path + " ");

    winapi_posix::UnregisterSharedPort(u"COM1");
    EXPECT_EQ(Names(), "COM6=" + pty.path + " ");

    // A registration whose owner has died is ignored, so is a vanished device.
    pid_t child = fork();
    if (child == 0) {
        winapi_posix::RegisterSharedPort(pty.path, u"COM8");
        _exit(0);  // no exit handlers: the file stays, as after a crash
    }
    waitpid(child, nullptr, 0);
    struct stat st;
    ASSERT_EQ(stat((root + "/ports.d/COM8.port").c_str(), &st), 0);
    std::ofstream(root + "/ports.d/COM9.port") << "path=/dev/does-not-exist\npid=" << getpid() << "\n";
    EXPECT_EQ(Names(), "COM6=" + pty.path + " ");

    // A normal exit removes the process's own registrations.
    child = fork();
    if (child == 0) {
        winapi_posix::RegisterSharedPort(pty.path, u"COM12");
        exit(0);
    }
    waitpid(child, nullptr, 0);
    EXPECT_NE(stat((root + "/ports.d/COM12.port").c_str(), &st), 0);
    winapi_posix::UnregisterSharedPort(u"COM6");
    EXPECT_EQ(Names(), "");
}

// Whether this user may use the device behind a COM name, asked as a user
// other than root (root may open anything): as nobody when the test runs as
// root, else as the file's owner, whose bits the modes below leave empty.
TEST_F(PortMap, DeviceAccessOfAFileThisUserMayNotUse)
{
    Pty pty;
    MapPort("COM7", pty.path);
    const group* dialout = getuid() == 0 ? getgrnam("dialout") : nullptr;
    if (dialout) {
        ASSERT_EQ(chown(pty.path.c_str(), 0, dialout->gr_gid), 0);
    }
    struct stat st {};
    ASSERT_EQ(stat(pty.path.c_str(), &st), 0);
    const group* owner = getgrgid(st.st_gid);
    const std::string groupName = owner ? owner->gr_name : std::to_string(st.st_gid);

    // "denied path group group-may-read-write", as the other user sees it.
    auto accessOf = [](const std::u16string& com) {
        int out[2];
        if (pipe(out) != 0) return std::string("pipe failed");
        pid_t child = fork();
        if (child == 0) {
            if (getuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) _exit(1);
            const platform::TDeviceAccess a = platform::DeviceAccessOf(com);
            const std::string text = std::to_string(a.Denied) + " " + a.DevicePath + " " + a.GroupName + " " +
                                     std::to_string(a.GroupMayReadWrite);
            _exit(write(out[1], text.data(), text.size()) == static_cast<ssize_t>(text.size()) ? 0 : 1);
        }
        close(out[1]);
        char buffer[512];
        const ssize_t n = read(out[0], buffer, sizeof buffer);
        close(out[0]);
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0 && n > 0 ? std::string(buffer, n) : "child failed";
    };

    ASSERT_EQ(chmod(pty.path.c_str(), 0060), 0);
    EXPECT_EQ(accessOf(u"com7"), "1 " + pty.path + " " + groupName + " 1");
    ASSERT_EQ(chmod(pty.path.c_str(), 0040), 0);  // the group may only read
    EXPECT_EQ(accessOf(u"COM7"), "1 " + pty.path + " " + groupName + " 0");
    ASSERT_EQ(chmod(pty.path.c_str(), 0666), 0);
    EXPECT_EQ(accessOf(u"COM7"), "0   0");
    EXPECT_EQ(accessOf(u"COM8"), "0   0");  // not in the map
}

// What a watcher reported, in order: "+COM5" arrived, "-COM5" left.
class WatchLog {
public:
    void Add(const std::u16string& com, bool arrived)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back((arrived ? "+" : "-") + Narrow(com));
        changed_.notify_all();
    }
    // Waits for the next events (at most 5 s) and returns them; empty on time-out.
    std::string Next(size_t count = 1)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(5), [&] { return events_.size() >= taken_ + count; });
        std::string out;
        for (; taken_ < events_.size(); ++taken_) out += (out.empty() ? "" : " ") + events_[taken_];
        return out;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> events_;
    size_t taken_ = 0;
};

// Every source of the map, including folders that do not exist when the
// watcher starts (the fixture's root holds none of them yet).
TEST_F(PortMap, WatcherReportsPortsThatComeAndGo)
{
    WatchLog log;
    auto watcher = std::make_unique<winapi_posix::PortMapWatcher>(
        [&](const std::u16string& com, bool arrived) { log.Add(com, arrived); });

    AddTty("ttyUSB0");
    EXPECT_EQ(log.Next(), "+COM10");

    Pty pty;
    ASSERT_EQ(winapi_posix::RegisterSharedPort(pty.path, u"COM6"), u"COM6");
    EXPECT_EQ(log.Next(), "+COM6");
    pty.CloseMaster();  // the instrument is unplugged: its pty goes away
    EXPECT_EQ(log.Next(), "-COM6");
    winapi_posix::UnregisterSharedPort(u"COM6");

    Run("mkdir -p '" + root + "/config/spectrometer'");
    std::ofstream(root + "/config/spectrometer/ports") << "COM3=/dev/ttyUSB0\n";
    EXPECT_EQ(log.Next(2), "-COM10 +COM3");  // the adapter moved to COM3

    winapi_posix::PortMapEntry local;
    local.ComName = u"COM40";
    local.DevicePath = "virtual:40";
    local.Virtual = true;
    winapi_posix::RegisterLocalPort(local);
    EXPECT_EQ(log.Next(), "+COM40");
    winapi_posix::UnregisterLocalPort(u"COM40");
    EXPECT_EQ(log.Next(), "-COM40");

    // Stopped: nothing is reported any more.
    watcher.reset();
    winapi_posix::RegisterLocalPort(local);
    winapi_posix::UnregisterLocalPort(u"COM40");
    Run("rm '" + root + "/sys/class/tty/ttyUSB0'");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(log.Next(0), "");
}

TEST(PortMapNames, ComNumbers)
{
    EXPECT_EQ(winapi_posix::ComNumber(u"COM3"), 3u);
    EXPECT_EQ(winapi_posix::ComNumber(u"com10"), 10u);
    EXPECT_EQ(winapi_posix::ComNumber(u"COM"), 0u);
    EXPECT_EQ(winapi_posix::ComNumber(u"COMX"), 0u);
    EXPECT_EQ(winapi_posix::ComNumber(u"LPT1"), 0u);
}

// A test's replacement map is the map of every user: CreateFileW opens its
// entries, SERIALCOMM lists them, and the real ports are gone while it lasts.
TEST_F(PortMap, ReplacedMapIsWhatCreateFileOpensAndTheRegistryLists)
{
    Pty pty;
    setenv("SPECTRO_PORTS", ("COM5=" + pty.path).c_str(), 1);
    PortMapEntry fake;
    fake.ComName = u"COM42";
    fake.DevicePath = pty.path;
    fake.KernelName = u"\\Device\\fake42";
    winapi_posix::SetPortMapForTesting([fake] { return std::vector<PortMapEntry>{fake}; });

    HANDLE h = CreateFileW(u"\\\\.\\COM42", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    EXPECT_EQ(CreateFileW(u"COM5", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &key),
              ERROR_SUCCESS);
    WCHAR com[16] = {};
    DWORD size = sizeof com;
    EXPECT_EQ(RegQueryValueExW(key, u"\\Device\\fake42", nullptr, nullptr, reinterpret_cast<BYTE*>(com), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(com), u"COM42");
    RegCloseKey(key);

    winapi_posix::SetPortMapForTesting(nullptr);
    EXPECT_EQ(CreateFileW(u"COM42", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    h = CreateFileW(u"COM5", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    unsetenv("SPECTRO_PORTS");
}

}  // namespace
