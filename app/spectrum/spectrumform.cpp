#include "app/spectrum/spectrumform.h"

#include "app/Unit1.h"
#include "app/calibration.h"
#include "app/layout.h"
#include "app/spectrum/spectrumtext.h"

#include <algorithm>
#include <cmath>

TSpectrumForm* SpectrumForm = nullptr;

namespace {

// The layout as designed; a larger window gives the plot the room, the side
// panel keeps its width at the right, the rows below the plot stay below it.
constexpr int DesignWidth = 900, DesignHeight = 600;
constexpr int PlotWidth = 620, PlotHeight = 380;
constexpr int SideLeft = 640;
constexpr TSizeConstraints MinimumSize{840, 540};
const TColor OverlayColors[] = {clBlue, clGreen, clMaroon, RGB(255, 128, 0), RGB(128, 0, 128), clGray};

UnicodeString FaultText(TPixelFault F)
{
    switch (F) {
    case TPixelFault::TooLittleLight: return u"kein Wert (zu wenig Licht)";
    case TPixelFault::Saturated: return u"kein Wert (übersteuert)";
    case TPixelFault::NoSignal: return u"kein Wert (kein Licht durch die Probe)";
    case TPixelFault::None: break;
    }
    return u"";
}

UnicodeString LineText(const TReferenceLine& L)
{
    return UnicodeString(L.Name) + u" " + Fixed(L.Nm, L.Nm == std::floor(L.Nm) ? 0 : 3) + u" nm";
}

}  // namespace

TSpectrumForm::TSpectrumForm(TComponent* AOwner) : TForm(AOwner)
{
    SetName(u"SpectrumForm");
    SpectrumForm = this;
    CreateControls();
    fFrame = PlotFrame(PlotWidth, PlotHeight, 0, 127);
    // Where each control sits in the designed layout.
    for (int i = 0; i < ControlCount(); ++i) {
        TControl* c = Controls(i);
        if (c == PlotImage || dynamic_cast<TBoundLabel*>(c)) continue;  // a bound label follows its edit
        if (c->Left() >= SideLeft)
            fBesidePlot.push_back({c, c->Left()});
        else if (c->Top() >= PlotImage->Top() + PlotHeight)
            fBelowPlot.push_back({c, c->Top()});
    }
    SetBorderStyle(bsSizeable);
    SetConstraints(MinimumSize);
    OnResize = [this](TObject*) { LayoutControls(); };
}

TSpectrumForm::~TSpectrumForm()
{
    fSend.reset();
    fWatchdog.reset();
    if (SpectrumForm == this) SpectrumForm = nullptr;
}

void TSpectrumForm::CreateControls()
{
    SetUpWindow(this, u"Spektrum", 240, 120, DesignWidth, DesignHeight);

    SaveDialog = new TSaveDialog(this);
    SaveDialog->SetName(u"SaveDialog");
    OpenDialog = new TOpenDialog(this);
    OpenDialog->SetName(u"OpenDialog");

    PlotImage = PlacedControl<TImage>(this, u"PlotImage", 8, 8, PlotWidth, PlotHeight);
    ReadoutLabel = AutoSizeLabel(this, u"ReadoutLabel", u"Zeiger über dem Spektrum: Wellenlänge und Counts", 8, 394);
    CaptureButton = PlacedButton(this, u"CaptureButton", u"Aufnahme", 8, 414, 90, 23);
    ResetZoomButton = PlacedButton(this, u"ResetZoomButton", u"Gesamtansicht", 102, 414, 100, 23);
    OverlayButton = PlacedButton(this, u"OverlayButton", u"Overlay laden…", 206, 414, 110, 23);
    ClearOverlaysButton = PlacedButton(this, u"ClearOverlaysButton", u"Overlays entfernen", 320, 414, 120, 23);
    PngButton = PlacedButton(this, u"PngButton", u"Als PNG speichern", 444, 414, 120, 23);
    CsvButton = PlacedButton(this, u"CsvButton", u"CSV speichern…", 8, 442, 110, 23);
    JcampButton = PlacedButton(this, u"JcampButton", u"JCAMP-DX speichern…", 122, 442, 140, 23);
    LiveButton = PlacedButton(this, u"LiveButton", u"Dauerbetrieb", 286, 442, 130, 23);
    AutoExposureButton = PlacedButton(this, u"AutoExposureButton", u"Belichtung automatisch", 420, 442, 144, 23);

    AverageEdit = PlacedControl<TLabeledEdit>(this, u"AverageEdit", 8, 488, 50, 21);
    AverageEdit->SetText(u"10");
    AverageEdit->EditLabel()->SetCaption(u"N:");
    AverageButton = PlacedButton(this, u"AverageButton", u"Mitteln über N Aufnahmen", 64, 487, 170, 23);
    DarkButton = PlacedButton(this, u"DarkButton", u"Dunkelspektrum aufnehmen", 240, 487, 170, 23);
    DarkCheck = PlacedControl<TCheckBox>(this, u"DarkCheck", 418, 490, 130, 17);
    DarkCheck->SetCaption(u"Dunkel abziehen");
    QuantityLabel = AutoSizeLabel(this, u"QuantityLabel", u"Messgröße:", 8, 520);
    QuantityBox = PlacedControl<TComboBox>(this, u"QuantityBox", 72, 516, 162, 21);
    QuantityBox->SetStyle(csDropDownList);
    for (const char16_t* q : {u"Intensität (Counts)", u"Transmission (%)", u"Extinktion (A)"}) QuantityBox->AddItem(q);
    QuantityBox->SetItemIndex(0);
    ReferenceButton = PlacedButton(this, u"ReferenceButton", u"Referenz aufnehmen", 240, 515, 170, 23);
    PdfButton = PlacedButton(this, u"PdfButton", u"Als PDF speichern…", 414, 515, 128, 23);
    PrintButton = PlacedButton(this, u"PrintButton", u"Drucken…", 546, 515, 84, 23);
    StoredLabel = AutoSizeLabel(this, u"StoredLabel", u"", 8, 546);
    StatusLabel = AutoSizeLabel(this, u"StatusLabel", u"", 8, 564);
    SaturationLabel = AutoSizeLabel(this, u"SaturationLabel", u"", 8, 582);
    TFont warning = Font();
    warning.Style = TFontStyles{fsBold};
    warning.Color = RGB(200, 0, 0);
    SaturationLabel->SetFont(warning);

    PeaksLabel = AutoSizeLabel(this, u"PeaksLabel", u"Peaks (Zentrum, Höhe, Halbwertsbreite)", 640, 8);
    ThresholdEdit = PlacedControl<TLabeledEdit>(this, u"ThresholdEdit", 820, 24, 70, 21);
    ThresholdEdit->SetText(u"100");
    ThresholdEdit->SetLabelPosition(lpLeft);
    ThresholdEdit->EditLabel()->SetCaption(u"Schwelle (Counts):");
    PeakList = PlacedControl<TListBox>(this, u"PeakList", 640, 50, 250, 150);

    LinesLabel = AutoSizeLabel(this, u"LinesLabel", u"Eichung aus bekannten Linien", 640, 208);
    LineBox = PlacedControl<TComboBox>(this, u"LineBox", 640, 226, 250, 21);
    LineBox->SetStyle(csDropDownList);
    for (const TReferenceLine& line : ReferenceLines()) LineBox->AddItem(LineText(line));
    PeakBox = PlacedControl<TComboBox>(this, u"PeakBox", 640, 252, 250, 21);
    PeakBox->SetStyle(csDropDownList);
    AssignButton = PlacedButton(this, u"AssignButton", u"Zuordnen", 640, 278, 120, 23);
    ClearAssignButton = PlacedButton(this, u"ClearAssignButton", u"Zuordnungen löschen", 766, 278, 124, 23);
    AssignList = PlacedControl<TListBox>(this, u"AssignList", 640, 306, 250, 108);
    FitLabel = AutoSizeLabel(this, u"FitLabel", u"Mindestens zwei Linien zuordnen.", 640, 420);
    ApplyButton = PlacedButton(this, u"ApplyButton", u"Übernehmen", 640, 442, 84, 23);
    AutoAssignButton = PlacedButton(this, u"AutoAssignButton", u"Linien automatisch zuordnen", 728, 442, 162, 23);
    ElementsLabel = AutoSizeLabel(this, u"ElementsLabel", u"Linien anzeigen:", 640, 472);
    for (std::size_t i = 0; i < LibraryElements().size(); ++i) {
        const TElementInfo& e = LibraryElements()[i];
        const int column = static_cast<int>(i % 3), row = static_cast<int>(i / 3);
        auto* check = PlacedControl<TCheckBox>(this, (u"Element" + Utf8ToUnicode(e.Symbol) + u"Check").c_str(),
                                               640 + 84 * column, 488 + 18 * row, 82, 17);
        check->SetCaption(Utf8ToUnicode(e.Symbol));
        check->OnClick = [this](TObject*) {
            UpdateLinesNote();
            Redraw();
        };
        ElementChecks.push_back(check);
    }
    IdentifyButton = PlacedButton(this, u"IdentifyButton", u"Element bestimmen", 640, 546, 120, 23);
    RainbowCheck = PlacedControl<TCheckBox>(this, u"RainbowCheck", 766, 543, 124, 17);
    RainbowCheck->SetCaption(u"Regenbogen");
    RainbowCheck->SetChecked(true);
    FillCheck = PlacedControl<TCheckBox>(this, u"FillCheck", 766, 561, 124, 17);
    FillCheck->SetCaption(u"Fläche färben");
    IdentLabel = AutoSizeLabel(this, u"IdentLabel", u"", 640, 582);

    CaptureButton->OnClick = MethodOf(this, &TSpectrumForm::CaptureButtonClick);
    AverageButton->OnClick = MethodOf(this, &TSpectrumForm::AverageButtonClick);
    DarkButton->OnClick = MethodOf(this, &TSpectrumForm::DarkButtonClick);
    ReferenceButton->OnClick = MethodOf(this, &TSpectrumForm::ReferenceButtonClick);
    LiveButton->OnClick = MethodOf(this, &TSpectrumForm::LiveButtonClick);
    AutoExposureButton->OnClick = MethodOf(this, &TSpectrumForm::AutoExposureButtonClick);
    QuantityBox->OnChange = MethodOf(this, &TSpectrumForm::QuantityBoxChange);
    // A hidden window captures nothing more.
    OnHide = [this](TObject*) { StopRuns(); };
    AssignButton->OnClick = MethodOf(this, &TSpectrumForm::AssignButtonClick);
    ApplyButton->OnClick = MethodOf(this, &TSpectrumForm::ApplyButtonClick);
    AutoAssignButton->OnClick = MethodOf(this, &TSpectrumForm::AutoAssignButtonClick);
    IdentifyButton->OnClick = MethodOf(this, &TSpectrumForm::IdentifyButtonClick);
    RainbowCheck->OnClick = [this](TObject*) { Redraw(); };
    FillCheck->OnClick = [this](TObject*) { Redraw(); };
    ResetZoomButton->OnClick = [this](TObject*) {
        fZoom.reset();
        Redraw();
    };
    OverlayButton->OnClick = [this](TObject*) {
        if (!OpenDialog->Execute()) return;
        fOverlays.push_back(ReadSpectrumFile(OpenDialog->FileName));
        Redraw();
    };
    ClearOverlaysButton->OnClick = [this](TObject*) {
        fOverlays.clear();
        Redraw();
    };
    PngButton->OnClick = [this](TObject*) {
        SaveDialog->FileName = u"spektrum.png";
        if (!SaveDialog->Execute()) return;
        const UnicodeString name = WithExtension(SaveDialog->FileName, u".png");
        Redraw();
        if (!PlotImage->Picture().SaveToPngFile(name))
            throw EFCreateError(Format(u"Datei \"%s\" kann nicht erstellt werden.", {name}));
    };
    CsvButton->OnClick = [this](TObject*) { Export(false); };
    PdfButton->OnClick = [this](TObject*) { PrintOrSave(true); };
    PrintButton->OnClick = [this](TObject*) { PrintOrSave(false); };
    JcampButton->OnClick = [this](TObject*) { Export(true); };
    ClearAssignButton->OnClick = [this](TObject*) {
        fAssignments.clear();
        UpdateFit();
    };
    DarkCheck->OnClick = [this](TObject*) { UpdateShown(); };
    ThresholdEdit->OnChange = [this](TObject*) {
        UpdatePeaks();
        Redraw();
    };
    PlotImage->OnMouseDown = MethodOf(this, &TSpectrumForm::PlotMouseDown);
    PlotImage->OnMouseMove = MethodOf(this, &TSpectrumForm::PlotMouseMove);
    PlotImage->OnMouseUp = MethodOf(this, &TSpectrumForm::PlotMouseUp);
}

TWavelengthScale TSpectrumForm::Scale() const { return {CalSlope, CalOffset}; }

void TSpectrumForm::LayoutControls()
{
    const int dx = ClientWidth() - DesignWidth, dy = ClientHeight() - DesignHeight;
    PlotImage->SetBounds(PlotImage->Left(), PlotImage->Top(), PlotWidth + dx, PlotHeight + dy);
    for (const auto& [control, left] : fBesidePlot) control->SetLeft(left + dx);
    for (const auto& [control, top] : fBelowPlot) control->SetTop(top + dy);
    // Pixels of the old picture mean nothing in the new one.
    fCross = {-1, -1};
    fDragFrom = fDragTo = -1;
    Redraw();
}

// --- peaks and calibration ------------------------------------------------------------

UnicodeString TSpectrumForm::PeakText(const TPeak& P) const
{
    const TWavelengthScale s = Scale();
    const UnicodeString unit = s.Calibrated() ? u" nm" : u" Pixel";
    const UnicodeString width =
        u"   FWHM " + Fixed(s.Width(P.Fwhm), fShownQuantity == TQuantity::Counts ? 2 : 1) + unit;
    switch (fShownQuantity) {
    case TQuantity::Absorbance: return Fixed(s.At(P.Centre), 2) + unit + u"   A " + Fixed(P.Height, 3) + width;
    case TQuantity::Transmittance:
        return Fixed(s.At(P.Centre), 2) + unit + u"   T " + Fixed(P.Height, 1) + u" %" + width;
    case TQuantity::Counts: break;
    }
    return Fixed(s.At(P.Centre), 2) + unit + u"   " + Fixed(P.Height, 0) + width;
}

void TSpectrumForm::UpdatePeaks()
{
    if (fShownQuantity == TQuantity::Counts) {
        const double threshold = StrToFloatDef(ThresholdEdit->Text(), 100);
        fPeaks = FindPeaks(fShown, threshold);
        // The highest peak is always listed.
        const int top = HighestSample(fShown);
        if (top >= 0 && (fPeaks.empty() || fPeaks.front().Index != top))
            fPeaks.insert(fPeaks.begin(), FitPeak(fShown, top));
        PeaksLabel->SetCaption(u"Peaks (Zentrum, Höhe, Halbwertsbreite)");
    } else {
        // Absorption maxima, for T too (where T has its minima).
        const bool a = fShownQuantity == TQuantity::Absorbance;
        const TRatioSpectrum absorbance = a ? fRatio : QuantityOf(TQuantity::Absorbance, fRaw, fRawExposureUs);
        fPeaks = AbsorptionMaxima(absorbance, 0.05);
        if (!a)
            for (TPeak& p : fPeaks) p.Height = 100 * std::pow(10.0, -p.Height);
        PeaksLabel->SetCaption(u"Absorptionsmaxima (λmax, Wert, FWHM)");
    }
    PeakList->Clear();
    PeakBox->Clear();
    for (std::size_t i = 0; i < fPeaks.size(); ++i) {
        PeakList->AddItem(PeakText(fPeaks[i]));
        PeakBox->AddItem(IntToStr(static_cast<int>(i) + 1) + u": " + PeakText(fPeaks[i]));
    }
}

void TSpectrumForm::AssignButtonClick(TObject*)
{
    const int line = LineBox->ItemIndex(), peak = PeakBox->ItemIndex();
    if (line < 0 || peak < 0 || peak >= static_cast<int>(fPeaks.size()))
        throw Exception(u"Bitte eine Linie und einen Peak wählen.");
    const TReferenceLine& l = ReferenceLines()[static_cast<std::size_t>(line)];
    std::erase_if(fAssignments, [&](const TAssignment& a) { return a.Name == l.Name && a.Nm == l.Nm; });
    fAssignments.push_back({l.Name, l.Nm, fPeaks[static_cast<std::size_t>(peak)].Centre});
    UpdateFit();
}

void TSpectrumForm::UpdateFit()
{
    std::vector<double> pixels, nm;
    for (const TAssignment& a : fAssignments) {
        pixels.push_back(a.Pixel);
        nm.push_back(a.Nm);
    }
    fFit.reset();
    try {
        fFit = FitLine(pixels, nm);
    } catch (const Exception&) {
        // Fewer than two distinct pixels: no line yet, said below.
    }
    AssignList->Clear();
    for (std::size_t i = 0; i < fAssignments.size(); ++i) {
        UnicodeString s =
            LineText({fAssignments[i].Name, fAssignments[i].Nm, ""}) + u" ← Pixel " + Fixed(fAssignments[i].Pixel, 2);
        if (fFit) s += u", Rest " + Fixed(fFit->Residuals[i], 3) + u" nm";
        AssignList->AddItem(s);
    }
    FitLabel->SetCaption(fFit ? u"Steigung " + Fixed(fFit->Slope, 5) + u" nm/Pixel, Versatz " + Fixed(fFit->Offset, 3) +
                                    u" nm"
                              : UnicodeString(u"Mindestens zwei Linien zuordnen."));
}

void TSpectrumForm::ApplyButtonClick(TObject*)
{
    if (!fFit) throw Exception(u"Mindestens zwei Linien an verschiedenen Peaks zuordnen.");
    // As the calibration dialog saves: the values first, then the file.
    CalSlope = fFit->Slope;
    CalOffset = fFit->Offset;
    fCalibrationResidual = 0;
    for (double r : fFit->Residuals) fCalibrationResidual = std::max(fCalibrationResidual, std::abs(r));
    fZoom.reset();
    UpdateLinesNote();
    UpdatePeaks();
    Redraw();
    SaveCalibration(CalibrationFilePath(TForm1::ProgramDirectory()), CalSlope, CalOffset);
}

// --- plot -----------------------------------------------------------------------------

TPlotScene TSpectrumForm::BuildScene(double& X0, double& X1, double& Y0, double& Y1) const
{
    const TWavelengthScale s = Scale();
    TPlotScene scene;
    scene.XTitle = s.Calibrated() ? u"Wellenlänge (nm)" : u"Pixel";
    double x0 = s.At(0), x1 = s.At(127);
    double y0 = 0, y1 = 1024;
    const bool ratio = fShownQuantity != TQuantity::Counts;
    if (!fShown.empty()) {
        x0 = s.At(0);
        x1 = s.At(static_cast<double>(fShown.size() - 1));
    }
    if (ratio) {
        // Invalid pixels are gaps: one curve per stretch of valid ones.
        const bool a = fShownQuantity == TQuantity::Absorbance;
        scene.YTitle = a ? u"Extinktion A" : u"Transmission T (%)";
        y0 = a ? -0.1 : 0;
        y1 = a ? 2.5 : 110;
        for (std::size_t p = 0; p < fRatio.Values.size(); ++p) {
            if (!fRatio.Valid(p)) continue;
            if (a) y1 = std::max(y1, fRatio.Values[p]);
            if (p == 0 || !fRatio.Valid(p - 1))
                scene.Curves.push_back({{}, {}, clRed, scene.Curves.empty() ? UnicodeString(u"Probe") : u""});
            scene.Curves.back().X.push_back(s.At(static_cast<double>(p)));
            scene.Curves.back().Y.push_back(fRatio.Values[p]);
        }
    } else if (!fShown.empty()) {
        scene.YTitle = u"Counts";
        TPlotCurve curve;
        for (std::size_t p = 0; p < fShown.size(); ++p) curve.X.push_back(s.At(static_cast<double>(p)));
        curve.Y = fShown;
        curve.Name = fStd.empty() ? u"Aufnahme" : u"Mittelwert";
        scene.Curves.push_back(std::move(curve));
    }
    // Overlays are counts: drawn with the counts only.
    for (std::size_t i = 0; i < fOverlays.size() && !ratio; ++i) {
        const TOverlay& o = fOverlays[i];
        scene.Curves.push_back({o.Nm, o.Counts, OverlayColors[i % std::size(OverlayColors)], o.Name});
    }
    for (const TPeak& p : fPeaks) scene.Marks.push_back({s.At(p.Centre), p.Height, Fixed(s.At(p.Centre), 1)});
    for (const TPixelRun& run : fSaturated) {
        scene.AlertBands.push_back(std::minmax(s.At(run.First - 0.5), s.At(run.Last + 0.5)));
        for (int p = run.First; p <= run.Last; ++p)
            scene.AlertPoints.push_back({s.At(p), ratio ? y1 : fShown[static_cast<std::size_t>(p)]});
    }
    if (s.Calibrated()) {
        AddLineMarkers(scene);
        scene.Rainbow = RainbowCheck->Checked();
        if (FillCheck->Checked() && !scene.Curves.empty() && !ratio) scene.FillCurve = 0;
    }
    if (fZoom) {
        x0 = fZoom->first;
        x1 = fZoom->second;
    }
    if (x1 < x0) std::swap(x0, x1);
    X0 = x0;
    X1 = x1;
    Y0 = y0;
    Y1 = y1;
    return scene;
}

void TSpectrumForm::Redraw()
{
    double x0, x1, y0, y1;
    TPlotScene scene = BuildScene(x0, x1, y0, y1);
    const int w = PlotImage->Width(), h = PlotImage->Height();
    fFrame = PlotFrame(w, h, x0, x1, y0, y1);
    scene.Cross = fCross;
    if (fDragFrom >= 0) {
        scene.BandFrom = fDragFrom;
        scene.BandTo = fDragTo;
    }
    DrawPlot(*PlotImage->Canvas(), w, h, fFrame, scene);
}

void TSpectrumForm::ShowReadout(int X, int Y)
{
    if (!fFrame.Contains(X, Y)) return;
    const TWavelengthScale s = Scale();
    const double x = fFrame.XValue(X);
    UnicodeString text = s.Calibrated() ? u"λ = " + Fixed(x, 2) + u" nm" : u"Pixel " + Fixed(x, 1);
    const auto value = [this](double V) {
        switch (fShownQuantity) {
        case TQuantity::Absorbance: return u"A = " + Fixed(V, 3);
        case TQuantity::Transmittance: return u"T = " + Fixed(V, 1) + u" %";
        case TQuantity::Counts: break;
        }
        return u"Counts = " + Fixed(V, 0);
    };
    text += u"   " + value(fFrame.YValue(Y));
    if (!fShown.empty()) {
        const double pixel = s.Calibrated() ? (x - s.Offset) / s.Slope : x;
        const long p = std::lround(pixel);
        const auto i = static_cast<std::size_t>(p);
        if (p >= 0 && p < static_cast<long>(fShown.size())) {
            if (fShownQuantity == TQuantity::Counts)
                text += u"   Spektrum: " + Fixed(fShown[i], 0);
            else if (i < fRatio.Values.size())
                text += u"   Spektrum: " + (fRatio.Valid(i) ? value(fRatio.Values[i]) : FaultText(fRatio.Faults[i]));
        }
    }
    ReadoutLabel->SetCaption(text);
}

void TSpectrumForm::PlotMouseDown(TObject*, TMouseButton Button, TShiftState, int X, int Y)
{
    if (Button == mbRight) {
        fZoom.reset();
        Redraw();
        return;
    }
    if (Button == mbLeft && fFrame.Contains(X, Y)) fDragFrom = fDragTo = X;
}

void TSpectrumForm::PlotMouseMove(TObject*, TShiftState, int X, int Y)
{
    fCross = fFrame.Contains(X, Y) ? TPoint{X, Y} : TPoint{-1, -1};
    if (fDragFrom >= 0) fDragTo = std::clamp(X, fFrame.Area.Left, fFrame.Area.Right - 1);
    ShowReadout(X, Y);
    Redraw();
}

void TSpectrumForm::PlotMouseUp(TObject*, TMouseButton Button, TShiftState, int X, int)
{
    if (Button != mbLeft || fDragFrom < 0) return;
    const int to = std::clamp(X, fFrame.Area.Left, fFrame.Area.Right - 1);
    // A click without a drag zooms nothing.
    if (std::abs(to - fDragFrom) >= 4) fZoom = std::minmax(fFrame.XValue(fDragFrom), fFrame.XValue(to));
    fDragFrom = fDragTo = -1;
    Redraw();
}

// --- export --------------------------------------------------------------------------

void TSpectrumForm::Export(bool Jcamp)
{
    if (fShown.empty()) throw Exception(u"Noch keine Aufnahme.");
    SaveDialog->FileName = Jcamp ? u"spektrum.jdx" : u"spektrum.csv";
    if (!SaveDialog->Execute()) return;
    TSpectrumTable table = fShownQuantity == TQuantity::Counts ? MakeTable(fShown, fStd, Scale())
                                                               : MakeRatioTable(fShownQuantity, fRatio, Scale());
    if (fShownQuantity != TQuantity::Counts) {
        table.Notes.push_back("##$REFERENCE EXPOSURE=" + ToUtf8(ExposureMsText(fReference->ExposureUs)) + " ms");
        table.Notes.push_back("##$REFERENCE TIME=" + ToUtf8(fReference->Taken));
        table.Notes.push_back(
            "##$DARK=" + (fDark ? ToUtf8(fDark->Taken + u", " + ExposureMsText(fDark->ExposureUs)) + " ms, subtracted"
                                : std::string("none (D = 0)")));
    }
    const UnicodeString name = WithExtension(SaveDialog->FileName, Jcamp ? u".jdx" : u".csv");
    if (Jcamp)
        WriteJcampFile(name, table, ExtractFileName(name));
    else
        WriteCsvFile(name, table);
}

// --- the printed page ---------------------------------------------------------------

TReportPage TSpectrumForm::Report() const
{
    const TWavelengthScale s = Scale();
    TReportPage r;
    r.Title = fShownQuantity == TQuantity::Absorbance      ? UnicodeString(u"Spektrum: Extinktion")
              : fShownQuantity == TQuantity::Transmittance ? UnicodeString(u"Spektrum: Transmission")
                                                           : UnicodeString(u"Spektrum");
    r.Subtitle = PrintedAtText();
    r.Facts.push_back(u"Messgröße: " + QuantityBox->Text());
    r.Facts.push_back(u"Belichtung: " + (fRaw.empty() ? UnicodeString(u"–") : ExposureMsText(fRawExposureUs) + u" ms"));
    if (!fStd.empty()) r.Facts.push_back(Format(u"Mittelwert über %d Aufnahmen", {fAverageCount}));
    r.Facts.push_back(s.Calibrated()
                          ? u"Eichung: Steigung " + Fixed(s.Slope, 5) + u" nm/Pixel, Versatz " + Fixed(s.Offset, 3) +
                                u" nm (" + (fCalibrationResidual > 0 ? u"aus bekannten Linien" : u"aus data/conf.dat") +
                                u")"
                          : UnicodeString(u"Eichung: keine (Pixel)"));
    r.Facts.push_back(u"Dunkelspektrum: " +
                      (fDark ? fDark->Taken + u", " + ExposureMsText(fDark->ExposureUs) + u" ms" +
                                   (DarkCheck->Checked() || fShownQuantity != TQuantity::Counts ? u", abgezogen" : u"")
                             : UnicodeString(u"keines")));
    r.Facts.push_back(u"Referenz: " + (fReference
                                           ? fReference->Taken + u", " + ExposureMsText(fReference->ExposureUs) + u" ms"
                                           : UnicodeString(u"keine")));
    if (!SaturationLabel->Caption().empty()) r.Facts.push_back(SaturationLabel->Caption());
    if (!IdentLabel->Caption().empty()) r.Facts.push_back(IdentLabel->Caption());
    r.ListCaption = PeaksLabel->Caption();
    for (int i = 0; i < PeakList->Count(); ++i) r.List.push_back(PeakList->Items().Strings(i));
    return r;
}

void TSpectrumForm::PrintOrSave(bool Pdf)
{
    if (fShown.empty()) throw Exception(u"Noch keine Aufnahme.");
    PrintReport(Pdf, *SaveDialog, u"spektrum.pdf", Report(),
                [this](double& X0, double& X1, double& Y0, double& Y1) { return BuildScene(X0, X1, Y0, Y1); });
}
