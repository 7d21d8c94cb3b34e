#include "app/Unit2.h"

#include "app/Unit1.h"
#include "app/acquisition.h"
#include "app/calibration.h"
#include "app/lab/labcapture.h"
#include "app/layout.h"
#include "app/spectrum/spectrumform.h"

TForm2* Form2 = nullptr;

namespace {
TEdit* PlacedEdit(TForm* Form, const char16_t* Name, const UnicodeString& Text, int Left, int Top)
{
    auto* edit = PlacedControl<TEdit>(Form, Name, Left, Top, 65, 21);
    edit->SetText(Text);
    return edit;
}
}  // namespace

TForm2::TForm2(TComponent* AOwner) : TForm(AOwner)
{
    SetName(u"Form2");
    Form2 = this;
    SetCaption(u"Eichung");
    const TFont font{u"Tahoma", 11};
    SetFont(font);
    SetBounds(0, 0, 281, 206);

    Label1 = AutoSizeLabel(this, u"Label1", u"Wellenlänge 1(nm):", 16, 27);
    EW1 = PlacedEdit(this, u"EW1", u"532", 115, 24);
    Button1 = PlacedButton(this, u"Button1", u"Scan1", 192, 22, 75, 25);
    Label2 = AutoSizeLabel(this, u"Label2", u"Wellenlänge 2(nm):", 16, 58);
    EW2 = PlacedEdit(this, u"EW2", u"655", 115, 55);
    Button2 = PlacedButton(this, u"Button2", u"Scan2", 192, 53, 75, 25);
    Label3 = AutoSizeLabel(this, u"Label3", u"MaxIndex 1:", 16, 107);
    EI1 = PlacedEdit(this, u"EI1", u"57", 115, 104);
    Label4 = AutoSizeLabel(this, u"Label4", u"MaxIndex 2:", 16, 134);
    EI2 = PlacedEdit(this, u"EI2", u"114", 115, 131);
    // Docked to the bottom edge, full width.
    Button3 = PlacedButton(this, u"Button3", u"Eichung speichern", 0, 168, 281, 38);

    Button1->OnClick = MethodOf(this, &TForm2::Button1Click);
    Button2->OnClick = MethodOf(this, &TForm2::Button2Click);
    Button3->OnClick = MethodOf(this, &TForm2::Button3Click);
    OnClose = MethodOf(this, &TForm2::FormClose);
    OnHide = MethodOf(this, &TForm2::FormHide);
}

TForm2::~TForm2()
{
    OnHide = nullptr;
    if (Form2 == this) Form2 = nullptr;
}

void TForm2::Scan(std::uint8_t Mode)
{
    ScanMode = Mode;
    if (SpectrumForm) SpectrumForm->StopRuns();
    TLabCapture::CancelAll();
    Form1->eSend->SetText(u"s");
    Form1->bSendClick(this);
}

void TForm2::Button1Click(TObject*) { Scan(1); }

void TForm2::Button2Click(TObject*) { Scan(2); }

void TForm2::Button3Click(TObject*)
{
    const double a = StrToFloat(EW1->Text());
    const double b = StrToFloat(EW2->Text());
    const double c = StrToFloat(EI1->Text());
    const double d = StrToFloat(EI2->Text());
    const TCalibration cal = ComputeCalibration(a, b, c, d);
    CalSlope = cal.Slope;
    CalOffset = cal.Offset;
    SaveCalibration(CalibrationFilePath(TForm1::ProgramDirectory()), CalSlope, CalOffset);
    Hide();
}

void TForm2::FormClose(TObject*, TCloseAction&) { ScanMode = 0; }

void TForm2::FormHide(TObject*) { ScanMode = 0; }
