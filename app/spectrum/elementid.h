// Which element's lines a spectrum shows, and which library lines the peaks
// of an uncalibrated spectrum are: free of any GUI.
#pragma once

#include "app/spectrum/linelibrary.h"
#include "app/spectrum/spectrumanalysis.h"

#include <string>
#include <vector>

// A fitted peak on the wavelength scale.
struct TMeasuredPeak {
    double Nm = 0;
    double Height = 0;
    double FwhmNm = 0;
};

struct TLineMatch {
    double MeasuredNm = 0;
    double TrueNm = 0;
};

struct TElementScore {
    std::string Symbol;
    double Score = 0;      // -1..1: matched strong lines, explained peaks, missing strong lines
    double LineScore = 0;  // the lines' part: matched minus missing strong ones, by strength
    double Explained = 0;  // the part of the peaks' height that its lines explain
    std::vector<TLineMatch> Matched;
};

struct TIdentification {
    std::vector<TElementScore> Ranking;  // best first
    std::vector<std::string> Elements;   // the verdict: one, two for a mixture, none when unclear
};

// Scores every library element against the peaks. A peak matches a line
// within the larger of 2 nm and half its FWHM, plus ResidualNm (the
// calibration's own error). Lines missing where the sensor sees light
// (FromNm..ToNm) count against an element, its ion lines excepted (they need
// a hotter discharge). Two elements that score alike, or no element that
// explains the peaks, give no verdict; two that each explain their own part
// of the peaks are a mixture.
TIdentification IdentifyElements(const std::vector<TMeasuredPeak>& Peaks, double FromNm, double ToNm,
                                 double ResidualNm);
// "Wahrscheinlich: Helium", "Wahrscheinlich: Quecksilber und Argon (Gemisch)"
// or "keine eindeutige Zuordnung".
UnicodeString VerdictText(const TIdentification& Id);

// The library lines of Element that the peaks (pixel centres) most likely
// are: the straight pixel-to-wavelength line that makes the most peaks fall
// on strong lines, between MinSlope and MaxSlope nm per pixel (either
// direction). Pairs of (peak index, wavelength), by pixel; empty when fewer
// than two peaks match.
struct TProposedLine {
    int Peak = 0;
    double Nm = 0;
};
std::vector<TProposedLine> ProposeAssignments(std::string_view Element, const std::vector<TPeak>& Peaks,
                                              double MinSlope = 0.3, double MaxSlope = 10);
