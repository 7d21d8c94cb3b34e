// The file log sink: line format, level filter, formats, thread safety,
// failures that must not reach the component, and the command-line hook.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "comm/nrclasses/nrlogfile.h"
#include "tests/comm_processor/test_helpers.h"

namespace {

class LogFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char dir[] = "/tmp/nrlogfile-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        fDir = dir;
        fPath = fDir + "/comm.log";
    }
    void TearDown() override
    {
        std::remove(fPath.c_str());
        rmdir(fDir.c_str());
    }

    std::vector<std::string> ReadLines() const
    {
        std::ifstream in(fPath);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    // The part after the time stamp.
    static std::string Body(const std::string& Line) { return Line.size() > 25 ? Line.substr(25) : ""; }
    // "YYYY-MM-DD hh:mm:ss.mmmZ " in front.
    static bool HasTimeStamp(const std::string& Line)
    {
        const std::string shape = "0000-00-00 00:00:00.000Z ";
        if (Line.size() < shape.size()) return false;
        for (size_t i = 0; i < shape.size(); ++i) {
            const bool digit = Line[i] >= '0' && Line[i] <= '9';
            if (shape[i] == '0' ? !digit : Line[i] != shape[i]) return false;
        }
        return true;
    }

    std::string fDir;
    std::string fPath;
};

TEST_F(LogFileTest, LinesCarryATimeStampAndTheirLevelAndAreFilteredByLevel)
{
    TnrLogFile sink(nullptr);
    ASSERT_TRUE(sink.Open(Utf8ToUnicode(fPath)));
    sink.SetMaxLevel(dlDetail);
    sink.AddLog(dlSimple, u"nrComm: The port COM3 is opened succesfully");
    sink.AddLog(dlDetail, u"nrComm: Configuration was saved");
    sink.AddLog(dlDebug, u"nrComm: Try to send string t ...");
    sink.AddLogFmt(dlDebug, u"DoDataSend: %u bytes", {3u});
    sink.Add(u"a line without level");
    EXPECT_EQ(sink.LinesWritten(), 3u);

    const auto lines = ReadLines();
    ASSERT_EQ(lines.size(), 3u);
    for (const auto& l : lines) EXPECT_TRUE(HasTimeStamp(l)) << l;
    EXPECT_EQ(Body(lines[0]), "[simple] nrComm: The port COM3 is opened succesfully");
    EXPECT_EQ(Body(lines[1]), "[detail] nrComm: Configuration was saved");
    EXPECT_EQ(Body(lines[2]), "[      ] a line without level");

    sink.SetMaxLevel(dlSimple);
    sink.AddLog(dlDetail, u"dropped");
    sink.SetMaxLevel(dlDebug);
    sink.AddLog(dlDebug, u"kept");
    const auto after = ReadLines();
    ASSERT_EQ(after.size(), 4u);
    EXPECT_EQ(Body(after[3]), "[debug ] kept");
}

TEST_F(LogFileTest, FormatsTheDirectivesTheComponentsUse)
{
    TnrLogFile sink(nullptr);
    ASSERT_TRUE(sink.Open(Utf8ToUnicode(fPath)));
    sink.AddLogFmt(dlSimple, u"Fatal Error: %u, %u, %s", {1u, 4294967295u, UnicodeString(u"Gerät fehlt")});
    sink.AddLogFmt(dlDebug, u"nrComm: Try to send char %2Xh ...", {0x0D});
    sink.AddLogFmt(dlDebug, u"nrComm: Try to send char %2Xh ...", {0xAB});
    sink.AddLogFmt(dlDetail, u"nrComm: Communication Error %d:%d", {-2, 995});
    sink.AddFmt(u"%s=%d", {UnicodeString(u"n"), 5});
    const auto lines = ReadLines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(Body(lines[0]), "[simple] Fatal Error: 1, 4294967295, Gerät fehlt");
    EXPECT_EQ(Body(lines[1]), "[debug ] nrComm: Try to send char  Dh ...");
    EXPECT_EQ(Body(lines[2]), "[debug ] nrComm: Try to send char ABh ...");
    EXPECT_EQ(Body(lines[3]), "[detail] nrComm: Communication Error -2:995");
    EXPECT_EQ(Body(lines[4]), "[      ] n=5");

    // A format that does not fit its arguments keeps the line and raises nothing.
    EXPECT_NO_THROW(sink.AddLogFmt(dlDebug, u"%d bytes", {UnicodeString(u"many")}));
    EXPECT_EQ(sink.FormatFailures(), 1u);
    const auto more = ReadLines();
    ASSERT_EQ(more.size(), 6u);
    EXPECT_NE(more[5].find("%d bytes [format error: "), std::string::npos) << more[5];
}

TEST_F(LogFileTest, LinesFromManyThreadsStayWholeAndNoneIsLost)
{
    TnrLogFile sink(nullptr);
    ASSERT_TRUE(sink.Open(Utf8ToUnicode(fPath)));
    constexpr int kThreads = 4, kLines = 300;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&sink, t] {
            for (int i = 0; i < kLines; ++i) {
                if (i % 2)
                    sink.AddLogFmt(dlDebug, u"thread %d line %d payload %s", {t, i, UnicodeString(40, u'x')});
                else
                    sink.AddLog(dlDetail, Format(u"thread %d line %d payload %s", {t, i, UnicodeString(40, u'x')}));
                if (i == kLines / 2 && t == 0) sink.SetMaxLevel(dlDebug);  // racing setter
            }
        });
    for (auto& th : threads) th.join();

    const auto lines = ReadLines();
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
    std::vector<int> perThread(kThreads, 0);
    const std::string payload = " payload " + std::string(40, 'x');
    for (const auto& l : lines) {
        ASSERT_TRUE(HasTimeStamp(l)) << l;
        const std::string body = Body(l);
        ASSERT_TRUE(body.rfind("[detail] thread ", 0) == 0 || body.rfind("[debug ] thread ", 0) == 0) << l;
        ASSERT_GE(body.size(), payload.size());
        ASSERT_EQ(body.substr(body.size() - payload.size()), payload) << l;
        std::istringstream fields(body.substr(16));
        int thread = -1, line = -1;
        std::string word;
        fields >> thread >> word >> line;
        ASSERT_EQ(word, "line") << l;
        ASSERT_TRUE(thread >= 0 && thread < kThreads && line >= 0 && line < kLines) << l;
        ++perThread[thread];
    }
    for (int n : perThread) EXPECT_EQ(n, kLines);
    EXPECT_EQ(sink.WriteFailures(), 0u);
}

TEST_F(LogFileTest, ASinkThatCannotWriteCountsTheFailureAndNeverStopsTheComponent)
{
    TnrLogFile sink(nullptr);
    // /dev/full accepts the open and fails every write with ENOSPC.
    ASSERT_TRUE(sink.Open(u"/dev/full"));
    TFakeIO io(nullptr);
    io.SetLog(&sink);
    EXPECT_NO_THROW(io.LogMessage(dlSimple, u"The port is closed succesfully"));
    EXPECT_NO_THROW(io.LogMessageFmt(dlDebug, u"Try to send the data with %d length ...", {5}));
    EXPECT_EQ(sink.WriteFailures(), 2u);
    EXPECT_EQ(sink.LinesWritten(), 0u);
    EXPECT_NE(sink.LastErrorText().find("/dev/full"), std::string::npos) << sink.LastErrorText();

    // A file that cannot be opened: the open says so, later lines are failures.
    TnrLogFile missing(nullptr);
    EXPECT_FALSE(missing.Open(Utf8ToUnicode(fDir + "/no/such/dir/x.log")));
    EXPECT_NE(missing.LastErrorText().find("cannot open"), std::string::npos);
    EXPECT_NO_THROW(missing.AddLog(dlSimple, u"lost"));
    EXPECT_EQ(missing.WriteFailures(), 1u);
    io.SetLog(nullptr);
}

TEST_F(LogFileTest, ClearDropsWhatTheFileHoldsAndTheSinkGoesOn)
{
    TnrLogFile sink(nullptr);
    ASSERT_TRUE(sink.Open(Utf8ToUnicode(fPath)));
    sink.AddLog(dlSimple, u"old");
    sink.Clear();
    EXPECT_TRUE(ReadLines().empty());
    sink.AddLog(dlSimple, u"new");
    sink.Save();
    const auto lines = ReadLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(Body(lines[0]), "[simple] new");
}

TEST_F(LogFileTest, CommandLineAttachesASinkOnlyWhenAsked)
{
    TFakeIO io(nullptr);
    std::string error;
    {
        const char* argv[] = {"spectrometer", "-platform", "offscreen"};
        EXPECT_EQ(AttachLogFromCommandLine(&io, 3, argv, error), nullptr);
        EXPECT_EQ(error, "");
        EXPECT_EQ(io.GetLog(), nullptr);
    }
    {
        const std::string opt = "--log=" + fPath;
        const char* argv[] = {"spectrometer", opt.c_str(), "--log-level", "detail"};
        TnrLogFile* sink = AttachLogFromCommandLine(&io, 4, argv, error);
        ASSERT_NE(sink, nullptr) << error;
        EXPECT_EQ(io.GetLog(), sink);
        EXPECT_EQ(sink->Owner(), &io);
        EXPECT_EQ(sink->GetMaxLevel(), dlDetail);
        io.LogMessage(dlDetail, u"Configuration was loaded");
        io.LogMessage(dlDebug, u"not wanted");
        const auto lines = ReadLines();
        ASSERT_EQ(lines.size(), 2u);  // the system line, then ours
        EXPECT_NE(lines[0].find("System: "), std::string::npos);
        EXPECT_EQ(Body(lines[1]), "[detail] fake: Configuration was loaded");
        delete sink;
        EXPECT_EQ(io.GetLog(), nullptr);
    }
    {
        const char* argv[] = {"spectrometer", "--log", "-", "--log-level=simple"};
        TnrLogFile* sink = AttachLogFromCommandLine(&io, 4, argv, error);
        ASSERT_NE(sink, nullptr) << error;
        EXPECT_EQ(sink->GetFileName(), u"-");
        EXPECT_EQ(sink->GetMaxLevel(), dlSimple);
        delete sink;
    }
    for (auto args :
         {std::vector<const char*>{"p", "--log"}, std::vector<const char*>{"p", "--log", "x", "--log-level", "loud"},
          std::vector<const char*>{"p", "--log-level"}}) {
        EXPECT_EQ(AttachLogFromCommandLine(&io, static_cast<int>(args.size()), args.data(), error), nullptr);
        EXPECT_NE(error, "");
    }
    const std::string bad = fDir + "/no/such/dir/x.log";
    const char* argv[] = {"p", "--log", bad.c_str()};
    EXPECT_EQ(AttachLogFromCommandLine(&io, 3, argv, error), nullptr);
    EXPECT_NE(error.find("cannot open"), std::string::npos);
    EXPECT_EQ(io.GetLog(), nullptr);
}

}  // namespace
