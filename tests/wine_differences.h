// Where Wine, which runs the Windows tests here, behaves unlike Windows. This is
// the one list of them: a test checks the Windows behaviour unless the system it
// runs on is Wine and the difference below says Wine lacks it. On Linux (our own
// <winapi.h>) every check runs.
#pragma once

#include <winapi.h>

namespace wine_differences {

// Wine's ntdll exports wine_get_version; Windows' does not.
inline bool RunningUnderWine()
{
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
// which a pty has not; each wait then ends at once with no event, so the
// comm-event thread spins (bytes still arrive: 1 MiB in about 2 s), and a pty
// whose master closes is never reported (the port stays open). The spinning
// waits also make the comm-event thread leave with a wait in flight at almost
// every close, and its cancel path can return before that wait is done (the
// wait's mask then lands in the ended thread's stack; the process crashes in
// about one close of six). The serial component's receive, close and unplug
// paths are therefore not run on a Wine pty; the Linux pty tests cover them.

// PurgeComm(PURGE_RXABORT) aborts a pending read on Windows; Wine's does not.
inline bool PurgeAbortsAPendingRead() { return !RunningUnderWine(); }

}  // namespace wine_differences
