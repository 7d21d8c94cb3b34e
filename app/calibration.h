// The two-point wavelength calibration and its file, free of any GUI.
#pragma once

#include "toolkit/sysutils.h"

// "data/conf.dat" in the given directory (which ends with a separator or is empty).
UnicodeString CalibrationFilePath(const UnicodeString& ProgramDirectory);

// Reads the file into Slope and Offset. Slope is assigned as soon as line 1
// converts, so a failure on line 2 leaves the new slope in place. Raises
// EFOpenError, EStringListError (too few lines) or EConvertError.
void LoadCalibration(const UnicodeString& FileName, double& Slope, double& Offset);

// Slope and offset from two lines: wavelengths A, B (nm) at pixel indices C, D.
// Raises EZeroDivide for equal indices (EInvalidOp when the wavelengths are
// equal too).
struct TCalibration {
    double Slope = 0;
    double Offset = 0;
};
TCalibration ComputeCalibration(double A, double B, double C, double D);

// Writes both lines (general format, CR LF, Windows-1252), replacing the file.
// Raises EFCreateError; the directory is never created.
void SaveCalibration(const UnicodeString& FileName, double Slope, double Offset);
