// The one errno -> Win32 error table, for the platform layer (POSIX) and for
// the runtime's file functions on both systems.
#pragma once

#include <winapi.h>

namespace platform {

DWORD ErrorFromErrno(int err);

}  // namespace platform
