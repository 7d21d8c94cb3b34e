#include "app/spectrum/exposureassistant.h"

#include "app/spectrum/absorbance.h"

#include <algorithm>
#include <cmath>

double NextExposureMs(double ExposureMs, double MaxCount)
{
    if (MaxCount >= SaturationCounts) return ExposureMs / 2;
    const double target = (AssistantTargetLow + AssistantTargetHigh) / 2;
    const double factor = MaxCount > 0 ? target / MaxCount : 5.0;
    return ExposureMs * std::clamp(factor, 0.2, 5.0);
}

TExposureAssistant::TExposureAssistant(double MinMs, double MaxMs, double StepMs)
    : fMin(MinMs), fMax(MaxMs), fStep(StepMs)
{
}

double TExposureAssistant::Bounded(double Ms) const { return std::clamp(std::round(Ms / fStep) * fStep, fMin, fMax); }

TAssistantResult TExposureAssistant::Captured(double ExposureMs, double MaxCount)
{
    ++fCaptures;
    fExposure = ExposureMs;
    if (MaxCount >= AssistantTargetLow && MaxCount <= AssistantTargetHigh && MaxCount < SaturationCounts)
        return TAssistantResult::Done;
    const bool tooDark = MaxCount < AssistantTargetLow;
    double next = Bounded(NextExposureMs(ExposureMs, MaxCount));
    // Rounding may leave the exposure where it was: one step on, if the bounds allow.
    if (next == Bounded(ExposureMs)) next = Bounded(ExposureMs + (tooDark ? fStep : -fStep));
    if (next == Bounded(ExposureMs)) return tooDark ? TAssistantResult::TooDark : TAssistantResult::TooBright;
    if (fCaptures >= AssistantMaxCaptures) return TAssistantResult::GaveUp;
    fExposure = next;
    return TAssistantResult::Capture;
}
