// The capture scenario of the end-to-end tests (see capture_scenario.h).
#include "tests/e2e/capture_scenario.h"

#include "tests/app/helpers.h"
#include "tools/spectrosim/instrument.h"

#include <cstdio>

namespace fs = std::filesystem;
using namespace std::chrono;

std::vector<std::string> ModelLines(const std::string& Args)
{
    std::vector<std::string> lines;
    const std::string cmd = "python3 '" EXTENDED_WAVELENGTHS_PY "' " + Args;
    std::FILE* p = popen(cmd.c_str(), "r");
    if (!p) return lines;
    char buf[256];
    while (std::fgets(buf, sizeof buf, p)) {
        std::string l(buf);
        while (!l.empty() && (l.back() == '\n' || l.back() == '\r')) l.pop_back();
        lines.push_back(l);
    }
    pclose(p);
    return lines;
}

namespace {

// The "list <line>" lines of the first "dump list" in Out.
std::vector<std::string> DumpedList(const std::vector<std::string>& Out)
{
    std::vector<std::string> listed;
    for (const auto& l : Out) {
        if (l == "list end") break;
        if (l.rfind("list ", 0) == 0) listed.push_back(l.substr(5));
    }
    return listed;
}

std::string Ansi(const char* Utf8) { return UnicodeToAnsi(Utf8ToUnicode(Utf8)); }

void Run(const TProgramHost& Host, Process& Sim, std::vector<std::string>& out)
{
    const fs::path& Root = Host.Root;
    const int k = Host.Slack;
    WriteAll(Root / "bin" / "data" / "conf.dat", "2.15789473684211\r\n409\r\n");
    const fs::path saved = Root / "out" / "Natrium-Lösung";
    WriteAll(Root / "script", "select " + Host.Com +
                                  "\n"
                                  "wait temperature " +
                                  std::to_string(8000 * k) +
                                  "\n"
                                  "print eSend\n"
                                  "set LECapture 1\n"
                                  "click bSend\n"
                                  "wait points 128 " +
                                  std::to_string(8000 * k) +
                                  "\n"
                                  "dump list\n" +
                                  (Host.Screenshot.empty() ? "" : "screenshot " + Host.Screenshot + "\n") +
                                  "savename " + Host.ProgramPath(saved) +
                                  "\n"
                                  "menu Speichern1\n"
                                  "menu Eichung1\n"
                                  "click Button1\n"
                                  "wait message 8000\n"
                                  "wait input\n"
                                  "click Button2\n"
                                  "wait message 8000\n"
                                  "print EI1\n"
                                  "print EI2\n"
                                  "click Button3\n"
                                  // A capture on the new calibration ("s" repeats the exposure).
                                  "click bSend\n"
                                  "wait points 128 8000\n"
                                  "dump list\n"
                                  "savename " +
                                  Host.ProgramPath(Root / "out" / "kalibriert") +
                                  "\n"
                                  "menu Speichern1\n"
                                  "quit\n");
    std::vector<std::string> command = Host.Command;
    command.push_back("--automate");
    command.push_back(Host.ProgramPath(Root / "script"));
    Process program(command, Host.Env);

    ASSERT_TRUE(program.ReadUntil("temperature ", out, seconds(15 * k))) << ::testing::PrintToString(out);
    // "temperature 23.500 74.3": six characters of Celsius, Fahrenheit with five digits.
    const std::string temp = out.back();
    const std::string celsius = temp.substr(12, 6);
    const double c = StrToFloat(Utf8ToUnicode(celsius));
    EXPECT_EQ(temp, "temperature " + celsius + " " + ToUtf8(FloatToStrF(c * 1.8 + 32, ffGeneral, 5, 3)));
    ASSERT_TRUE(program.ReadUntil("value eSend", out, seconds(5 * k)));
    EXPECT_EQ(out.back(), "value eSend s10000");

    // The capture: run 1 of the simulator at 1 ms, on the stored calibration.
    ASSERT_TRUE(program.ReadUntil("list end", out, seconds(15 * k))) << ::testing::PrintToString(out);
    // Wavelengths as the extended value gives them (index 77: "575.157894736842").
    const auto counts = spectrosim::CaptureSpectrum(spectrosim::TLamp::GreenLaser, 1000, 7, 1, 2.0);
    const std::vector<std::string> wavelengths = ModelLines("2.15789473684211 409");
    ASSERT_EQ(wavelengths.size(), static_cast<std::size_t>(spectrosim::Pixels));
    std::vector<std::string> expected;
    for (int i = 0; i < spectrosim::Pixels; ++i)
        expected.push_back(wavelengths[static_cast<std::size_t>(i)] + " " + std::to_string(counts[i]));
    EXPECT_EQ(DumpedList(out), expected);
    EXPECT_EQ(expected[57].substr(0, 4), "532 ");

    // First scan on the green laser; then the light source becomes the red laser.
    ASSERT_TRUE(program.ReadUntil("message ", out, seconds(15 * k))) << ::testing::PrintToString(out);
    const int peak1 = spectrosim::PixelOf(532);
    EXPECT_EQ(out.back().rfind("message " + std::to_string(peak1) + ";", 0), 0u) << out.back();
    ASSERT_TRUE(program.ReadUntil("waiting", out, seconds(5 * k)));
    std::string hello;
    Sim.WriteLine("lamp red-laser");
    ASSERT_TRUE(Sim.ReadLine(hello, seconds(5)));
    EXPECT_EQ(hello, "lamp red-laser");
    program.WriteLine("go");
    ASSERT_TRUE(program.ReadUntil("message ", out, seconds(15 * k))) << ::testing::PrintToString(out);
    const int peak2 = spectrosim::PixelOf(655);
    EXPECT_EQ(out.back().rfind("message " + std::to_string(peak2) + ";", 0), 0u) << out.back();
    ASSERT_TRUE(program.ReadUntil("value EI2", out, seconds(5 * k)));
    EXPECT_EQ(out[out.size() - 2], "value EI1 " + std::to_string(peak1));
    EXPECT_EQ(out.back(), "value EI2 " + std::to_string(peak2));
    const std::size_t second = out.size();
    ASSERT_TRUE(program.ReadUntil("list end", out, seconds(15 * k))) << ::testing::PrintToString(out);
    const std::vector<std::string> recalibrated =
        DumpedList(std::vector<std::string>(out.begin() + static_cast<std::ptrdiff_t>(second), out.end()));
    EXPECT_EQ(program.Wait(seconds(10 * k)), 0);

    // The export: header, the list as shown, CR LF, Windows-1252.
    std::string file = "Target: " + Ansi("Natrium-Lösung") +
                       "\r\nComment: Schulspektrum\r\nExpTime: 1ms\r\n"
                       "Factor: 0.001\r\nWL     CTS\r\n";
    for (const auto& l : expected) file += l + "\r\n";
    EXPECT_EQ(ReadAll(Root / "out" / "Natrium-Lösung.dat"), file);

    // The calibration from the two scans, and the capture made with it.
    const std::vector<std::string> model =
        ModelLines("--calibrate 532 655 " + std::to_string(peak1) + " " + std::to_string(peak2));
    ASSERT_EQ(model.size(), static_cast<std::size_t>(spectrosim::Pixels) + 2);
    EXPECT_EQ(ReadAll(Root / "bin" / "data" / "conf.dat"), model[0].substr(6) + "\r\n" + model[1].substr(7) + "\r\n");
    ASSERT_EQ(recalibrated.size(), static_cast<std::size_t>(spectrosim::Pixels));
    file = "Target: kalibriert\r\nComment: Schulspektrum\r\nExpTime: 1ms\r\nFactor: 0.001\r\nWL     CTS\r\n";
    for (std::size_t i = 0; i < recalibrated.size(); ++i) {
        const std::string& line = recalibrated[i];
        EXPECT_EQ(line.substr(0, line.find(' ')), model[i + 2]) << "index " << i;
        file += line + "\r\n";
    }
    EXPECT_EQ(ReadAll(Root / "out" / "kalibriert.dat"), file);
}

}  // namespace

std::vector<std::string> RunCaptureSaveAndCalibrate(const TProgramHost& Host, Process& Sim)
{
    std::vector<std::string> out;
    Run(Host, Sim, out);
    return out;
}
