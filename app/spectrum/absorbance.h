// Transmittance and absorbance of a sample against a reference (the blank)
// and a dark spectrum, pixel by pixel, free of any GUI.
#pragma once

#include "app/spectrum/spectrumanalysis.h"

#include <cstdint>
#include <optional>
#include <vector>

// What the spectrum window shows.
enum class TQuantity { Counts, Transmittance, Absorbance };

constexpr double SaturationCounts = 1023;  // at or above: the sensor is full
constexpr double MinReferenceLight = 10;   // R - D below this: too little light

// Why a pixel has no value.
enum class TPixelFault { None, TooLittleLight, Saturated, NoSignal };

// One value per pixel (T in percent or A); an invalid pixel holds 0 and its
// fault, and is never shown or written as a number.
struct TRatioSpectrum {
    std::vector<double> Values;
    std::vector<TPixelFault> Faults;
    bool Valid(std::size_t I) const { return Faults[I] == TPixelFault::None; }
    int ValidCount() const;
};

// T = (S - D) / (R - D) in percent; A = -log10 T. Dark may be empty (D = 0).
// A pixel is invalid when R - D < MinReferenceLight, when S, R or D is
// saturated, and for A when S - D <= 0.
TRatioSpectrum RatioSpectrum(TQuantity Quantity, const TCounts& Sample, const TCounts& Reference, const TCounts& Dark);

// A spectrum kept for later captures (reference or dark) with the exposure
// it was taken at.
struct TStoredSpectrum {
    TCounts Counts;
    std::int32_t ExposureUs = 0;
    UnicodeString Taken;  // local time, "hh:mm:ss"
};
// Whether a stored spectrum belongs to a capture of this exposure.
inline bool SameExposure(const TStoredSpectrum& Stored, std::int32_t ExposureUs)
{
    return Stored.ExposureUs == ExposureUs;
}

// The mean of the valid values over the pixels Pixel ± Band (Pixel rounded);
// none when no pixel there has a value.
std::optional<double> BandMean(const TRatioSpectrum& Values, double Pixel, int Band);

// The saturated stretches of a capture: first and last pixel of each run of
// counts at or above SaturationCounts.
struct TPixelRun {
    int First = 0, Last = 0;
    double Middle() const { return (First + Last) / 2.0; }
};
std::vector<TPixelRun> SaturatedRuns(const TCounts& Counts);

// The absorption maxima of an absorbance spectrum: bands whose top (over
// three pixels) is at least MinHeight and stands out of its valleys, with
// centre, A at the top and the full width at half that height, highest
// first. Gaps of invalid pixels separate bands.
std::vector<TPeak> AbsorptionMaxima(const TRatioSpectrum& Absorbance, double MinHeight);
