// The state of one I/O request in its OVERLAPPED record, kept as the Windows
// I/O manager keeps it: the NTSTATUS in Internal (pending while the driver
// works on it), the count in InternalHigh, hEvent signalled at completion.
#pragma once

#include <winapi.h>

namespace winapi_posix {

constexpr ULONG_PTR kStatusSuccess = 0;
constexpr ULONG_PTR kStatusPending = 0x103;
constexpr ULONG_PTR kStatusCancelled = 0xC0000120;
constexpr ULONG_PTR kStatusAccessDenied = 0xC0000022;
constexpr ULONG_PTR kStatusInvalidHandle = 0xC0000008;
constexpr ULONG_PTR kStatusInvalidParameter = 0xC000000D;

ULONG_PTR StatusFromError(DWORD error);

// SetLastError(error), FALSE.
BOOL Fail(DWORD error);

// Marks the record pending and resets its event (ReadFile, WriteFile and
// WaitCommEvent do so when they start).
void StartOverlapped(OVERLAPPED* ovl);
// Stores the result, signals the event and wakes every WaitCompletion.
void CompleteOverlapped(OVERLAPPED* ovl, ULONG_PTR status, DWORD count);
ULONG_PTR StatusOf(OVERLAPPED* ovl);
// Blocks until the record is no longer pending (works without an event and
// after the handle has closed).
void WaitCompletion(OVERLAPPED* ovl);
// TRUE, or FALSE with the last error that the status stands for; the count in
// *transferred when given.
BOOL ResultOf(OVERLAPPED* ovl, DWORD* transferred);

// GetOverlappedResult: the record alone tells the state.
BOOL OverlappedResult(OVERLAPPED* ovl, DWORD* transferred, BOOL wait);

}  // namespace winapi_posix
