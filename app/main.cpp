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
#include "toolkit/qt/portsettingsdialog.h"
#include "toolkit/qt/qtapplication.h"
#include "toolkit/qt/qtdesktop.h"
#include "tools/spectrosim/virtual_instrument.h"

#include <QApplication>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Arguments(int argc, char** argv)
{
    return {argv, argv + argc};
}

}  // namespace

int main(int argc, char** argv)
{
    // Checked before Qt starts, so --help, --version and a wrong option need no
    // display. Qt then takes its own options out of argv: what is left must be ours.
    const std::vector<std::string> lamps = spectrosim::LampNames();
    TProgramOptions options;
    int exitCode = CommandLineExitCode(ParseCommandLine(Arguments(argc, argv), lamps, TToolkitOptions::Leave, options),
                                       options, lamps);
    if (exitCode >= 0)
        return exitCode;

    QApplication qtApp(argc, argv);
    options = {};
    exitCode = CommandLineExitCode(ParseCommandLine(Arguments(argc, argv), lamps, TToolkitOptions::Refuse, options),
                                   options, lamps);
    if (exitCode >= 0)
        return exitCode;
    // German whatever the locale, in the fonts the windows were laid out for.
    LoadGermanQtTranslations();
    InstallFormFonts();
    TQtApplication application;
    application.Title = u"Spektrometer";
    InstallQtDesktopProvider();

    spectrosim::TInstrumentOptions simOptions;
    if (!options.Lamp.empty())
        simOptions.Lamp = *spectrosim::LampFromName(options.Lamp);
    const QString script = QString::fromLocal8Bit(options.Script);

    // The simulated instrument must be in the port map before the window
    // builds its port list.
    std::unique_ptr<spectrosim::TVirtualInstrument> instrument;
    if (options.Simulator) {
        instrument = std::make_unique<spectrosim::TVirtualInstrument>(platform::FreeComName(9), simOptions,
                                                                      !options.SimulatorFast);
        std::printf("Spektrometer-Simulator an %s\n", UnicodeToUtf8(instrument->ComName()).c_str());
        std::fflush(stdout);
    }

    if (!script.isEmpty() && !LoadAutomation(script)) {
        std::fprintf(stderr, "spectrometer: cannot read %s\n", script.toLocal8Bit().constData());
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
        form1->show();
        if (!script.isEmpty())
            StartAutomation(form1.get());
        status = QApplication::exec();
    }
    instrument.reset();
    return status;
}
