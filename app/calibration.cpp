#include "app/calibration.h"

#include "toolkit/classes.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

namespace fs = std::filesystem;

namespace {

// The user's data folder of an installed copy, nullopt for any other program.
std::optional<fs::path> UserDataFolder(const UnicodeString& ProgramDirectory)
{
    fs::path dir(ProgramDirectory);
    if (!dir.has_filename()) dir = dir.parent_path();
    std::error_code ec;
    if (dir.filename() != "bin" || fs::is_directory(dir / "data", ec)) return std::nullopt;
    // XDG: a relative XDG_DATA_HOME is to be ignored.
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && fs::path(xdg).is_absolute()) return fs::path(xdg) / "spectrometer";
    const char* home = std::getenv("HOME");
    if (home && *home) return fs::path(home) / ".local" / "share" / "spectrometer";
    return std::nullopt;
}

}  // namespace

UnicodeString CalibrationFilePath(const UnicodeString& ProgramDirectory)
{
    if (auto folder = UserDataFolder(ProgramDirectory)) return (*folder / "data" / "conf.dat").u16string();
#ifdef _WIN32
    return ProgramDirectory + u"data\\conf.dat";
#else
    return ProgramDirectory + u"data/conf.dat";
#endif
}

void PrepareCalibrationFile(const UnicodeString& ProgramDirectory)
{
    const auto folder = UserDataFolder(ProgramDirectory);
    if (!folder) return;
    const UnicodeString file = CalibrationFilePath(ProgramDirectory);
    if (FileExists(file)) return;
    std::error_code ec;
    fs::create_directories(*folder / "data", ec);  // a failure shows as the file's
    const TCalibration cal = ComputeCalibration(InitialWavelength1, InitialWavelength2, InitialIndex1, InitialIndex2);
    SaveCalibration(file, cal.Slope, cal.Offset);
}

void LoadCalibration(const UnicodeString& FileName, double& Slope, double& Offset)
{
    TStringList lines;
    lines.LoadFromFile(FileName);
    Slope = StrToFloat(lines[0]);
    Offset = StrToFloat(lines[1]);
}

TCalibration ComputeCalibration(double A, double B, double C, double D)
{
    const long double dividend = static_cast<long double>(A) - B;
    const long double divisor = static_cast<long double>(C) - D;
    if (divisor == 0) {
        // What the FPU reports: x/0 is a division by zero, 0/0 an invalid operation.
        if (dividend == 0 || std::isnan(dividend)) throw EInvalidOp(RuntimeText::InvalidOp);
        throw EZeroDivide(RuntimeText::ZeroDivide);
    }
    TCalibration cal;
    cal.Slope = CheckFloat(static_cast<double>(dividend / divisor));
    cal.Offset = CheckFloat(static_cast<double>(static_cast<long double>(A) - static_cast<long double>(C) * cal.Slope));
    return cal;
}

void SaveCalibration(const UnicodeString& FileName, double Slope, double Offset)
{
    TStringList lines;
    lines.Add(FloatToStr(Slope));
    lines.Add(FloatToStr(Offset));
    lines.SaveToFile(FileName);
}
