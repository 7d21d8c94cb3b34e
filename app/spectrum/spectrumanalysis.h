// Peaks, calibration from known lines, averaging and dark subtraction of
// spectra, free of any GUI. A spectrum is a list of counts by pixel index.
#pragma once

#include "toolkit/sysutils.h"

#include <cmath>
#include <vector>

using TCounts = std::vector<double>;

// The wavelength scale: nm = Slope * pixel + Offset. A zero slope means no
// calibration: the scale is the pixel index itself.
struct TWavelengthScale {
    double Slope = 0;
    double Offset = 0;
    bool Calibrated() const { return Slope != 0; }
    double At(double Pixel) const { return Calibrated() ? Slope * Pixel + Offset : Pixel; }
    double Width(double Pixels) const { return Calibrated() ? std::abs(Slope) * Pixels : Pixels; }
};

// A fitted peak: sub-pixel centre, height above zero at the centre and the
// full width at half maximum above the local baseline, in pixels.
struct TPeak {
    int Index = 0;  // the highest sample
    double Centre = 0;
    double Height = 0;
    double Fwhm = 0;
};

// Fits the peak whose highest sample is at Index: a Gaussian through the
// three samples around it above the local baseline (the lower of the two
// valleys beside the peak); where that does not fit (a flat or saturated
// top), the middle and the distance of the half-height crossings,
// interpolated between samples.
TPeak FitPeak(const TCounts& Counts, int Index);

// The local maxima at or above Threshold that stand out from their valleys
// (by MinProminence or 5 % of their height above the spectrum's minimum,
// whichever is more), fitted, highest first.
std::vector<TPeak> FindPeaks(const TCounts& Counts, double Threshold, double MinProminence = 10);

// The sample with the highest count (the first of equal ones); -1 when empty.
int HighestSample(const TCounts& Counts);

// Least-squares straight line through the points (pixel, nm) and each
// point's residual (nm minus the line's value). Raises Exception when fewer
// than two distinct pixels are given.
struct TLineFit {
    double Slope = 0;
    double Offset = 0;
    std::vector<double> Residuals;
};
TLineFit FitLine(const std::vector<double>& Pixels, const std::vector<double>& Nm);

// The mean per pixel of equally long spectra and the sample standard
// deviation (n - 1; 0 for a single spectrum). Raises Exception for no
// spectra or different lengths.
struct TAverage {
    TCounts Mean;
    TCounts Std;
};
TAverage AverageSpectra(const std::vector<TCounts>& Spectra);

// Counts minus Dark per pixel (Dark shorter: the rest stays as it is).
TCounts SubtractDark(const TCounts& Counts, const TCounts& Dark);
