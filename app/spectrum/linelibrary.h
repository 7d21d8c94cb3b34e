// The emission line library: strong visible lines in air of H, He, Ne, Ar,
// Kr, Xe, Hg, Na and Zn with their relative intensities (data/emission_lines.csv,
// compiled in).
#pragma once

#include "toolkit/sysutils.h"

#include <string>
#include <string_view>
#include <vector>

struct TLibraryLine {
    const char* Element;  // symbol
    bool Ion;             // a line of the singly ionised atom
    double Nm;            // in air
    double Intensity;     // relative, within the element only
};
const std::vector<TLibraryLine>& LibraryLines();

struct TElementInfo {
    const char* Symbol;
    const char16_t* Name;  // German
};
// The library's elements in its order.
const std::vector<TElementInfo>& LibraryElements();
// The German name of an element ("Helium"); the symbol when unknown.
UnicodeString ElementName(std::string_view Symbol);

// An element's lines as an instrument of about ResolutionNm resolution sees
// them: lines closer than that merged into one (intensity-weighted
// wavelength, summed intensity), each with its intensity relative to the
// element's strongest (1) between FromNm and ToNm; strongest first. Ion lines
// are marked: they need a hotter discharge than most tubes.
struct TResolvedLine {
    double Nm = 0;
    double Strength = 0;  // 0..1
    bool Ion = false;
};
std::vector<TResolvedLine> ResolvedLines(std::string_view Symbol, double ResolutionNm, double FromNm, double ToNm);

// The lines offered for calibration: every element's lines, strongest
// first (components closer than 0.1 nm as one), then the lasers.
struct TReferenceLine {
    UnicodeString Name;  // element symbol or the laser
    double Nm = 0;
    std::string Element;  // empty for a laser
};
const std::vector<TReferenceLine>& ReferenceLines();
