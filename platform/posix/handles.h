// The POSIX handle table behind HANDLE. Every kernel object (event, port,
// registry key, device information set ...) registers here; CloseHandle and
// the typed look-ups go through it, so a stale or foreign handle value is
// reported as ERROR_INVALID_HANDLE instead of being dereferenced.
#pragma once

#include <cstddef>
#include <memory>

#include "platform/posix/win32_errors.h"
#include "platform/posix/win32_types.h"
#include "platform/win32_errno.h"

namespace winapi_posix {

using platform::ErrorFromErrno;

struct KernelObject {
    virtual ~KernelObject();
    // Called once by CloseHandle, before the table drops its reference:
    // abort pending I/O, wake waiters. Other holders may keep the object alive.
    virtual void OnClose();
};

// New handle value for the object (never null, never INVALID_HANDLE_VALUE,
// never reused while the process runs).
HANDLE RegisterObject(std::shared_ptr<KernelObject> object);
// Null if the handle is unknown or closed.
std::shared_ptr<KernelObject> LookupObject(HANDLE handle);
template <class T>
std::shared_ptr<T> LookupAs(HANDLE handle)
{
    return std::dynamic_pointer_cast<T>(LookupObject(handle));
}
// Removes the handle without calling OnClose (for objects torn down by their
// own close function). False if it was not registered.
bool UnregisterObject(HANDLE handle);
// Number of handles currently open, for leak checks in tests.
std::size_t OpenHandleCount();

}  // namespace winapi_posix
