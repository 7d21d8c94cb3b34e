// TApplication, the headless dispatcher, TControl and TCustomEdit.
#include "toolkit/forms.h"
#include "toolkit/menus.h"

#include <algorithm>
#include <cstdio>

TApplication* Application = nullptr;

TApplication::TApplication() = default;
TApplication::~TApplication() = default;

bool TApplication::PrintPage(const UnicodeString& Title, const TPageDrawer& Draw)
{
    (void)Title;
    if (CancelledByArm(u"Drucken")) return false;
    PrintedPage = std::make_shared<TRecordingPage>();
    Draw(*PrintedPage);
    return true;
}

bool TApplication::CancelledByArm(const UnicodeString& Title)
{
    if (!fDialogCancel) return false;
    const auto report = std::move(fDialogCancel);
    fDialogCancel = nullptr;
    report(Title);
    return true;
}

void TApplication::ShowException(const Exception& E)
{
    UnicodeString Msg = E.Message();
    // The runtime ends the shown text with a full stop unless it already ends
    // in "." or a character before it in the table (")", "!", digits do not).
    if (!Msg.empty() && Msg.back() > u'.') Msg += u'.';
    MessageBox(Msg, Title, MsgBox::Ok | MsgBox::IconError);
}

void TApplication::HandleException(const std::exception& E)
{
    if (dynamic_cast<const EAbort*>(&E)) return;
    if (auto* RE = dynamic_cast<const Exception*>(&E))
        ShowException(*RE);
    else
        ShowException(Exception(Utf8ToUnicode(E.what())));
}

void TApplication::HandleCurrentException()
{
    try {
        throw;
    } catch (const std::exception& E) {
        HandleException(E);
    } catch (...) {
        ShowException(Exception(RuntimeText::UnknownException));
    }
}

void ReportUnhandledException() noexcept
{
    std::string Text = "unhandled exception";
    try {
        throw;
    } catch (const std::exception& E) {
        Text += ": ";
        Text += E.what();
    } catch (...) {
    }
    std::fprintf(stderr, "%s\n", Text.c_str());
}

// ---------------------------------------------------------------------------
// THeadlessApplication

struct THeadlessApplication::TTimerEntry {
    THeadlessApplication* App;
    unsigned Interval;
    std::chrono::steady_clock::time_point Due;
    std::function<void()> OnFire;
};

class THeadlessApplication::THeadlessTimer : public TTimerHandle {
public:
    explicit THeadlessTimer(std::shared_ptr<TTimerEntry> E) : fEntry(std::move(E)) {}
    ~THeadlessTimer() override
    {
        if (fEntry->App) {
            auto& T = fEntry->App->fTimers;
            T.erase(std::remove(T.begin(), T.end(), fEntry), T.end());
        }
    }

private:
    std::shared_ptr<TTimerEntry> fEntry;
};

void TInstalledApplication::Install(std::function<void()> WakeMainThread, TPeerFactory* Peers)
{
    SetMainThreadID(std::this_thread::get_id());
    fPrevious = Application;
    Application = this;
    if (Peers) {
        fPreviousFactory = SetPeerFactory(Peers);
        fFactoryInstalled = true;
    }
    fPreviousWake = SetWakeMainThread(std::move(WakeMainThread));
    fInstalled = fHooksInstalled = true;
}

void TInstalledApplication::Uninstall()
{
    if (!fHooksInstalled) return;
    fHooksInstalled = false;
    SetWakeMainThread(std::move(fPreviousWake));
    if (fFactoryInstalled) SetPeerFactory(fPreviousFactory);
}

TInstalledApplication::~TInstalledApplication()
{
    Uninstall();
    if (fInstalled) Application = fPrevious;
}

THeadlessApplication::THeadlessApplication()
{
    Install([this] { Wake(); });
}

THeadlessApplication::~THeadlessApplication()
{
    for (auto& T : fTimers) T->App = nullptr;
    Uninstall();
}

void THeadlessApplication::ProcessMessages()
{
    CheckSynchronize();
    RunDueTimers();
}

bool THeadlessApplication::RunDueTimers()
{
    auto Now = std::chrono::steady_clock::now();
    // Copy: a handler may stop or start timers. Each runs at most once here.
    auto Timers = fTimers;
    bool Ran = false;
    for (auto& T : Timers) {
        if (!T->App || T->Due > Now) continue;
        if (std::find(fTimers.begin(), fTimers.end(), T) == fTimers.end()) continue;
        T->Due = Now + std::chrono::milliseconds(T->Interval);
        Ran = true;
        auto Fire = T->OnFire;
        GuardedCall(Fire);
    }
    return Ran;
}

std::chrono::steady_clock::time_point THeadlessApplication::NextTimerDue() const
{
    auto Next = std::chrono::steady_clock::time_point::max();
    for (auto& T : fTimers) Next = std::min(Next, T->Due);
    return Next;
}

bool THeadlessApplication::WaitUntil(const std::function<bool()>& Predicate, std::chrono::milliseconds Timeout)
{
    const auto Deadline = std::chrono::steady_clock::now() + Timeout;
    for (;;) {
        ProcessMessages();
        if (Predicate()) return true;
        auto Until = std::min(Deadline, NextTimerDue());
        {
            std::unique_lock<std::mutex> L(fMutex);
            fWakeCond.wait_until(L, Until, [&] { return fWoken; });
            fWoken = false;
        }
        if (std::chrono::steady_clock::now() >= Deadline) {
            ProcessMessages();
            return Predicate();
        }
    }
}

void THeadlessApplication::Wake()
{
    std::lock_guard<std::mutex> L(fMutex);
    fWoken = true;
    fWakeCond.notify_all();
}

int THeadlessApplication::MessageBox(const UnicodeString& Text, const UnicodeString& Caption, int Flags)
{
    TMessageBoxCall Call{Text, Caption, Flags, IsMainThread()};
    if (MessageBoxHook && Call.OnMainThread) {
        {
            std::lock_guard<std::mutex> L(fMutex);
            fBoxes.push_back(Call);
        }
        return MessageBoxHook(Text, Caption, Flags);
    }
    int Answer;
    {
        std::lock_guard<std::mutex> L(fMutex);
        fBoxes.push_back(Call);
        if (!fQueuedAnswers.empty()) {
            Answer = fQueuedAnswers.front();
            fQueuedAnswers.pop_front();
        } else {
            Answer = fAnswer;
        }
    }
    if (OnMessageBox) OnMessageBox(Call);
    Wake();
    return Answer;
}

std::unique_ptr<TTimerHandle> THeadlessApplication::StartTimer(unsigned Interval, std::function<void()> OnFire)
{
    auto E = std::make_shared<TTimerEntry>(TTimerEntry{
        this, Interval, std::chrono::steady_clock::now() + std::chrono::milliseconds(Interval), std::move(OnFire)});
    fTimers.push_back(E);
    Wake();
    return std::make_unique<THeadlessTimer>(E);
}

std::vector<THeadlessApplication::TMessageBoxCall> THeadlessApplication::MessageBoxCalls() const
{
    std::lock_guard<std::mutex> L(fMutex);
    return fBoxes;
}

void THeadlessApplication::ClearMessageBoxCalls()
{
    std::lock_guard<std::mutex> L(fMutex);
    fBoxes.clear();
}

void THeadlessApplication::SetMessageBoxAnswer(int Answer)
{
    std::lock_guard<std::mutex> L(fMutex);
    fAnswer = Answer;
}

void THeadlessApplication::QueueMessageBoxAnswer(int Answer)
{
    std::lock_guard<std::mutex> L(fMutex);
    fQueuedAnswers.push_back(Answer);
}

// ---------------------------------------------------------------------------
// TCustomEdit

TCustomEdit::TCustomEdit(TComponent* AOwner) : TControl(AOwner), fCharProc(DefaultCharProc()) {}
TCustomEdit::~TCustomEdit() = default;

TCustomEdit::TCharProc TCustomEdit::DefaultCharProc()
{
    return [this](char16_t Ch) { DoDefaultChar(Ch); };
}

void TCustomEdit::SetCharProc(TCharProc Proc) { fCharProc = Proc ? std::move(Proc) : DefaultCharProc(); }

void TCustomEdit::PerformChar(char16_t Ch)
{
    RunInEditThread([this, Ch] {
        TCharProc P = fCharProc;  // the procedure may replace itself
        if (P) P(Ch);
    });
}

void TCustomEdit::PerformAnsiChar(unsigned char Ch)
{
    PerformChar(AnsiToUnicode(std::string(1, static_cast<char>(Ch)))[0]);
}

void TCustomEdit::ReplaceSel(const UnicodeString& Text)
{
    RunInEditThread([this, &Text] { DoReplaceSel(Text); });
}

void TCustomEdit::ReplaceSelAnsi(std::string_view Text) { ReplaceSel(AnsiToUnicode(Text)); }

void TCustomEdit::DoDefaultChar(char16_t Ch)
{
    // As an edit control: typing does nothing in a read-only edit (text set by
    // ReplaceSel still goes in); control characters other than backspace, and
    // CR / tab in a multi-line edit, are ignored.
    if (ReadOnly()) return;
    if (Ch == 8) {
        if (SelLength() == 0) {
            if (SelStart() == 0) return;
            UnicodeString T = Text();
            int Start = SelStart() - 1;
            // Delete a whole line break ("\r\n") or surrogate pair at once.
            if (Start > 0 &&
                ((T[Start - 1] == u'\r' && T[Start] == u'\n') || (T[Start - 1] >= 0xD800 && T[Start - 1] <= 0xDBFF)))
                --Start;
            SetSelection(Start, SelStart() - Start);
        }
        DoReplaceSel(UnicodeString());
        return;
    }
    if (Ch == 13) {
        if (MultiLine()) DoReplaceSel(u"\r\n");
        return;
    }
    if (Ch == 9) {
        if (MultiLine()) DoReplaceSel(u"\t");
        return;
    }
    if (Ch < 32) return;
    DoReplaceSel(UnicodeString(1, Ch));
}

int TApplication::Run()
{
    while (!fTerminated) WaitUntil([this] { return fTerminated; }, std::chrono::hours(24));
    return ExitCode;
}

// ---------------------------------------------------------------------------
// TForm

TForm::TForm(TComponent* AOwner) : TWinControl(AOwner)
{
    SetVisible(false);
    SetFont(TFont());
    if (Application && !Application->MainForm) Application->MainForm = this;
    CreatePeer();
}

TForm::~TForm()
{
    // The owned controls go while the window is still there.
    DestroyComponents();
    if (fMenu) fMenu->fForm = nullptr;
    if (Application && Application->MainForm == this) Application->MainForm = nullptr;
}

void TForm::SetIcon(const UnicodeString& ResourceName)
{
    if (ResourceName == fIcon) return;
    fIcon = ResourceName;
    Changed(TControlChange::Icon);
}

void TForm::SetBounds(int ALeft, int ATop, int AWidth, int AHeight)
{
    AWidth = std::max({AWidth, fConstraints.MinWidth, 0});
    AHeight = std::max({AHeight, fConstraints.MinHeight, 0});
    const bool resized = AWidth != Width() || AHeight != Height();
    TWinControl::SetBounds(ALeft, ATop, AWidth, AHeight);
    if (resized && OnResize) OnResize(this);
}

void TForm::SetBorderStyle(TFormBorderStyle Value)
{
    if (Value == fBorderStyle) return;
    fBorderStyle = Value;
    Changed(TControlChange::BorderStyle);
}

void TForm::SetConstraints(const TSizeConstraints& Value)
{
    fConstraints = Value;
    Changed(TControlChange::BorderStyle);
    SetClientSize(ClientWidth(), ClientHeight());
}

void TForm::SetMenu(TMainMenu* Value)
{
    if (Value == fMenu) return;
    if (fMenu) {
        fMenu->fForm = nullptr;
        RemoveFreeNotification(fMenu);
    }
    fMenu = Value;
    if (fMenu) {
        if (fMenu->fForm && fMenu->fForm != this) fMenu->fForm->SetMenu(nullptr);
        fMenu->fForm = this;
        FreeNotification(fMenu);
    }
    MenuChanged();
}

void TForm::MenuChanged()
{
    if (!IsDestroying()) Changed(TControlChange::Menu);
}

void TForm::Notification(TComponent* AComponent, TOperation Operation)
{
    TWinControl::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == fMenu) {
        fMenu = nullptr;
        MenuChanged();
    }
}

void TForm::SetVisible(bool Value)
{
    if (Value == Visible()) return;
    TWinControl::SetVisible(Value);
    if (Value) {
        if (OnShow) OnShow(this);
    } else if (OnHide) {
        OnHide(this);
    }
}

void TForm::Show()
{
    if (Visible())
        Changed(TControlChange::Visible);  // to the front
    else
        SetVisible(true);
}

void TForm::Close()
{
    TCloseAction Action = caHide;
    if (OnClose) OnClose(this, Action);
    if (Action == caNone) return;
    Hide();
    if (Application && Application->MainForm == this) Application->Terminate();
}

bool TForm::GrabWindow(TBitmap& Picture, TPoint& ClientOrigin) { return Peer() && Peer()->Grab(Picture, ClientOrigin); }
