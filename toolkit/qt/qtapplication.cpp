// The Qt dispatcher.
#include "toolkit/qt/qtapplication.h"

#include "toolkit/qt/qtguard.h"
#include "toolkit/qt/qtpeers.h"

#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QTimer>

#include <climits>

namespace {

TQtPeerFactory QtPeers;

class TQtTimerHandle : public TTimerHandle {
public:
    TQtTimerHandle(unsigned Interval, std::function<void()> OnFire) : fTimer(new QTimer)
    {
        fTimer->setInterval(static_cast<int>(Interval));
        QObject::connect(fTimer, &QTimer::timeout, Guarded(std::move(OnFire)));
        fTimer->start();
    }
    ~TQtTimerHandle() override
    {
        // Usually stopped from its own handler (a one-shot timer): the QTimer
        // is inside its timeout signal then, so it goes later.
        fTimer->stop();
        QObject::disconnect(fTimer, nullptr, nullptr, nullptr);
        fTimer->deleteLater();
    }

private:
    QTimer* fTimer;
};

}  // namespace

TQtApplication::TQtApplication()
{
    ExeName = FromQString(QCoreApplication::applicationFilePath());
    Install(
        [this] {
            // Any thread: the request runs when the event loop gets to it.
            QMetaObject::invokeMethod(
                this, [this] { RunSynchronize(); }, Qt::QueuedConnection);
        },
        &QtPeers);
    InstallQtGraphics();
    if (auto* Gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        Gui->setQuitOnLastWindowClosed(false);  // closing the main form ends the program
}

TQtApplication::~TQtApplication() { Uninstall(); }

void TQtApplication::RunSynchronize()
{
    GuardedCall([] { CheckSynchronize(); });
}

void TQtApplication::ProcessMessages()
{
    RunSynchronize();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

bool TQtApplication::WaitUntil(const std::function<bool()>& Predicate, std::chrono::milliseconds Timeout)
{
    const auto Deadline = std::chrono::steady_clock::now() + Timeout;
    // A timer wakes the blocking processEvents at the deadline. It is started
    // again when it fired before the deadline (a timer may fire early), or
    // the next wait would have nothing to end it.
    QTimer Alarm;
    Alarm.setSingleShot(true);
    Alarm.setTimerType(Qt::PreciseTimer);
    for (;;) {
        RunSynchronize();
        if (Predicate()) return true;
        const auto Left = std::chrono::ceil<std::chrono::milliseconds>(Deadline - std::chrono::steady_clock::now());
        if (Left.count() <= 0) return false;
        if (!Alarm.isActive()) Alarm.start(static_cast<int>(std::min<long long>(Left.count(), INT_MAX)));
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

void TQtApplication::Wake()
{
    QMetaObject::invokeMethod(
        this, [] {}, Qt::QueuedConnection);
}

int TQtApplication::MessageBox(const UnicodeString& Text, const UnicodeString& Caption, int Flags)
{
    if (IsMainThread()) return ShowBox(Text, Caption, Flags);
    // Another thread waits for the box like for a Synchronize request (and,
    // from a TThread, is released by its terminate request: 0, not shown).
    int Result = 0;
    TThread::Synchronize(TThread::CurrentThread(), [&] { Result = ShowBox(Text, Caption, Flags); });
    return Result;
}

int TQtApplication::ShowBox(const UnicodeString& Text, const UnicodeString& Caption, int Flags)
{
    if (MessageBoxHook) return MessageBoxHook(Text, Caption, Flags);
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
    switch (Flags & 0xF0) {
    case MsgBox::IconError: Icon = QMessageBox::Critical; break;
    case MsgBox::IconQuestion: Icon = QMessageBox::Question; break;
    case MsgBox::IconWarning: Icon = QMessageBox::Warning; break;
    case MsgBox::IconInformation: Icon = QMessageBox::Information; break;
    default: break;
    }
    struct TButton {
        QMessageBox::StandardButton Qt;
        int Id;
    };
    std::vector<TButton> Buttons;
    switch (Flags & 0x0F) {
    case MsgBox::OkCancel: Buttons = {{QMessageBox::Ok, MsgBox::IdOk}, {QMessageBox::Cancel, MsgBox::IdCancel}}; break;
    case MsgBox::AbortRetryIgnore:
        Buttons = {{QMessageBox::Abort, MsgBox::IdAbort},
                   {QMessageBox::Retry, MsgBox::IdRetry},
                   {QMessageBox::Ignore, MsgBox::IdIgnore}};
        break;
    case MsgBox::YesNoCancel:
        Buttons = {{QMessageBox::Yes, MsgBox::IdYes},
                   {QMessageBox::No, MsgBox::IdNo},
                   {QMessageBox::Cancel, MsgBox::IdCancel}};
        break;
    case MsgBox::YesNo: Buttons = {{QMessageBox::Yes, MsgBox::IdYes}, {QMessageBox::No, MsgBox::IdNo}}; break;
    case MsgBox::RetryCancel:
        Buttons = {{QMessageBox::Retry, MsgBox::IdRetry}, {QMessageBox::Cancel, MsgBox::IdCancel}};
        break;
    default: Buttons = {{QMessageBox::Ok, MsgBox::IdOk}}; break;
    }
    QMessageBox::StandardButtons Set;
    for (auto& B : Buttons) Set |= B.Qt;
    // A Win32 message box breaks lines at CR as well as at CR LF and LF.
    QString Shown = ToQString(Text);
    Shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    Shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QMessageBox Box(Icon, ToQString(Caption), Shown, Set, QApplication::activeWindow());
    const int R = Box.exec();
    for (auto& B : Buttons)
        if (R == B.Qt) return B.Id;
    // Closed with Escape / the window's close button: Cancel where there is one.
    for (auto& B : Buttons)
        if (B.Id == MsgBox::IdCancel || B.Id == MsgBox::IdNo) return B.Id;
    return Buttons.front().Id;
}

std::unique_ptr<TTimerHandle> TQtApplication::StartTimer(unsigned Interval, std::function<void()> OnFire)
{
    return std::make_unique<TQtTimerHandle>(Interval, std::move(OnFire));
}

void TQtApplication::Terminate()
{
    TApplication::Terminate();
    QCoreApplication::quit();
}

int TQtApplication::Run()
{
    if (!Terminated()) QCoreApplication::exec();
    return ExitCode;
}

void TQtApplication::SetClipboardText(const UnicodeString& Text)
{
    TApplication::SetClipboardText(Text);
    QGuiApplication::clipboard()->setText(ToQString(Text));
}

bool TQtApplication::PromptForSaveFileName(UnicodeString& FileName)
{
    const QString Name = QFileDialog::getSaveFileName(QApplication::activeWindow(), QString(), ToQString(FileName),
                                                      QString(), nullptr, QFileDialog::DontConfirmOverwrite);
    if (Name.isEmpty()) return false;
    FileName = FromQString(QDir::toNativeSeparators(Name));
    return true;
}

bool TQtApplication::PromptForOpenFileName(UnicodeString& FileName)
{
    const QString Name = QFileDialog::getOpenFileName(QApplication::activeWindow(), QString(), ToQString(FileName));
    if (Name.isEmpty()) return false;
    FileName = FromQString(QDir::toNativeSeparators(Name));
    return true;
}
