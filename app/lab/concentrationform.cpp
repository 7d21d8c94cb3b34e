#include "app/lab/concentrationform.h"

#include "app/Unit1.h"
#include "app/lab/labtables.h"
#include "app/lab/labtext.h"
#include "app/layout.h"
#include "app/spectrum/spectrumprint.h"
#include "app/spectrum/spectrumform.h"
#include "toolkit/classes.h"

#include <algorithm>
#include <cmath>

TConcentrationForm* ConcentrationForm = nullptr;

namespace {

constexpr int DesignWidth = 820, DesignHeight = 480;
constexpr int PlotLeft = 410, PlotWidth = 400, PlotHeight = 380;
constexpr TSizeConstraints MinimumSize{DesignWidth, DesignHeight};
constexpr double DiluteAbove = 1.5;

}  // namespace

TConcentrationForm::TConcentrationForm(TComponent* AOwner) : TForm(AOwner)
{
    SetName(u"ConcentrationForm");
    ConcentrationForm = this;
    CreateControls();
    SetBorderStyle(bsSizeable);
    SetConstraints(MinimumSize);
    OnResize = [this](TObject*) { LayoutControls(); };
    OnHide = [this](TObject*) {
        if (fCapture.Waiting()) StatusLabel->SetCaption(u"Messung abgebrochen: Fenster geschlossen.");
        fCapture.Cancel();
    };
    fCapture.OnCapture = [this](const TCounts& Raw, std::int32_t ExposureUs) { Captured(Raw, ExposureUs); };
    fCapture.OnFailed = [this](const UnicodeString& Why) { StatusLabel->SetCaption(u"Messung abgebrochen: " + Why); };
    if (SpectrumForm)
        if (const auto nm = SpectrumForm->AbsorbanceMaximum()) WavelengthEdit->SetText(Fixed(*nm, 1));
    UpdateTable();
}

TConcentrationForm::~TConcentrationForm()
{
    fCapture.Cancel();
    if (ConcentrationForm == this) ConcentrationForm = nullptr;
}

void TConcentrationForm::CreateControls()
{
    SetUpWindow(this, u"Konzentrationsreihe", 260, 160, DesignWidth, DesignHeight);
    SaveDialog = new TSaveDialog(this);
    SaveDialog->SetName(u"SaveDialog");
    OpenDialog = new TOpenDialog(this);
    OpenDialog->SetName(u"OpenDialog");

    WavelengthEdit = LeftLabeledEdit(this, u"WavelengthEdit", u"Wellenlänge (nm):", 118, 8, 52, u"");
    LambdaMaxButton = PlacedButton(this, u"LambdaMaxButton", u"λmax übernehmen", 176, 7, 124, 23);
    BandEdit = LeftLabeledEdit(this, u"BandEdit", u"± Pixel:", 340, 8, 40, u"1");
    UnitEdit = LeftLabeledEdit(this, u"UnitEdit", u"Einheit:", 56, 36, 70, u"mmol/l");
    AverageEdit = LeftLabeledEdit(this, u"AverageEdit", u"Mittel über N:", 210, 36, 36, u"1");
    ThroughOriginCheck = PlacedControl<TCheckBox>(this, u"ThroughOriginCheck", 256, 38, 144, 17);
    ThroughOriginCheck->SetCaption(u"durch den Ursprung");
    NameEdit = LeftLabeledEdit(this, u"NameEdit", u"Name:", 56, 64, 110, u"Standard 1");
    ConcEdit = LeftLabeledEdit(this, u"ConcEdit", u"Konzentration:", 260, 64, 70, u"");
    MeasureButton = PlacedButton(this, u"MeasureButton", u"Standard messen", 8, 92, 120, 23);
    RowBox = PlacedControl<TComboBox>(this, u"RowBox", 132, 93, 268, 21);
    RowBox->SetStyle(csDropDownList);
    RemeasureButton = PlacedButton(this, u"RemeasureButton", u"Neu messen", 132, 120, 86, 23);
    ChangeButton = PlacedButton(this, u"ChangeButton", u"Ändern", 222, 120, 86, 23);
    DeleteButton = PlacedButton(this, u"DeleteButton", u"Löschen", 312, 120, 88, 23);
    StandardsList = PlacedControl<TListBox>(this, u"StandardsList", 8, 150, 392, 160);
    SampleNameEdit = LeftLabeledEdit(this, u"SampleNameEdit", u"Probe:", 56, 320, 110, u"Probe 1");
    SampleButton = PlacedButton(this, u"SampleButton", u"Probe messen", 172, 319, 110, 23);
    ResultLabel = AutoSizeLabel(this, u"ResultLabel", u"", 8, 350);
    TFont bold = Font();
    bold.Style = TFontStyles{fsBold};
    ResultLabel->SetFont(bold);
    WarningLabel = AutoSizeLabel(this, u"WarningLabel", u"", 8, 370);
    bold.Color = RGB(200, 0, 0);
    WarningLabel->SetFont(bold);
    SaveButton = PlacedButton(this, u"SaveButton", u"Tabelle speichern…", 8, 396, 130, 23);
    LoadButton = PlacedButton(this, u"LoadButton", u"Tabelle laden…", 142, 396, 120, 23);
    PrintButton = PlacedButton(this, u"PrintButton", u"Drucken…", 8, 424, 90, 23);
    PdfButton = PlacedButton(this, u"PdfButton", u"Als PDF speichern…", 102, 424, 130, 23);
    StatusLabel = AutoSizeLabel(this, u"StatusLabel", u"", 8, 456);
    PlotImage = PlacedControl<TImage>(this, u"PlotImage", PlotLeft, 8, PlotWidth, PlotHeight);
    FitLabel = AutoSizeLabel(this, u"FitLabel", u"", PlotLeft, 394);
    QualityLabel = AutoSizeLabel(this, u"QualityLabel", u"", PlotLeft, 412);

    LambdaMaxButton->OnClick = [this](TObject*) {
        const auto nm = SpectrumForm ? SpectrumForm->AbsorbanceMaximum() : std::nullopt;
        if (!nm) throw Exception(u"Noch kein Extinktionsspektrum: im Spektrumfenster Referenz und Probe messen.");
        WavelengthEdit->SetText(Fixed(*nm, 1));
    };
    MeasureButton->OnClick = [this](TObject*) {
        fPending = {Trim(NameEdit->Text()), ReadConcentration(), std::nullopt};
        if (fPending.Name.empty()) fPending.Name = Format(u"Standard %d", {static_cast<int>(fStandards.size()) + 1});
        StartMeasuring(TTarget::NewStandard, -1);
    };
    RemeasureButton->OnClick = [this](TObject*) {
        if (RowBox->ItemIndex() < 0) throw Exception(u"Bitte einen Standard wählen.");
        StartMeasuring(TTarget::Remeasure, RowBox->ItemIndex());
    };
    ChangeButton->OnClick = [this](TObject*) {
        const int row = RowBox->ItemIndex();
        if (row < 0) throw Exception(u"Bitte einen Standard wählen.");
        TStandard& s = fStandards[static_cast<std::size_t>(row)];
        s.Concentration = ReadConcentration();
        if (!Trim(NameEdit->Text()).empty()) s.Name = Trim(NameEdit->Text());
        UpdateTable();
    };
    DeleteButton->OnClick = [this](TObject*) {
        const int row = RowBox->ItemIndex();
        if (row < 0) throw Exception(u"Bitte einen Standard wählen.");
        fStandards.erase(fStandards.begin() + row);
        UpdateTable();
    };
    RowBox->OnChange = [this](TObject*) {
        const int row = RowBox->ItemIndex();
        if (row < 0) return;
        NameEdit->SetText(fStandards[static_cast<std::size_t>(row)].Name);
        ConcEdit->SetText(Fixed(fStandards[static_cast<std::size_t>(row)].Concentration, 4));
    };
    SampleButton->OnClick = [this](TObject*) {
        if (!fFit)
            throw Exception(
                u"Erst die Eichgerade: mindestens zwei Standards mit verschiedenen Konzentrationen messen.");
        StartMeasuring(TTarget::Sample, -1);
    };
    ThroughOriginCheck->OnClick = [this](TObject*) { UpdateFit(); };
    PrintButton->OnClick = [this](TObject*) { PrintOrSave(false); };
    PdfButton->OnClick = [this](TObject*) { PrintOrSave(true); };
    UnitEdit->OnChange = [this](TObject*) { UpdateTable(); };
    SaveButton->OnClick = [this](TObject*) {
        std::vector<TSeriesRow> rows;
        for (const TStandard& s : fStandards)
            if (s.Absorbance) rows.push_back({false, s.Name, s.Concentration, *s.Absorbance});
        for (const TSampleResult& s : fSamples) rows.push_back({true, s.Name, s.Concentration.X, s.Absorbance});
        if (rows.empty()) throw Exception(u"Die Tabelle ist leer: noch nichts gemessen.");
        SaveDialog->FileName = u"konzentrationsreihe.csv";
        if (!SaveDialog->Execute()) return;
        const UnicodeString name = WithExtension(SaveDialog->FileName, u".csv");
        WriteFileBytes(name, SeriesCsv(rows));
        StatusLabel->SetCaption(u"Gespeichert: " + ExtractFileName(name));
    };
    LoadButton->OnClick = [this](TObject*) {
        if (!OpenDialog->Execute()) return;
        std::vector<TSeriesRow> rows = ReadSeriesCsv(ReadFileBytes(OpenDialog->FileName));
        if (rows.empty()) throw Exception(u"Die Datei enthält keine Standards.");
        fStandards.clear();
        fSamples.clear();
        for (const TSeriesRow& r : rows) fStandards.push_back({r.Name, r.Concentration, r.Absorbance});
        ResultLabel->SetCaption(u"");
        WarningLabel->SetCaption(u"");
        UpdateTable();
        StatusLabel->SetCaption(Format(u"%d Standards geladen.", {static_cast<int>(rows.size())}));
    };
}

void TConcentrationForm::LayoutControls()
{
    const int dx = ClientWidth() - DesignWidth, dy = ClientHeight() - DesignHeight;
    PlotImage->SetBounds(PlotLeft, 8, PlotWidth + dx, PlotHeight + dy);
    FitLabel->SetTop(394 + dy);
    QualityLabel->SetTop(412 + dy);
    Redraw();
}

UnicodeString TConcentrationForm::Unit() const
{
    const UnicodeString u = Trim(UnitEdit->Text());
    return u.empty() ? UnicodeString(u"mmol/l") : u;
}

double TConcentrationForm::ReadConcentration() const
{
    const double c = ReadDecimal(ConcEdit->Text(), u"Konzentration");
    if (c < 0) throw EConvertError(u"Konzentration: eine Konzentration ist nicht negativ.");
    return c;
}

void TConcentrationForm::StartMeasuring(TTarget Target, int Row)
{
    if (fCapture.Waiting()) throw Exception(u"Es wird schon gemessen.");
    if (!SpectrumForm || !SpectrumForm->Reference())
        throw Exception(u"Erst im Spektrumfenster (Ansicht → Spektrum…) die Referenz aufnehmen.");
    fNm = ReadDecimal(WavelengthEdit->Text(), u"Wellenlänge");
    const int band = StrToInt(BandEdit->Text());
    const int n = StrToInt(AverageEdit->Text());
    if (band < 0 || band > 20) throw EConvertError(u"± Pixel: zwischen 0 und 20.");
    if (n < 1 || n > 100) throw EConvertError(u"Mittel über N: zwischen 1 und 100 Aufnahmen.");
    const double pixel = SpectrumForm->PixelAt(fNm);
    if (pixel < -0.5 || pixel > SpectrumPoints - 0.5)
        throw Exception(u"Die Wellenlänge " + Fixed(fNm, 1) + u" nm liegt außerhalb des Spektrums.");
    fBand = band;
    fWanted = n;
    fTarget = Target;
    fTargetRow = Row;
    fReadings.clear();
    StatusLabel->SetCaption(Format(u"Messung läuft… (1 von %d)", {n}));
    fCapture.Request();
}

void TConcentrationForm::Captured(const TCounts& Raw, std::int32_t ExposureUs)
{
    if (!SpectrumForm) return;
    try {
        const TRatioSpectrum a = SpectrumForm->QuantityOf(TQuantity::Absorbance, Raw, ExposureUs);
        const auto value = BandMean(a, SpectrumForm->PixelAt(fNm), fBand);
        if (!value)
            throw Exception(u"Bei " + Fixed(fNm, 1) +
                            u" nm hat die Aufnahme keinen Wert (zu wenig Licht, übersteuert oder kein Licht durch "
                            u"die Probe).");
        fReadings.push_back(*value);
    } catch (const Exception& e) {
        StatusLabel->SetCaption(u"Messung abgebrochen.");
        Application->MessageBox(e.Message(), Caption(), MsgBox::Ok | MsgBox::IconWarning);
        return;
    }
    if (static_cast<int>(fReadings.size()) < fWanted) {
        StatusLabel->SetCaption(
            Format(u"Messung läuft… (%d von %d)", {static_cast<int>(fReadings.size()) + 1, fWanted}));
        fCapture.RequestLater(0);
        return;
    }
    double sum = 0;
    for (double r : fReadings) sum += r;
    Finish(sum / static_cast<double>(fReadings.size()));
}

void TConcentrationForm::Finish(double A)
{
    StatusLabel->SetCaption(u"A = " + Fixed(A, 4) + u" bei " + Fixed(fNm, 1) + u" nm");
    switch (fTarget) {
    case TTarget::NewStandard:
        fPending.Absorbance = A;
        fStandards.push_back(fPending);
        NameEdit->SetText(Format(u"Standard %d", {static_cast<int>(fStandards.size()) + 1}));
        ConcEdit->SetText(u"");
        break;
    case TTarget::Remeasure:
        if (fTargetRow >= 0 && fTargetRow < static_cast<int>(fStandards.size()))
            fStandards[static_cast<std::size_t>(fTargetRow)].Absorbance = A;
        break;
    case TTarget::Sample: {
        if (!fFit) break;
        TSampleResult r{Trim(SampleNameEdit->Text()), A, InversePrediction(*fFit, A)};
        if (r.Name.empty()) r.Name = Format(u"Probe %d", {static_cast<int>(fSamples.size()) + 1});
        fSamples.push_back(r);
        SampleNameEdit->SetText(Format(u"Probe %d", {static_cast<int>(fSamples.size()) + 1}));
        ResultLabel->SetCaption(r.Name + u": A = " + Fixed(A, 4) + u"  →  c = " +
                                WithError(r.Concentration.X, r.Concentration.XSE, 4) + u" " + Unit());
        double lo = INFINITY, hi = -INFINITY;
        for (const TStandard& s : fStandards)
            if (s.Absorbance) {
                lo = std::min(lo, *s.Absorbance);
                hi = std::max(hi, *s.Absorbance);
            }
        UnicodeString warning;
        if (A < lo || A > hi) warning = u"außerhalb der Eichgeraden";
        if (A > DiluteAbove) warning += (warning.empty() ? u"" : u" – ") + UnicodeString(u"Lösung verdünnen");
        WarningLabel->SetCaption(warning.empty() ? UnicodeString() : u"Achtung: " + warning);
        break;
    }
    }
    UpdateTable();
}

void TConcentrationForm::UpdateTable()
{
    const int row = RowBox->ItemIndex();
    StandardsList->Clear();
    RowBox->Clear();
    for (const TStandard& s : fStandards) {
        const UnicodeString line = s.Name + u"   c = " + Fixed(s.Concentration, 4) + u" " + Unit() + u"   A = " +
                                   (s.Absorbance ? Fixed(*s.Absorbance, 4) : UnicodeString(u"–"));
        StandardsList->AddItem(line);
        RowBox->AddItem(line);
    }
    for (const TSampleResult& s : fSamples)
        StandardsList->AddItem(u"Probe: " + s.Name + u"   A = " + Fixed(s.Absorbance, 4) + u"   c = " +
                               WithError(s.Concentration.X, s.Concentration.XSE, 4) + u" " + Unit());
    if (row >= 0 && row < RowBox->Count()) RowBox->SetItemIndex(row);
    UpdateFit();
}

void TConcentrationForm::UpdateFit()
{
    std::vector<double> c, a;
    for (const TStandard& s : fStandards)
        if (s.Absorbance) {
            c.push_back(s.Concentration);
            a.push_back(*s.Absorbance);
        }
    fFit.reset();
    QualityLabel->SetCaption(u"");
    if (c.size() < 2) {
        FitLabel->SetCaption(u"Für die Eichgerade mindestens zwei Standards messen.");
    } else {
        try {
            fFit = FitStraightLine(c, a, ThroughOriginCheck->Checked());
            FitLabel->SetCaption(u"A = m·c + b:  m = " + WithError(fFit->Slope, fFit->SlopeSE, 4) + u" pro " + Unit() +
                                 (fFit->ThroughOrigin ? UnicodeString(u",  b = 0")
                                                      : u",  b = " + WithError(fFit->Intercept, fFit->InterceptSE, 4)));
            QualityLabel->SetCaption(Format(u"R² = %s  (%d Standards)", {Fixed(fFit->R2, 5), fFit->N}));
        } catch (const Exception& e) {
            FitLabel->SetCaption(e.Message());
        }
    }
    Redraw();
}

TPlotScene TConcentrationForm::BuildScene(double& X0, double& X1, double& Y0, double& Y1) const
{
    TPlotScene scene;
    scene.XTitle = u"Konzentration (" + Unit() + u")";
    scene.YTitle = u"Extinktion A";
    double cMax = 0, aMax = 0.1;
    for (const TStandard& s : fStandards) {
        cMax = std::max(cMax, s.Concentration);
        if (s.Absorbance) {
            aMax = std::max(aMax, *s.Absorbance);
            scene.Dots.push_back({s.Concentration, *s.Absorbance, clBlue});
        }
    }
    for (const TSampleResult& s : fSamples) {
        cMax = std::max(cMax, s.Concentration.X);
        aMax = std::max(aMax, s.Absorbance);
        scene.Dots.push_back({s.Concentration.X, s.Absorbance, clGreen});
    }
    cMax = cMax > 0 ? cMax * 1.1 : 1;
    if (fFit)
        scene.Curves.push_back(
            {{0, cMax}, {fFit->Intercept, fFit->Slope * cMax + fFit->Intercept}, clRed, u"Eichgerade"});
    X0 = 0;
    X1 = cMax;
    Y0 = 0;
    Y1 = aMax * 1.15;
    return scene;
}

void TConcentrationForm::Redraw()
{
    double x0, x1, y0, y1;
    const TPlotScene scene = BuildScene(x0, x1, y0, y1);
    const int w = PlotImage->Width(), h = PlotImage->Height();
    DrawPlot(*PlotImage->Canvas(), w, h, PlotFrame(w, h, x0, x1, y0, y1), scene);
}

void TConcentrationForm::PrintOrSave(bool Pdf)
{
    TReportPage r;
    r.Title = u"Konzentrationsreihe";
    r.Subtitle = PrintedAtText();
    r.Facts.push_back(u"Wellenlänge: " + Trim(WavelengthEdit->Text()) + u" nm ± " + Trim(BandEdit->Text()) +
                      u" Pixel, Extinktion gegen die Referenz des Spektrumfensters");
    r.Facts.push_back(FitLabel->Caption());
    if (!QualityLabel->Caption().empty()) r.Facts.push_back(QualityLabel->Caption());
    if (!ResultLabel->Caption().empty()) r.Facts.push_back(ResultLabel->Caption());
    if (!WarningLabel->Caption().empty()) r.Facts.push_back(WarningLabel->Caption());
    r.ListCaption = u"Standards und Proben";
    for (int i = 0; i < StandardsList->Count(); ++i) r.List.push_back(StandardsList->Items().Strings(i));
    PrintReport(Pdf, *SaveDialog, u"konzentrationsreihe.pdf", r,
                [this](double& X0, double& X1, double& Y0, double& Y1) { return BuildScene(X0, X1, Y0, Y1); });
}
