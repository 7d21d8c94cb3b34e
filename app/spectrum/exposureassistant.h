// The exposure assistant: captures until the highest count lies in the
// target window, each next exposure proportional to the measured maximum.
// Free of any GUI: it is told each capture's result and answers what next.
#pragma once

constexpr double AssistantTargetLow = 750, AssistantTargetHigh = 900;
constexpr int AssistantMaxCaptures = 6;

// The rule for one step: a saturated capture halves the exposure; otherwise
// it is scaled towards the middle of the window by at most x5 up and at
// least x0.2 down.
double NextExposureMs(double ExposureMs, double MaxCount);

enum class TAssistantResult {
    Capture,    // capture again at Exposure()
    Done,       // the last capture lies in the window
    TooDark,    // below the window at the longest exposure
    TooBright,  // above the window at the shortest exposure
    GaveUp      // not in the window after the most captures allowed
};

class TExposureAssistant {
public:
    // Exposures are kept within [MinMs, MaxMs] and rounded to StepMs.
    TExposureAssistant(double MinMs, double MaxMs, double StepMs);
    // A capture at ExposureMs had MaxCount as its highest count.
    TAssistantResult Captured(double ExposureMs, double MaxCount);
    double Exposure() const { return fExposure; }
    int Captures() const { return fCaptures; }

private:
    double Bounded(double Ms) const;
    double fMin, fMax, fStep;
    double fExposure = 0;
    int fCaptures = 0;
};
