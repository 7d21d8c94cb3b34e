// The port map: which COM name stands for which Linux device.
//
// Sources, later ones overriding earlier ones with the same COM name (an entry
// also replaces an earlier entry for the same device under another name):
//   1. sysfs (SPECTRO_SYSFS_ROOT, default /sys): class/tty/ttyS<n> with a UART
//      behind it, ttyUSB<n>, ttyACM<n>, ttyAMA<n>, rfcomm<n>. ttyS<n> is
//      COM<n+1>; the others get the free numbers from COM10 upwards, ordered by
//      kind (USB, ACM, AMA, rfcomm) and then by their number.
//   2. the registration folder (SPECTRO_PORTMAP_DIR, default
//      $XDG_RUNTIME_DIR/spectrometer/ports.d or /tmp/spectrometer-<uid>/ports.d):
//      devices that another process (the simulator) offers; entries whose
//      owner process has ended or whose device is gone are ignored.
//   3. virtual ports of this process (platform/posix/virtual_port.h).
//   4. the user file ($XDG_CONFIG_HOME or ~/.config, spectrometer/ports),
//      lines "COM5=/dev/pts/3", '#' starts a comment.
//   5. the environment: SPECTRO_PORTS="COM5=/dev/pts/3;COM6=/dev/ttyX".
// Device paths of sysfs entries live under SPECTRO_DEV_ROOT (default /dev).
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace winapi_posix {

struct PortMapEntry {
    std::u16string ComName;     // "COM3", upper case
    std::string DevicePath;     // "/dev/ttyUSB0"; "virtual:<n>" for a virtual port
    std::u16string KernelName;  // "\Device\ttyUSB0", "\Device\pts3", "\Device\nrVirtual0"
    bool Virtual = false;
    std::string SysfsPath;  // resolved /sys/devices/.../tty/ttyUSB0, empty if none
};

// The one entry point of the map, for CreateFileW, the registry, SetupAPI and
// the watcher alike: computed afresh at every call, sorted by COM number, or
// the fake a test installed with SetPortMapForTesting (an empty function
// restores the real one).
std::vector<PortMapEntry> CurrentPortMap();
void SetPortMapForTesting(std::function<std::vector<PortMapEntry>()> source);

// Finds a port by its COM name (case-insensitive) or by its device path.
bool FindPort(const std::u16string& name, PortMapEntry* entry);

// The number in "COM<n>", 0 when the name has no such form.
unsigned ComNumber(const std::u16string& comName);

// Cross-process registration of a device (normally a pty's slave path) under a
// COM name. An empty comName takes the lowest COM number that the current map
// does not use. Returns the COM name, or an empty string when the folder cannot
// be written. The entry is removed by UnregisterSharedPort and, at the latest,
// when the process exits normally; a crashed owner's entry is ignored by readers.
std::u16string RegisterSharedPort(const std::string& devicePath, const std::u16string& comName = u"");
void UnregisterSharedPort(const std::u16string& comName);
std::string PortRegistrationDir();

// In-process entries (used by the virtual ports). Both wake the port map
// watchers of this process (portwatch.h).
void RegisterLocalPort(const PortMapEntry& entry);
void UnregisterLocalPort(const std::u16string& comName);

// The folders the map is read from: the sysfs tty class, the device root, the
// registration folder and the folder of the user file (some may not exist).
std::vector<std::string> PortMapSourceDirs();
// Lowest COM number from `first` upwards that the current map does not use.
std::u16string FreeComName(unsigned first = 1);

}  // namespace winapi_posix
