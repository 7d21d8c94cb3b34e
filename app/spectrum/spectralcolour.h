// The colour of light of one wavelength, for the rainbow under the plot.
#pragma once

#include "toolkit/graphics.h"

// sRGB of monochromatic light at Nm: the CIE 1931 2° colour-matching
// functions (the multi-lobe Gaussian fit of Wyman, Sloan and Shirley, 2013)
// to XYZ, to linear sRGB, brought into gamut by adding white, normalised to
// its largest component, fading to black towards 380 and 780 nm, then
// gamma-encoded. Outside 380..780 nm: grey.
TColor SpectralColour(double Nm);
