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

// WaitCommEvent on a pty (which has no modem lines): Wine reads the modem
// lines for every wait, so each pending wait ends after about 10 ms with
// ERROR_OPERATION_ABORTED and no event, and a mask with CTS, DSR, RING or RLSD
// fails at once with ERROR_NOT_SUPPORTED (the component then reports the port
// failed: the tests on a Wine pty trace no modem lines). Bytes are seen when
// the next wait starts, and EV_RXCHAR is reported for as long as bytes are
// queued rather than once per arrival. A pty whose master closes ends no wait
// with an error; only the port's other calls then fail (ERROR_NOT_READY).
// A new event mask ends a pending wait with ERROR_OPERATION_ABORTED, where
// Windows ends it with success and no event. The component handles all of
// this as it would on Windows: a wait that ends with an error is waited again
// while the port answers a query, and a lost port is reported.

// SetupAPI: Wine's Ports device class is empty, so a full scan of the device
// tree adds no description to the ports that the serial-port map lists.
inline bool PortsClassListsThePorts() { return !RunningUnderWine(); }

// PurgeComm(PURGE_RXABORT) aborts a pending read on Windows; Wine's does not.
inline bool PurgeAbortsAPendingRead() { return !RunningUnderWine(); }

}  // namespace wine_differences
