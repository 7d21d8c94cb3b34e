// The Windows program under Wine, against the simulated instrument on a kernel
// pty that a COM port of the Wine prefix points to: the capture scenario of the
// Linux program, the main window's picture (plot, controls at their bounds), the
// spectrum window's pictures (a capture; a helium tube with its lines, named,
// over the rainbow; the absorbance of a dye), its page as PDF and plot as PNG,
// printing and the PDF's save dialog cancelled, and the lab windows' plots.
// Run by the Windows build's tests with SPECTRO_WINDOWS_EXE, SPECTRO_WINE_RUN and
// SPECTRO_WINE_DIR set, on a display (Xvfb).
#include "app/spectrum/spectralcolour.h"
#include "tests/app/helpers.h"
#include "tests/app/pdf_reader.h"
#include "tests/e2e/capture_scenario.h"
#include "tools/spectrosim/instrument.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <fstream>
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

// A picture the program saved: readable, and deflated: at most a fifth of its
// raw rows, as the Linux picture check asks (a writer that stores the rows
// unpacked needs more than all of them).
bool ReadSavedPng(const std::string& Png, TPicture& Out)
{
    if (!ReadPng(Png, Out)) return false;
    EXPECT_LE(Png.size(), Out.Rgb.size() / 5) << Out.Width << " x " << Out.Height;
    return true;
}

// The pixels of W x H at X, Y in A that differ from those at X2, Y2 in B.
int Differences(const TPicture& A, int X, int Y, const TPicture& B, int X2, int Y2, int W, int H)
{
    int n = 0;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) n += A.At(X + x, Y + y) != B.At(X2 + x, Y2 + y);
    return n;
}

// The plot's frame on a rendered page: its top edge is the first row with a
// dark run across at least 40 % of the page, its sides go down from the run's
// ends; false when there is none.
bool FindPageFrame(const TRenderedPage& Page, TRect& Frame)
{
    for (int y = 0; y < Page.Height * 3 / 4; ++y)
        for (int x = 0, run = 0; x <= Page.Width; ++x) {
            if (x < Page.Width && Page.At(x, y) < 128) {
                ++run;
                continue;
            }
            if (run >= Page.Width * 2 / 5) {
                const auto dark = [&](int X, int Y) {
                    return std::min({Page.At(X - 1, Y), Page.At(X, Y), Page.At(X + 1, Y)}) < 128;
                };
                int bottom = y;
                while (bottom + 1 < Page.Height && dark(x - run, bottom + 1)) ++bottom;
                Frame = {x - run, y, x - 1, bottom};
                return true;
            }
            run = 0;
        }
    return false;
}

// Whether the Wine prefix knows a printer (Wine takes them from CUPS): a key
// under Control\Print\Printers in its registry.
bool PrefixHasPrinters(const fs::path& WineDir)
{
    return ReadAll(WineDir / "prefix" / "system.reg")
               .find("[System\\\\CurrentControlSet\\\\Control\\\\Print\\\\Printers\\\\") != std::string::npos;
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

bool Near(const std::array<int, 3>& A, TColor C, int Tolerance = 3)
{
    return std::abs(A[0] - GetRValue(C)) <= Tolerance && std::abs(A[1] - GetGValue(C)) <= Tolerance &&
           std::abs(A[2] - GetBValue(C)) <= Tolerance;
}

// A helium capture at Slope nm per pixel from Offset: the spectral colours
// along the bottom of the data area (the curve, at 18 dark counts or more,
// stays above its lowest rows) and the stroke of helium's strongest line in
// its colour.
void CheckHeliumPicture(const TPicture& Shot, const TFrameLines& F, double Slope, double Offset)
{
    const int left = F.Left + 1, width = F.Right - left;
    const double x0 = Offset, x1 = Offset + Slope * (spectrosim::Pixels - 1);
    const auto column = [&](double Nm) {
        return left + static_cast<int>(std::lround((Nm - x0) / (x1 - x0) * (width - 1)));
    };
    for (double nm : {420.0, 470.0, 520.0, 570.0, 620.0, 670.0}) {
        const int x = column(nm);
        const TColor colour = SpectralColour(x0 + (x - left) * (x1 - x0) / (width - 1));
        for (int y = F.Bottom - 4; y < F.Bottom; ++y)
            EXPECT_TRUE(Near(Shot.At(x, y), colour))
                << nm << " nm, row " << y << ": " << ::testing::PrintToString(Shot.At(x, y));
    }
    const TColor helium = RGB(0, 110, 200);
    int stroke = 0;
    for (int y = F.Top + 1; y < F.Bottom - 10; ++y) stroke += Near(Shot.At(column(587.56), y), helium);
    EXPECT_GE(stroke, 20);
}

// The centres of the filled 5 x 5 squares of Colour (a plot's dots) in the data
// area A (a dot at its edge reaches 2 pixels beyond).
std::vector<std::pair<int, int>> Dots(const TPicture& Shot, const TFrameLines& A, TColor Colour)
{
    std::vector<std::pair<int, int>> dots;
    for (int cy = A.Top; cy < A.Bottom; ++cy)
        for (int cx = A.Left; cx < A.Right; ++cx) {
            bool filled = true;
            for (int k = 0; k < 25 && filled; ++k) filled = Near(Shot.At(cx - 2 + k % 5, cy - 2 + k / 5), Colour, 0);
            const auto same = [&](const std::pair<int, int>& d) {
                return std::abs(d.first - cx) < 5 && std::abs(d.second - cy) < 5;
            };
            if (filled && std::none_of(dots.begin(), dots.end(), same)) dots.push_back({cx, cy});
        }
    return dots;
}

// The data area of a lab window's plot (Width x Height at 410, 8 of the client
// area, the window at its first size), picture coordinates; right and bottom
// excluded.
TFrameLines LabArea(int OriginX, int OriginY, int Width, int Height)
{
    return {OriginX + 410 + 48, OriginY + 8 + 8, OriginX + 410 + Width - 10, OriginY + 8 + Height - 34};
}

// The spectrum window of the Windows program: a capture, its picture, the
// window made larger and its picture again; at 10 ms a helium tube with its
// lines shown and the element named, and its picture; "Drucken…" and "Als PDF
// speichern…" cancelled, the page saved as PDF and the plot as PNG; a dark spectrum (lamp
// off), a reference (halogen lamp) and a capture of the dye in the light path
// shown as absorbance, and its picture. Then the lab windows on that dark and
// reference: a standard of the dye measured, a short kinetics run, and their
// pictures.
void RunSpectrumWindow(const TProgramHost& Host, Process& Sim)
{
    const fs::path& root = Host.Root;
    const fs::path small = root / "out" / "spectrum.png", large = root / "out" / "spectrum-large.png",
                   helium = root / "out" / "helium.png", absorbance = root / "out" / "absorbance.png",
                   concentration = root / "out" / "concentration.png", kinetics = root / "out" / "kinetics.png",
                   heliumAfter = root / "out" / "helium-after.png", pdf = root / "out" / "helium.pdf",
                   plot = root / "out" / "plot.png";
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
                                           "check ElementHeCheck on\n"
                                           "click CaptureButton\n"
                                           "wait spectrum 2 24000\n"
                                           "click IdentifyButton\n"
                                           "print IdentLabel\n"
                                           "sleep 500\n"
                                           "spectrumshot " +
                                           WinePath(helium) +
                                           // Printing and the PDF's save dialog, both cancelled.
                                           "\ncancel dialog\n"
                                           "click PrintButton\n"
                                           "cancel dialog\n"
                                           "click PdfButton\n"
                                           "sleep 500\n"
                                           "spectrumshot " +
                                           WinePath(heliumAfter) +
                                           "\ndump PeakList\n"
                                           "savename " +
                                           WinePath(pdf) +
                                           "\nclick PdfButton\n"
                                           "savename " +
                                           WinePath(plot) +
                                           "\nclick PngButton\n"
                                           "check ElementHeCheck off\n"
                                           "wait input\n"
                                           "click DarkButton\n"
                                           "wait stored dark 24000\n"
                                           "wait input\n"
                                           "click ReferenceButton\n"
                                           "wait stored reference 24000\n"
                                           "wait input\n"
                                           "pick QuantityBox 2\n"
                                           "click CaptureButton\n"
                                           "wait spectrum 5 24000\n"
                                           "sleep 500\n"
                                           "spectrumshot " +
                                           WinePath(absorbance) +
                                           "\nmenu Konzentration1\n"
                                           "set WavelengthEdit 590\n"
                                           "set ConcEdit " +
                                           dye +
                                           "\nclick MeasureButton\n"
                                           "wait standards 1 24000\n"
                                           "sleep 500\n"
                                           "windowshot concentration " +
                                           WinePath(concentration) +
                                           "\nmenu Kinetik1\n"
                                           "set Wave1Edit 590\n"
                                           "set IntervalEdit 2\n"
                                           "set DurationEdit 4\n"
                                           "click StartButton\n"
                                           "wait kinetics 2 24000\n"
                                           "sleep 500\n"
                                           "windowshot kinetics " +
                                           WinePath(kinetics) +
                                           "\nclick StopButton\n"
                                           "quit\n");
    std::vector<std::string> command = Host.Command;
    command.push_back("--automate");
    command.push_back(WinePath(root / "spectrum-script"));
    Process program(command, Host.Env);
    std::vector<std::string> out;
    int x1 = -1, y1 = -1, x2 = -1, y2 = -1, xh = -1, yh = -1, xa = -1, ya = -1, x3 = -1, y3 = -1, xc = -1, yc = -1,
        xk = -1, yk = -1;
    std::vector<std::string> cancelStep;
    ASSERT_TRUE(ReadShotOrigin(program, out, x1, y1)) << ::testing::PrintToString(out);
    ASSERT_TRUE(ReadShotOrigin(program, out, x2, y2)) << ::testing::PrintToString(out);
    const std::vector<std::string> changes = {"lamp helium", "lamp off", "lamp halogen", "sample dye " + dye};
    for (const std::string& change : changes) {
        if (change == "lamp off") {
            ASSERT_TRUE(ReadShotOrigin(program, out, xh, yh)) << ::testing::PrintToString(out);
            const std::size_t from = out.size();
            ASSERT_TRUE(ReadShotOrigin(program, out, xa, ya)) << ::testing::PrintToString(out);
            cancelStep.assign(out.begin() + static_cast<std::ptrdiff_t>(from), out.end() - 1);
        }
        ASSERT_TRUE(program.ReadUntil("waiting", out, seconds(60))) << ::testing::PrintToString(out);
        Sim.WriteLine(change);
        std::string reply;
        ASSERT_TRUE(Sim.ReadLine(reply, seconds(5)));
        ASSERT_EQ(reply, change);
        program.WriteLine("go");
    }
    ASSERT_TRUE(ReadShotOrigin(program, out, x3, y3)) << ::testing::PrintToString(out);
    ASSERT_TRUE(ReadShotOrigin(program, out, xc, yc)) << ::testing::PrintToString(out);
    ASSERT_TRUE(ReadShotOrigin(program, out, xk, yk)) << ::testing::PrintToString(out);
    EXPECT_EQ(program.Wait(seconds(30)), 0);
    EXPECT_NE(std::find(out.begin(), out.end(), "value IdentLabel Wahrscheinlich: Helium"), out.end())
        << ::testing::PrintToString(out);
    const std::string png = ReadAll(small), heliumPng = ReadAll(helium), absorbancePng = ReadAll(absorbance),
                      concentrationPng = ReadAll(concentration), kineticsPng = ReadAll(kinetics);
    if (const char* artifacts = std::getenv("SPECTRO_ARTIFACTS_DIR")) {
        fs::create_directories(artifacts);
        WriteAll(fs::path(artifacts) / "spectrum-wine.png", png);
        WriteAll(fs::path(artifacts) / "helium-wine.png", heliumPng);
        WriteAll(fs::path(artifacts) / "absorbance-wine.png", absorbancePng);
        WriteAll(fs::path(artifacts) / "concentration-wine.png", concentrationPng);
        WriteAll(fs::path(artifacts) / "kinetics-wine.png", kineticsPng);
        WriteAll(fs::path(artifacts) / "helium-wine.pdf", ReadAll(pdf));
    }
    TPicture shot, heliumShot;
    {
        SCOPED_TRACE("as opened");
        ASSERT_TRUE(ReadSavedPng(png, shot));
        CheckSpectrumPicture(shot, x1, y1, 900, 600);
    }
    {
        SCOPED_TRACE("resized");
        ASSERT_TRUE(ReadSavedPng(ReadAll(large), shot));
        CheckSpectrumPicture(shot, x2, y2, 1000, 700);
    }
    {
        SCOPED_TRACE("helium");
        // The calibration the capture scenario saved.
        double slope = 0, offset = 0;
        std::ifstream(root / "bin" / "data" / "conf.dat") >> slope >> offset;
        ASSERT_GT(slope, 0);
        ASSERT_TRUE(ReadSavedPng(heliumPng, heliumShot));
        CheckSpectrumPicture(heliumShot, xh, yh, 1000, 700);
        CheckHeliumPicture(heliumShot, SpectrumFrame(xh, yh, 1000, 700), slope, offset);
    }
    {
        // Without a printer the program says so (and shows no dialog of the
        // system's); with one, its dialog is cancelled. The PDF's save dialog
        // cancelled without a word; the window as it was.
        SCOPED_TRACE("print and PDF cancelled");
        std::printf("print and PDF cancelled: %s\n", ::testing::PrintToString(cancelStep).c_str());
        ASSERT_EQ(cancelStep.size(), 2u) << ::testing::PrintToString(cancelStep);
        if (PrefixHasPrinters(Setting("SPECTRO_WINE_DIR")))
            EXPECT_EQ(cancelStep[0].rfind("cancelled ", 0), 0u) << cancelStep[0];
        else
            EXPECT_EQ(cancelStep[0], "message Kein Drucker eingerichtet.");
        EXPECT_EQ(cancelStep[1].rfind("cancelled ", 0), 0u) << cancelStep[1];
        TPicture after;
        ASSERT_TRUE(ReadSavedPng(ReadAll(heliumAfter), after));
        ASSERT_EQ(std::make_pair(xa, ya), std::make_pair(xh, yh));
        EXPECT_EQ(Differences(heliumShot, xh, yh, after, xa, ya, 1000, 700), 0);
    }
    {
        // "Als PNG speichern": the plot as the window shows it, at 8, 8.
        SCOPED_TRACE("plot saved as PNG");
        TPicture saved;
        ASSERT_TRUE(ReadSavedPng(ReadAll(plot), saved));
        ASSERT_EQ(saved.Width, 1000 - 280);
        ASSERT_EQ(saved.Height, 700 - 220);
        EXPECT_EQ(Differences(saved, 0, 0, heliumShot, xh + 8, yh + 8, saved.Width, saved.Height), 0);
    }
    {
        // The PDF read back by poppler: title, identification and the first
        // peak's wavelength as the window lists it; the plot's frame drawn.
        SCOPED_TRACE("PDF");
        const auto peak =
            std::find_if(out.begin(), out.end(), [](const std::string& l) { return l.rfind("list ", 0) == 0; });
        ASSERT_TRUE(peak != out.end() && *peak != "list end") << ::testing::PrintToString(out);
        const std::string wavelength = peak->substr(5, peak->find(" nm") + 3 - 5);
        const std::string text = PdfText(pdf);
        EXPECT_NE(text.find("Spektrum"), std::string::npos) << text;
        EXPECT_NE(text.find("Wahrscheinlich: Helium"), std::string::npos) << text;
        EXPECT_NE(text.find(wavelength), std::string::npos) << wavelength << " in\n" << text;
        TRenderedPage page;
        ASSERT_TRUE(RenderPdf(pdf, page));
        // A4 landscape: 841.9 x 595.3 points.
        EXPECT_NEAR(page.Width, 842, 1);
        EXPECT_NEAR(page.Height, 595, 1);
        TRect frame;
        ASSERT_TRUE(FindPageFrame(page, frame));
        EXPECT_GT(frame.Height(), page.Height / 4);
        EXPECT_GT(FrameDrawn(page, frame), 0.95);
    }
    {
        SCOPED_TRACE("absorbance");
        ASSERT_TRUE(ReadSavedPng(absorbancePng, shot));
        CheckSpectrumPicture(shot, x3, y3, 1000, 700);
        CheckAbsorbanceBand(shot, SpectrumFrame(x3, y3, 1000, 700), *spectrosim::SampleFromText("dye:" + dye));
    }
    {
        // One standard: its dot at c = 0.5 of 0.55 and A of 1.15 A, the range shown.
        SCOPED_TRACE("concentration");
        ASSERT_TRUE(ReadSavedPng(concentrationPng, shot));
        const TFrameLines a = LabArea(xc, yc, 400, 380);
        const auto dots = Dots(shot, a, clBlue);
        ASSERT_EQ(dots.size(), 1u) << ::testing::PrintToString(dots);
        EXPECT_NEAR(dots[0].first, a.Left + std::lround(0.5 / 0.55 * (a.Right - a.Left - 1)), 1);
        EXPECT_NEAR(dots[0].second, a.Bottom - 1 - std::lround((a.Bottom - a.Top - 1) / 1.15), 1);
    }
    {
        // Two points or three, 2 s apart on a time axis of 4 to 6 s.
        SCOPED_TRACE("kinetics");
        ASSERT_TRUE(ReadSavedPng(kineticsPng, shot));
        const TFrameLines a = LabArea(xk, yk, 400, 420);
        const auto dots = Dots(shot, a, clRed);
        ASSERT_GE(dots.size(), 2u) << ::testing::PrintToString(dots);
        EXPECT_LE(dots.size(), 3u) << ::testing::PrintToString(dots);
        const auto [first, last] = std::minmax_element(dots.begin(), dots.end());
        EXPECT_GT(last->first - first->first, (a.Right - a.Left) / 4) << ::testing::PrintToString(dots);
    }
}

TEST(WineProgram, CaptureSaveCalibrateAndTheWindowsPicture)
{
    const std::string exe = Setting("SPECTRO_WINDOWS_EXE"), wineRun = Setting("SPECTRO_WINE_RUN"),
                      wineDir = Setting("SPECTRO_WINE_DIR");
    ASSERT_FALSE(exe.empty() || wineRun.empty() || wineDir.empty()) << "run by the Windows build's tests";
    // A program run in the prefix without a display leaves the desktop at Wine's
    // display-less size, and pictures beyond it stay black: a fresh wineserver,
    // its desktop on this screen (the test runs alone).
    const std::string wine = "'" + wineRun + "' --dir '" + wineDir + "' ";
    ASSERT_EQ(std::system((wine + "--stop").c_str()), 0);
    ASSERT_EQ(std::system((wine + "--setup").c_str()), 0);
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
    ASSERT_TRUE(ReadSavedPng(png, shot));
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
