// The two-point wavelength calibration and its file, free of any GUI.
#pragma once

#include "toolkit/sysutils.h"

// The calibration file of a program whose executable lies in
// ProgramDirectory (which ends with a separator or is empty): "data/conf.dat"
// in that directory, unless the copy is installed.
// Linux: an installed copy is recognised by its executable lying in a folder
// named "bin" with no "data" folder beside it, and uses
// $XDG_DATA_HOME/spectrometer/data/conf.dat (default
// ~/.local/share/spectrometer/data/conf.dat; beside the executable after all
// when neither XDG_DATA_HOME nor HOME is set).
// Windows: see WindowsCalibrationFilePath; the marker is InstalledMarkerName
// beside the executable, the folder is probed with a temporary file and the
// user's data folder is FOLDERID_RoamingAppData (else %APPDATA%).
UnicodeString CalibrationFilePath(const UnicodeString& ProgramDirectory);

// The file an installer puts beside the Windows executable.
inline constexpr char16_t InstalledMarkerName[] = u"spektrometer.installed";

// The choice on Windows: an installed copy (Marker present or the program's
// folder not Writable) keeps AppData\Spektrometer\data\conf.dat, any other
// copy (or one without AppData) ProgramDirectory + "data\conf.dat".
UnicodeString WindowsCalibrationFilePath(const UnicodeString& ProgramDirectory, bool Marker, bool Writable,
                                         const UnicodeString& AppData);

// The calibration dialog's initial lines: 532 nm at index 57, 655 nm at 114.
constexpr double InitialWavelength1 = 532, InitialWavelength2 = 655;
constexpr double InitialIndex1 = 57, InitialIndex2 = 114;

// First run of an installed copy: creates its data folder and a calibration
// file from the initial lines when the file is missing. A program that keeps
// its data beside the executable gets nothing created. Raises EFCreateError.
void PrepareCalibrationFile(const UnicodeString& ProgramDirectory);

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
