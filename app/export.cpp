#include "app/export.h"

#include <winapi.h>

#include "platform/win32_errno.h"

#include <cerrno>
#include <cstdio>
#include <memory>

UnicodeString ExportFileName(const UnicodeString& Chosen)
{
    if (Pos(u".dat", Chosen) == 0) return Chosen + u".dat";
    return Chosen;
}

UnicodeString TargetName(const UnicodeString& Path)
{
#ifdef _WIN32
    const auto sep = Path.find_last_of(u"\\/:");
#else
    const auto sep = Path.find_last_of(u'/');
#endif
    const UnicodeString name = sep == UnicodeString::npos ? Path : Path.substr(sep + 1);
    const int p = Pos(u".dat", name);
    if (p == 0) return UnicodeString();
    return name.substr(0, static_cast<std::size_t>(p - 1));
}

std::vector<UnicodeString> ExportHeader(const UnicodeString& Path, std::int32_t CaptureTimeUs)
{
    return {
        u"Target: " + TargetName(Path),
        u"Comment: Schulspektrum",
        u"ExpTime: " + FloatToStr(CaptureTimeUs / 1000.0) + u"ms",
        u"Factor: 0.001",
        u"WL     CTS",
    };
}

#ifndef _WIN32
EInOutError InOutErrorFromErrno(int ErrnoValue, bool Creating)
{
    // The Win32 code first (the platform's errno table), so the numbers in
    // "E/A-Fehler %d" are the same on both systems; the runtime's text from it.
    int code;
    if (ErrnoValue == 0)
        code = ERROR_WRITE_FAULT;  // a short write without a reason
    else if (Creating && ErrnoValue == ENOENT)
        code = ERROR_PATH_NOT_FOUND;  // creating a file: a folder of its path is missing
    else
        code = static_cast<int>(platform::ErrorFromErrno(ErrnoValue));
    return EInOutError(code);
}
#endif

namespace {
// The runtime's error for the C library's last failed file call.
EInOutError LastInOutError(bool Creating)
{
#ifdef _WIN32
    (void)Creating;
    return EInOutError(static_cast<int>(_doserrno));  // the system's own code
#else
    return InOutErrorFromErrno(errno, Creating);
#endif
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

std::FILE* CreateTextFile(const UnicodeString& Path)
{
#ifdef _WIN32
    return _wfopen(reinterpret_cast<const wchar_t*>(Path.c_str()), L"wb");
#else
    return std::fopen(UnicodeToUtf8(Path).c_str(), "wb");
#endif
}
}  // namespace

void WriteSpectrumFile(const UnicodeString& Path, std::int32_t CaptureTimeUs,
                       const std::vector<UnicodeString>& ListLines)
{
    errno = 0;
    std::unique_ptr<std::FILE, FileCloser> file(CreateTextFile(Path));
    if (!file) throw LastInOutError(true);
    // Unbuffered, so each line reaches the file (or fails) when it is written.
    std::setvbuf(file.get(), nullptr, _IONBF, 0);
    auto writeLine = [&](const UnicodeString& Line) {
        const AnsiString bytes = UnicodeToAnsi(Line) + "\r\n";
        errno = 0;
        if (std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) throw LastInOutError(false);
    };
    for (const UnicodeString& line : ExportHeader(Path, CaptureTimeUs)) writeLine(line);
    for (const UnicodeString& line : ListLines) writeLine(line);
    std::FILE* f = file.release();
    errno = 0;
    if (std::fclose(f) != 0) throw LastInOutError(false);
}
