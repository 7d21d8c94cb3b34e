// The spectrum window's captures: single, averaged, dark and reference
// spectra, live view and the exposure assistant, and what follows from the
// reference and dark kept (transmittance, absorbance, their notes).
#include "app/Unit1.h"
#include "app/lab/labcapture.h"
#include "app/spectrum/spectrumform.h"
#include "app/spectrum/spectrumtext.h"
#include "platform/winapi.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int MaxAveraged = 1000;
// The main window's exposure field: tenths of a millisecond up to its maximum.
constexpr double ExposureStepMs = 0.1;
// A capture takes about 1.3 s at 9600 baud.
constexpr unsigned NoReplyMs = 10000;

UnicodeString TwoDigits(int V) { return (V < 10 ? u"0" : u"") + IntToStr(V); }

UnicodeString ClockText()
{
    SYSTEMTIME t{};
    GetLocalTime(&t);
    return TwoDigits(t.wHour) + u":" + TwoDigits(t.wMinute) + u":" + TwoDigits(t.wSecond);
}

UnicodeString StoredText(const UnicodeString& What, const std::optional<TStoredSpectrum>& S, const UnicodeString& None)
{
    return What + u": " + (S ? S->Taken + u", " + ExposureMsText(S->ExposureUs) + u" ms" : None);
}

}  // namespace

void TSpectrumForm::Send()
{
    if (Form1) Form1->bSendClick(this);
    // A capture that never completes (no answer, a reply cut short) ends the run.
    if (fRun != TRun::None)
        fWatchdog = Application->StartTimer(NoReplyMs, [this] {
            fWatchdog.reset();
            EndRun(u"Keine vollständige Antwort vom Gerät: abgebrochen.");
        });
}

void TSpectrumForm::Start(TRun Run)
{
    TLabCapture::CancelAll();
    fSend.reset();
    fStopLive = false;
    fRun = Run;
    UpdateLabels();
    try {
        Send();
    } catch (...) {
        EndRun(u"");
        throw;
    }
}

void TSpectrumForm::SendLater()
{
    // Not from inside the reply being framed: the next command goes out once
    // the receive handler has returned.
    fSend = Application->StartTimer(0, [this] {
        fSend.reset();
        try {
            Send();
        } catch (...) {
            EndRun(u"Abgebrochen: der Befehl konnte nicht gesendet werden.");
            throw;
        }
    });
}

void TSpectrumForm::EndRun(const UnicodeString& Status)
{
    fSend.reset();
    fWatchdog.reset();
    fRun = TRun::None;
    fStopLive = false;
    fAveraged.clear();
    fAssistant.reset();
    if (!Status.empty()) StatusLabel->SetCaption(Status);
    UpdateLabels();
}

void TSpectrumForm::StopRuns()
{
    if (fRun == TRun::None) return;
    EndRun(fRun == TRun::Live ? u"Dauerbetrieb beendet." : u"Abgebrochen.");
}

void TSpectrumForm::PortLost()
{
    if (fRun == TRun::None) return;
    const bool live = fRun == TRun::Live;
    EndRun(live ? u"Dauerbetrieb beendet: die Verbindung wurde unterbrochen."
                : u"Abgebrochen: die Verbindung wurde unterbrochen.");
}

void TSpectrumForm::CaptureButtonClick(TObject*) { Start(TRun::Single); }

void TSpectrumForm::AverageButtonClick(TObject*)
{
    const int n = StrToInt(AverageEdit->Text());
    if (n < 1 || n > MaxAveraged)
        throw EConvertError(Format(u"Die Anzahl der Aufnahmen muss zwischen 1 und %d liegen.", {MaxAveraged}));
    StatusLabel->SetCaption(Format(u"Mittelung: 0 von %d Aufnahmen", {n}));
    fAveraged.clear();
    fAverageCount = n;
    Start(TRun::Average);
}

void TSpectrumForm::DarkButtonClick(TObject*)
{
    StatusLabel->SetCaption(u"Dunkelspektrum: Lampe abdecken, Aufnahme läuft…");
    Start(TRun::Dark);
}

void TSpectrumForm::ReferenceButtonClick(TObject*)
{
    StatusLabel->SetCaption(u"Referenz: Küvette mit reinem Lösungsmittel, Aufnahme läuft…");
    Start(TRun::Reference);
}

void TSpectrumForm::LiveButtonClick(TObject*)
{
    if (fRun == TRun::Live) {
        // The capture under way is still shown; none follows.
        if (fSend) {
            // Between two captures: nothing is under way.
            EndRun(u"Dauerbetrieb beendet.");
            return;
        }
        fStopLive = true;
        StatusLabel->SetCaption(u"Dauerbetrieb: wird nach dieser Aufnahme beendet…");
        return;
    }
    StatusLabel->SetCaption(u"Dauerbetrieb läuft…");
    Start(TRun::Live);
}

void TSpectrumForm::AutoExposureButtonClick(TObject*)
{
    StatusLabel->SetCaption(u"Belichtung automatisch: Aufnahme 1…");
    fAssistant.emplace(ExposureStepMs, MaxExposureMs, ExposureStepMs);
    Start(TRun::Assistant);
}

TStoredSpectrum TSpectrumForm::Stored(TCounts Capture) const { return {std::move(Capture), CaptureTime, ClockText()}; }

void TSpectrumForm::CaptureComplete()
{
    TCounts capture(Counts.begin(), Counts.end());
    ++fCaptures;
    // An identification belongs to the capture it was made of.
    IdentLabel->SetCaption(u"");
    fWatchdog.reset();
    fRawExposureUs = CaptureTime;
    fSaturated = SaturatedRuns(capture);
    switch (fRun) {
    case TRun::Dark:
    case TRun::Reference: {
        const bool dark = fRun == TRun::Dark;
        (dark ? fDark : fReference) = Stored(capture);
        EndRun(dark ? u"Dunkelspektrum gespeichert." : u"Referenz gespeichert.");
        // Shown as it is, not against itself.
        fRawIsStored = true;
        fRaw = std::move(capture);
        fStd.clear();
        UpdateShown();
        return;
    }
    case TRun::Average: {
        fAveraged.push_back(std::move(capture));
        const int got = static_cast<int>(fAveraged.size());
        StatusLabel->SetCaption(Format(u"Mittelung: %d von %d Aufnahmen", {got, fAverageCount}));
        if (got < fAverageCount) {
            SendLater();
            return;
        }
        TAverage average = AverageSpectra(fAveraged);
        EndRun(u"");
        fRawIsStored = false;
        fRaw = std::move(average.Mean);
        fStd = std::move(average.Std);
        UpdateShown();
        return;
    }
    case TRun::Assistant: AssistantStep(capture); break;
    case TRun::Live:
        if (fStopLive)
            EndRun(u"Dauerbetrieb beendet.");
        else
            SendLater();
        break;
    case TRun::Single:
    case TRun::None:
        EndRun(u"");
        StatusLabel->SetCaption(u"");
        break;
    }
    fRawIsStored = false;
    fRaw = std::move(capture);
    fStd.clear();
    UpdateShown();
}

void TSpectrumForm::AssistantStep(const TCounts& Capture)
{
    const double top = Capture.empty() ? 0 : *std::max_element(Capture.begin(), Capture.end());
    const double ms = CaptureTime / 1000.0;
    const TAssistantResult result = fAssistant->Captured(ms, top);
    const int captures = fAssistant->Captures();
    const UnicodeString reached = Format(u" (höchster Wert %d bei %s ms)", {static_cast<int>(top), Fixed(ms, 1)});
    switch (result) {
    case TAssistantResult::Capture:
        if (Form1) Form1->SetExposureMs(fAssistant->Exposure());
        StatusLabel->SetCaption(Format(u"Belichtung automatisch: Aufnahme %d…", {captures + 1}));
        SendLater();
        return;
    case TAssistantResult::Done: EndRun(u"Belichtung passt" + reached + u"."); return;
    case TAssistantResult::TooDark:
        EndRun(u"Auch bei " + Fixed(ms, ms == std::floor(ms) ? 0 : 1) + u" ms zu dunkel" + reached + u".");
        return;
    case TAssistantResult::TooBright:
        EndRun(top >= SaturationCounts ? u"Auch bei der kürzesten Belichtung übersteuert."
                                       : u"Auch bei der kürzesten Belichtung zu hell" + reached + u".");
        return;
    case TAssistantResult::GaveUp:
        EndRun(Format(u"Nach %d Aufnahmen nicht im Zielbereich", {captures}) + reached + u".");
        return;
    }
}

// --- quantity --------------------------------------------------------------------------

void TSpectrumForm::QuantityBoxChange(TObject*)
{
    fQuantity = static_cast<TQuantity>(std::max(0, QuantityBox->ItemIndex()));
    fZoom.reset();
    UpdateShown();
}

UnicodeString TSpectrumForm::RatioBlocker(std::int32_t ExposureUs) const
{
    if (!fReference)
        return u"Keine Referenz: erst die Küvette mit reinem Lösungsmittel aufnehmen (Referenz aufnehmen).";
    const UnicodeString now = ExposureMsText(ExposureUs);
    if (!SameExposure(*fReference, ExposureUs))
        return u"Referenz bei " + ExposureMsText(fReference->ExposureUs) + u" ms, Aufnahme bei " + now +
               (fDark ? u" ms: Referenz und Dunkelspektrum" : u" ms: Referenz") +
               u" bei dieser Belichtung neu aufnehmen.";
    if (fDark && !SameExposure(*fDark, ExposureUs))
        return u"Dunkelspektrum bei " + ExposureMsText(fDark->ExposureUs) + u" ms, Aufnahme bei " + now +
               u" ms: Dunkelspektrum bei dieser Belichtung neu aufnehmen.";
    return u"";
}

void TSpectrumForm::UpdateShown()
{
    fShown = DarkCheck->Checked() && fDark && !fRawIsStored ? SubtractDark(fRaw, fDark->Counts) : fRaw;
    fShownQuantity = TQuantity::Counts;
    fRatio = {};
    fRatioNote.clear();
    if (fQuantity != TQuantity::Counts && !fRawIsStored) {
        fRatioNote = fRaw.empty() ? UnicodeString(u"Noch keine Aufnahme.") : RatioBlocker(fRawExposureUs);
        if (fRatioNote.empty()) {
            fShownQuantity = fQuantity;
            fRatio = QuantityOf(fQuantity, fRaw, fRawExposureUs);
            if (!fDark) fRatioNote = u"Ohne Dunkelspektrum: D = 0.";
            if (fRatio.ValidCount() < static_cast<int>(fRatio.Values.size()))
                fRatioNote += (fRatioNote.empty() ? u"" : u" ") +
                              Format(u"%d Pixel ohne Wert (zu wenig Licht oder übersteuert).",
                                     {static_cast<int>(fRatio.Values.size()) - fRatio.ValidCount()});
        }
    } else if (fQuantity != TQuantity::Counts) {
        fRatioNote = u"Gespeichertes Spektrum: Counts.";
    }
    UpdatePeaks();
    UpdateLabels();
    Redraw();
}

TRatioSpectrum TSpectrumForm::QuantityOf(TQuantity Quantity, const TCounts& Raw, std::int32_t ExposureUs) const
{
    if (Quantity == TQuantity::Counts) {
        TRatioSpectrum r;
        r.Values = DarkCheck->Checked() && fDark ? SubtractDark(Raw, fDark->Counts) : Raw;
        r.Faults.assign(r.Values.size(), TPixelFault::None);
        return r;
    }
    const UnicodeString blocker = RatioBlocker(ExposureUs);
    if (!blocker.empty()) throw Exception(blocker);
    return RatioSpectrum(Quantity, Raw, fReference->Counts, fDark ? fDark->Counts : TCounts{});
}

double TSpectrumForm::PixelAt(double Nm) const
{
    const TWavelengthScale s = Scale();
    return s.Calibrated() ? (Nm - s.Offset) / s.Slope : Nm;
}

std::optional<double> TSpectrumForm::AbsorbanceMaximum() const
{
    if (fShownQuantity != TQuantity::Absorbance || fPeaks.empty()) return std::nullopt;
    return Scale().At(fPeaks.front().Centre);
}

void TSpectrumForm::UpdateLabels()
{
    LiveButton->SetCaption(fRun == TRun::Live ? u"Dauerbetrieb beenden" : u"Dauerbetrieb");
    StoredLabel->SetCaption(StoredText(u"Referenz", fReference, u"keine") + u"    " +
                            StoredText(u"Dunkel", fDark, u"keines (D = 0)") +
                            (fRatioNote.empty() ? u"" : u"    " + fRatioNote));
    UnicodeString saturation;
    if (!fSaturated.empty()) {
        const TWavelengthScale s = Scale();
        saturation = u"Übersteuert bei ";
        for (std::size_t i = 0; i < fSaturated.size() && i < 3; ++i) {
            const double x = s.At(fSaturated[i].Middle());
            saturation += (i ? u", " : u"") + (s.Calibrated() ? Fixed(x, 0) + u" nm" : u"Pixel " + Fixed(x, 0));
        }
        if (fSaturated.size() > 3) saturation += u", …";
        saturation += u" – Belichtungszeit verkürzen";
    }
    SaturationLabel->SetCaption(saturation);
}
