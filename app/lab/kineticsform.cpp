#include "app/lab/kineticsform.h"

#include "app/Unit1.h"
#include "app/lab/labtables.h"
#include "app/lab/labtext.h"
#include "app/layout.h"
#include "app/spectrum/spectrumprint.h"
#include "app/spectrum/spectrumform.h"
#include "toolkit/classes.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

TKineticsForm* KineticsForm = nullptr;
double TKineticsForm::TimeScale = 1;

namespace {

constexpr int DesignWidth = 820, DesignHeight = 460;
constexpr int PlotLeft = 410, PlotWidth = 400, PlotHeight = 420;
constexpr TSizeConstraints MinimumSize{DesignWidth, DesignHeight};
const TColor ChannelColors[] = {clRed, clBlue, clGreen};
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

double Now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count() *
           TKineticsForm::TimeScale;
}

UnicodeString NmText(double Nm) { return Fixed(Nm, Nm == std::floor(Nm) ? 0 : 1); }

}  // namespace

TKineticsForm::TKineticsForm(TComponent* AOwner) : TForm(AOwner)
{
    SetName(u"KineticsForm");
    KineticsForm = this;
    CreateControls();
    SetBorderStyle(bsSizeable);
    SetConstraints(MinimumSize);
    OnResize = [this](TObject*) { LayoutControls(); };
    OnHide = [this](TObject*) {
        if (fRunning) Stop(u"Fenster geschlossen");
    };
    fCapture.OnCapture = [this](const TCounts& Raw, std::int32_t ExposureUs) { Captured(Raw, ExposureUs); };
    fCapture.OnFailed = [this](const UnicodeString& Why) { Stop(Why); };
    if (SpectrumForm)
        if (const auto nm = SpectrumForm->AbsorbanceMaximum()) WaveEdits[0]->SetText(NmText(std::round(*nm)));
    Redraw();
}

TKineticsForm::~TKineticsForm()
{
    fCapture.Cancel();
    if (KineticsForm == this) KineticsForm = nullptr;
}

void TKineticsForm::CreateControls()
{
    SetUpWindow(this, u"Kinetik", 280, 180, DesignWidth, DesignHeight);
    SaveDialog = new TSaveDialog(this);
    SaveDialog->SetName(u"SaveDialog");

    WaveEdits[0] = LeftLabeledEdit(this, u"Wave1Edit", u"λ1 (nm):", 56, 8, 56, u"590");
    WaveEdits[1] = LeftLabeledEdit(this, u"Wave2Edit", u"λ2:", 140, 8, 56, u"");
    WaveEdits[2] = LeftLabeledEdit(this, u"Wave3Edit", u"λ3:", 224, 8, 56, u"");
    LambdaMaxButton = PlacedButton(this, u"LambdaMaxButton", u"λmax übernehmen", 286, 7, 118, 23);
    IntervalEdit = LeftLabeledEdit(this, u"IntervalEdit", u"Intervall (s):", 80, 36, 50, u"5");
    DurationEdit = LeftLabeledEdit(this, u"DurationEdit", u"Dauer (s):", 200, 36, 60, u"300");
    StartButton = PlacedButton(this, u"StartButton", u"Start", 8, 64, 90, 23);
    StopButton = PlacedButton(this, u"StopButton", u"Stop", 102, 64, 90, 23);
    FitFromEdit = LeftLabeledEdit(this, u"FitFromEdit", u"Anpassen von (s):", 118, 96, 42, u"");
    FitToEdit = LeftLabeledEdit(this, u"FitToEdit", u"bis:", 184, 96, 50, u"");
    ChannelBox = PlacedControl<TComboBox>(this, u"ChannelBox", 240, 96, 160, 21);
    ChannelBox->SetStyle(csDropDownList);
    FitButton = PlacedButton(this, u"FitButton", u"Anpassen", 8, 124, 90, 23);
    CopyButton = PlacedButton(this, u"CopyButton", u"Ergebnis kopieren", 102, 124, 120, 23);
    SaveButton = PlacedButton(this, u"SaveButton", u"Messwerte speichern…", 226, 124, 150, 23);
    PrintButton = PlacedButton(this, u"PrintButton", u"Drucken…", 8, 152, 90, 23);
    PdfButton = PlacedButton(this, u"PdfButton", u"Als PDF speichern…", 102, 152, 130, 23);
    LinearLabel = AutoSizeLabel(this, u"LinearLabel", u"", 8, 184);
    FirstOrderLabel = AutoSizeLabel(this, u"FirstOrderLabel", u"", 8, 202);
    StatusLabel = AutoSizeLabel(this, u"StatusLabel", u"", 8, 224);
    PointsList = PlacedControl<TListBox>(this, u"PointsList", 8, 246, 392, 204);
    PlotImage = PlacedControl<TImage>(this, u"PlotImage", PlotLeft, 8, PlotWidth, PlotHeight);

    StartButton->OnClick = MethodOf(this, &TKineticsForm::StartButtonClick);
    StopButton->OnClick = [this](TObject*) {
        if (fRunning) Stop(u"Gestoppt");
    };
    FitButton->OnClick = MethodOf(this, &TKineticsForm::FitButtonClick);
    PrintButton->OnClick = [this](TObject*) { PrintOrSave(false); };
    PdfButton->OnClick = [this](TObject*) { PrintOrSave(true); };
    LambdaMaxButton->OnClick = [this](TObject*) {
        const auto nm = SpectrumForm ? SpectrumForm->AbsorbanceMaximum() : std::nullopt;
        if (!nm) throw Exception(u"Noch kein Extinktionsspektrum: im Spektrumfenster Referenz und Probe messen.");
        WaveEdits[0]->SetText(NmText(std::round(*nm)));
    };
    CopyButton->OnClick = [this](TObject*) {
        if (!fLinear && !fFirstOrder) throw Exception(u"Noch keine Anpassung: erst „Anpassen“.");
        Application->SetClipboardText(ResultText());
        StatusLabel->SetCaption(u"Ergebnis in die Zwischenablage kopiert.");
    };
    SaveButton->OnClick = [this](TObject*) {
        if (fTimes.empty()) throw Exception(u"Noch keine Messwerte.");
        TKineticsTable table;
        for (std::size_t c = 0; c < fNm.size(); ++c) table.Columns.push_back(ColumnName(c));
        table.Times = fTimes;
        table.Values = fValues;
        SaveDialog->FileName = u"kinetik.csv";
        if (!SaveDialog->Execute()) return;
        const UnicodeString name = WithExtension(SaveDialog->FileName, u".csv");
        WriteFileBytes(name, KineticsCsv(table));
        StatusLabel->SetCaption(u"Gespeichert: " + ExtractFileName(name));
    };
}

void TKineticsForm::LayoutControls()
{
    const int dx = ClientWidth() - DesignWidth, dy = ClientHeight() - DesignHeight;
    PlotImage->SetBounds(PlotLeft, 8, PlotWidth + dx, PlotHeight + dy);
    PointsList->SetBounds(8, 246, 392, 204 + dy);
    Redraw();
}

UnicodeString TKineticsForm::QuantitySymbol() const
{
    switch (fQuantity) {
    case TQuantity::Absorbance: return u"A";
    case TQuantity::Transmittance: return u"T (%)";
    case TQuantity::Counts: break;
    }
    return u"Counts";
}

UnicodeString TKineticsForm::ColumnName(std::size_t Channel) const
{
    const char16_t* q = fQuantity == TQuantity::Absorbance      ? u"absorbance"
                        : fQuantity == TQuantity::Transmittance ? u"transmittance_percent"
                                                                : u"counts";
    return UnicodeString(q) + u"_" + NmText(fNm[Channel]) + u"nm";
}

void TKineticsForm::StartButtonClick(TObject*)
{
    if (fRunning) throw Exception(u"Die Messung läuft schon.");
    if (!SpectrumForm) throw Exception(u"Erst das Spektrumfenster öffnen (Ansicht → Spektrum…).");
    std::vector<double> nm;
    for (int i = 0; i < 3; ++i) {
        if (Trim(WaveEdits[i]->Text()).empty()) continue;
        const double v = ReadDecimal(WaveEdits[i]->Text(), Format(u"λ%d", {i + 1}));
        const double pixel = SpectrumForm->PixelAt(v);
        if (pixel < -0.5 || pixel > SpectrumPoints - 0.5)
            throw Exception(u"Die Wellenlänge " + NmText(v) + u" nm liegt außerhalb des Spektrums.");
        nm.push_back(v);
    }
    if (nm.empty()) throw Exception(u"Mindestens eine Wellenlänge angeben.");
    const double interval = ReadDecimal(IntervalEdit->Text(), u"Intervall");
    const double duration = ReadDecimal(DurationEdit->Text(), u"Dauer");
    if (interval < MinIntervalS)
        throw EConvertError(u"Das Intervall muss mindestens " + Fixed(MinIntervalS, 1) +
                            u" s lang sein: so lange dauert eine Aufnahme.");
    if (duration < interval) throw EConvertError(u"Die Dauer muss mindestens ein Intervall lang sein.");
    fQuantity = SpectrumForm->Quantity();
    if (fQuantity != TQuantity::Counts && !SpectrumForm->Reference())
        throw Exception(u"Erst im Spektrumfenster die Referenz aufnehmen (oder die Messgröße Counts wählen).");
    fNm = nm;
    fInterval = interval;
    fDuration = duration;
    fTimes.clear();
    fValues.assign(nm.size(), {});
    fLinear.reset();
    fFirstOrder.reset();
    LinearLabel->SetCaption(u"");
    FirstOrderLabel->SetCaption(u"");
    PointsList->Clear();
    ChannelBox->Clear();
    for (double v : nm) ChannelBox->AddItem(u"Anpassen bei " + NmText(v) + u" nm");
    ChannelBox->SetItemIndex(0);
    fStart = Now();
    fRunning = true;
    StatusLabel->SetCaption(u"Messung läuft…");
    try {
        fCapture.Request();
    } catch (...) {
        fRunning = false;
        StatusLabel->SetCaption(u"");
        throw;
    }
}

void TKineticsForm::Captured(const TCounts& Raw, std::int32_t ExposureUs)
{
    if (!fRunning || !SpectrumForm) return;
    const double t = Now() - fStart;
    TRatioSpectrum q;
    try {
        q = SpectrumForm->QuantityOf(fQuantity, Raw, ExposureUs);
    } catch (const Exception& e) {
        Stop(e.Message());
        return;
    }
    fTimes.push_back(t);
    UnicodeString line = u"t = " + Fixed(t, 1) + u" s";
    for (std::size_t c = 0; c < fNm.size(); ++c) {
        const auto v = BandMean(q, SpectrumForm->PixelAt(fNm[c]), 1);
        fValues[c].push_back(v ? *v : NaN);
        line += u"   " + QuantitySymbol() + u"(" + NmText(fNm[c]) + u") = " +
                (v ? Fixed(*v, fQuantity == TQuantity::Absorbance ? 4 : 1) : UnicodeString(u"–"));
    }
    PointsList->AddItem(line);
    Redraw();
    const double due = static_cast<double>(fTimes.size()) * fInterval;
    if (due > fDuration + 1e-9) {
        Stop(u"Fertig");
        return;
    }
    const double wait = std::max(0.0, fStart + due - Now()) / TimeScale;
    StatusLabel->SetCaption(Format(u"Messung läuft… %d Messpunkte", {static_cast<int>(fTimes.size())}));
    fCapture.RequestLater(static_cast<unsigned>(std::lround(wait * 1000)));
}

void TKineticsForm::Stop(const UnicodeString& Why)
{
    fCapture.Cancel();
    const bool was = fRunning;
    fRunning = false;
    if (was || !Why.empty())
        StatusLabel->SetCaption(Why + Format(u": %d Messpunkte.", {static_cast<int>(fTimes.size())}));
}

void TKineticsForm::FitButtonClick(TObject*)
{
    if (fTimes.empty()) throw Exception(u"Noch keine Messwerte.");
    const std::size_t channel = static_cast<std::size_t>(std::max(0, ChannelBox->ItemIndex()));
    if (channel >= fValues.size()) throw Exception(u"Bitte eine Wellenlänge wählen.");
    const double from = Trim(FitFromEdit->Text()).empty() ? -INFINITY : ReadDecimal(FitFromEdit->Text(), u"von");
    const double to = Trim(FitToEdit->Text()).empty() ? INFINITY : ReadDecimal(FitToEdit->Text(), u"bis");
    std::vector<double> t, v;
    for (std::size_t i = 0; i < fTimes.size(); ++i)
        if (fTimes[i] >= from && fTimes[i] <= to && std::isfinite(fValues[channel][i])) {
            t.push_back(fTimes[i]);
            v.push_back(fValues[channel][i]);
        }
    fFitChannel = channel;
    fFitFrom = t.empty() ? 0 : t.front();
    fFitTo = t.empty() ? 0 : t.back();
    fLinear.reset();
    fFirstOrder.reset();
    const UnicodeString unit = QuantitySymbol() == u"A" ? u"1/s" : QuantitySymbol() + u"/s";
    try {
        fLinear = FitStraightLine(t, v, false);
        LinearLabel->SetCaption(u"Linear: Steigung (Anfangsgeschwindigkeit) " +
                                WithError(fLinear->Slope, fLinear->SlopeSE, 5) + u" " + unit + u", R² = " +
                                Fixed(fLinear->R2, 4));
    } catch (const Exception& e) {
        LinearLabel->SetCaption(u"Linear: " + e.Message());
    }
    try {
        fFirstOrder = FitFirstOrder(t, v);
        FirstOrderLabel->SetCaption(u"1. Ordnung: k = " + WithError(fFirstOrder->K, fFirstOrder->KSE, 5) +
                                    u" 1/s, Halbwertszeit t½ = " + Fixed(fFirstOrder->HalfLife, 2) + u" s, R² = " +
                                    Fixed(fFirstOrder->R2, 4));
    } catch (const Exception& e) {
        FirstOrderLabel->SetCaption(u"1. Ordnung: " + e.Message());
    }
    Redraw();
}

UnicodeString TKineticsForm::ResultText() const
{
    UnicodeString s = u"Kinetik bei " + (fFitChannel < fNm.size() ? NmText(fNm[fFitChannel]) : UnicodeString()) +
                      u" nm, t = " + Fixed(fFitFrom, 1) + u" bis " + Fixed(fFitTo, 1) + u" s\r\n";
    s += LinearLabel->Caption() + u"\r\n" + FirstOrderLabel->Caption();
    if (fFirstOrder) s += u"\r\nA0 = " + Fixed(fFirstOrder->A0, 4) + u", A∞ = " + Fixed(fFirstOrder->AInf, 4);
    return s;
}

TPlotScene TKineticsForm::BuildScene(double& X0, double& X1, double& Y0, double& Y1) const
{
    TPlotScene scene;
    scene.XTitle = u"Zeit (s)";
    scene.YTitle = QuantitySymbol();
    double tMax = std::max(fDuration, fTimes.empty() ? 1.0 : fTimes.back());
    double lo = INFINITY, hi = -INFINITY;
    for (std::size_t c = 0; c < fValues.size(); ++c) {
        TPlotCurve curve;
        curve.Color = ChannelColors[c % 3];
        curve.Name = NmText(fNm[c]) + u" nm";
        for (std::size_t i = 0; i < fValues[c].size(); ++i) {
            const double v = fValues[c][i];
            if (!std::isfinite(v)) continue;
            lo = std::min(lo, v);
            hi = std::max(hi, v);
            curve.X.push_back(fTimes[i]);
            curve.Y.push_back(v);
            scene.Dots.push_back({fTimes[i], v, curve.Color});
        }
        scene.Curves.push_back(std::move(curve));
    }
    if (fFirstOrder) {
        TPlotCurve fit;
        fit.Color = clBlack;
        fit.Name = u"1. Ordnung";
        for (int i = 0; i <= 100; ++i) {
            const double t = fFitFrom + (fFitTo - fFitFrom) * i / 100.0;
            fit.X.push_back(t);
            fit.Y.push_back(fFirstOrder->AInf + (fFirstOrder->A0 - fFirstOrder->AInf) * std::exp(-fFirstOrder->K * t));
        }
        scene.Curves.push_back(std::move(fit));
    }
    if (!(hi >= lo)) {
        lo = 0;
        hi = fQuantity == TQuantity::Absorbance ? 1 : fQuantity == TQuantity::Transmittance ? 100 : 1024;
    }
    const double margin = std::max((hi - lo) * 0.1, fQuantity == TQuantity::Absorbance ? 0.02 : 1.0);
    X0 = 0;
    X1 = tMax;
    Y0 = std::min(0.0, lo - margin);
    Y1 = hi + margin;
    return scene;
}

void TKineticsForm::Redraw()
{
    double x0, x1, y0, y1;
    const TPlotScene scene = BuildScene(x0, x1, y0, y1);
    const int w = PlotImage->Width(), h = PlotImage->Height();
    DrawPlot(*PlotImage->Canvas(), w, h, PlotFrame(w, h, x0, x1, y0, y1), scene);
}

void TKineticsForm::PrintOrSave(bool Pdf)
{
    if (fTimes.empty()) throw Exception(u"Noch keine Messwerte.");
    TReportPage r;
    r.Title = u"Kinetik";
    r.Subtitle = PrintedAtText();
    UnicodeString waves;
    for (double nm : fNm) waves += (waves.empty() ? u"" : u", ") + NmText(nm) + u" nm";
    r.Facts.push_back(u"Wellenlängen: " + waves + u";  Messgröße: " + QuantitySymbol());
    r.Facts.push_back(u"Intervall " + Fixed(fInterval, 1) + u" s, Dauer " + Fixed(fDuration, 0) +
                      Format(u" s, %d Messpunkte", {static_cast<int>(fTimes.size())}));
    if (!LinearLabel->Caption().empty()) r.Facts.push_back(LinearLabel->Caption());
    if (!FirstOrderLabel->Caption().empty()) r.Facts.push_back(FirstOrderLabel->Caption());
    r.ListCaption = u"Messwerte";
    for (int i = 0; i < PointsList->Count(); ++i) r.List.push_back(PointsList->Items().Strings(i));
    PrintReport(Pdf, *SaveDialog, u"kinetik.pdf", r,
                [this](double& X0, double& X1, double& Y0, double& Y1) { return BuildScene(X0, X1, Y0, Y1); });
}
