// The program's command line as a user meets it: exit codes and which stream
// gets what, with no display to connect to (none of this may need one).
#include "tests/app/helpers.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct TRun {
    int Status = -1;
    std::string Out, Err;
};

TRun RunProgram(const std::string& Args)
{
    const fs::path dir = fs::temp_directory_path() / ("spectro-cli-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb '" SPECTROMETER_EXE "' " + Args +
                                " >'" + (dir / "out").string() + "' 2>'" + (dir / "err").string() + "'";
    const int status = std::system(command.c_str());
    TRun r;
    r.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.Out = ReadAll(dir / "out");
    r.Err = ReadAll(dir / "err");
    fs::remove_all(dir);
    return r;
}

bool Has(const std::string& Text, const std::string& Part) { return Text.find(Part) != std::string::npos; }

TEST(ProgramCommandLine, ExitCodesAndStreamsWithoutADisplay)
{
    TRun r = RunProgram("--bogus");
    EXPECT_EQ(r.Status, 2);
    EXPECT_EQ(r.Out, "");
    EXPECT_TRUE(Has(r.Err, "spectrometer: unbekannte Option \"--bogus\"\n")) << r.Err;
    EXPECT_TRUE(Has(r.Err, "Aufruf: spectrometer")) << r.Err;

    // Checked before any window (or display) is needed.
    r = RunProgram("--automate script --log-level loud");
    EXPECT_EQ(r.Status, 2);
    EXPECT_TRUE(Has(r.Err, "unbekannte Protokollstufe \"loud\"")) << r.Err;
    EXPECT_TRUE(Has(r.Err, "Aufruf: spectrometer")) << r.Err;

    r = RunProgram("--automate");
    EXPECT_EQ(r.Status, 2);
    EXPECT_TRUE(Has(r.Err, "--automate braucht einen Dateinamen")) << r.Err;

    r = RunProgram("--help");
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Out.rfind("Aufruf: spectrometer", 0), 0u) << r.Out;
    EXPECT_TRUE(Has(r.Out, "--log-level")) << r.Out;
    EXPECT_EQ(r.Err, "");

    r = RunProgram("--version");
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Out.rfind("spectrometer ", 0), 0u) << r.Out;
    EXPECT_TRUE(r.Out.size() > 14 && std::isdigit(static_cast<unsigned char>(r.Out[13])) && r.Out.back() == '\n')
        << r.Out;

    // Qt takes its own options (here the display-free platform); a single-dash
    // option that Qt leaves over is a fault all the same.
    r = RunProgram("-platform offscreen -bogus");
    EXPECT_EQ(r.Status, 2);
    EXPECT_TRUE(Has(r.Err, "unbekannte Option \"-bogus\"")) << r.Err;
}

}  // namespace
