// Free functions over the operating system: device files and overlapped I/O,
// error texts, the owner window of dialogs; registry and port-name helpers.
#pragma once

#include <winapi.h>

#include "toolkit/sysutils.h"

// --- device files and overlapped I/O ---------------------------------------

// The system's message text for the calling thread's last error, without
// trailing blanks, control characters and full stops.
UnicodeString LastErrorText();

// The foreground window (may be null or belong to another process).
HWND ForegroundWindowHandle();

// Opens "\\?\" + Name for overlapped read/write, exclusively.
// INVALID_HANDLE_VALUE on failure, with the last error left by CreateFileW.
HANDLE OpenDeviceFile(const UnicodeString& Name);

// Waits for the pending operation of Overlapped, if the last error says it
// is pending.
bool WaitOverlappedResult(HANDLE Handle, LPOVERLAPPED Overlapped, DWORD& Transferred, DWORD& ErrorCode);

// Writes / reads Count bytes and waits for completion.
bool WriteFileWait(HANDLE Handle, const void* Buffer, DWORD Count, LPOVERLAPPED Overlapped);
bool ReadFileWait(HANDLE Handle, void* Buffer, DWORD Count, LPOVERLAPPED Overlapped);

// Starts a write; true when it completed at once or is pending in the driver.
// Buffer and Overlapped must stay untouched until the write completes.
bool WriteFileAsync(HANDLE Handle, const void* Buffer, DWORD Count, LPOVERLAPPED Overlapped);

// CancelIo, looked up at run time; false when it is missing or fails.
bool CancelDeviceIo(HANDLE Handle);

// --- registry, port names and key names ------------------------------------
// (declared here by the registry part)
