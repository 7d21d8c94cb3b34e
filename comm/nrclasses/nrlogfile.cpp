// TnrLogFile: time-stamped log lines to a file or to standard error.
#include "comm/nrclasses/nrlogfile.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <system_error>

namespace {

constexpr const char* kLevelTags[] = {"[simple]", "[detail]", "[debug ]", "[      ]"};
constexpr int kNoLevel = 3;

std::string ErrnoText(int Err) { return std::generic_category().message(Err); }

void AppendNumber(std::string& Out, long long Value, int Width)
{
    char digits[24];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + Value % 10);
        Value /= 10;
    } while (Value > 0 && n < 20);
    for (int i = n; i < Width; ++i) Out += '0';
    while (n > 0) Out += digits[--n];
}

// "YYYY-MM-DD hh:mm:ss.mmmZ"; our own formatting, free of the C library's
// locale and of localtime's shared state.
std::string TimeStamp()
{
    using namespace std::chrono;
    const auto now = floor<milliseconds>(system_clock::now());
    const auto day = floor<days>(now);
    const year_month_day ymd{day};
    const hh_mm_ss<milliseconds> tod{now - day};
    std::string s;
    s.reserve(24);
    AppendNumber(s, static_cast<int>(ymd.year()), 4);
    s += '-';
    AppendNumber(s, static_cast<unsigned>(ymd.month()), 2);
    s += '-';
    AppendNumber(s, static_cast<unsigned>(ymd.day()), 2);
    s += ' ';
    AppendNumber(s, tod.hours().count(), 2);
    s += ':';
    AppendNumber(s, tod.minutes().count(), 2);
    s += ':';
    AppendNumber(s, tod.seconds().count(), 2);
    s += '.';
    AppendNumber(s, tod.subseconds().count(), 3);
    s += 'Z';
    return s;
}

std::FILE* OpenFile(const UnicodeString& FileName, const char* Mode)
{
#ifdef _WIN32
    const std::wstring wmode(Mode, Mode + std::strlen(Mode));
    return _wfopen(PWChar(FileName), wmode.c_str());
#else
    return std::fopen(UnicodeToUtf8(FileName).c_str(), Mode);
#endif
}

bool IsStderrName(const UnicodeString& FileName) { return FileName.empty() || FileName == u"-"; }

}  // namespace

TnrLogFile::TnrLogFile(TComponent* AOwner) : TnrCustomLogFile(AOwner) {}

TnrLogFile::~TnrLogFile() { Close(); }

const char* TnrLogFile::LevelName(TDetailLevel Level)
{
    switch (Level) {
    case dlSimple: return "simple";
    case dlDetail: return "detail";
    case dlDebug: return "debug";
    }
    return "?";
}

bool TnrLogFile::Open(const UnicodeString& FileName)
{
    std::lock_guard<std::mutex> lock(fMutex);
    CloseLocked();
    fFileName = FileName;
    return OpenLocked("a");
}

bool TnrLogFile::OpenLocked(const char* Mode)
{
    if (IsStderrName(fFileName)) {
        fFile = stderr;
        fToStderr = true;
        return true;
    }
    fToStderr = false;
    fFile = OpenFile(fFileName, Mode);
    if (!fFile) {
        fLastError = "cannot open " + UnicodeToUtf8(fFileName) + ": " + ErrnoText(errno);
        return false;
    }
    return true;
}

void TnrLogFile::CloseLocked()
{
    if (fFile && !fToStderr) std::fclose(fFile);
    if (fFile && fToStderr) std::fflush(fFile);
    fFile = nullptr;
    fToStderr = false;
}

void TnrLogFile::Close()
{
    std::lock_guard<std::mutex> lock(fMutex);
    CloseLocked();
}

bool TnrLogFile::IsOpen() const
{
    std::lock_guard<std::mutex> lock(fMutex);
    return fFile != nullptr;
}

UnicodeString TnrLogFile::GetFileName() const
{
    std::lock_guard<std::mutex> lock(fMutex);
    return fFileName;
}

std::string TnrLogFile::LastErrorText() const
{
    std::lock_guard<std::mutex> lock(fMutex);
    return fLastError;
}

void TnrLogFile::WriteLine(int LevelTag, const UnicodeString& Text)
{
    // Everything but the time stamp is built outside the lock.
    std::string body;
    body.reserve(Text.size() + 12);
    body += ' ';
    body += kLevelTags[LevelTag];
    body += ' ';
    body += UnicodeToUtf8(Text);
    body += '\n';

    std::lock_guard<std::mutex> lock(fMutex);
    if (!fFile) {
        fWriteFailures.fetch_add(1);
        if (fLastError.empty()) fLastError = "no log target open";
        return;
    }
    // Stamped under the lock, so the file's lines are in time order.
    const std::string line = TimeStamp() + body;
    errno = 0;
    const bool ok = std::fputs(line.c_str(), fFile) >= 0 && std::fflush(fFile) == 0;
    if (ok) {
        fLinesWritten.fetch_add(1);
    } else {
        // Never raised into the component that logs: a full disk must not stop
        // the port. The stream's error state is reset so a later line may succeed.
        const int err = errno;
        std::clearerr(fFile);
        fWriteFailures.fetch_add(1);
        fLastError = "cannot write " + (fToStderr ? std::string("stderr") : UnicodeToUtf8(fFileName)) + ": " +
                     (err ? ErrnoText(err) : std::string("write error"));
    }
}

UnicodeString TnrLogFile::FormatSafely(const UnicodeString& Fmt, const std::vector<TFormatArg>& Args)
{
    try {
        return Format(Fmt, Args);
    } catch (const Exception& e) {
        // A format that does not fit its arguments is the caller's mistake; the
        // line is kept (with the raw format) rather than lost or thrown at a port.
        fFormatFailures.fetch_add(1);
        return Fmt + u" [format error: " + e.Message() + u"]";
    }
}

void TnrLogFile::Save()
{
    std::lock_guard<std::mutex> lock(fMutex);
    if (fFile) std::fflush(fFile);
}

void TnrLogFile::Clear()
{
    std::lock_guard<std::mutex> lock(fMutex);
    if (!fFile || fToStderr) return;
    std::fclose(fFile);
    fFile = nullptr;
    OpenLocked("w");
}

void TnrLogFile::Add(const UnicodeString& s) { WriteLine(kNoLevel, s); }

void TnrLogFile::AddSysInfo()
{
#if defined(_WIN32)
    const char* system = "Windows";
#elif defined(__linux__)
    const char* system = "Linux";
#else
    const char* system = "POSIX";
#endif
    const std::string info = std::string("System: ") + system + ", " + std::to_string(sizeof(void*) * 8) +
                             "-bit build, log level " + LevelName(GetMaxLevel());
    WriteLine(kNoLevel, Utf8ToUnicode(info));
}

void TnrLogFile::AddLog(TDetailLevel l, const UnicodeString& s)
{
    if (!Keeps(l)) return;
    WriteLine(static_cast<int>(l) <= 2 ? static_cast<int>(l) : kNoLevel, s);
}

void TnrLogFile::AddFmt(const UnicodeString& Fmt, const std::vector<TFormatArg>& Args)
{
    WriteLine(kNoLevel, FormatSafely(Fmt, Args));
}

void TnrLogFile::AddLogFmt(TDetailLevel l, const UnicodeString& Fmt, const std::vector<TFormatArg>& Args)
{
    // Dropped lines are not even formatted.
    if (!Keeps(l)) return;
    WriteLine(static_cast<int>(l) <= 2 ? static_cast<int>(l) : kNoLevel, FormatSafely(Fmt, Args));
}

// ---------------------------------------------------------------------------
// Command-line hook

namespace {

bool ParseLevel(const std::string& Text, TDetailLevel& Level)
{
    for (TDetailLevel l : {dlSimple, dlDetail, dlDebug})
        if (Text == TnrLogFile::LevelName(l)) {
            Level = l;
            return true;
        }
    return false;
}

// "--name VALUE" or "--name=VALUE" at argv[i]; advances i past the value.
// 0: not this option, 1: found, -1: value missing.
int TakeOption(const char* Name, int argc, const char* const* argv, int& i, std::string& Value)
{
    const std::string arg = argv[i] ? argv[i] : "";
    const std::string name = Name;
    if (arg == name) {
        if (i + 1 >= argc || !argv[i + 1]) return -1;
        Value = argv[++i];
        return 1;
    }
    if (arg.compare(0, name.size() + 1, name + "=") == 0) {
        Value = arg.substr(name.size() + 1);
        return 1;
    }
    return 0;
}

}  // namespace

TnrLogFile* AttachLogFromCommandLine(TnrBaseIO* Component, int argc, const char* const* argv, std::string& Error)
{
    Error.clear();
    bool wanted = false;
    std::string fileName;
    TDetailLevel level = dlDebug;
    for (int i = 1; i < argc; ++i) {
        std::string value;
        int found = TakeOption("--log", argc, argv, i, value);
        if (found < 0) {
            Error = "--log needs a file name (or - for standard error)";
            return nullptr;
        }
        if (found > 0) {
            wanted = true;
            fileName = value;
            continue;
        }
        found = TakeOption("--log-level", argc, argv, i, value);
        if (found < 0 || (found > 0 && !ParseLevel(value, level))) {
            Error = "--log-level needs one of simple, detail, debug";
            return nullptr;
        }
    }
    if (!wanted || !Component) return nullptr;

    auto* sink = new TnrLogFile(Component);
    sink->SetMaxLevel(level);
    if (!sink->Open(Utf8ToUnicode(fileName))) {
        Error = sink->LastErrorText();
        delete sink;
        return nullptr;
    }
    Component->SetLog(sink);
    sink->AddSysInfo();
    return sink;
}
