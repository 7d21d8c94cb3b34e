// Application (the main thread's dispatcher), controls and the edit interface.
#pragma once

#include "toolkit/classes.h"
#include "toolkit/controls.h"
#include "toolkit/printing.h"

#ifdef _WIN32
// windows.h first, so that its MessageBox macro is gone for good.
#include <winapi.h>
#undef MessageBox
#endif

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

// Message box styles and answers: the Win32 MB_ / ID values, under names that
// do not clash with <windows.h>'s macros (which may be passed as well).
namespace MsgBox {
constexpr int Ok = 0x0, OkCancel = 0x1, AbortRetryIgnore = 0x2, YesNoCancel = 0x3, YesNo = 0x4, RetryCancel = 0x5;
constexpr int IconError = 0x10, IconQuestion = 0x20, IconWarning = 0x30, IconInformation = 0x40;
constexpr int TaskModal = 0x2000;
constexpr int IdOk = 1, IdCancel = 2, IdAbort = 3, IdRetry = 4, IdIgnore = 5, IdYes = 6, IdNo = 7;
}  // namespace MsgBox

// A running timer of the dispatcher; destroying it stops it.
class TTimerHandle {
public:
    virtual ~TTimerHandle() = default;
};

// The main thread's dispatcher. Exactly one is installed at a time (the global
// Application points to it, null when none is): THeadlessApplication for tests
// and tools, the Qt one from toolkit/qt in the program.
class TForm;

class TApplication {
public:
    TApplication();
    virtual ~TApplication();

    // Runs what is pending for the main thread: Synchronize requests, due
    // timers (headless), the GUI's events (Qt). Main thread only.
    virtual void ProcessMessages() = 0;
    // Runs pending work as it arrives until Predicate holds or Timeout passes;
    // returns whether Predicate held. Blocks between arrivals (no polling);
    // other threads call Wake() when state that Predicate reads changed
    // outside a Synchronize request. Main thread only.
    virtual bool WaitUntil(const std::function<bool()>& Predicate, std::chrono::milliseconds Timeout) = 0;
    // Wakes the main thread so that WaitUntil re-checks its predicate.
    virtual void Wake() = 0;

    // A modal message box; returns the button (MsgBox::IdOk, ...). Called on
    // another thread, it is shown on the main thread and waited for.
    virtual int MessageBox(const UnicodeString& Text, const UnicodeString& Caption, int Flags) = 0;
    // Shows an exception as the runtime's event loop does: a message box with
    // the message (a full stop is added when it ends in a character after "."
    // in the character table, as the runtime does), the application's title
    // as caption, OK and the error icon.
    virtual void ShowException(const Exception& E);
    // What the event loop does with an exception that escaped a handler: the
    // runtime's exceptions are shown with ShowException, other std::exception
    // with their what() text; the program carries on.
    void HandleException(const std::exception& E);
    // HandleException for the current exception (use in a catch (...) block).
    void HandleCurrentException();

    // Starts a timer that calls OnFire on the main thread every Interval ms
    // until the handle is destroyed (used by TTimer).
    virtual std::unique_ptr<TTimerHandle> StartTimer(unsigned Interval, std::function<void()> OnFire) = 0;

    UnicodeString Title = u"Spektrometer";
    // Full path of the running program (the Qt dispatcher sets it; empty headless
    // unless a test sets it).
    UnicodeString ExeName;
    // Asks the program's main loop to end.
    virtual void Terminate() { fTerminated = true; }
    bool Terminated() const { return fTerminated; }
    // Runs the event loop until Terminate; returns ExitCode.
    virtual int Run();
    int ExitCode = 0;
    // Replaces the message boxes (tests, automation): called on the main
    // thread instead of showing a box; returns the button.
    std::function<int(const UnicodeString& Text, const UnicodeString& Caption, int Flags)> MessageBoxHook;
    // The first form created; closing it ends the program.
    TForm* MainForm = nullptr;
    // The save-file dialog of the backend: shows FileName, returns the chosen
    // path in it; false when cancelled (headless: always).
    virtual bool PromptForSaveFileName(UnicodeString& FileName)
    {
        (void)FileName;
        CancelledByArm(u"Speichern unter");
        return false;
    }
    // The open-file dialog likewise (an existing file).
    virtual bool PromptForOpenFileName(UnicodeString& FileName)
    {
        (void)FileName;
        CancelledByArm(u"Öffnen");
        return false;
    }
    // Shows the system's print dialog and prints one landscape page drawn by
    // Draw; false when cancelled. Headless: the page is recorded in
    // PrintedPage (A4 at 300 dpi) and counts as printed unless a cancel is
    // armed.
    virtual bool PrintPage(const UnicodeString& Title, const TPageDrawer& Draw);
    // Closes the next system dialog of the main thread once it is shown (print
    // and file dialogs, a box the system shows on its own) as its Cancel
    // button does, and calls OnCancelled with its title; one dialog per call.
    // Headless: the next print or file dialog counts as shown and cancelled.
    // False where the backend cannot (Qt).
    virtual bool ArmDialogCancel(std::function<void(const UnicodeString& Title)> OnCancelled)
    {
        fDialogCancel = std::move(OnCancelled);
        return true;
    }
    // Drops a cancel that no dialog took.
    virtual void DisarmDialogCancel() { fDialogCancel = nullptr; }
    std::shared_ptr<TRecordingPage> PrintedPage;
    // Writes the page as a PDF file (A4 landscape); raises on failure.
    virtual void SavePdfPage(const UnicodeString& FileName, const UnicodeString& Title, const TPageDrawer& Draw)
    {
        WritePdfFile(FileName, Title, Draw);
    }
    // Puts text on the system's clipboard (headless: kept in ClipboardText).
    virtual void SetClipboardText(const UnicodeString& Text) { ClipboardText = Text; }
    UnicodeString ClipboardText;

protected:
    bool fTerminated = false;
    // The headless dialogs: takes an armed cancel for the dialog Title.
    bool CancelledByArm(const UnicodeString& Title);
    std::function<void(const UnicodeString& Title)> fDialogCancel;
};

// The installed dispatcher, or null.
extern TApplication* Application;

// Creates the application of the backend the program is linked with (Qt,
// Win32 or headless), installed as Application; it also knows the path of
// the running program (ExeName).
std::unique_ptr<TApplication> CreateApplication(int& Argc, char** Argv);

// Reports the current exception where no Application can show it (stderr).
void ReportUnhandledException() noexcept;

// Runs Handler inside the runtime's event loop guard: an exception is handed to
// Application->HandleCurrentException (written to stderr when there is no
// Application); the caller carries on.
template <class F>
void GuardedCall(F&& Handler) noexcept
{
    try {
        Handler();
    } catch (...) {
        try {
            if (Application)
                Application->HandleCurrentException();
            else
                ReportUnhandledException();
        } catch (...) {
            ReportUnhandledException();  // the message box itself failed
        }
    }
}

// A dispatcher that is installed for its lifetime. Install makes the calling
// thread the main thread and the dispatcher the Application, with its wake
// hook and (a native backend) its peer factory. A dispatcher's destructor
// calls Uninstall first, so that no wake reaches it half destroyed; the
// previous Application comes back last.
class TInstalledApplication : public TApplication {
public:
    ~TInstalledApplication() override;

protected:
    void Install(std::function<void()> WakeMainThread, TPeerFactory* Peers = nullptr);
    // Puts back the previous wake hook and peer factory.
    void Uninstall();

private:
    bool fInstalled = false, fHooksInstalled = false;
    TApplication* fPrevious = nullptr;
    TPeerFactory* fPreviousFactory = nullptr;
    bool fFactoryInstalled = false;
    std::function<void()> fPreviousWake;
};

// Headless dispatcher for tests and tools: synchronize requests and timers run
// when the main thread pumps (ProcessMessages / WaitUntil); message boxes are
// recorded and answered with a configurable answer.
class THeadlessApplication : public TInstalledApplication {
public:
    struct TMessageBoxCall {
        UnicodeString Text;
        UnicodeString Caption;
        int Flags = 0;
        bool OnMainThread = true;
    };

    // Installs itself as Application and makes the calling thread the main
    // thread; the destructor uninstalls it.
    THeadlessApplication();
    ~THeadlessApplication() override;

    void ProcessMessages() override;
    bool WaitUntil(const std::function<bool()>& Predicate, std::chrono::milliseconds Timeout) override;
    void Wake() override;
    int MessageBox(const UnicodeString& Text, const UnicodeString& Caption, int Flags) override;
    std::unique_ptr<TTimerHandle> StartTimer(unsigned Interval, std::function<void()> OnFire) override;

    // Message boxes shown so far (any thread).
    std::vector<TMessageBoxCall> MessageBoxCalls() const;
    void ClearMessageBoxCalls();
    // The answer of the next boxes (default MsgBox::IdOk); queued answers go
    // first, one per box.
    void SetMessageBoxAnswer(int Answer);
    void QueueMessageBoxAnswer(int Answer);
    // Called for each box (any thread), e.g. to stop a test at the first box.
    std::function<void(const TMessageBoxCall&)> OnMessageBox;

private:
    struct TTimerEntry;
    class THeadlessTimer;
    // Runs due timers; returns whether any ran.
    bool RunDueTimers();
    std::chrono::steady_clock::time_point NextTimerDue() const;
    mutable std::mutex fMutex;
    std::condition_variable fWakeCond;
    bool fWoken = false;
    std::vector<TMessageBoxCall> fBoxes;
    std::deque<int> fQueuedAnswers;
    int fAnswer = MsgBox::IdOk;
    std::vector<std::shared_ptr<TTimerEntry>> fTimers;  // main thread only
};

// An edit field as the serial component's terminal sees it.
//
// Typed characters go through CharProc (the edit's "window procedure" for
// characters): the default one, DefaultCharProc, edits the text (inserts at the
// caret; backspace deletes before it; CR inserts a line break in a multi-line
// edit). A terminal saves CharProc, installs its own, and passes characters on
// to the saved one when the edit is to see them; to detach, it puts the saved
// one back.
//
// PerformChar / ReplaceSel may be called from any thread; implementations run
// them on the main thread (and wait) like a sent window message.
class TCustomEdit : public TControl {
public:
    using TCharProc = std::function<void(char16_t Ch)>;

    explicit TCustomEdit(TComponent* AOwner);
    ~TCustomEdit() override;

    // A non-null identity of the edit's window (what a terminal keeps as its
    // handle); same value for the edit's lifetime.
    void* Handle() { return this; }

    TCharProc CharProc() const { return fCharProc; }
    void SetCharProc(TCharProc Proc);
    TCharProc DefaultCharProc();

    // A character as if typed: through CharProc.
    void PerformChar(char16_t Ch);
    // An 8-bit character (Windows-1252), like WM_CHAR sent with SendMessageA.
    void PerformAnsiChar(unsigned char Ch);
    // Replaces the selection with Text (inserts at the caret), no undo.
    void ReplaceSel(const UnicodeString& Text);
    // 8-bit text in Windows-1252, like EM_REPLACESEL sent with SendMessageA.
    void ReplaceSelAnsi(std::string_view Text);

    virtual UnicodeString Text() const = 0;
    virtual void SetText(const UnicodeString& Value) = 0;
    void Clear() { SetText(UnicodeString()); }
    virtual bool ReadOnly() const = 0;
    virtual void SetReadOnly(bool Value) = 0;
    virtual bool MultiLine() const { return false; }
    // Caret position (0-based, in UTF-16 units) and selection length.
    virtual int SelStart() const = 0;
    virtual int SelLength() const = 0;
    virtual void SetSelection(int Start, int Length) = 0;

    TNotifyEvent OnChange;

protected:
    // The edit's own handling of a character that reached it.
    virtual void DoDefaultChar(char16_t Ch);
    // Replaces the selection; runs on the edit's thread.
    virtual void DoReplaceSel(const UnicodeString& Text) = 0;
    // Runs F where the edit lives (default: directly).
    virtual void RunInEditThread(const std::function<void()>& F) { F(); }

private:
    TCharProc fCharProc;
};

// ---------------------------------------------------------------------------
// TForm

class TMainMenu;

enum class TCloseAction { caNone, caHide, caFree, caMinimize };
using enum TCloseAction;
using TCloseEvent = std::function<void(TObject* Sender, TCloseAction& Action)>;

// A form's frame: fixed size (the default) or sizeable by the user.
enum class TFormBorderStyle { bsSingle, bsSizeable };
using enum TFormBorderStyle;

// The smallest client size a sizeable form may take (0: no limit).
struct TSizeConstraints {
    int MinWidth = 0;
    int MinHeight = 0;
};

// A top-level window. Its bounds are the window's position (Left, Top) and
// the size of its client area (ClientWidth, ClientHeight); the menu bar lies
// outside. Forms start hidden; the first form created is the main form.
// A sizeable form's backend reports the user's resizing through
// SetClientSize; every change of the client size raises OnResize.
class TForm : public TWinControl {
public:
    explicit TForm(TComponent* AOwner);
    ~TForm() override;

    int ClientWidth() const { return Width(); }
    int ClientHeight() const { return Height(); }
    void SetClientSize(int W, int H) { SetBounds(Left(), Top(), W, H); }
    // Sizes below the constraints are raised to them.
    void SetBounds(int ALeft, int ATop, int AWidth, int AHeight) override;
    TFormBorderStyle BorderStyle() const { return fBorderStyle; }
    void SetBorderStyle(TFormBorderStyle Value);
    const TSizeConstraints& Constraints() const { return fConstraints; }
    void SetConstraints(const TSizeConstraints& Value);
    // Resource name of the window icon (empty: the system's).
    const UnicodeString& Icon() const { return fIcon; }
    void SetIcon(const UnicodeString& ResourceName);
    TMainMenu* Menu() const { return fMenu; }
    void SetMenu(TMainMenu* Value);
    // Esc hides the form (a dialog's cancel key); off unless set.
    bool CloseOnEscape = false;

    // Shows the form and brings it to the front.
    void Show();
    // Runs OnClose; hides the form unless the handler says otherwise; closing
    // the main form ends the program (Application->Terminate).
    void Close();
    // The form's picture as the screen shows it (false headless).
    bool GrabWindow(TBitmap& Picture, TPoint& ClientOrigin);

    TNotifyEvent OnShow;
    TNotifyEvent OnHide;
    TCloseEvent OnClose;
    TNotifyEvent OnResize;

    void SetVisible(bool Value) override;
    // The menu changed (called by the menu).
    void MenuChanged();

protected:
    void Notification(TComponent* AComponent, TOperation Operation) override;

private:
    UnicodeString fIcon;
    TMainMenu* fMenu = nullptr;
    TFormBorderStyle fBorderStyle = bsSingle;
    TSizeConstraints fConstraints;
};
