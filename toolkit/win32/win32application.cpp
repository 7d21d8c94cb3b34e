// The Win32 dispatcher: message loop, wakes, timers, message boxes, dialogs.
#include "toolkit/win32/win32application.h"

#include <commctrl.h>
#include <commdlg.h>

#include <cstring>
#include <cwchar>
#include <vector>

namespace {

constexpr UINT WmWake = WM_APP + 1;
constexpr UINT WmQuitLoop = WM_APP + 2;
const wchar_t* const HiddenClass = L"SpectroDispatcher";

class TWin32TimerHandle : public TTimerHandle {
public:
    TWin32TimerHandle(TWin32Application& App, UINT_PTR Id) : fApp(App), fId(Id) {}
    ~TWin32TimerHandle() override
    {
        if (Application == &fApp) fApp.StopTimer(fId);
    }

private:
    TWin32Application& fApp;
    UINT_PTR fId;
};

TPoint MeasureWithGdi(const UnicodeString& Text, const TFont& Font)
{
    HDC Dc = GetDC(nullptr);
    HGDIOBJ Old = SelectObject(Dc, Win32Font(Font));
    SIZE Size{0, 0};
    GetTextExtentPoint32W(Dc, PWChar(Text), static_cast<int>(Text.size()), &Size);
    TEXTMETRICW Metrics{};
    GetTextMetricsW(Dc, &Metrics);
    SelectObject(Dc, Old);
    ReleaseDC(nullptr, Dc);
    return {static_cast<int>(Size.cx), static_cast<int>(Metrics.tmHeight)};
}

// Draws text into a toolkit bitmap through a DIB section.
void RenderWithGdi(TBitmap& Bitmap, int X, int Y, const UnicodeString& Text, const TFont& Font)
{
    const BITMAPINFO Info = TopDownDib(Bitmap.Width(), Bitmap.Height());
    void* Bits = nullptr;
    HDC Dc = CreateCompatibleDC(nullptr);
    HBITMAP Dib = CreateDIBSection(Dc, &Info, DIB_RGB_COLORS, &Bits, nullptr, 0);
    if (!Dib) {
        DeleteDC(Dc);
        return;
    }
    const std::size_t Bytes = static_cast<std::size_t>(Bitmap.Width()) * Bitmap.Height() * 4;
    std::memcpy(Bits, Bitmap.Scanline(0), Bytes);
    HGDIOBJ OldBitmap = SelectObject(Dc, Dib);
    HGDIOBJ OldFont = SelectObject(Dc, Win32Font(Font));
    SetBkMode(Dc, TRANSPARENT);
    SetTextColor(Dc, ColorToRGB(Font.Color));
    TextOutW(Dc, X, Y, PWChar(Text), static_cast<int>(Text.size()));
    GdiFlush();
    std::memcpy(Bitmap.Scanline(0), Bits, Bytes);
    for (int Row = 0; Row < Bitmap.Height(); ++Row)
        for (int Col = 0; Col < Bitmap.Width(); ++Col) Bitmap.Scanline(Row)[Col] &= 0xFFFFFF;
    SelectObject(Dc, OldFont);
    SelectObject(Dc, OldBitmap);
    DeleteObject(Dib);
    DeleteDC(Dc);
}

}  // namespace

TWin32Application::TWin32Application()
{
    INITCOMMONCONTROLSEX Controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES | ICC_UPDOWN_CLASS};
    InitCommonControlsEx(&Controls);

    WNDCLASSW Class{};
    Class.lpfnWndProc = HiddenProc;
    Class.hInstance = GetModuleHandleW(nullptr);
    Class.lpszClassName = HiddenClass;
    RegisterClassW(&Class);
    fHidden = CreateWindowExW(0, HiddenClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, Class.hInstance, this);
    SetWindowLongPtrW(fHidden, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));

    wchar_t Path[MAX_PATH * 2] = {};
    const DWORD N = GetModuleFileNameW(nullptr, Path, MAX_PATH * 2);
    ExeName = StrFromPWChar(Path, N);

    // Any thread: the request runs when the loop gets to the posted message.
    Install([this] { Wake(); }, &Win32PeerFactory());
    SetSystemColorResolver([](int Index) { return static_cast<TColor>(GetSysColor(Index)); });
    SetTextMeasurer(MeasureWithGdi);
    SetTextRenderer(RenderWithGdi);
}

TWin32Application::~TWin32Application()
{
    Uninstall();
    if (fCancelHook) UnhookWindowsHookEx(fCancelHook);
    for (auto& [Id, Fire] : fTimers) KillTimer(fHidden, Id);
    DestroyWindow(fHidden);
}

LRESULT CALLBACK TWin32Application::HiddenProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam)
{
    auto* App = reinterpret_cast<TWin32Application*>(GetWindowLongPtrW(Wnd, GWLP_USERDATA));
    if (App && Msg == WmWake) {
        GuardedCall([] { CheckSynchronize(); });
        return 0;
    }
    if (App && Msg == WmQuitLoop) {
        PostQuitMessage(App->ExitCode);
        return 0;
    }
    if (App && Msg == WM_TIMER) {
        auto It = App->fTimers.find(WParam);
        if (It != App->fTimers.end()) {
            auto Fire = It->second;  // the handler may stop the timer
            GuardedCall(Fire);
        }
        return 0;
    }
    return DefWindowProcW(Wnd, Msg, WParam, LParam);
}

void TWin32Application::Dispatch(MSG& Msg)
{
    if (Win32TranslateAccelerator(Msg.hwnd, Msg)) return;
    TranslateMessage(&Msg);
    DispatchMessageW(&Msg);
}

bool TWin32Application::PumpMessages()
{
    MSG Msg;
    while (PeekMessageW(&Msg, nullptr, 0, 0, PM_REMOVE)) {
        if (Msg.message == WM_QUIT) {
            fTerminated = true;
            return false;
        }
        Dispatch(Msg);
    }
    return true;
}

void TWin32Application::ProcessMessages()
{
    GuardedCall([] { CheckSynchronize(); });
    PumpMessages();
}

bool TWin32Application::WaitUntil(const std::function<bool()>& Predicate, std::chrono::milliseconds Timeout)
{
    const auto Deadline = std::chrono::steady_clock::now() + Timeout;
    for (;;) {
        GuardedCall([] { CheckSynchronize(); });
        if (Predicate()) return true;
        const auto Left =
            std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - std::chrono::steady_clock::now());
        if (Left.count() <= 0) return false;
        // Blocks until a message (posted wake, timer, input) or the deadline.
        MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(Left.count()), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (!PumpMessages()) {
            PostQuitMessage(ExitCode);  // for the outer loop
            return Predicate();
        }
    }
}

void TWin32Application::Wake() { PostMessageW(fHidden, WmWake, 0, 0); }

int TWin32Application::MessageBox(const UnicodeString& Text, const UnicodeString& Caption, int Flags)
{
    if (!IsMainThread()) {
        // Another thread waits for the box like for a Synchronize request.
        int Result = 0;
        TThread::Synchronize(TThread::CurrentThread(), [&] { Result = MessageBox(Text, Caption, Flags); });
        return Result;
    }
    if (MessageBoxHook) return MessageBoxHook(Text, Caption, Flags);
    HWND Owner = GetActiveWindow();
    return MessageBoxW(Owner, PWChar(Text), PWChar(Caption), static_cast<UINT>(Flags));
}

std::unique_ptr<TTimerHandle> TWin32Application::StartTimer(unsigned Interval, std::function<void()> OnFire)
{
    const UINT_PTR Id = fNextTimer++;
    fTimers[Id] = std::move(OnFire);
    SetTimer(fHidden, Id, Interval == 0 ? USER_TIMER_MINIMUM : Interval, nullptr);
    return std::make_unique<TWin32TimerHandle>(*this, Id);
}

void TWin32Application::StopTimer(UINT_PTR Id)
{
    KillTimer(fHidden, Id);
    fTimers.erase(Id);
}

void TWin32Application::Terminate()
{
    TApplication::Terminate();
    PostMessageW(fHidden, WmQuitLoop, 0, 0);
}

int TWin32Application::Run()
{
    MSG Msg;
    while (!fTerminated) {
        const BOOL Got = GetMessageW(&Msg, nullptr, 0, 0);
        if (Got == 0 || Got == -1) break;
        Dispatch(Msg);
    }
    return ExitCode;
}

namespace {
bool FileDialog(UnicodeString& FileName, bool Open)
{
    std::vector<wchar_t> Buffer(32768, L'\0');
    for (std::size_t I = 0; I < FileName.size() && I + 1 < Buffer.size(); ++I)
        Buffer[I] = static_cast<wchar_t>(FileName[I]);
    OPENFILENAMEW Ofn{};
    Ofn.lStructSize = sizeof(Ofn);
    Ofn.hwndOwner = GetActiveWindow();
    Ofn.lpstrFile = Buffer.data();
    Ofn.nMaxFile = static_cast<DWORD>(Buffer.size());
    // No filter, no default extension, no overwrite prompt.
    Ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | (Open ? OFN_FILEMUSTEXIST : 0);
    if (!(Open ? GetOpenFileNameW(&Ofn) : GetSaveFileNameW(&Ofn))) return false;
    FileName = StrFromPWChar(Buffer.data());
    return true;
}
}  // namespace

bool TWin32Application::PromptForSaveFileName(UnicodeString& FileName) { return FileDialog(FileName, false); }

void TWin32Application::SetClipboardText(const UnicodeString& Text)
{
    TApplication::SetClipboardText(Text);
    if (!OpenClipboard(nullptr)) return;
    EmptyClipboard();
    const SIZE_T bytes = (Text.size() + 1) * sizeof(wchar_t);
    if (HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes)) {
        if (void* p = GlobalLock(memory)) {
            std::memcpy(p, Text.c_str(), bytes);
            GlobalUnlock(memory);
            // The clipboard owns the memory once it took it.
            if (!SetClipboardData(CF_UNICODETEXT, memory)) GlobalFree(memory);
        } else {
            GlobalFree(memory);
        }
    }
    CloseClipboard();
}

bool TWin32Application::PromptForOpenFileName(UnicodeString& FileName) { return FileDialog(FileName, true); }

bool TWin32Application::ArmDialogCancel(std::function<void(const UnicodeString& Title)> OnCancelled)
{
    if (!fCancelHook) fCancelHook = SetWindowsHookExW(WH_CBT, DialogCancelProc, nullptr, GetCurrentThreadId());
    if (!fCancelHook) return false;
    fDialogCancel = std::move(OnCancelled);
    return true;
}

void TWin32Application::DisarmDialogCancel()
{
    TApplication::DisarmDialogCancel();
    if (fCancelHook) UnhookWindowsHookEx(fCancelHook);
    fCancelHook = nullptr;
}

LRESULT CALLBACK TWin32Application::DialogCancelProc(int Code, WPARAM WParam, LPARAM LParam)
{
    auto* App = dynamic_cast<TWin32Application*>(Application);
    const HHOOK Hook = App ? App->fCancelHook : nullptr;
    if (Code == HCBT_ACTIVATE && App && App->fDialogCancel) {
        HWND Wnd = reinterpret_cast<HWND>(WParam);
        wchar_t Class[16] = {};
        GetClassNameW(Wnd, Class, 16);
        // The system's dialog boxes, not a page inside one; our forms have a class of their own.
        if (std::wcscmp(Class, L"#32770") == 0 && !(GetWindowLongPtrW(Wnd, GWL_STYLE) & WS_CHILD)) {
            // Posted: the dialog's own loop takes it once it runs.
            PostMessageW(Wnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            wchar_t Title[256] = {};
            const int N = GetWindowTextW(Wnd, Title, 256);
            const auto Report = std::move(App->fDialogCancel);
            App->DisarmDialogCancel();
            GuardedCall([&] { Report(StrFromPWChar(Title, static_cast<std::size_t>(N))); });
        }
    }
    return CallNextHookEx(Hook, Code, WParam, LParam);
}

std::unique_ptr<TApplication> CreateApplication(int& Argc, char** Argv)
{
    (void)Argc;
    (void)Argv;
    return std::make_unique<TWin32Application>();
}
