// Unit1: the main window TForm1 — port choice, exposure, capture, list, plot,
// temperature, export, and the module state shared with the calibration dialog.
#pragma once

#include "app/acquisition.h"
#include "toolkit/classes.h"

#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QPushButton>
#include <QWidget>

#include <functional>
#include <memory>

class QAction;
class QMenu;
class QToolButton;
class TDeviceChangeWatch;
class TTimer;
class TTimerHandle;
class TnrComm;
class TnrDeviceBox;

// An image control with a bitmap canvas of its own size; the bitmap keeps the
// last drawing until the next one replaces it.
class TImage : public QWidget {
    Q_OBJECT
public:
    explicit TImage(QWidget* Parent);
    // The bitmap, created blank (transparent) at the control's size on first use.
    QImage& Picture();
    bool HasPicture() const { return !fPicture.isNull(); }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QImage fPicture;
};

// Up-down buttons bound to a buddy edit: a step reads the buddy's number (when
// it holds one), moves by Increment within Min..Max and writes the position
// back into the buddy as decimal text.
class TUpDown : public QWidget {
    Q_OBJECT
public:
    TUpDown(QWidget* Parent, QLineEdit* Buddy);
    int Position() const { return fPosition; }
    void SetPosition(int Value);
    int Min = 0;
    int Max = 100;
    int Increment = 1;
    // One click on the upper (Up = true) or lower button.
    void Step(bool Up);
    QToolButton* UpButton() const { return fUp; }
    QToolButton* DownButton() const { return fDown; }

private:
    QLineEdit* fBuddy;
    QToolButton* fUp;
    QToolButton* fDown;
    int fPosition = 0;
};

// The save-file dialog: no filter, no default extension, no overwrite prompt,
// remembers the last file name.
class TSaveTextFileDialog {
public:
    explicit TSaveTextFileDialog(QWidget* Parent) : fParent(Parent) {}
    // Shows the dialog; false when the user cancelled.
    bool Execute();
    UnicodeString FileName;
    // Replaces the dialog (tests, automation): returns the chosen path or
    // false for a cancel.
    std::function<bool(UnicodeString& FileName)> ExecuteHook;

private:
    QWidget* fParent;
};

class TForm1 : public QMainWindow, public TComponent, private TAcquisitionView {
    Q_OBJECT
public:
    TForm1();
    ~TForm1() override;

    // Controls, by their component names.
    TnrDeviceBox* nrDeviceBox1;
    QPushButton* ProtokollButton;
    QLabel* Label1;
    QListWidget* ListBox1;
    QPushButton* bSend;
    QPushButton* CLButton;
    QLabel* Label4;
    QLabel* C_Panel;
    QLabel* Label5;
    QLabel* F_Panel;
    QLabel* LECaptureLabel;
    QLineEdit* LECapture;
    QLineEdit* Edit1;
    TUpDown* UpDown1;
    TImage* Image1;
    QLabel* Label2;
    QLineEdit* eSend;
    TnrComm* nrComm1;
    TTimer* TTemp;
    TSaveTextFileDialog SaveTextFileDialog1;
    QMenu* Datei1;
    QAction* Speichern1;
    QAction* Eichung1;
    QAction* Beenden1;
    QAction* Info1;

    // Handlers.
    void FormCreate(TObject* Sender);
    void nrDeviceBox1Change(TObject* Sender);
    void TTempTimer(TObject* Sender);
    void bSendClick(TObject* Sender);
    void CLButtonClick(TObject* Sender);
    void ProtokollButtonClick(TObject* Sender);
    void Eichung1Click(TObject* Sender);
    void Info1Click(TObject* Sender);
    void Beenden1Click(TObject* Sender);
    void LECaptureChange(TObject* Sender);
    void LECaptureKeyUp(TObject* Sender);
    void Edit1Change(TObject* Sender);
    void nrComm1AfterReceive(TObject* Com, const std::uint8_t* Buffer, std::uint32_t Received);
    // The port closed: a close that nobody asked for is a lost port (checked
    // once the current work is done; OnClose may come from the port's thread).
    void nrComm1Close(TObject* Sender);
    void Empfangspakete(const UnicodeString& S);
    // Draws Counts into Image1 and searches the peak (reports it in a scan).
    void DrawSpectrum();
    void Speichern1Click(TObject* Sender);

    // The text of the Info box.
    static UnicodeString InfoText();
    // Directory of the running executable, with a trailing separator.
    static UnicodeString ProgramDirectory();

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    void CreateControls();
    void ApplyStoredSettings();
    // After a close: tells the user when the port was lost and shows no port in the box.
    void CheckPortLost();
    // The port number that the user's pick opened (0: none open).
    std::uint16_t fOpenedPortNo = 0;
    std::unique_ptr<TTimerHandle> fPortCheck;
    // Ports arriving and leaving reach the device box.
    std::unique_ptr<TDeviceChangeWatch> fDeviceChanges;
    // Cleared by the destructor: close reports queued for the main thread find it here.
    std::shared_ptr<TForm1*> fSelf;
    // TAcquisitionView
    UnicodeString CommandText() const override;
    void SetCommandText(const UnicodeString& S) override;
    UnicodeString ExposureText() const override;
    void AddListLine(const UnicodeString& S) override;
    void ClearList() override;
    void SetCelsiusText(const UnicodeString& S) override;
    void SetFahrenheitText(const UnicodeString& S) override;
    void SpectrumComplete() override;
};

extern TForm1* Form1;

// Sets a line edit's text only when it differs, so that no change event fires
// for the text it already has.
void SetEditText(QLineEdit* Edit, const UnicodeString& Text);
UnicodeString EditText(const QLineEdit* Edit);
// A label placed at its top-left corner, sized to its text.
QLabel* AutoSizeLabel(QWidget* Parent, const char* Text, int Left, int Top);
