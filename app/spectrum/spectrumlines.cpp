// The spectrum window's known lines: markers of the chosen elements, which
// element the capture shows, and assignments proposed for a calibration.
#include "app/spectrum/spectrumform.h"
#include "app/spectrum/spectrumtext.h"

#include <algorithm>
#include <cmath>

namespace {

const TColor ElementColors[] = {RGB(128, 0, 160), RGB(0, 110, 200), RGB(230, 90, 0),
                                RGB(0, 140, 70),  RGB(150, 100, 0), RGB(0, 150, 150),
                                RGB(60, 60, 200), RGB(200, 150, 0), RGB(110, 110, 110)};

}  // namespace

void TSpectrumForm::AddLineMarkers(TPlotScene& Scene) const
{
    const TWavelengthScale s = Scale();
    const double lo = std::min(s.At(0), s.At(127)) - 5, hi = std::max(s.At(0), s.At(127)) + 5;
    for (std::size_t i = 0; i < ElementChecks.size(); ++i) {
        if (!ElementChecks[i]->Checked()) continue;
        const char* symbol = LibraryElements()[i].Symbol;
        for (const TResolvedLine& l : ResolvedLines(symbol, 0.1, lo, hi)) {
            TLineMarker m;
            m.X = l.Nm;
            m.Length = l.Strength;
            m.Color = ElementColors[i % std::size(ElementColors)];
            m.Shape = static_cast<int>(i);
            m.Label = Utf8ToUnicode(symbol) + u" " + Fixed(l.Nm, 1);
            m.Hover = fCross.X >= 0 && std::abs(fFrame.XPixel(l.Nm) - fCross.X) <= 3;
            Scene.LineMarkers.push_back(m);
        }
    }
}

void TSpectrumForm::UpdateLinesNote()
{
    const bool any = std::any_of(ElementChecks.begin(), ElementChecks.end(), [](TCheckBox* c) { return c->Checked(); });
    if (any && !Scale().Calibrated())
        IdentLabel->SetCaption(u"Linien brauchen eine Wellenlängen-Eichung.");
    else if (IdentLabel->Caption() == u"Linien brauchen eine Wellenlängen-Eichung.")
        IdentLabel->SetCaption(u"");
}

void TSpectrumForm::IdentifyButtonClick(TObject*)
{
    const TWavelengthScale s = Scale();
    if (!s.Calibrated()) throw Exception(u"Element bestimmen braucht eine Wellenlängen-Eichung.");
    if (fRaw.empty()) throw Exception(u"Noch keine Aufnahme.");
    // The emission peaks of what was captured (dark subtracted when chosen).
    const TCounts& counts = fShownQuantity == TQuantity::Counts ? fShown : fRaw;
    std::vector<TMeasuredPeak> peaks;
    for (const TPeak& p : FindPeaks(counts, StrToFloatDef(ThresholdEdit->Text(), 100)))
        peaks.push_back({s.At(p.Centre), p.Height, s.Width(p.Fwhm)});
    const double from = std::min(s.At(0), s.At(static_cast<double>(counts.size() - 1)));
    const double to = std::max(s.At(0), s.At(static_cast<double>(counts.size() - 1)));
    fIdentification = IdentifyElements(peaks, from, to, fCalibrationResidual);
    const UnicodeString verdict = VerdictText(*fIdentification);
    IdentLabel->SetCaption(verdict);
    UnicodeString text = verdict + u"\r\n";
    for (std::size_t i = 0; i < fIdentification->Ranking.size() && i < 4; ++i) {
        const TElementScore& e = fIdentification->Ranking[i];
        text += u"\r\n" + ElementName(e.Symbol) + u": " + Fixed(e.Score, 2);
        for (std::size_t k = 0; k < e.Matched.size() && k < 8; ++k)
            text +=
                (k ? u", " : u" – ") + Fixed(e.Matched[k].MeasuredNm, 1) + u" (" + Fixed(e.Matched[k].TrueNm, 2) + u")";
    }
    Application->MessageBox(text, u"Element bestimmen", MsgBox::Ok);
}

void TSpectrumForm::AutoAssignButtonClick(TObject*)
{
    const int line = LineBox->ItemIndex();
    const std::string element = line >= 0 ? ReferenceLines()[static_cast<std::size_t>(line)].Element : std::string();
    if (element.empty()) throw Exception(u"Bitte eine Linie des Elements wählen, dessen Lampe gemessen wurde.");
    if (fShownQuantity != TQuantity::Counts || fPeaks.size() < 2)
        throw Exception(u"Dafür braucht es eine Aufnahme der Lampe mit mindestens zwei Peaks.");
    const std::vector<TProposedLine> proposed = ProposeAssignments(element, fPeaks);
    if (proposed.empty())
        throw Exception(u"Die Peaks passen zu keinem Muster der Linien von " + ElementName(element) + u".");
    fAssignments.clear();
    for (const TProposedLine& p : proposed)
        fAssignments.push_back({Utf8ToUnicode(element), p.Nm, fPeaks[static_cast<std::size_t>(p.Peak)].Centre});
    UpdateFit();
    StatusLabel->SetCaption(Format(u"Vorschlag: %d Linien von %s zugeordnet – prüfen, dann „Übernehmen“.",
                                   {static_cast<int>(proposed.size()), ElementName(element)}));
}
