#include "platform/device_access.h"

#include "platform/posix/portmap.h"

#include <cerrno>
#include <vector>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

std::string GroupNameOf(gid_t Gid)
{
    long size = sysconf(_SC_GETGR_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    group entry{};
    group* found = nullptr;
    while (getgrgid_r(Gid, &entry, buffer.data(), buffer.size(), &found) == ERANGE) buffer.resize(buffer.size() * 2);
    return found ? std::string(found->gr_name) : std::to_string(Gid);
}

}  // namespace

TDeviceAccess DeviceAccessOf(const std::u16string& ComName)
{
    winapi_posix::PortMapEntry port;
    if (!winapi_posix::FindPort(ComName, &port) || port.Virtual) return {};
    struct stat st {};
    if (stat(port.DevicePath.c_str(), &st) != 0) return {};
    // access() asks with the real ids, which are this user's (the program is not set-uid).
    if (access(port.DevicePath.c_str(), R_OK | W_OK) == 0 || errno != EACCES) return {};
    TDeviceAccess result;
    result.Denied = true;
    result.DevicePath = port.DevicePath;
    result.GroupName = GroupNameOf(st.st_gid);
    result.GroupMayReadWrite = (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    return result;
}

}  // namespace platform
