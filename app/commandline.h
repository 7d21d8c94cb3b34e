// The program's command line, checked before any window is built.
//
//   spectrometer [--simulator [LAMP]] [--simulator-fast] [--automate FILE]
//                [--log FILE|-] [--log-level simple|detail|debug]
//                [--help] [--version]
//
// Values also go as "--automate=FILE", "--log=FILE", "--log-level=LEVEL".
// The GUI toolkit's own options start with a single dash ("-platform
// offscreen", "-style fusion"); the toolkit takes them out of the argument
// list when it starts, so a first pass leaves them alone and a second pass,
// after the toolkit has started, finds whatever nobody took.
#pragma once

#include <string>
#include <vector>

struct TProgramOptions {
    bool Help = false;
    bool Version = false;
    bool Simulator = false;
    bool SimulatorFast = false;
    std::string Lamp;    // --simulator LAMP; empty: the simulator's default
    std::string Script;  // --automate FILE
    // --log and --log-level are only checked here; the log component reads
    // them itself when it is attached.
};

enum class TToolkitOptions { Leave, Refuse };

// Reads Args (Args[0] is the program) into Options. The result is "" or the
// German description of the first fault: an unknown option or word, a value
// missing, an unknown light source or log level. LampNames are the light
// sources the simulator knows.
std::string ParseCommandLine(const std::vector<std::string>& Args, const std::vector<std::string>& LampNames,
                             TToolkitOptions Toolkit, TProgramOptions& Options);

// The text of --help: every option, one per line with what it does.
std::string UsageText(const std::vector<std::string>& LampNames);
// The text of --version, e.g. "spectrometer 0.1".
std::string VersionText();

// What main does with a parse result before anything else: --help and
// --version print to standard output and give 0; a fault prints
// "spectrometer: <fault>" and the usage on standard error and gives 2; -1
// means carry on.
int CommandLineExitCode(const std::string& Fault, const TProgramOptions& Options,
                        const std::vector<std::string>& LampNames);
