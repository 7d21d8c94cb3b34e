// Whether this user may use the device file behind a COM name: what a program
// needs to tell a user why a port does not open. Windows has no such files;
// there the answer is always "nothing known".
#pragma once

#include <string>

namespace platform {

struct TDeviceAccess {
    bool Denied = false;             // the file exists and this user may not read and write it
    std::string DevicePath;          // "/dev/ttyS0"
    std::string GroupName;           // the group owning the file ("dialout"); its number if unnamed
    bool GroupMayReadWrite = false;  // the file's mode lets that group read and write
};

#ifdef _WIN32
inline TDeviceAccess DeviceAccessOf(const std::u16string&) { return {}; }
#else
// Looks ComName up in the port map; virtual ports and unknown names give {}.
TDeviceAccess DeviceAccessOf(const std::u16string& ComName);
#endif

}  // namespace platform
