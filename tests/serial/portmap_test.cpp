// The port map: sysfs scan and COM numbering, user file and environment
// overrides, cross-process registrations with stale-entry handling.
#include "platform/posix/portmap.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <fstream>

#include "tests/serial/serial_test_util.h"

using namespace serial_test;
using winapi_posix::CurrentPortMap;
using winapi_posix::PortMapEntry;

namespace {

::testing::Environment* const environment = ::testing::AddGlobalTestEnvironment(new PrivatePortMap);

class PortMap : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/portmap-test-XXXXXX";
    root = mkdtemp(pattern);
    UsePortMapRoot(root, "/dev");
  }
  void TearDown() override {
    std::string command = "rm -rf '" + root + "'";
    EXPECT_EQ(system(command.c_str()), 0);
  }
  void Run(const std::string& command) { ASSERT_EQ(system(command.c_str()), 0) << command; }
  // class/tty/<name> -> devices/<bus>/<name>, as the kernel lays it out.
  void AddTty(const std::string& name, const std::string& type = "", const std::string& driver = "") {
    std::string device = root + "/sys/devices/" + name + "-dev";
    std::string node = device + "/tty/" + name;
    Run("mkdir -p '" + node + "' '" + root + "/sys/class/tty'");
    Run("ln -s '" + node + "' '" + root + "/sys/class/tty/" + name + "'");
    Run("ln -s '" + device + "' '" + node + "/device'");
    if (!type.empty()) std::ofstream(node + "/type") << type << "\n";
    if (!driver.empty()) {
      Run("mkdir -p '" + root + "/sys/bus/drivers/" + driver + "'");
      Run("ln -s '" + root + "/sys/bus/drivers/" + driver + "' '" + device + "/driver'");
    }
  }
  std::string Names() {
    std::string out;
    for (const PortMapEntry& e : CurrentPortMap()) out += Narrow(e.ComName) + "=" + e.DevicePath + " ";
    return out;
  }
  std::string root;
};

TEST_F(PortMap, SysfsPortsGetStableComNumbers) {
  AddTty("ttyS0", "4");
  AddTty("ttyS1", "0");                    // no UART behind it
  AddTty("ttyS2", "", "serial8250");       // placeholder driver only
  AddTty("ttyS3", "", "dw-apb-uart");      // a real UART driver
  AddTty("ttyUSB1");
  AddTty("ttyUSB0");
  AddTty("ttyACM0");
  AddTty("tty1");                          // not a serial port
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

TEST_F(PortMap, UserFileAndEnvironmentOverrideInThatOrder) {
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

TEST_F(PortMap, RegistrationsFromOtherProcessesAndTheirStaleEntries) {
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

TEST(PortMapNames, ComNumbers) {
  EXPECT_EQ(winapi_posix::ComNumber(u"COM3"), 3u);
  EXPECT_EQ(winapi_posix::ComNumber(u"com10"), 10u);
  EXPECT_EQ(winapi_posix::ComNumber(u"COM"), 0u);
  EXPECT_EQ(winapi_posix::ComNumber(u"COMX"), 0u);
  EXPECT_EQ(winapi_posix::ComNumber(u"LPT1"), 0u);
}

}  // namespace
