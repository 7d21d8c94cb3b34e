// The Windows program under Wine, against the simulated instrument on a kernel
// pty that a COM port of the Wine prefix points to: the capture scenario of the
// Linux program, the main window's picture (plot, controls at their bounds), and
// the spectrum window's pictures (a capture; the absorbance of a dye).
// Run by the Windows build's tests with SPECTRO_WINDOWS_EXE, SPECTRO_WINE_RUN and
// SPECTRO_WINE_DIR set, on a display (Xvfb).
#include "tests/app/helpers.h"
#include "tests/e2e/capture_scenario.h"
#include "tools/spectrosim/instrument.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <array>
#include <cstdlib>
#include <sstream>

namespace fs = std::filesystem;
using namespace std::chrono;

namespace {

std::string Setting(const char* Name)
{
    const char* v = std::getenv(Name);
    return v ? v : "";
}

// A path of this system as a Windows program under Wine sees it (drive Z:).
std::string WinePath(const fs::path& P)
{
    std::string s = "Z:" + P.string();
    for (char& c : s)
        if (c == '/') c = '\\';
    return s;
}

// An 8-bit RGB picture as the program's PNG writer stores it (no filters).
struct TPicture {
    int Width = 0, Height = 0;
    std::string Rgb;
    std::array<int, 3> At(int X, int Y) const
    {
        const std::size_t i =
            (static_cast<std::size_t>(Y) * static_cast<std::size_t>(Width) + static_cast<std::size_t>(X)) * 3 +
            static_cast<std::size_t>(Y) + 1;
        return {static_cast<unsigned char>(Rgb[i]), static_cast<unsigned char>(Rgb[i + 1]),
                static_cast<unsigned char>(Rgb[i + 2])};
    }
};

std::uint32_t U32(const std::string& S, std::size_t At)
{
    return static_cast<std::uint32_t>(static_cast<unsigned char>(S[At])) << 24 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(S[At + 1])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(S[At + 2])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(S[At + 3]));
}

bool ReadPng(const std::string& Png, TPicture& Out)
{
    if (Png.size() < 33 || Png.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 || Png.compare(12, 4, "IHDR") != 0) return false;
    Out.Width = static_cast<int>(U32(Png, 16));
    Out.Height = static_cast<int>(U32(Png, 20));
    std::string deflated;
    for (std::size_t at = 8; at + 12 <= Png.size();) {
        const std::uint32_t length = U32(Png, at);
        if (Png.compare(at + 4, 4, "IDAT") == 0) deflated += Png.substr(at + 8, length);
        at += 12 + length;
    }
    Out.Rgb.resize(static_cast<std::size_t>(Out.Height) * (1 + 3 * static_cast<std::size_t>(Out.Width)));
    uLongf size = Out.Rgb.size();
    return uncompress(reinterpret_cast<Bytef*>(Out.Rgb.data()), &size, reinterpret_cast<const Bytef*>(deflated.data()),
                      deflated.size()) == Z_OK &&
           size == Out.Rgb.size();
}

// The origin "screenshot X Y" reports, after the lines already in Seen.
bool ReadShotOrigin(Process& Program, std::vector<std::string>& Seen, int& X, int& Y)
{
    if (!Program.ReadUntil("screenshot ", Seen, seconds(60))) return false;
    std::istringstream(Seen.back().substr(11)) >> X >> Y;
    return true;
}

// The black frame of the spectrum window's data area in its picture at a client
// size of Width x Height: the plot at 8, 8 grows with the window, the side panel
// keeps 280 pixels and the rows below the plot 220.
struct TFrameLines {
    int Left, Top, Right, Bottom;
};

TFrameLines SpectrumFrame(int OriginX, int OriginY, int Width, int Height)
{
    return {OriginX + 8 + 47, OriginY + 8 + 7, OriginX + 8 + (Width - 280) - 10, OriginY + 8 + (Height - 220) - 34};
}

// The picture of the whole client area, the data area framed in black, the
// curve drawn in red inside it.
void CheckSpectrumPicture(const TPicture& Shot, int OriginX, int OriginY, int Width, int Height)
{
    EXPECT_EQ(Shot.Width, Width);
    ASSERT_EQ(Shot.Height, OriginY + Height);
    const std::array<int, 3> black{0, 0, 0}, red{255, 0, 0};
    // Parts not taken from the screen stay black.
    const auto face = Shot.At(OriginX + 2, OriginY + Height - 2);
    EXPECT_NE(face, black);
    EXPECT_EQ(Shot.At(OriginX + Width - 2, OriginY + Height - 2), face);
    const TFrameLines F = SpectrumFrame(OriginX, OriginY, Width, Height);
    int frame = 0;
    for (int x = F.Left; x <= F.Right; ++x) frame += (Shot.At(x, F.Top) == black) + (Shot.At(x, F.Bottom) == black);
    for (int y = F.Top; y <= F.Bottom; ++y) frame += (Shot.At(F.Left, y) == black) + (Shot.At(F.Right, y) == black);
    EXPECT_EQ(frame, 2 * (F.Right - F.Left + 1) + 2 * (F.Bottom - F.Top + 1));
    int curve = 0;
    for (int y = F.Top + 1; y < F.Bottom; ++y)
        for (int x = F.Left + 1; x < F.Right; ++x) curve += Shot.At(x, y) == red;
    EXPECT_GT(curve, 150);
}

// An absorbance curve peaks, in the lower half of the data area (the legend is
// at its top), above the instrument pixel where Sample absorbs most; the x axis
// spans pixels 0 to 127 whatever the calibration.
void CheckAbsorbanceBand(const TPicture& Shot, const TFrameLines& F, const spectrosim::TSample& Sample)
{
    int band = 0;
    for (int p = 1; p < spectrosim::Pixels; ++p)
        if (spectrosim::SampleAbsorbance(Sample, spectrosim::PixelWavelength(p)) >
            spectrosim::SampleAbsorbance(Sample, spectrosim::PixelWavelength(band)))
            band = p;
    int topX = -1, topY = F.Bottom;
    for (int y = (F.Top + F.Bottom) / 2; y < F.Bottom && topX < 0; ++y)
        for (int x = F.Left + 1; x < F.Right && topX < 0; ++x)
            if (Shot.At(x, y) == std::array<int, 3>{255, 0, 0}) {
                topX = x;
                topY = y;
            }
    ASSERT_GE(topX, 0) << "no curve in the lower half";
    const double perPixel = (F.Right - F.Left - 2) / static_cast<double>(spectrosim::Pixels - 1);
    // Noise moves the top of the broad band by a few pixels.
    EXPECT_NEAR((topX - F.Left - 1) / perPixel, band, 8) << "top at " << topX << ", " << topY;
}

// The spectrum window of the Windows program: a capture, its picture, the
// window made larger and its picture again; then, at 10 ms, a dark spectrum
// (lamp off), a reference (halogen lamp) and a capture of the dye in the
// light path shown as absorbance, and its picture.
void RunSpectrumWindow(const TProgramHost& Host, Process& Sim)
{
    const fs::path& root = Host.Root;
    const fs::path small = root / "out" / "spectrum.png", large = root / "out" / "spectrum-large.png",
                   absorbance = root / "out" / "absorbance.png";
    const std::string dye = "0.5";
    WriteAll(root / "spectrum-script", "select " + Host.Com +
                                           "\nwait temperature 24000\n"
                                           "set LECapture 1\n"
                                           "menu Spektrum1\n"
                                           "click CaptureButton\n"
                                           "wait spectrum 1 24000\n"
                                           "sleep 500\n"
                                           "spectrumshot " +
                                           WinePath(small) +
                                           "\nresize spectrum 1000 700\n"
                                           "sleep 500\n"
                                           "spectrumshot " +
                                           WinePath(large) +
                                           "\nset LECapture 10\n"
                                           "wait input\n"
                                           "click DarkButton\n"
                                           "wait stored dark 24000\n"
                                           "wait input\n"
                                           "click ReferenceButton\n"
                                           "wait stored reference 24000\n"
                                           "wait input\n"
                                           "pick QuantityBox 2\n"
                                           "click CaptureButton\n"
                                           "wait spectrum 4 24000\n"
                                           "sleep 500\n"
                                           "spectrumshot " +
                                           WinePath(absorbance) + "\nquit\n");
    std::vector<std::string> command = Host.Command;
    command.push_back("--automate");
    command.push_back(WinePath(root / "spectrum-script"));
    Process program(command, Host.Env);
    std::vector<std::string> out;
    int x1 = -1, y1 = -1, x2 = -1, y2 = -1, x3 = -1, y3 = -1;
    ASSERT_TRUE(ReadShotOrigin(program, out, x1, y1)) << ::testing::PrintToString(out);
    ASSERT_TRUE(ReadShotOrigin(program, out, x2, y2)) << ::testing::PrintToString(out);
    for (const std::string& change : {std::string("lamp off"), std::string("lamp halogen"), "sample dye " + dye}) {
        ASSERT_TRUE(program.ReadUntil("waiting", out, seconds(60))) << ::testing::PrintToString(out);
        Sim.WriteLine(change);
        std::string reply;
        ASSERT_TRUE(Sim.ReadLine(reply, seconds(5)));
        ASSERT_EQ(reply, change);
        program.WriteLine("go");
    }
    ASSERT_TRUE(ReadShotOrigin(program, out, x3, y3)) << ::testing::PrintToString(out);
    EXPECT_EQ(program.Wait(seconds(30)), 0);
    const std::string png = ReadAll(small), absorbancePng = ReadAll(absorbance);
    if (const char* artifacts = std::getenv("SPECTRO_ARTIFACTS_DIR")) {
        fs::create_directories(artifacts);
        WriteAll(fs::path(artifacts) / "spectrum-wine.png", png);
        WriteAll(fs::path(artifacts) / "absorbance-wine.png", absorbancePng);
    }
    TPicture shot;
    {
        SCOPED_TRACE("as opened");
        ASSERT_TRUE(ReadPng(png, shot));
        CheckSpectrumPicture(shot, x1, y1, 900, 600);
    }
    {
        SCOPED_TRACE("resized");
        ASSERT_TRUE(ReadPng(ReadAll(large), shot));
        CheckSpectrumPicture(shot, x2, y2, 1000, 700);
    }
    {
        SCOPED_TRACE("absorbance");
        ASSERT_TRUE(ReadPng(absorbancePng, shot));
        CheckSpectrumPicture(shot, x3, y3, 1000, 700);
        CheckAbsorbanceBand(shot, SpectrumFrame(x3, y3, 1000, 700), *spectrosim::SampleFromText("dye:" + dye));
    }
}

TEST(WineProgram, CaptureSaveCalibrateAndTheWindowsPicture)
{
    const std::string exe = Setting("SPECTRO_WINDOWS_EXE"), wineRun = Setting("SPECTRO_WINE_RUN"),
                      wineDir = Setting("SPECTRO_WINE_DIR");
    ASSERT_FALSE(exe.empty() || wineRun.empty() || wineDir.empty()) << "run by the Windows build's tests";
    const fs::path root = fs::temp_directory_path() / ("spectro-wine-e2e-" + std::to_string(getpid()));
    fs::remove_all(root);
    for (const char* d : {"bin/data", "sys", "ports", "out"}) fs::create_directories(root / d);
    fs::copy_file(exe, root / "bin" / "spectrometer.exe");

    // The simulator's own port map stays private; the program finds it as COM58.
    const std::vector<std::string> env = {"SPECTRO_SYSFS_ROOT=" + (root / "sys").string(),
                                          "SPECTRO_PORTMAP_DIR=" + (root / "ports").string(),
                                          "SPECTRO_REGISTRY=" + (root / "registry").string(), "SPECTRO_PORTS="};
    Process sim({SPECTROSIM_EXE, "--lamp", "green-laser", "--seed", "7"}, env);
    std::string hello;
    ASSERT_TRUE(sim.ReadLine(hello, seconds(5)));
    const std::string pty = hello.substr(0, hello.find(' '));
    ASSERT_EQ(pty.rfind("/dev/pts/", 0), 0u) << hello;
    const fs::path com = fs::path(wineDir) / "ports" / "COM58";
    fs::remove(com);
    fs::create_symlink(pty, com);

    TProgramHost host;
    host.Root = root;
    host.Command = {wineRun, "--dir", wineDir, (root / "bin" / "spectrometer.exe").string()};
    // Wine names files in the host's encoding: UTF-8 for "Natrium-Lösung".
    host.Env = {"LC_ALL=C.UTF-8"};
    host.Com = "COM58";
    host.ProgramPath = WinePath;
    host.Slack = 3;
    host.Screenshot = WinePath(root / "out" / "mainwindow.png");
    const auto started = steady_clock::now();
    const std::vector<std::string> out = RunCaptureSaveAndCalibrate(host, sim);
    std::printf("scenario under Wine: %.1f s\n", duration<double>(steady_clock::now() - started).count());
    RunSpectrumWindow(host, sim);
    fs::remove(com);

    // The picture after the first capture: where the client area starts in it.
    int originX = -1, originY = -1;
    for (const auto& l : out)
        if (l.rfind("screenshot ", 0) == 0) std::istringstream(l.substr(11)) >> originX >> originY;
    ASSERT_GE(originY, 0) << ::testing::PrintToString(out);
    const std::string png = ReadAll(root / "out" / "mainwindow.png");
    if (const char* artifacts = std::getenv("SPECTRO_ARTIFACTS_DIR")) {
        fs::create_directories(artifacts);
        WriteAll(fs::path(artifacts) / "mainwindow-wine.png", png);
    }
    TPicture shot;
    ASSERT_TRUE(ReadPng(png, shot));
    ASSERT_GE(shot.Width, 390);
    ASSERT_GE(shot.Height, originY + 346);
    auto pixel = [&](int X, int Y) { return shot.At(originX + X, originY + Y); };

    // The plot: a black frame, white inside, the spectrum in red.
    EXPECT_EQ(pixel(215, 208), (std::array<int, 3>{0, 0, 0}));
    EXPECT_EQ(pixel(381, 208), (std::array<int, 3>{0, 0, 0}));
    int red = 0;
    for (int y = 209; y < 295; ++y)
        for (int x = 216; x < 381; ++x) red += pixel(x, y) == std::array<int, 3>{255, 0, 0};
    EXPECT_GT(red, 100);

    // Each bordered control starts at its left/top bound (the form's face just
    // outside it) and reaches its right/bottom one.
    const auto face = pixel(5, 5);
    struct TBounds {
        const char* Name;
        int Left, Top, Width, Height;
    };
    for (const TBounds& b : {TBounds{"nrDeviceBox1", 24, 16, 110, 21}, TBounds{"ProtokollButton", 150, 15, 59, 23},
                             TBounds{"ListBox1", 24, 62, 185, 179}, TBounds{"bSend", 24, 247, 185, 25},
                             TBounds{"C_Panel", 240, 43, 121, 41}, TBounds{"F_Panel", 240, 115, 121, 41},
                             TBounds{"Image1", 215, 208, 167, 88}}) {
        SCOPED_TRACE(b.Name);
        EXPECT_EQ(pixel(b.Left - 1, b.Top - 1), face);
        EXPECT_NE(pixel(b.Left, b.Top), face);
        EXPECT_NE(pixel(b.Left + b.Width - 1, b.Top + b.Height - 1), face);
        EXPECT_EQ(pixel(b.Left + b.Width, b.Top), face);
    }
    // The panels are filled with one colour, and differ from the face.
    EXPECT_EQ(pixel(242, 45), pixel(358, 81));
    EXPECT_NE(pixel(242, 45), face);

    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(seconds(5)), 0);
    fs::remove_all(root);
}

}  // namespace
