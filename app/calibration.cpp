#include "app/calibration.h"

#include "toolkit/classes.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#ifdef _WIN32
#include <windows.h>

#include <shlobj.h>
#endif

namespace fs = std::filesystem;

UnicodeString WindowsCalibrationFilePath(const UnicodeString& ProgramDirectory, bool Marker, bool Writable,
                                         const UnicodeString& AppData)
{
    if ((Marker || !Writable) && !AppData.empty()) {
        UnicodeString folder = AppData;
        if (folder.back() != u'\\' && folder.back() != u'/') folder += u'\\';
        return folder + u"Spektrometer\\data\\conf.dat";
    }
    return ProgramDirectory + u"data\\conf.dat";
}

namespace {

#ifdef _WIN32
// Creates and deletes a file in Folder.
bool FolderWritable(const UnicodeString& Folder)
{
    const UnicodeString probe =
        Folder + u"spektrometer-probe-" + IntToStr(static_cast<int>(GetCurrentProcessId())) + u".tmp";
    const HANDLE h = CreateFileW(reinterpret_cast<const wchar_t*>(probe.c_str()), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
}

UnicodeString RoamingAppData()
{
    UnicodeString result;
    PWSTR path = nullptr;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &path)))
        result = reinterpret_cast<const char16_t*>(path);
    CoTaskMemFree(path);
    if (result.empty()) {
        wchar_t buffer[MAX_PATH];
        const DWORD n = GetEnvironmentVariableW(L"APPDATA", buffer, MAX_PATH);
        if (n > 0 && n < MAX_PATH) result = reinterpret_cast<const char16_t*>(buffer);
    }
    return result;
}
#endif

// The calibration file in the user's data folder of an installed copy,
// nullopt for any other program.
std::optional<fs::path> UserCalibrationFile(const UnicodeString& ProgramDirectory)
{
#ifdef _WIN32
    const bool marker = FileExists(ProgramDirectory + InstalledMarkerName);
    const bool writable = marker || FolderWritable(ProgramDirectory);
    const UnicodeString file =
        WindowsCalibrationFilePath(ProgramDirectory, marker, writable, marker || !writable ? RoamingAppData() : u"");
    if (file == ProgramDirectory + u"data\\conf.dat") return std::nullopt;
    return fs::path(file);
#else
    fs::path dir(ProgramDirectory);
    if (!dir.has_filename()) dir = dir.parent_path();
    std::error_code ec;
    if (dir.filename() != "bin" || fs::is_directory(dir / "data", ec)) return std::nullopt;
    // XDG: a relative XDG_DATA_HOME is to be ignored.
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && fs::path(xdg).is_absolute()) return fs::path(xdg) / "spectrometer" / "data" / "conf.dat";
    const char* home = std::getenv("HOME");
    if (home && *home) return fs::path(home) / ".local" / "share" / "spectrometer" / "data" / "conf.dat";
    return std::nullopt;
#endif
}

}  // namespace

UnicodeString CalibrationFilePath(const UnicodeString& ProgramDirectory)
{
    if (auto file = UserCalibrationFile(ProgramDirectory)) return file->u16string();
#ifdef _WIN32
    return ProgramDirectory + u"data\\conf.dat";
#else
    return ProgramDirectory + u"data/conf.dat";
#endif
}

void PrepareCalibrationFile(const UnicodeString& ProgramDirectory)
{
    const auto file = UserCalibrationFile(ProgramDirectory);
    if (!file || FileExists(file->u16string())) return;
    std::error_code ec;
    fs::create_directories(file->parent_path(), ec);  // a failure shows as the file's
    const TCalibration cal = ComputeCalibration(InitialWavelength1, InitialWavelength2, InitialIndex1, InitialIndex2);
    SaveCalibration(file->u16string(), cal.Slope, cal.Offset);
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
