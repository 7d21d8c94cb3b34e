// Reply framing, line interpretation and exposure conversions without widgets.
#include "app/acquisition.h"
#include "app/calibration.h"
#include "tests/app/helpers.h"
#include "tests/support/fake_view.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

class Acquisition : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetAcquisitionState();
        FormatSettings.DecimalSeparator = u'.';
    }
    // Feeds one chunk and collects the lines it completes.
    void Feed(const std::string& Bytes)
    {
        FrameReceivedBytes(reinterpret_cast<const std::uint8_t*>(Bytes.data()),
                           static_cast<std::uint32_t>(Bytes.size()),
                           [this](const UnicodeString& L) { Lines.push_back(L); });
    }
    // Feeds one chunk through the interpreter, as the main window does.
    void Receive(const std::string& Bytes)
    {
        FrameReceivedBytes(reinterpret_cast<const std::uint8_t*>(Bytes.data()),
                           static_cast<std::uint32_t>(Bytes.size()),
                           [this](const UnicodeString& L) { InterpretReplyLine(L, View); });
    }
    std::vector<UnicodeString> Lines;
    TFakeView View;
};

TEST_F(Acquisition, LineSpanningThreeChunksIsDeliveredOnce)
{
    Feed("12 34");
    Feed("5\r");
    EXPECT_TRUE(Lines.empty());
    Feed("\n");
    ASSERT_EQ(Lines.size(), 1u);
    EXPECT_EQ(Lines[0], u"12 345");
    EXPECT_TRUE(RxLine.empty());
    EXPECT_EQ(LineEndPos, 1);
}

TEST_F(Acquisition, CrCrLfEndsNoLineAndLoneLfIsData)
{
    // The second CR is taken as data without being compared with CR again.
    Feed("ab\r\r\ncd\r\n");
    ASSERT_EQ(Lines.size(), 1u);
    EXPECT_EQ(Lines[0], u"ab\r\ncd");
    Lines.clear();
    Feed("x\ny\r\n\r\n");
    ASSERT_EQ(Lines.size(), 2u);
    EXPECT_EQ(Lines[0], u"x\ny");
    EXPECT_EQ(Lines[1], u"");  // CR LF right after a line end
}

TEST_F(Acquisition, ReceivedBytesAreWindows1252)
{
    Feed(
        "23\xB0"
        "C\r\n");
    ASSERT_EQ(Lines.size(), 1u);
    EXPECT_EQ(Lines[0], u"23\u00B0C");
}

TEST_F(Acquisition, PointLineUsesCalibrationAndKeepsCountText)
{
    CalSlope = 2;
    CalOffset = 400;
    PointCount = 5;
    Receive("57 100\r\n57 0100\r\n");
    ASSERT_EQ(View.List.size(), 2u);
    EXPECT_EQ(View.List[0], u"514 100");
    EXPECT_EQ(View.List[1], u"514 0100");
    EXPECT_EQ(Counts[5], 100);
    EXPECT_EQ(Counts[6], 100);
    EXPECT_EQ(PointCount, 7);
}

// Expected texts worked out from the exact 80-bit values (64-bit significand,
// one rounding per operation): narrowing the wavelength to a double before
// formatting changes the 15th digit of each of these.
TEST_F(Acquisition, WavelengthIsFormattedFromTheExtendedValue)
{
    CalSlope = 2.15789473684211;  // the dialog's initial calibration
    CalOffset = 409;
    Receive("77 5\r\n");
    // Calibrated with 532 nm at index 57 and 655 nm at index 100.
    const TCalibration cal = ComputeCalibration(532, 655, 57, 100);
    EXPECT_EQ(cal.Slope, 2.86046511627907);
    EXPECT_EQ(cal.Offset, 368.95348837209303);
    CalSlope = cal.Slope;
    CalOffset = cal.Offset;
    Receive("21 1\r\n35 2\r\n64 3\r\n107 4\r\n");
    EXPECT_EQ(View.List, (std::vector<UnicodeString>{u"575.157894736842 5", u"429.023255813954 1", u"469.06976744186 2",
                                                     u"552.023255813954 3", u"675.023255813954 4"}));
}

TEST_F(Acquisition, UncalibratedWavelengthIsZero)
{
    Receive("3.5 12\r\n");
    ASSERT_EQ(View.List.size(), 1u);
    EXPECT_EQ(View.List[0], u"0 12");
}

TEST_F(Acquisition, KeyLines)
{
    Receive("CT:10000\r\nRN:V\r\nXY:1\r\nnothing\r\n");
    EXPECT_EQ(CaptureTime, 10000);
    EXPECT_TRUE(View.List.empty());
    EXPECT_EQ(PointCount, 0);
}

TEST_F(Acquisition, KeyLineWithSpaceFailsOnIndexAfterStoringCount)
{
    PointCount = 3;
    EXPECT_EQ(MessageOf<EConvertError>([&] { Receive("CT: 10000\r\n"); }), u"'CT:' ist kein gültiger Gleitkommawert");
    EXPECT_EQ(CaptureTime, 0);
    EXPECT_EQ(Counts[3], 10000);  // written before the index failed
    EXPECT_EQ(PointCount, 3);     // the next point overwrites the slot
    EXPECT_TRUE(View.List.empty());
}

TEST_F(Acquisition, BadCountChangesNothing)
{
    EXPECT_THROW(Receive("57 1x\r\n"), EConvertError);
    EXPECT_EQ(Counts[0], 0);
    EXPECT_EQ(PointCount, 0);
    EXPECT_TRUE(View.List.empty());
}

TEST_F(Acquisition, FailedLineDoesNotLeakIntoNextAndRestOfChunkIsRead)
{
    // One chunk: a bad line between two good ones. Both good ones are read,
    // the error is raised after the chunk.
    EXPECT_THROW(Receive("1 10\r\nCT:abc\r\n2 20\r\n"), EConvertError);
    ASSERT_EQ(View.List.size(), 2u);
    EXPECT_EQ(View.List[1], u"0 20");
    EXPECT_EQ(PointCount, 2);
    Receive("3 30\r\n");
    ASSERT_EQ(View.List.size(), 3u);
    EXPECT_EQ(View.List[2], u"0 30");
}

TEST_F(Acquisition, SeveralFailuresInOneChunkAreAllReported)
{
    EXPECT_EQ(MessageOf<EConvertError>([&] { Receive("a 1\r\nb 2\r\n"); }),
              u"'a' ist kein gültiger Gleitkommawert\r'b' ist kein gültiger Gleitkommawert");
}

TEST_F(Acquisition, HugeFailedLineGivesAShortMessageAndItsMemoryBack)
{
    // 4 MiB without a terminator, in receive-buffer sized chunks.
    const std::string chunk(4096, 'x');
    Receive("1 ");
    for (int i = 0; i < 1024; ++i) Receive(chunk);
    EXPECT_EQ(RxLine.size(), 2u + 4096 * 1024);
    EXPECT_EQ(MessageOf<EConvertError>([&] { Receive("\r\n"); }),
              u"'" + UnicodeString(200, u'x') + u"\u2026' ist kein gültiger Integerwert");
    EXPECT_LE(RxLine.capacity(), 64u * 1024);
    Receive("2 20\r\n");
    ASSERT_EQ(View.List.size(), 1u);
    EXPECT_EQ(View.List[0], u"0 20");
}

TEST_F(Acquisition, The128thPointCompletesTheSpectrumOnceAndExtraPointsStayInside)
{
    std::string capture;
    for (int i = 0; i < 127; ++i) capture += std::to_string(i) + " " + std::to_string(i + 1) + "\r\n";
    Receive(capture);
    EXPECT_EQ(View.Completed, 0);
    Receive("127 999\r\n");
    EXPECT_EQ(View.Completed, 1);
    EXPECT_EQ(Counts[0], 1);
    EXPECT_EQ(Counts[127], 999);
    // Extra points still make list lines and advance the counter, but have no
    // slot: Counts keeps the capture, nothing redraws.
    Receive("128 5\r\n129 6\r\n");
    EXPECT_EQ(View.Completed, 1);
    EXPECT_EQ(PointCount, 130);
    EXPECT_EQ(View.List.size(), 130u);
    EXPECT_EQ(Counts[127], 999);
    EXPECT_EQ(Counts[0], 1);
}

TEST_F(Acquisition, TemperatureLine)
{
    struct Case {
        std::string Line;
        UnicodeString C, F;
    } cases[] = {{"23.45", u"23.45", u"74.21"}, {"23.456C", u"23.456", u"74.221"}, {"20", u"20", u"68"}};
    for (const auto& c : cases) {
        View.Command = u"t";
        View.Exposure = u"2.5";
        View.List = {u"old"};
        Receive(c.Line + "\r\n");
        EXPECT_EQ(View.Celsius, c.C) << c.Line;
        EXPECT_EQ(View.Fahrenheit, c.F) << c.Line;
        EXPECT_EQ(View.Command, u"s2500");
        EXPECT_TRUE(View.List.empty());
    }
}

TEST_F(Acquisition, FailedTemperatureLineKeepsQueryAndNextLineIsTemperatureAgain)
{
    View.Command = u"t";
    View.Fahrenheit = u"old";
    EXPECT_THROW(Receive("ab.cdef\r\n"), EConvertError);
    EXPECT_EQ(View.Celsius, u"ab.cde");
    EXPECT_EQ(View.Fahrenheit, u"old");
    EXPECT_EQ(View.Command, u"t");
    Receive("21.000C\r\n");
    EXPECT_EQ(View.Celsius, u"21.000");
    EXPECT_EQ(View.Fahrenheit, u"69.8");
    EXPECT_EQ(View.Command, u"s10000");
}

TEST_F(Acquisition, OtherCommandLinesIgnoreReplies)
{
    for (const UnicodeString cmd : {u"x", u"", u"S100", u"tt"}) {
        View.Command = cmd;
        Receive("57 100\r\nCT:5\r\n23.4\r\n");
        EXPECT_TRUE(View.List.empty());
        EXPECT_EQ(CaptureTime, 0);
        EXPECT_TRUE(View.Celsius.empty());
        EXPECT_EQ(View.Command, cmd);
    }
}

TEST_F(Acquisition, ExposureConversions)
{
    EXPECT_EQ(CaptureCommandFor(u"2.5"), u"s2500");
    EXPECT_EQ(CaptureCommandFor(u"0.5"), u"s500");
    EXPECT_EQ(CaptureCommandFor(u"45"), u"s45000");
    EXPECT_EQ(TenthsFromExposure(u"45"), u"450");
    EXPECT_EQ(ExposureFromTenths(u"15"), u"1.5");
    EXPECT_EQ(ExposureFromTenths(u"300"), u"30");
    EXPECT_EQ(MessageOf<EConvertError>([] { CaptureCommandFor(u""); }), u"'' ist kein gültiger Gleitkommawert");
}

TEST_F(Acquisition, FahrenheitUsesFiveSignificantDigits)
{
    EXPECT_EQ(FahrenheitText(23.456), u"74.221");
    EXPECT_EQ(FahrenheitText(-17.5), u"0.5");
    EXPECT_EQ(FahrenheitText(99999), u"1.8003E005");
}

TEST_F(Acquisition, CommandBytesEndWithCrLfInWindows1252)
{
    EXPECT_EQ(CommandBytes(u"s1000"), "s1000\r\n");
    EXPECT_EQ(CommandBytes(u"\u00E4"), "\xE4\r\n");
}

TEST_F(Acquisition, GermanLocaleDoesNotChangeConversions)
{
    // Qt sets the C locale from the environment; our conversions must not follow it.
    const char* old = std::setlocale(LC_ALL, nullptr);
    const std::string saved = old ? old : "C";
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) {
        // The one compiled into the build folder.
        setenv("LOCPATH", SPECTRO_LOCALE_DIR, 1);
        if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "no German locale available";
    }
    // The C library now writes a decimal comma; our conversions must not.
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    ASSERT_STREQ(probe, "1,5");
    CalSlope = 2.5;
    CalOffset = 0.25;
    Receive("1.5 7\r\n");
    std::setlocale(LC_ALL, saved.c_str());
    ASSERT_EQ(View.List.size(), 1u);
    EXPECT_EQ(View.List[0], u"4 7");
}

}  // namespace
