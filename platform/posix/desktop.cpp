// GetForegroundWindow, MessageBoxW and CommConfigDialogW through the desktop
// provider that the GUI installs; headless answers without it.
#include "platform/posix/desktop.h"

#include <cstdio>
#include <mutex>

#include "platform/posix/text.h"
#include "platform/posix/win32_comm.h"
#include "platform/posix/win32_errors.h"
#include "platform/posix/win32_kernel.h"
#include "platform/posix/win32_user.h"

namespace winapi_posix {
namespace {

std::mutex g_desktopMutex;
DesktopProvider g_provider;
std::vector<RecordedMessageBox> g_recorded;

DesktopProvider Provider()
{
    std::lock_guard lock(g_desktopMutex);
    return g_provider;
}

int HeadlessAnswer(UINT type)
{
    switch (type & 0x0F) {
    case MB_ABORTRETRYIGNORE: return IDABORT;
    case MB_YESNOCANCEL:
    case MB_YESNO: return IDYES;
    case MB_RETRYCANCEL: return IDRETRY;
    default: return IDOK;
    }
}

}  // namespace

void SetDesktopProvider(DesktopProvider provider)
{
    std::lock_guard lock(g_desktopMutex);
    g_provider = std::move(provider);
}

void ResetDesktopProvider() { SetDesktopProvider(DesktopProvider{}); }

std::vector<RecordedMessageBox> RecordedMessageBoxes()
{
    std::lock_guard lock(g_desktopMutex);
    return g_recorded;
}

void ClearRecordedMessageBoxes()
{
    std::lock_guard lock(g_desktopMutex);
    g_recorded.clear();
}

}  // namespace winapi_posix

using namespace winapi_posix;

extern "C" {

HWND WINAPI GetForegroundWindow(void)
{
    auto p = Provider();
    return p.ForegroundWindow ? p.ForegroundWindow() : nullptr;
}

int WINAPI MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType)
{
    std::u16string text(WideView(lpText));
    std::u16string caption = lpCaption ? std::u16string(lpCaption) : std::u16string(u"Error");
    auto p = Provider();
    if (p.MessageBox) return p.MessageBox(hWnd, text, caption, uType);
    // Nobody can see a box here: say it on stderr rather than swallow it.
    std::fprintf(stderr, "[message box] %s: %s\n", ToUtf8(caption).c_str(), ToUtf8(text).c_str());
    std::lock_guard lock(g_desktopMutex);
    if (g_recorded.size() >= 100) g_recorded.erase(g_recorded.begin());
    g_recorded.push_back(RecordedMessageBox{hWnd, std::move(text), std::move(caption), uType});
    return HeadlessAnswer(uType);
}

BOOL WINAPI CommConfigDialogW(LPCWSTR lpszName, HWND hWnd, LPCOMMCONFIG lpCC)
{
    if (!lpszName || !lpCC) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto p = Provider();
    if (p.CommConfigDialog && p.CommConfigDialog(std::u16string(lpszName), hWnd, lpCC)) return TRUE;
    SetLastError(ERROR_CANCELLED);
    return FALSE;
}

}  // extern "C"
