// The program's command line: what it accepts, and the first fault it names.
#include "app/commandline.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::vector<std::string> Lamps = {"fluorescent", "sodium", "green-laser"};

std::string Parse(std::vector<std::string> Args, TProgramOptions& Options,
                  TToolkitOptions Toolkit = TToolkitOptions::Refuse)
{
    Args.insert(Args.begin(), "spectrometer");
    Options = {};
    return ParseCommandLine(Args, Lamps, Toolkit, Options);
}

TEST(CommandLine, AcceptsEveryOptionInBothValueForms)
{
    TProgramOptions o;
    EXPECT_EQ(Parse({"--simulator", "sodium", "--automate", "s.txt", "--log", "-", "--log-level", "detail"}, o), "");
    EXPECT_TRUE(o.Simulator);
    EXPECT_FALSE(o.SimulatorFast);
    EXPECT_EQ(o.Lamp, "sodium");
    EXPECT_EQ(o.Script, "s.txt");

    EXPECT_EQ(Parse({"--simulator=green-laser", "--automate=a=b", "--log=x.log", "--log-level=simple"}, o), "");
    EXPECT_EQ(o.Lamp, "green-laser");
    EXPECT_EQ(o.Script, "a=b");

    // The lamp is optional: an option after --simulator is no lamp.
    EXPECT_EQ(Parse({"--simulator", "--simulator-fast"}, o), "");
    EXPECT_EQ(o.Lamp, "");
    EXPECT_TRUE(o.SimulatorFast);

    EXPECT_EQ(Parse({"--help"}, o), "");
    EXPECT_TRUE(o.Help);
    EXPECT_EQ(Parse({"-h"}, o), "");
    EXPECT_TRUE(o.Help);
    EXPECT_EQ(Parse({"--version"}, o), "");
    EXPECT_TRUE(o.Version);
}

TEST(CommandLine, NamesTheFirstFault)
{
    TProgramOptions o;
    EXPECT_EQ(Parse({"--bogus"}, o), "unbekannte Option \"--bogus\"");
    EXPECT_EQ(Parse({"--simulator", "stray"}, o),
              "unbekannte Lichtquelle \"stray\" (fluorescent, sodium oder green-laser)");
    EXPECT_EQ(Parse({"--automate"}, o), "--automate braucht einen Dateinamen");
    EXPECT_EQ(Parse({"--automate", "--log", "-"}, o), "--automate braucht einen Dateinamen");
    EXPECT_EQ(Parse({"--automate="}, o), "--automate braucht einen Dateinamen");
    EXPECT_EQ(Parse({"--log"}, o), "--log braucht einen Dateinamen (oder - für die Standardfehlerausgabe)");
    EXPECT_EQ(Parse({"--log", "-", "--log-level"}, o), "--log-level braucht simple, detail oder debug");
    EXPECT_EQ(Parse({"--log-level", "loud"}, o), "unbekannte Protokollstufe \"loud\" (simple, detail oder debug)");
    EXPECT_EQ(Parse({"--version=2"}, o), "--version nimmt keinen Wert");
    EXPECT_EQ(Parse({"--simulator-fast", "extra"}, o), "unerwartetes Argument \"extra\"");
    EXPECT_EQ(Parse({"--log-level", "debug", "--bogus", "--also-bogus"}, o), "unbekannte Option \"--bogus\"");
}

// Before the GUI toolkit starts, its single-dash options and their values are
// its own; once it has taken them, a single-dash option left over is a fault.
TEST(CommandLine, ToolkitOptionsAreLeftForTheToolkitOnlyBeforeItStarts)
{
    TProgramOptions o;
    EXPECT_EQ(
        Parse({"-platform", "offscreen", "--simulator", "-reverse", "--automate", "s"}, o, TToolkitOptions::Leave), "");
    EXPECT_EQ(o.Lamp, "");
    EXPECT_EQ(o.Script, "s");
    EXPECT_EQ(Parse({"-platform", "offscreen", "--bogus"}, o, TToolkitOptions::Leave), "unbekannte Option \"--bogus\"");
    EXPECT_EQ(Parse({"-platform", "offscreen"}, o), "unbekannte Option \"-platform\"");
}

}  // namespace
