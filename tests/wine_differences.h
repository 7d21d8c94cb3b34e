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

}  // namespace wine_differences
