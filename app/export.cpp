#include "app/export.h"

#include <cerrno>
#include <cstdio>
#include <memory>

UnicodeString ExportFileName(const UnicodeString& Chosen)
{
    if (Pos(u".dat", Chosen) == 0)
        return Chosen + u".dat";
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
    if (p == 0)
        return UnicodeString();
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

EInOutError InOutErrorFromErrno(int ErrnoValue)
{
    // Codes as the Win32 API reports them, so the numbers in "E/A-Fehler %d"
    // are the same on both systems.
    switch (ErrnoValue) {
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
        return EInOutError(5, RuntimeText::FileAccessDenied);
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
        return EInOutError(112, RuntimeText::OutOfMemory);
    case ENOENT:
    case ENOTDIR:
        return EInOutError(3);
    case ENAMETOOLONG:
        return EInOutError(206);
    case EMFILE:
    case ENFILE:
        return EInOutError(4);
    case ENOMEM:
        return EInOutError(8);
    default:
        return EInOutError(ErrnoValue == 0 ? 29 : ErrnoValue);  // 29: write fault
    }
}

namespace {
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
    if (!file)
        throw InOutErrorFromErrno(errno);
    // Unbuffered, so each line reaches the file (or fails) when it is written.
    std::setvbuf(file.get(), nullptr, _IONBF, 0);
    auto writeLine = [&](const UnicodeString& Line) {
        const AnsiString bytes = UnicodeToAnsi(Line) + "\r\n";
        errno = 0;
        if (std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size())
            throw InOutErrorFromErrno(errno);
    };
    for (const UnicodeString& line : ExportHeader(Path, CaptureTimeUs))
        writeLine(line);
    for (const UnicodeString& line : ListLines)
        writeLine(line);
    std::FILE* f = file.release();
    errno = 0;
    if (std::fclose(f) != 0)
        throw InOutErrorFromErrno(errno);
}
