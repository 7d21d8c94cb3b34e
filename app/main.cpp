// The program entry: the command line, the main window, the hidden
// calibration dialog, the event loop. The options are in app/commandline.h.
//
// --simulator puts the simulated instrument on an in-process virtual port
// (COM9, or the next free name) before the port list is built.
// --automate drives the windows from a script (see app/automation.h). --log
// writes the serial component's trace lines to FILE ("-": standard error).
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/automation.h"
#include "app/commandline.h"
#include "comm/nrclasses/nrlogfile.h"
#include "comm/nrcomm/nrcomm.h"
#include "platform/program_glue.h"
#ifndef _WIN32
#include "tools/spectrosim/virtual_instrument.h"
#endif

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Arguments(int argc, char** argv) { return {argv, argv + argc}; }

// A command-line argument as text: 8-bit text of the ANSI code page on
// Windows, UTF-8 elsewhere.
UnicodeString ArgText(const std::string& Arg)
{
#ifdef _WIN32
    return AnsiToUnicode(Arg);
#else
    return Utf8ToUnicode(Arg);
#endif
}

// The light sources of the built-in simulator (none on Windows).
std::vector<std::string> LampNames()
{
#ifdef _WIN32
    return {};
#else
    return spectrosim::LampNames();
#endif
}

}  // namespace

int main(int argc, char** argv)
{
    // Checked before the GUI starts, so --help, --version and a wrong option need
    // no display. The GUI toolkit then takes its own options out of argv: what
    // is left must be ours.
    const std::vector<std::string> lamps = LampNames();
    TProgramOptions options;
    int exitCode = CommandLineExitCode(ParseCommandLine(Arguments(argc, argv), lamps, TToolkitOptions::Leave, options),
                                       options, lamps);
    if (exitCode >= 0) return exitCode;

    const std::unique_ptr<TApplication> application = CreateApplication(argc, argv);
    options = {};
    exitCode = CommandLineExitCode(ParseCommandLine(Arguments(argc, argv), lamps, TToolkitOptions::Refuse, options),
                                   options, lamps);
    if (exitCode >= 0) return exitCode;
    application->Title = u"Spektrometer";
    const UnicodeString script = ArgText(options.Script);

    // The simulated instrument must be in the port map before the window
    // builds its port list.
#ifndef _WIN32
    spectrosim::TInstrumentOptions simOptions;
    if (!options.Lamp.empty()) simOptions.Lamp = *spectrosim::LampFromName(options.Lamp);
    std::unique_ptr<spectrosim::TVirtualInstrument> instrument;
    if (options.Simulator) {
        instrument = std::make_unique<spectrosim::TVirtualInstrument>(platform::FreeComName(9), simOptions,
                                                                      !options.SimulatorFast);
        std::printf("Spektrometer-Simulator an %s\n", UnicodeToUtf8(instrument->ComName()).c_str());
        std::fflush(stdout);
    }
#else
    if (options.Simulator) {
        std::fprintf(stderr, "spectrometer: the built-in simulator exists on Linux only\n");
        return 2;
    }
#endif

    if (!script.empty() && !LoadAutomation(script)) {
        std::fprintf(stderr, "spectrometer: cannot read %s\n", options.Script.c_str());
        return 2;
    }
    int status;
    {
        auto form1 = std::make_unique<TForm1>();
        new TForm2(form1.get());  // hidden; owned by the main window
        std::string logError;
        AttachLogFromCommandLine(form1->nrComm1, argc, argv, logError);
        if (!logError.empty()) {
            std::fprintf(stderr, "spectrometer: %s\n", logError.c_str());
            return 2;
        }
        form1->Show();
        if (!script.empty()) StartAutomation(form1.get());
        status = application->Run();
    }
#ifndef _WIN32
    instrument.reset();
#endif
    return status;
}
