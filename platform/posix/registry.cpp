// Registry store (being written).
#include "platform/posix/win32_errors.h"
#include "platform/posix/win32_kernel.h"
#include "platform/posix/win32_registry.h"

extern "C" NTSTATUS NTAPI ZwQueryKey(HANDLE, int, PVOID, ULONG, PULONG) { return STATUS_INVALID_HANDLE; }
