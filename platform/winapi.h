// <winapi.h>: the Win32 API as the library uses it.
// On Windows this is the real SDK; on POSIX our own subset under platform/posix/.
#pragma once

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <objbase.h>
#include <dbt.h>
#include <setupapi.h>
#include <cfgmgr32.h>
#include <winspool.h>
#else
#include "platform/posix/win32_types.h"
#include "platform/posix/win32_errors.h"
#include "platform/posix/win32_kernel.h"
#include "platform/posix/win32_comm.h"
#include "platform/posix/win32_user.h"
#include "platform/posix/win32_registry.h"
#include "platform/posix/win32_setupapi.h"
#include "platform/posix/win32_ole.h"
#endif

// Native registry key name query (ntdll, bound at run time on both systems;
// the SDK does not declare it).
#ifndef SPECTRO_KEY_NAME_INFORMATION_DEFINED
#define SPECTRO_KEY_NAME_INFORMATION_DEFINED
enum { KeyNameInformation = 3 };
typedef struct _KEY_NAME_INFORMATION {
    ULONG NameLength;  // bytes, without a terminator
    WCHAR Name[1];
} KEY_NAME_INFORMATION, *PKEY_NAME_INFORMATION;
typedef LONG(WINAPI* ZwQueryKeyProc)(HANDLE KeyHandle, int KeyInformationClass, PVOID KeyInformation, ULONG Length,
                                     PULONG ResultLength);
#endif
