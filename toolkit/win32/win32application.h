// The Win32 backend: the main thread's message loop as the toolkit's
// dispatcher (Synchronize requests and wakes arrive as posted messages on a
// hidden window, timers are SetTimer timers), message boxes, the save-file
// dialog, and the peers of the controls (real BUTTON / EDIT / LISTBOX /
// STATIC / COMBOBOX / up-down windows, a menu bar with accelerators, a DIB for
// the image). user32, gdi32, comctl32 and comdlg32 only.
#pragma once

#include <winapi.h>

#include "toolkit/forms.h"

#include <map>

class TWin32Application : public TInstalledApplication {
public:
    // Installs itself as Application, the peer factory and the system's
    // colours and text measure; the calling thread is the main thread.
    TWin32Application();
    ~TWin32Application() override;

    void ProcessMessages() override;
    bool WaitUntil(const std::function<bool()>& Predicate, std::chrono::milliseconds Timeout) override;
    void Wake() override;
    int MessageBox(const UnicodeString& Text, const UnicodeString& Caption, int Flags) override;
    std::unique_ptr<TTimerHandle> StartTimer(unsigned Interval, std::function<void()> OnFire) override;
    void Terminate() override;
    int Run() override;
    bool PromptForSaveFileName(UnicodeString& FileName) override;
    void SetClipboardText(const UnicodeString& Text) override;
    // The system's print dialog and the printer's device context (PDF files
    // come from the toolkit's own writer).
    bool PrintPage(const UnicodeString& Title, const TPageDrawer& Draw) override;
    bool PromptForOpenFileName(UnicodeString& FileName) override;
    // A CBT hook on the main thread: the next system dialog box (#32770) that
    // is activated gets IDCANCEL.
    bool ArmDialogCancel(std::function<void(const UnicodeString& Title)> OnCancelled) override;
    void DisarmDialogCancel() override;

    // Removes a timer (from its handle).
    void StopTimer(UINT_PTR Id);

private:
    static LRESULT CALLBACK HiddenProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam);
    static LRESULT CALLBACK DialogCancelProc(int Code, WPARAM WParam, LPARAM LParam);
    // Dispatches one message (accelerators of the window's form first).
    void Dispatch(MSG& Msg);
    // Runs the queued messages; false when WM_QUIT arrived.
    bool PumpMessages();
    HWND fHidden = nullptr;
    std::map<UINT_PTR, std::function<void()>> fTimers;
    UINT_PTR fNextTimer = 1;
    HHOOK fCancelHook = nullptr;
};

// The window of a control's peer (null without one); for tests and the backend.
HWND Win32WindowOf(const TControl* Control);
// Translates an accelerator of the form that owns Wnd; true when it did.
bool Win32TranslateAccelerator(HWND Wnd, MSG& Msg);
// The peer factory of this backend.
TPeerFactory& Win32PeerFactory();
// A GDI font for a toolkit font (cached for the program's life).
HFONT Win32Font(const TFont& Font);
// The header of a 32-bit top-down DIB of Width x Height: rows as a toolkit
// bitmap lays them out.
BITMAPINFO TopDownDib(int Width, int Height);
