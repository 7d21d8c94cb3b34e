// Desktop provider: the window calls that need a screen. The GUI installs its
// functions at start; without them the headless defaults answer.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/posix/win32_types.h"

namespace winapi_posix {

// The functions run on the thread that made the call; a GUI provider hands
// the work to its GUI thread itself.
struct DesktopProvider {
    // GetForegroundWindow. Headless: no window (null).
    std::function<HWND()> ForegroundWindow;
    // MessageBoxW. Headless: writes the box to stderr, records it (see
    // RecordedMessageBoxes; the last 100 are kept) and answers IDOK (IDYES for MB_YESNO/MB_YESNOCANCEL, IDRETRY for MB_RETRYCANCEL,
    // IDABORT for MB_ABORTRETRYIGNORE).
    std::function<int(HWND owner, const std::u16string& text, const std::u16string& caption, UINT type)> MessageBox;
    // CommConfigDialogW: edits the COMMCONFIG in place; true = accepted.
    // Headless: FALSE with ERROR_CANCELLED.
    std::function<bool(const std::u16string& port, HWND owner, void* commConfig)> CommConfigDialog;
};

// Installs the provider (members left empty keep the headless behaviour).
void SetDesktopProvider(DesktopProvider provider);
// Back to the headless defaults.
void ResetDesktopProvider();

struct RecordedMessageBox {
    HWND Owner;
    std::u16string Text;
    std::u16string Caption;
    UINT Type;
};
// Message boxes answered by the headless default, oldest first.
std::vector<RecordedMessageBox> RecordedMessageBoxes();
void ClearRecordedMessageBoxes();

// Message-only windows (the library's hidden timer windows, terminal edits):
// owned by the creating thread. SendMessage calls the procedure directly on
// the calling thread; PostMessageW, SetTimer's WM_TIMER go through the owner
// thread's queue and reach the procedure via DispatchMessageW.
using WindowProcedure = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;
HWND CreateMessageWindow(WindowProcedure procedure);
bool DestroyMessageWindow(HWND window);

}  // namespace winapi_posix
