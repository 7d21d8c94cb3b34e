// Plot geometry and peak search, the calibration file and the export file.
#include "app/calibration.h"
#include "app/export.h"
#include "app/plot.h"
#include "tests/app/helpers.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <csignal>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

UnicodeString Path(const fs::path& P) { return Utf8ToUnicode(P.string()); }

class TempDir : public ::testing::Test {
protected:
    void SetUp() override
    {
        FormatSettings.DecimalSeparator = u'.';
        Dir = fs::temp_directory_path() /
              ("spectro-app-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(Dir);
        fs::create_directories(Dir);
    }
    void TearDown() override { fs::remove_all(Dir); }
    fs::path Dir;
};

// --- plot --------------------------------------------------------------------

TEST(Plot, RoundingGoesToTheEvenNeighbour)
{
    EXPECT_EQ(RoundHalfEven(16.5), 16);
    EXPECT_EQ(RoundHalfEven(17.5), 18);
    EXPECT_EQ(RoundHalfEven(-0.5), 0);
    EXPECT_EQ(RoundHalfEven(-1.5), -2);
    EXPECT_EQ(RoundHalfEven(2.4999), 2);
    EXPECT_EQ(RoundHalfEven(2.5001), 3);
}

TEST(Plot, CountsMapOntoFullScaleOf1024)
{
    std::array<std::int32_t, SpectrumPoints> c{};
    c[0] = 512;
    c[1] = 1024;
    c[2] = 832;
    c[3] = 0;
    c[4] = 2048;  // not clamped: above the bitmap
    c[5] = -100;  // below it
    const TSpectrumPlot p = ComputeSpectrumPlot(c, 167, 88);
    EXPECT_EQ(p.Start, (TPlotPoint{0, 44}));
    EXPECT_EQ(p.Points[0].Y, 44);
    EXPECT_EQ(p.Points[1].Y, 0);
    EXPECT_EQ(p.Points[2].Y, 16);  // 16.5 to the even neighbour
    EXPECT_EQ(p.Points[3].Y, 88);  // one row below the bitmap
    EXPECT_EQ(p.Points[4].Y, -88);
    EXPECT_EQ(p.Points[5].Y, 97);
    EXPECT_EQ(p.Points[0].X, 0);
    EXPECT_EQ(p.Points[127].X, 167);
    EXPECT_EQ(p.Points[64].X, 84);  // 84.157...
}

TEST(Plot, PeakTiesGoToTheFirstPosition)
{
    std::array<std::int32_t, SpectrumPoints> c{};
    c[0] = 5;
    c[1] = 9;
    c[2] = 9;
    TSpectrumPlot p = ComputeSpectrumPlot(c, 167, 88);
    EXPECT_EQ(p.Peak, 1);
    EXPECT_EQ(p.Max, 9);
    EXPECT_EQ(p.MarkerX, 1);
    EXPECT_EQ(PeakMessage(p), u"1;9");

    c.fill(-7);
    p = ComputeSpectrumPlot(c, 167, 88);
    EXPECT_EQ(PeakMessage(p), u"0;-5");  // nothing exceeds the start value

    c.fill(0);
    c[127] = 1000;
    p = ComputeSpectrumPlot(c, 167, 88);
    EXPECT_EQ(PeakMessage(p), u"127;1000");
    EXPECT_EQ(p.MarkerX, 167);
}

// --- calibration -------------------------------------------------------------

TEST(Calibration, TwoPointRule)
{
    const TCalibration a = ComputeCalibration(532, 655, 57, 114);
    EXPECT_EQ(FloatToStr(a.Slope), u"2.15789473684211");
    EXPECT_EQ(FloatToStr(a.Offset), u"409");
    const TCalibration b = ComputeCalibration(500, 600, 40, 90);
    EXPECT_EQ(b.Slope, 2);
    EXPECT_EQ(b.Offset, 420);
    const TCalibration swapped = ComputeCalibration(600, 500, 90, 40);
    EXPECT_EQ(FloatToStr(swapped.Slope), FloatToStr(b.Slope));
    EXPECT_EQ(FloatToStr(swapped.Offset), FloatToStr(b.Offset));
}

TEST(Calibration, EqualIndicesFailLikeTheFpu)
{
    EXPECT_EQ(MessageOf<EZeroDivide>([] { ComputeCalibration(532, 655, 57, 57); }), u"Gleitkommadivision durch Null");
    EXPECT_EQ(MessageOf<EInvalidOp>([] { ComputeCalibration(532, 532, 57, 57); }), u"Ungültige Gleitkommaoperation");
}

TEST_F(TempDir, CalibrationFileRoundTrip)
{
    fs::create_directories(Dir / "data");
    const UnicodeString file = CalibrationFilePath(Path(Dir) + u"/");
    EXPECT_EQ(file, Path(Dir / "data" / "conf.dat"));
    const TCalibration a = ComputeCalibration(532, 655, 57, 114);
    SaveCalibration(file, a.Slope, a.Offset);
    EXPECT_EQ(ReadAll(Dir / "data" / "conf.dat"), "2.15789473684211\r\n409\r\n");
    double slope = 0, offset = 0;
    LoadCalibration(file, slope, offset);
    EXPECT_EQ(FloatToStr(slope), u"2.15789473684211");
    EXPECT_EQ(offset, 409);
    // Index 57 maps back to 532 nm through the stored 15-digit slope.
    EXPECT_EQ(FloatToStr(static_cast<double>(57.0L * slope + offset)), u"532");
}

TEST_F(TempDir, CalibrationFileLineEndsAndBom)
{
    const fs::path f = Dir / "conf.dat";
    double slope = 0, offset = 0;
    const std::vector<std::string> contents = {
        "2\n420\n",
        "2\r420",
        "\xEF\xBB\xBF"
        "2\r\n420\r\nextra\r\n",
        std::string("\xFF\xFE"
                    "2\0\r\0\n\0"
                    "4\0"
                    "2\0"
                    "0\0",
                    14),  // UTF-16 little-endian
        std::string("\xFE\xFF"
                    "\0"
                    "2\0\n\0"
                    "4\0"
                    "2\0"
                    "0",
                    12),  // UTF-16 big-endian
    };
    for (const std::string& content : contents) {
        WriteAll(f, content);
        slope = offset = 0;
        LoadCalibration(Path(f), slope, offset);
        EXPECT_EQ(slope, 2) << content;
        EXPECT_EQ(offset, 420) << content;
    }
}

TEST_F(TempDir, CalibrationFileFailures)
{
    const fs::path f = Dir / "conf.dat";
    double slope = 0, offset = 0;
    EXPECT_THROW(LoadCalibration(Path(f), slope, offset), EFOpenError);

    const auto load = [&] { LoadCalibration(Path(f), slope, offset); };

    WriteAll(f, "3\r\n");
    EXPECT_EQ(MessageOf<EListError>(load), u"Listenindex überschreitet das Maximum (1)");
    EXPECT_EQ(slope, 3);  // read before the second line was missed
    EXPECT_EQ(offset, 0);

    WriteAll(f, "");
    EXPECT_EQ(MessageOf<EListError>(load), u"Listenindex überschreitet das Maximum (0)");

    WriteAll(f, "4\r\nvier\r\n");
    EXPECT_EQ(MessageOf<EConvertError>(load), u"'vier' ist kein gültiger Gleitkommawert");
    EXPECT_EQ(slope, 4);
}

TEST_F(TempDir, CalibrationSaveWithoutDataFolderFailsAndCreatesNothing)
{
    const UnicodeString file = CalibrationFilePath(Path(Dir) + u"/");
    const UnicodeString message = MessageOf<EFCreateError>([&] { SaveCalibration(file, 2, 420); });
    const UnicodeString prefix = u"Datei \"" + file + u"\" kann nicht erstellt werden. ";
    EXPECT_EQ(message.substr(0, prefix.size()), prefix) << ToUtf8(message);
    EXPECT_GT(message.size(), prefix.size());  // the system's reason follows
    EXPECT_FALSE(fs::exists(Dir / "data"));
}

// An installed copy (bin/ without data/ beside it) keeps the file in the
// user's data folder and starts it with the dialog's initial lines; a program
// with data/ beside it keeps the file there and gets nothing created.
TEST_F(TempDir, CalibrationFileOfAnInstalledCopy)
{
    const std::string oldXdg = getenv("XDG_DATA_HOME") ? getenv("XDG_DATA_HOME") : "";
    const std::string oldHome = getenv("HOME") ? getenv("HOME") : "";
    const UnicodeString bin = Path(Dir / "usr" / "bin") + u"/";
    fs::create_directories(Dir / "usr" / "bin");

    setenv("XDG_DATA_HOME", (Dir / "xdg").c_str(), 1);
    const fs::path user = Dir / "xdg" / "spectrometer" / "data" / "conf.dat";
    EXPECT_EQ(CalibrationFilePath(bin), Path(user));
    PrepareCalibrationFile(bin);
    EXPECT_EQ(ReadAll(user), "2.15789473684211\r\n409\r\n");
    SaveCalibration(CalibrationFilePath(bin), 2, 420);
    PrepareCalibrationFile(bin);  // a saved calibration is kept
    EXPECT_EQ(ReadAll(user), "2\r\n420\r\n");

    // A relative XDG_DATA_HOME does not count: HOME's .local/share.
    setenv("XDG_DATA_HOME", "relative", 1);
    setenv("HOME", (Dir / "home").c_str(), 1);
    EXPECT_EQ(CalibrationFilePath(bin), Path(Dir / "home" / ".local" / "share" / "spectrometer" / "data" / "conf.dat"));

    // bin/ with data/ beside it, and any other folder: beside the executable.
    fs::create_directories(Dir / "usr" / "bin" / "data");
    EXPECT_EQ(CalibrationFilePath(bin), bin + u"data/conf.dat");
    const UnicodeString other = Path(Dir / "build") + u"/";
    EXPECT_EQ(CalibrationFilePath(other), other + u"data/conf.dat");
    PrepareCalibrationFile(other);
    EXPECT_FALSE(fs::exists(Dir / "build"));
    EXPECT_FALSE(fs::exists(Dir / "home"));

    oldXdg.empty() ? unsetenv("XDG_DATA_HOME") : setenv("XDG_DATA_HOME", oldXdg.c_str(), 1);
    setenv("HOME", oldHome.c_str(), 1);
}

// Windows: a marker beside the executable or a folder the program cannot
// write to means installed (the user's roaming data folder); otherwise, or
// without that folder, data\conf.dat beside the executable.
TEST(Calibration, WindowsFileLocation)
{
    const UnicodeString exe = u"C:\\Spektrometer\\", appData = u"C:\\Users\\u\\AppData\\Roaming";
    const UnicodeString beside = u"C:\\Spektrometer\\data\\conf.dat";
    const UnicodeString user = u"C:\\Users\\u\\AppData\\Roaming\\Spektrometer\\data\\conf.dat";
    EXPECT_EQ(WindowsCalibrationFilePath(exe, false, true, appData), beside);
    EXPECT_EQ(WindowsCalibrationFilePath(exe, true, true, appData), user);
    EXPECT_EQ(WindowsCalibrationFilePath(exe, false, false, appData), user);
    EXPECT_EQ(WindowsCalibrationFilePath(exe, true, false, appData), user);
    EXPECT_EQ(WindowsCalibrationFilePath(exe, true, false, appData + u"\\"), user);
    EXPECT_EQ(WindowsCalibrationFilePath(exe, true, false, u""), beside);
}

#ifndef _WIN32
// A save whose bytes do not all fit (a file size limit, in a child process)
// keeps the old calibration and reports that the file could not be created.
TEST_F(TempDir, FailedCalibrationSaveKeepsTheOldFile)
{
    fs::create_directories(Dir / "data");
    const UnicodeString file = CalibrationFilePath(Path(Dir) + u"/");
    SaveCalibration(file, 2, 420);
    const std::string old = ReadAll(Dir / "data" / "conf.dat");
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{8, 8};
        setrlimit(RLIMIT_FSIZE, &limit);
        std::string result = "saved";
        try {
            SaveCalibration(file, 2.15789473684211, 409);
        } catch (const EFCreateError& e) {
            result = ToUtf8(e.Message());
        } catch (const Exception& e) {
            result = "other error: " + ToUtf8(e.Message());
        }
        ssize_t written = write(out[1], result.data(), result.size());
        _exit(written == static_cast<ssize_t>(result.size()) ? 0 : 1);
    }
    close(out[1]);
    std::string message;
    char buffer[512];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) message.append(buffer, static_cast<std::size_t>(n));
    close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(message,
              "Datei \"" + ToUtf8(file) +
                  "\" kann nicht erstellt werden. Auf dem Datenträger ist nicht genügend Speicherplatz vorhanden");
    EXPECT_EQ(ReadAll(Dir / "data" / "conf.dat"), old);
    EXPECT_EQ(std::distance(fs::directory_iterator(Dir / "data"), fs::directory_iterator()), 1)
        << "no temporary file is left";
}
#endif

// --- export ------------------------------------------------------------------

TEST(Export, FileNameAndTargetRules)
{
    struct Case {
        UnicodeString Chosen, File, Target;
    } cases[] = {
        {u"/home/u/Messungen/Natrium", u"/home/u/Messungen/Natrium.dat", u"Natrium"},
        {u"/m/Natrium.dat", u"/m/Natrium.dat", u"Natrium"},
        {u"/m/probe.dat.txt", u"/m/probe.dat.txt", u"probe"},
        {u"/m/NATRIUM.DAT", u"/m/NATRIUM.DAT.dat", u"NATRIUM.DAT"},
        {u"/m/x.dat/probe", u"/m/x.dat/probe", u""},
        {u"/m/.dat", u"/m/.dat", u""},
    };
    for (const auto& c : cases) {
        const UnicodeString file = ExportFileName(c.Chosen);
        EXPECT_EQ(file, c.File) << ToUtf8(c.Chosen);
        EXPECT_EQ(TargetName(file), c.Target) << ToUtf8(c.Chosen);
    }
}

TEST(Export, HeaderCarriesCaptureTimeInMilliseconds)
{
    EXPECT_EQ(ExportHeader(u"/a/N.dat", 0)[2], u"ExpTime: 0ms");
    EXPECT_EQ(ExportHeader(u"/a/N.dat", 10000)[2], u"ExpTime: 10ms");
    EXPECT_EQ(ExportHeader(u"/a/N.dat", 1500)[2], u"ExpTime: 1.5ms");
    EXPECT_EQ(ExportHeader(u"/a/N.dat", 1)[2], u"ExpTime: 0.001ms");
}

TEST_F(TempDir, ExportWritesHeaderAndListAsWindows1252WithCrLf)
{
    const fs::path f = Dir / "Natrium.dat";
    WriteAll(f, "an older, longer file that must be replaced entirely\r\n");
    WriteSpectrumFile(Path(f), 1500, {u"532 700", u"534.5 0100", u"\u00B0 1"});
    EXPECT_EQ(ReadAll(f),
              "Target: Natrium\r\n"
              "Comment: Schulspektrum\r\n"
              "ExpTime: 1.5ms\r\n"
              "Factor: 0.001\r\n"
              "WL     CTS\r\n"
              "532 700\r\n"
              "534.5 0100\r\n"
              "\xB0 1\r\n");
    WriteSpectrumFile(Path(f), 0, {});
    EXPECT_EQ(ReadAll(f),
              "Target: Natrium\r\nComment: Schulspektrum\r\nExpTime: 0ms\r\nFactor: 0.001\r\nWL     CTS\r\n");
}

TEST_F(TempDir, ExportFailures)
{
    // A folder in the way of the file: access denied, as on Windows.
    fs::create_directories(Dir / "busy.dat");
    try {
        WriteSpectrumFile(Path(Dir / "busy.dat"), 0, {});
        FAIL();
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.Message(), u"Dateizugriff verweigert");
        EXPECT_EQ(e.ErrorCode, 5);
    }
    // A missing folder: the system's error number.
    EXPECT_EQ(MessageOf<EInOutError>([&] { WriteSpectrumFile(Path(Dir / "missing" / "a.dat"), 0, {}); }),
              u"E/A-Fehler 3");
    // errno goes through the Win32 code to the runtime's text: EIO is not
    // "access denied" (5) but the system's general failure (31).
    EXPECT_EQ(InOutErrorFromErrno(EIO).ErrorCode, 31);
    EXPECT_EQ(InOutErrorFromErrno(EIO).Message(), u"E/A-Fehler 31");
    EXPECT_EQ(InOutErrorFromErrno(EACCES).Message(), u"Dateizugriff verweigert");
    EXPECT_EQ(InOutErrorFromErrno(ENOSPC).ErrorCode, 112);
    // A full disk while writing the lines.
    if (fs::exists("/dev/full")) {
        EXPECT_EQ(MessageOf<EInOutError>([] { WriteSpectrumFile(u"/dev/full", 0, {u"1 2"}); }),
                  u"Zu wenig Speicherplatz");
    }
}

}  // namespace
