// A log sink that keeps every line it is given, formatted, from any thread.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "comm/nrclasses/nrclasses.h"

class TRecordingLog : public TnrCustomLogFile {
public:
    struct Line {
        TDetailLevel Level;
        UnicodeString Text;
    };

    explicit TRecordingLog(TComponent* AOwner = nullptr) : TnrCustomLogFile(AOwner) {}

    void Add(const UnicodeString& s) override { Push(dlSimple, s); }
    void AddFmt(const UnicodeString& Fmt, const std::vector<TFormatArg>& Args) override
    {
        Push(dlSimple, Format(Fmt, Args));
    }
    void AddLog(TDetailLevel l, const UnicodeString& s) override { Push(l, s); }
    void AddLogFmt(TDetailLevel l, const UnicodeString& Fmt, const std::vector<TFormatArg>& Args) override
    {
        Push(l, Format(Fmt, Args));
    }
    // Counted, not recorded as a line.
    void AddSysInfo() override
    {
        std::lock_guard<std::mutex> lock(fMutex);
        ++fSysInfoCount;
    }

    std::vector<Line> Lines() const
    {
        std::lock_guard<std::mutex> lock(fMutex);
        return fLines;
    }
    // The lines' texts in UTF-8.
    std::vector<std::string> Texts() const
    {
        std::vector<std::string> out;
        for (const auto& l : Lines()) out.push_back(UnicodeToUtf8(l.Text));
        return out;
    }
    int SysInfoCount() const
    {
        std::lock_guard<std::mutex> lock(fMutex);
        return fSysInfoCount;
    }
    void Reset()
    {
        std::lock_guard<std::mutex> lock(fMutex);
        fLines.clear();
        fSysInfoCount = 0;
    }

private:
    void Push(TDetailLevel l, const UnicodeString& s)
    {
        std::lock_guard<std::mutex> lock(fMutex);
        fLines.push_back({l, s});
    }
    mutable std::mutex fMutex;
    std::vector<Line> fLines;
    int fSysInfoCount = 0;
};
