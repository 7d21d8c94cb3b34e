// Where Wine, which runs the Windows tests here, behaves unlike Windows. This is
// the one list of them: a test checks the Windows behaviour unless the system it
// runs on is Wine and the difference below says Wine lacks it. On Linux (our own
// <winapi.h>) every check runs.
#pragma once

#include <winapi.h>

namespace wine_differences {

// Wine's ntdll exports wine_get_version; Windows' does not.
inline bool RunningUnderWine() {
#ifdef _WIN32
  static const bool wine = [] {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
  }();
  return wine;
#else
  return false;
#endif
}

// FormatMessage: Wine's system texts are its own ("Access denied.", "I/O
// operation aborted.", "File not found.") where Windows says "Access is
// denied.", "The I/O operation has been aborted because of ...", "The system
// cannot find the file specified."; both end with a full stop and CR LF.
inline bool SystemTextsAsWindows() { return !RunningUnderWine(); }

// CreateFileW with share mode 0: Wine lets a second open of a COM port succeed
// where Windows fails it with ERROR_ACCESS_DENIED.
inline bool ShareModeZeroIsExclusive() { return !RunningUnderWine(); }

// A serial read with only a total time-out and no data arriving: Windows ends
// it with 0 bytes when the time-out runs out; Wine keeps it pending.
inline bool TotalTimeOutEndsAnEmptyRead() { return !RunningUnderWine(); }

// WaitCommEvent on a pty: Wine reads the modem lines (TIOCMGET) for every wait,
// which a pty has not; each wait then ends at once with no event (the comm-event
// thread spins), and a wait still in flight when that thread leaves is neither
// cancelled by CancelIo nor finished by GetOverlappedResult: Wine writes its
// mask later into the gone thread's stack and the process crashes. The serial
// component's receive and close paths are therefore not run on a Wine pty
// (the Linux pty tests cover them); real Windows ports have modem lines.

// PurgeComm(PURGE_RXABORT) aborts a pending read on Windows; Wine's does not.
inline bool PurgeAbortsAPendingRead() { return !RunningUnderWine(); }

}  // namespace wine_differences
