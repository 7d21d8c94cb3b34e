// The spectrum window's files: CSV and JCAMP-DX export, reading ".dat" files
// back for overlays. Free of any GUI.
#pragma once

#include "app/spectrum/absorbance.h"
#include "app/spectrum/spectrumanalysis.h"

#include <string>

// A spectrum as written: x (nm, or the pixel index without calibration),
// counts and, when averaged, the standard deviation per point.
struct TSpectrumTable {
    std::vector<double> X;
    TCounts Counts;  // or T in percent, or A
    TCounts Std;     // empty unless averaged
    bool Calibrated = true;
    TQuantity Quantity = TQuantity::Counts;
    std::vector<bool> Valid;         // per point; empty: every point
    std::vector<std::string> Notes;  // "##$NAME=value" lines of the JCAMP-DX file: how it was measured
    bool IsValid(std::size_t I) const { return Valid.empty() || Valid[I]; }
};
TSpectrumTable MakeTable(const TCounts& Counts, const TCounts& Std, const TWavelengthScale& Scale);
// Transmittance (percent) or absorbance; invalid pixels are kept out of the files.
TSpectrumTable MakeRatioTable(TQuantity Quantity, const TRatioSpectrum& Ratio, const TWavelengthScale& Scale);

// The shortest text that reads back as the same double ("." decimal point).
std::string NumberText(double V);

// CSV: one header line ("wavelength_nm,counts[,std]", "...,transmittance_percent"
// or "...,absorbance"; "pixel" for the first column without calibration), ","
// between fields, "." decimal point, LF; an invalid point has an empty value.
std::string CsvText(const TSpectrumTable& T);
// JCAMP-DX 4.24, UV/VIS spectrum: counts as XYDATA (X++(Y..Y)) with one
// point per line (x, then y); transmittance (a fraction) and absorbance as
// XYPOINTS (XY..XY) of the valid points only.
std::string JcampText(const TSpectrumTable& T, const UnicodeString& Title);
// Write the texts (UTF-8); raise EFCreateError.
void WriteCsvFile(const UnicodeString& FileName, const TSpectrumTable& T);
void WriteJcampFile(const UnicodeString& FileName, const TSpectrumTable& T, const UnicodeString& Title);

// The points of a ".dat" file (five header lines, then "<nm> <count>" per
// line). Raises EFOpenError, or EConvertError for a line that does not read.
struct TOverlay {
    UnicodeString Name;
    std::vector<double> Nm;
    TCounts Counts;
};
TOverlay ReadSpectrumFile(const UnicodeString& FileName);
