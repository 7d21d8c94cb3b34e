// Unit1: the main window TForm1 — port choice, exposure, capture, list, plot,
// temperature, export, and the module state shared with the calibration dialog.
#pragma once

#include "app/acquisition.h"
#include "toolkit/comctrls.h"
#include "toolkit/dialogs.h"
#include "toolkit/extctrls.h"
#include "toolkit/menus.h"
#include "toolkit/stdctrls.h"

#include <memory>

class TDeviceChangeWatch;
class TnrComm;
class TnrDeviceBox;

class TForm1 : public TForm, private TAcquisitionView {
public:
    TForm1();
    ~TForm1() override;

    // Controls, by their component names.
    TnrDeviceBox* nrDeviceBox1;
    TButton* ProtokollButton;
    TLabel* Label1;
    TListBox* ListBox1;
    TButton* bSend;
    TButton* CLButton;
    TLabel* Label4;
    TPanel* C_Panel;
    TLabel* Label5;
    TPanel* F_Panel;
    TLabeledEdit* LECapture;
    TEdit* Edit1;
    TUpDown* UpDown1;
    TImage* Image1;
    TLabel* Label2;
    TEdit* eSend;
    TnrComm* nrComm1;
    TTimer* TTemp;
    TSaveDialog* SaveTextFileDialog1;
    TMainMenu* MainMenu1;
    TMenuItem* Datei1;
    TMenuItem* Speichern1;
    TMenuItem* Eichung1;
    TMenuItem* Beenden1;
    TMenuItem* Ansicht1;
    TMenuItem* Spektrum1;
    TMenuItem* Konzentration1;
    TMenuItem* Kinetik1;
    TMenuItem* Info1;

    // Handlers.
    void FormCreate(TObject* Sender);
    void nrDeviceBox1Change(TObject* Sender);
    void TTempTimer(TObject* Sender);
    void bSendClick(TObject* Sender);
    void CLButtonClick(TObject* Sender);
    void ProtokollButtonClick(TObject* Sender);
    void Eichung1Click(TObject* Sender);
    void Info1Click(TObject* Sender);
    // Shows the spectrum window (created on first use).
    void Spektrum1Click(TObject* Sender);
    // The lab windows (created on first use, with the spectrum window whose
    // reference they use).
    void Konzentration1Click(TObject* Sender);
    void Kinetik1Click(TObject* Sender);
    void Beenden1Click(TObject* Sender);
    void LECaptureChange(TObject* Sender);
    void LECaptureKeyUp(TObject* Sender, std::uint16_t& Key, TShiftState Shift);
    void Edit1Change(TObject* Sender);
    // Sets the exposure as if typed into LECapture (tenths of a millisecond):
    // the command line and the spin buttons follow.
    void SetExposureMs(double Ms);
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

private:
    void CreateControls();
    void CreateMenu();
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
