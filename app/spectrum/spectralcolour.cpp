#include "app/spectrum/spectralcolour.h"

#include <algorithm>
#include <cmath>

namespace {

// A Gaussian with different widths below and above its centre.
double Lobe(double X, double Mu, double SigmaBelow, double SigmaAbove)
{
    const double t = (X - Mu) / (X < Mu ? SigmaBelow : SigmaAbove);
    return std::exp(-0.5 * t * t);
}

double Encoded(double Linear)
{
    const double c = std::clamp(Linear, 0.0, 1.0);
    return c <= 0.0031308 ? 12.92 * c : 1.055 * std::pow(c, 1 / 2.4) - 0.055;
}

int Byte(double V) { return static_cast<int>(std::lround(255 * V)); }

}  // namespace

TColor SpectralColour(double Nm)
{
    if (!(Nm >= 380 && Nm <= 780)) return RGB(160, 160, 160);
    const double x =
        1.056 * Lobe(Nm, 599.8, 37.9, 31.0) + 0.362 * Lobe(Nm, 442.0, 16.0, 26.7) - 0.065 * Lobe(Nm, 501.1, 20.4, 26.2);
    const double y = 0.821 * Lobe(Nm, 568.8, 46.9, 40.5) + 0.286 * Lobe(Nm, 530.9, 16.3, 31.1);
    const double z = 1.217 * Lobe(Nm, 437.0, 11.8, 36.0) + 0.681 * Lobe(Nm, 459.0, 26.0, 13.8);
    double r = 3.2406 * x - 1.5372 * y - 0.4986 * z;
    double g = -0.9689 * x + 1.8758 * y + 0.0415 * z;
    double b = 0.0557 * x - 0.2040 * y + 1.0570 * z;
    // Spectral colours lie outside the sRGB gamut: white added until none is negative.
    const double white = std::max(0.0, -std::min({r, g, b}));
    r += white;
    g += white;
    b += white;
    const double top = std::max({r, g, b});
    const double fade = std::clamp(std::min((Nm - 380) / 40, (780 - Nm) / 80), 0.0, 1.0);
    const double k = top > 0 ? fade / top : 0;
    return RGB(Byte(Encoded(r * k)), Byte(Encoded(g * k)), Byte(Encoded(b * k)));
}
