// What GetVersionExW reports, and its test hook.
#pragma once

#include "platform/posix/win32_types.h"

namespace winapi_posix {

// GetVersionExW's dwPlatformId (VER_PLATFORM_WIN32_NT unless a test injects
// another, e.g. VER_PLATFORM_WIN32_WINDOWS); ResetPlatformIdForTesting undoes it.
void SetPlatformIdForTesting(DWORD platformId);
void ResetPlatformIdForTesting();

}  // namespace winapi_posix
