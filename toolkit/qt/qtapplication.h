// The Qt dispatcher: Synchronize requests and timers on the Qt event loop,
// message boxes as QMessageBox.
#pragma once

#include "toolkit/forms.h"

#include <QObject>
#include <QString>

inline QString ToQString(const UnicodeString& S)
{
    return QString::fromUtf16(S.data(), static_cast<qsizetype>(S.size()));
}
inline UnicodeString FromQString(const QString& S)
{
    return UnicodeString(reinterpret_cast<const char16_t*>(S.utf16()), static_cast<std::size_t>(S.size()));
}

// Create after the QApplication, on its thread; installs itself as Application
// (and uninstalls in the destructor). Synchronize requests are posted to the Qt
// event loop and run inside the event loop guard.
class TQtApplication : public QObject, public TInstalledApplication {
    Q_OBJECT
public:
    TQtApplication();
    ~TQtApplication() override;

    void ProcessMessages() override;
    bool WaitUntil(const std::function<bool()>& Predicate, std::chrono::milliseconds Timeout) override;
    void Wake() override;
    // Shows a QMessageBox (on the main thread; other threads wait for it).
    int MessageBox(const UnicodeString& Text, const UnicodeString& Caption, int Flags) override;
    std::unique_ptr<TTimerHandle> StartTimer(unsigned Interval, std::function<void()> OnFire) override;
    // Quits the Qt event loop.
    void Terminate() override;
    int Run() override;
    bool PromptForSaveFileName(UnicodeString& FileName) override;
    void SetClipboardText(const UnicodeString& Text) override;
    bool PrintPage(const UnicodeString& Title, const TPageDrawer& Draw) override;
    void SavePdfPage(const UnicodeString& FileName, const UnicodeString& Title, const TPageDrawer& Draw) override;
    bool PromptForOpenFileName(UnicodeString& FileName) override;
    // Not supported: Qt's dialogs are not closed from outside.
    bool ArmDialogCancel(std::function<void(const UnicodeString& Title)> OnCancelled) override
    {
        (void)OnCancelled;
        return false;
    }

private:
    int ShowBox(const UnicodeString& Text, const UnicodeString& Caption, int Flags);
    void RunSynchronize();
};
