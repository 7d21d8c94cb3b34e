// Free functions over the operating system: device files and overlapped I/O,
// error texts, the owner window of dialogs; registry and port-name helpers.
#pragma once

#include <winapi.h>

#include <cstddef>

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

// Clears the status fields of Overlapped for a new request; hEvent belongs
// to the owner and stays.
inline void ClearOverlappedStatus(OVERLAPPED& Overlapped)
{
    Overlapped.Internal = 0;
    Overlapped.InternalHigh = 0;
    Overlapped.Offset = 0;
    Overlapped.OffsetHigh = 0;
}

// Waits for the pending operation of Overlapped, if the last error says it
// is pending.
bool WaitOverlappedResult(HANDLE Handle, LPOVERLAPPED Overlapped, DWORD& Transferred, DWORD& ErrorCode);

// Writes / reads Count bytes and waits for completion.
bool WriteFileWait(HANDLE Handle, const void* Buffer, DWORD Count, LPOVERLAPPED Overlapped);
bool ReadFileWait(HANDLE Handle, void* Buffer, DWORD Count, LPOVERLAPPED Overlapped);

// Starts a write; true when it completed at once or is pending in the driver.
// Buffer and Overlapped must stay untouched until the write completes.
bool WriteFileAsync(HANDLE Handle, const void* Buffer, DWORD Count, LPOVERLAPPED Overlapped);

// Waits until the overlapped request of Overlapped has completed (also when
// cancelled). The record's own status decides, so a stray signal of its
// (auto-reset) event ends no wait early.
void WaitOverlappedDone(HANDLE Handle, LPOVERLAPPED Overlapped);

// CancelIo, looked up at run time; false when it is missing or fails.
bool CancelDeviceIo(HANDLE Handle);

// --- registry, port names and key names ------------------------------------
class TStringList;

// Fills List (cleared first) with the COM ports of the machine, ascending by
// port number (kept in each entry's integer slot): "COM3=\Device\Serial2" with
// WithValues, else "COM3"; from the spooler always "COM3=".
void EnumComPortNames(TStringList* List, bool WithValues);
// Inserts Entry behind every entry whose number is <= Number; nothing when
// List already holds Entry as a whole text.
void AddPortSorted(const UnicodeString& Entry, int Number, TStringList* List);
// Strict decimal conversion of a port number ("3" of "COM3"): digits only, no
// sign, no blanks, no hex prefix, within the 32-bit range.
bool DecimalToInt(const UnicodeString& S, int& Value);
// The port number kept beside an entry of a port list.
int PortNumberOfEntry(const TStringList* List, int Index);
// The registry path of an open key. With Root: the root it lies under
// (HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, else null) and the path below it;
// without: the native path "\REGISTRY\MACHINE\...". Empty on failure (Root
// then unchanged).
void GetRegKeyName(HKEY Key, HKEY* Root, UnicodeString& Name);
// A registry value as text: REG_SZ without its terminator, other types as
// their raw bytes read as UTF-16. Empty when key or value is missing.
UnicodeString ReadRegString(HKEY Root, const UnicodeString& SubKey, const UnicodeString& ValueName);
// The text of a WCHAR buffer up to its first zero, never beyond Max characters.
UnicodeString TextUpToZero(const WCHAR* P, std::size_t Max);
// Joins a multi-string of Count characters (ended by a double zero) with
// Separator; each inner zero becomes one Separator.
UnicodeString JoinMultiString(const WCHAR* Buffer, int Count, const UnicodeString& Separator);
// The wide-character variant of an entry-point name: the last character
// replaced by "W" ("SetupDiGetClassDevsA" -> "SetupDiGetClassDevsW").
AnsiString WideEntryName(const AnsiString& Name);
