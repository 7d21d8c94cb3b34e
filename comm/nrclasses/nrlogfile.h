// TnrLogFile: a log sink that writes each line, with a time stamp and its
// detail level, to a file or to standard error as it arrives.
//
// Line format (UTF-8, one line per call):
//   2026-12-09 12:31:06.123Z [detail] nrComm: Configuration was saved
// The time is UTC with milliseconds; lines added without a level (Add, AddFmt)
// carry "[      ]". Lines above MaxLevel are dropped (dlSimple keeps only
// simple lines, dlDebug keeps all).
//
// Thread-safe: components log from the main thread and from their message
// thread. A sink that cannot write never raises into the component that logs:
// the failure is counted and its reason kept (WriteFailures, LastErrorText).
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "comm/nrclasses/nrclasses.h"

class TnrLogFile : public TnrCustomLogFile {
public:
    explicit TnrLogFile(TComponent* AOwner);
    ~TnrLogFile() override;

    // Opens FileName for appending; "-" or "" means standard error. Any target
    // opened before is closed first. False when the file cannot be opened: the
    // reason is in LastErrorText and later lines count as write failures.
    bool Open(const UnicodeString& FileName);
    void Close();
    bool IsOpen() const;
    UnicodeString GetFileName() const;

    TDetailLevel GetMaxLevel() const { return fMaxLevel.load(); }
    void SetMaxLevel(TDetailLevel Value) { fMaxLevel.store(Value); }

    // Lines written, and lines that could not be written (no target, a failed
    // write or flush). Dropped lines (above MaxLevel) count in neither.
    uint64_t LinesWritten() const { return fLinesWritten.load(); }
    uint64_t WriteFailures() const { return fWriteFailures.load(); }
    // Formats whose arguments did not fit; the line is still written, with the
    // raw format and the reason.
    uint64_t FormatFailures() const { return fFormatFailures.load(); }
    // Why the last open or write failed ("" when nothing failed).
    std::string LastErrorText() const;

    // Flushes the target.
    void Save() override;
    // Drops what the file holds (truncates it); nothing to drop on stderr.
    void Clear() override;
    void Add(const UnicodeString& s) override;
    // A line naming the system, the build and the sink's level.
    void AddSysInfo() override;
    void AddLog(TDetailLevel l, const UnicodeString& s) override;
    void AddFmt(const UnicodeString& Fmt, const std::vector<TFormatArg>& Args) override;
    void AddLogFmt(TDetailLevel l, const UnicodeString& Fmt, const std::vector<TFormatArg>& Args) override;

    static const char* LevelName(TDetailLevel Level);

private:
    // Level tag index: 0..2 the detail levels, 3 no level.
    void WriteLine(int LevelTag, const UnicodeString& Text);
    UnicodeString FormatSafely(const UnicodeString& Fmt, const std::vector<TFormatArg>& Args);
    bool Keeps(TDetailLevel Level) const { return Level <= fMaxLevel.load(); }
    bool OpenLocked(const char* Mode);
    void CloseLocked();

    mutable std::mutex fMutex;  // guards fFile, fFileName, fLastError
    std::FILE* fFile = nullptr;
    bool fToStderr = false;
    UnicodeString fFileName;
    std::string fLastError;
    std::atomic<TDetailLevel> fMaxLevel{dlDebug};
    std::atomic<uint64_t> fLinesWritten{0};
    std::atomic<uint64_t> fWriteFailures{0};
    std::atomic<uint64_t> fFormatFailures{0};
};

// Command-line hook of the program:
//   --log FILE | --log=FILE    attach a TnrLogFile writing to FILE ("-": stderr)
//   --log-level LEVEL          simple, detail or debug (default debug)
// Without --log nothing is attached. The arguments are only read (other
// options, e.g. Qt's, are left alone). On success the sink is owned by
// Component, opened and set as its Log; the result is the sink, or null when
// no --log was given or on an error (a missing or unknown value, a file that
// cannot be opened), which is then described in Error.
TnrLogFile* AttachLogFromCommandLine(TnrBaseIO* Component, int argc, const char* const* argv, std::string& Error);
