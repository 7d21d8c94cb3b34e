#include "app/Unit1.h"

#include "app/Unit2.h"
#include "app/calibration.h"
#include "app/export.h"
#include "app/lab/concentrationform.h"
#include "app/lab/kineticsform.h"
#include "app/lab/labcapture.h"
#include "app/layout.h"
#include "app/plot.h"
#include "app/porthint.h"
#include "app/spectrum/spectrumform.h"
#include "comm/nrcomm/nrcomm.h"
#include "comm/nrcommbox/nrcommbox.h"
#include "toolkit/devicechange.h"

#include <cmath>

TForm1* Form1 = nullptr;

namespace {

TFont PixelFont(const TFont& Base, int Pixels, bool Bold, TColor Color = clWindowText)
{
    TFont F = Base;
    F.Height = Pixels;
    F.Style = Bold ? TFontStyles{fsBold} : TFontStyles{};
    F.Color = Color;
    return F;
}

// A panel without bevels: 2 px border, 3 px bevel spacing, centred caption.
TPanel* Panel(TForm* Form, const char16_t* Name, int Left, int Top, TColor TextColor)
{
    auto* panel = PlacedControl<TPanel>(Form, Name, Left, Top, 121, 41);
    panel->SetBevels(bvNone, bvNone, 3, 2);
    panel->SetColor(clInactiveCaptionText);
    panel->SetFont(PixelFont(Form->Font(), 19, true, TextColor));
    return panel;
}

TMenuItem* MenuItem(TForm* Form, const char16_t* Name, const UnicodeString& Caption, TMenuItem* Parent,
                    TShortCut Key = scNone)
{
    auto* item = new TMenuItem(Form);
    item->SetName(Name);
    item->SetCaption(Caption);
    item->SetShortCut(Key);
    Parent->Add(item);
    return item;
}

}  // namespace

// --- TForm1 --------------------------------------------------------------------

TForm1::TForm1() : TForm(nullptr), fSelf(std::make_shared<TForm1*>(this))
{
    SetName(u"Form1");
    Form1 = this;
    CreateControls();
    ApplyStoredSettings();
    FormCreate(this);
}

TForm1::~TForm1()
{
    // The close below reports to nobody.
    *fSelf = nullptr;
    fDeviceChanges.reset();
    fPortCheck.reset();
    // The port (its threads deliver to the controls) and the timer go first.
    delete nrComm1;
    delete TTemp;
    DestroyComponents();
    if (Form1 == this) Form1 = nullptr;
}

void TForm1::CreateControls()
{
    SetCaption(u"Spektrometer *Datenaufnahme*");
    SetIcon(u"spectrometer");
    const TFont font{u"MS Sans Serif", 11};
    SetFont(font);
    SetBounds(207, 141, 390, 346);

    // Components first: the device box needs nrComm1.
    nrComm1 = new TnrComm(this);
    nrComm1->SetName(u"nrComm1");
    TTemp = new TTimer(this);
    TTemp->SetName(u"TTemp");
    SaveTextFileDialog1 = new TSaveDialog(this);
    SaveTextFileDialog1->SetName(u"SaveTextFileDialog1");

    nrDeviceBox1 = PlacedControl<TnrDeviceBox>(this, u"nrDeviceBox1", 24, 16, 110, 21);
    ProtokollButton = PlacedButton(this, u"ProtokollButton", u"Protokoll", 150, 15, 59, 23);
    Label1 = AutoSizeLabel(this, u"Label1", u"Datenempfang", 24, 43);

    ListBox1 = PlacedControl<TListBox>(this, u"ListBox1", 24, 62, 185, 179);
    ListBox1->SetItemHeight(13);

    bSend = PlacedButton(this, u"bSend", u"Aufnahme", 24, 247, 185, 25);
    CLButton = PlacedButton(this, u"CLButton", u"Listbox löschen", 24, 271, 185, 25);

    Label4 = AutoSizeLabel(this, u"Label4", u"Temperatur in ° C", 240, 19);
    Label4->SetFont(PixelFont(font, 13, true, clRed));
    C_Panel = Panel(this, u"C_Panel", 240, 43, clRed);

    Label5 = AutoSizeLabel(this, u"Label5", u"Temperatur in °F", 240, 91);
    Label5->SetFont(PixelFont(font, 13, true, clNavy));
    F_Panel = Panel(this, u"F_Panel", 240, 115, clNavy);

    // The edit's label sits above it, 3 px apart.
    LECapture = PlacedControl<TLabeledEdit>(this, u"LECapture", 240, 181, 106, 21);
    LECapture->SetText(u"10");
    LECapture->EditLabel()->SetCaption(u"Belichtungszeit(ms):");

    Edit1 = PlacedControl<TEdit>(this, u"Edit1", 240, 181, 106, 21);
    Edit1->SetText(u"10");
    Edit1->Hide();

    UpDown1 = PlacedControl<TUpDown>(this, u"UpDown1", 346, 181, 16, 21);
    UpDown1->SetAssociate(Edit1);
    UpDown1->SetRange(0, 300);
    UpDown1->SetIncrement(5);
    UpDown1->SetPosition(10);

    Image1 = PlacedControl<TImage>(this, u"Image1", 215, 208, 167, 88);

    Label2 = AutoSizeLabel(this, u"Label2", u"Befehlszeile:", 215, 310);

    eSend = PlacedControl<TEdit>(this, u"eSend", 280, 302, 81, 28);
    eSend->SetText(u"s1000");
    eSend->SetFont(PixelFont(font, 16, true, clRed));

    CreateMenu();

    ProtokollButton->OnClick = MethodOf(this, &TForm1::ProtokollButtonClick);
    bSend->OnClick = MethodOf(this, &TForm1::bSendClick);
    CLButton->OnClick = MethodOf(this, &TForm1::CLButtonClick);
    LECapture->OnChange = MethodOf(this, &TForm1::LECaptureChange);
    LECapture->OnKeyUp = MethodOf(this, &TForm1::LECaptureKeyUp);
    Edit1->OnChange = MethodOf(this, &TForm1::Edit1Change);
}

void TForm1::CreateMenu()
{
    MainMenu1 = new TMainMenu(this);
    MainMenu1->SetName(u"MainMenu1");
    TMenuItem* bar = MainMenu1->Items();
    Datei1 = MenuItem(this, u"Datei1", u"Datei", bar);
    Speichern1 = MenuItem(this, u"Speichern1", u"Speichern", Datei1, ShortCut('S', {ssCtrl}));
    Eichung1 = MenuItem(this, u"Eichung1", u"Eichung", Datei1);
    Beenden1 = MenuItem(this, u"Beenden1", u"Beenden", Datei1, ShortCut(vkF4, {ssAlt}));
    Ansicht1 = MenuItem(this, u"Ansicht1", u"Ansicht", bar);
    Spektrum1 = MenuItem(this, u"Spektrum1", u"Spektrum…", Ansicht1);
    Konzentration1 = MenuItem(this, u"Konzentration1", u"Konzentrationsreihe…", Ansicht1);
    Kinetik1 = MenuItem(this, u"Kinetik1", u"Kinetik…", Ansicht1);
    Info1 = MenuItem(this, u"Info1", u"Info", bar);
    Speichern1->OnClick = MethodOf(this, &TForm1::Speichern1Click);
    Eichung1->OnClick = MethodOf(this, &TForm1::Eichung1Click);
    Beenden1->OnClick = MethodOf(this, &TForm1::Beenden1Click);
    Info1->OnClick = MethodOf(this, &TForm1::Info1Click);
    Spektrum1->OnClick = MethodOf(this, &TForm1::Spektrum1Click);
    Konzentration1->OnClick = MethodOf(this, &TForm1::Konzentration1Click);
    Kinetik1->OnClick = MethodOf(this, &TForm1::Kinetik1Click);
    SetMenu(MainMenu1);
}

void TForm1::ApplyStoredSettings()
{
    // The window's stored settings, applied in the loading state; the end of
    // loading lets each component act on them (LoadingFinished).
    BeginLoading();
    nrComm1->SetActive(false);
    nrComm1->SetBaudRate(9600);
    nrComm1->SetParity(pNone);
    nrComm1->SetStopBits(sbOne);
    nrComm1->SetByteSize(8);
    nrComm1->SetComPortNo(1);
    nrComm1->SetTraceStates(TTraceStates{tsRxChar});
    nrComm1->SetEventChar(u'\0');
    nrComm1->SetStreamProtocol(spNone);
    nrComm1->SetBufferInSize(4096);
    nrComm1->SetBufferOutSize(4096);
    nrComm1->SetTimeoutRead(0);
    nrComm1->SetTimeoutWrite(100);
    nrComm1->SetRS485Mode(false);
    nrComm1->SetEnumPorts(epQuickAll);
    nrComm1->SetUseMainThread(true);
    nrComm1->SetTerminalUsage(tuNone);
    nrComm1->SetTerminalEcho(true);
    nrComm1->SetOnAfterReceive(MethodOf(this, &TForm1::nrComm1AfterReceive));
    nrComm1->SetOnClose(MethodOf(this, &TForm1::nrComm1Close));
    TTemp->SetInterval(60000);
    TTemp->SetEnabled(true);
    TTemp->SetOnTimer(MethodOf(this, &TForm1::TTempTimer));
    nrDeviceBox1->SetResetOnChanged(false);
    nrDeviceBox1->OnChange = MethodOf(this, &TForm1::nrDeviceBox1Change);
    EndLoading();
    // References between components are resolved once all exist.
    nrDeviceBox1->SetnrComm(nrComm1);
}

void TForm1::FormCreate(TObject*)
{
    PointCount = 0;
    FormatSettings.DecimalSeparator = u'.';
    // A missing or bad calibration file is reported; the window opens anyway.
    GuardedCall([] {
        PrepareCalibrationFile(ProgramDirectory());
        LoadCalibration(CalibrationFilePath(ProgramDirectory()), CalSlope, CalOffset);
    });
    // Without a watch the list stays as built; reported, the window opens anyway.
    GuardedCall([this] {
        fDeviceChanges =
            std::make_unique<TDeviceChangeWatch>([this](const MSG& Msg) { nrDeviceBox1->WMDeviceChange(Msg); });
    });
}

UnicodeString TForm1::ProgramDirectory()
{
    return Application ? ExtractFilePath(Application->ExeName) : UnicodeString();
}

void TForm1::nrDeviceBox1Change(TObject*)
{
    try {
        nrComm1->SetActive(true);
    } catch (Exception& e) {
        // The component's message stays; below it, how to get access.
        const UnicodeString hint = PortAccessHint(nrComm1->GetComName());
        if (!hint.empty()) e.SetMessage(e.Message() + u"\r\n\r\n" + hint);
        throw;
    }
    fOpenedPortNo = nrComm1->GetComPortNo();
    TTemp->SetEnabled(false);
    TTemp->SetInterval(2000);
    TTemp->SetEnabled(true);
}

void TForm1::TTempTimer(TObject*)
{
    eSend->SetText(u"t");
    bSendClick(this);
    TTemp->SetEnabled(false);
}

void TForm1::bSendClick(TObject*)
{
    ListBox1->Clear();
    PointCount = 0;
    nrComm1->SendString(CommandBytes(eSend->Text()));
}

void TForm1::CLButtonClick(TObject*) { ListBox1->Clear(); }

void TForm1::ProtokollButtonClick(TObject*) { nrComm1->ConfigDialog(); }

void TForm1::Eichung1Click(TObject*) { Form2->Show(); }

UnicodeString TForm1::InfoText()
{
    return u"Software zum Einlesen von Velm-Schulspektren\rSpektrometer-Team, 2026\rLizenz: MIT";
}

void TForm1::Info1Click(TObject*) { Application->MessageBox(InfoText(), Application->Title, MsgBox::Ok); }

void TForm1::Spektrum1Click(TObject*)
{
    if (!SpectrumForm) new TSpectrumForm(this);
    SpectrumForm->Show();
}

void TForm1::Konzentration1Click(TObject*)
{
    if (!SpectrumForm) Spektrum1Click(this);
    if (!ConcentrationForm) new TConcentrationForm(this);
    ConcentrationForm->Show();
}

void TForm1::Kinetik1Click(TObject*)
{
    if (!SpectrumForm) Spektrum1Click(this);
    if (!KineticsForm) new TKineticsForm(this);
    KineticsForm->Show();
}

void TForm1::Beenden1Click(TObject*) { Close(); }

void TForm1::LECaptureChange(TObject*) { eSend->SetText(CaptureCommandFor(LECapture->Text())); }

void TForm1::LECaptureKeyUp(TObject*, std::uint16_t&, TShiftState)
{
    Edit1->SetText(TenthsFromExposure(LECapture->Text()));
}

void TForm1::Edit1Change(TObject*)
{
    LECapture->SetText(ExposureFromTenths(Edit1->Text()));
    if (StrToFloat(LECapture->Text()) > MaxExposureMs) Edit1->SetText(u"300");
}

void TForm1::SetExposureMs(double Ms)
{
    LECapture->SetText(ExposureFromTenths(IntToStr(static_cast<int>(std::lround(Ms * 10)))));
    // As typed: the change (also when the text stays the same) and the key release.
    LECaptureChange(this);
    std::uint16_t key = 0;
    LECaptureKeyUp(this, key, {});
}

void TForm1::nrComm1AfterReceive(TObject*, const std::uint8_t* Buffer, std::uint32_t Received)
{
    FrameReceivedBytes(Buffer, Received, [this](const UnicodeString& Line) { Empfangspakete(Line); });
}

void TForm1::nrComm1Close(TObject*)
{
    // Also a close inside a property write (another port picked): the check
    // runs after that has reopened the port.
    TThread::Queue([self = fSelf] {
        if (TForm1* form = *self) form->fPortCheck = Application->StartTimer(0, [form] { form->CheckPortLost(); });
    });
}

void TForm1::CheckPortLost()
{
    fPortCheck.reset();
    if (fOpenedPortNo == 0 || nrComm1->GetActive() || nrComm1->GetComPortNo() != fOpenedPortNo) return;
    const UnicodeString name = nrComm1->GetComName();
    fOpenedPortNo = 0;
    // Half a line of the lost reply must not become the start of the next one;
    // the list keeps the points that arrived.
    ResetLineFraming();
    // No port selected in the box: picking the port again opens it.
    nrComm1->SetComPortNo(0);
    if (SpectrumForm) SpectrumForm->PortLost();
    TLabCapture::PortLostAll();
    Application->MessageBox(Format(u"Die Verbindung zu %s wurde unterbrochen.", {name}), Application->Title,
                            MsgBox::Ok | MsgBox::IconWarning);
}

void TForm1::Empfangspakete(const UnicodeString& S) { InterpretReplyLine(S, *this); }

void TForm1::DrawSpectrum()
{
    TCanvas* canvas = Image1->Canvas();
    const int W = Image1->Picture().Width();
    const int H = Image1->Picture().Height();
    const TSpectrumPlot plot = ComputeSpectrumPlot(Counts, W, H);
    // Filled white and framed: the frame takes columns 0 and W - 1, rows 0 and H - 1.
    canvas->Brush.Color = clWhite;
    canvas->Pen.Color = clBlack;
    canvas->Rectangle(0, 0, W, H);
    canvas->Pen.Color = clRed;
    canvas->MoveTo(plot.Start.X, plot.Start.Y);
    for (const TPlotPoint& to : plot.Points) canvas->LineTo(to.X, to.Y);
    if (ScanMode == 0) return;
    canvas->Pen.Color = clBlue;
    canvas->MoveTo(plot.MarkerX, 0);
    canvas->LineTo(plot.MarkerX, H);
    // The plot is on the screen before the modal box covers the window.
    Image1->Repaint();
    Application->MessageBox(PeakMessage(plot), Application->Title, MsgBox::Ok);
    if (!Form2) return;
    if (ScanMode == 1)
        Form2->EI1->SetText(IntToStr(plot.Peak));
    else
        Form2->EI2->SetText(IntToStr(plot.Peak));
}

void TForm1::Speichern1Click(TObject*)
{
    if (!SaveTextFileDialog1->Execute()) return;
    const UnicodeString path = ExportFileName(SaveTextFileDialog1->FileName);
    SaveTextFileDialog1->FileName = path;
    std::vector<UnicodeString> lines;
    lines.reserve(static_cast<std::size_t>(ListBox1->Count()));
    for (int i = 0; i < ListBox1->Count(); ++i) lines.push_back(ListBox1->Items().Strings(i));
    WriteSpectrumFile(path, CaptureTime, lines);
}

// --- the view the line interpreter works on ---------------------------------------

UnicodeString TForm1::CommandText() const { return eSend->Text(); }

void TForm1::SetCommandText(const UnicodeString& S) { eSend->SetText(S); }

UnicodeString TForm1::ExposureText() const { return LECapture->Text(); }

void TForm1::AddListLine(const UnicodeString& S) { ListBox1->AddItem(S); }

void TForm1::ClearList() { ListBox1->Clear(); }

void TForm1::SetCelsiusText(const UnicodeString& S) { C_Panel->SetCaption(S); }

void TForm1::SetFahrenheitText(const UnicodeString& S) { F_Panel->SetCaption(S); }

void TForm1::SpectrumComplete()
{
    DrawSpectrum();
    if (SpectrumForm) SpectrumForm->CaptureComplete();
    TLabCapture::CompleteAll();
}
