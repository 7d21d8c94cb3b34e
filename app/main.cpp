// The program entry: the main window, the hidden calibration dialog, the event loop.
//
//   spectrometer [--simulator [LAMP]] [--simulator-fast] [--automate FILE]
//                [--log FILE|-] [--log-level simple|detail|debug]
//
// --simulator puts the simulated instrument on an in-process virtual port
// (COM9, or the next free name) before the port list is built; LAMP is
// fluorescent (default), sodium, green-laser or red-laser. --simulator-fast
// lets it answer without the line's pacing. --automate drives the windows
// from a script (see app/automation.h). --log writes the serial component's
// trace lines to FILE ("-": standard error), --log-level chooses how much
// (default debug); without --log nothing is logged.
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/automation.h"
#include "comm/nrclasses/nrlogfile.h"
#include "comm/nrcomm/nrcomm.h"
#include "platform/posix/portmap.h"
#include "toolkit/qt/portsettingsdialog.h"
#include "toolkit/qt/qtapplication.h"
#include "tools/spectrosim/virtual_instrument.h"

#include <QApplication>

#include <cstdio>
#include <memory>

int main(int argc, char** argv)
{
    QApplication qtApp(argc, argv);
    TQtApplication application;
    application.Title = u"Spektrometer";
    InstallQtDesktopProvider();

    bool simulator = false;
    bool simulatorFast = false;
    spectrosim::TInstrumentOptions simOptions;
    QString script;
    const QStringList args = QApplication::arguments();
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--simulator")) {
            simulator = true;
            if (i + 1 < args.size()) {
                if (auto lamp = spectrosim::LampFromName(args[i + 1].toStdString())) {
                    simOptions.Lamp = *lamp;
                    ++i;
                }
            }
        } else if (a == QLatin1String("--simulator-fast")) {
            simulator = true;
            simulatorFast = true;
        } else if (a == QLatin1String("--automate") && i + 1 < args.size()) {
            script = args[++i];
        } else if ((a == QLatin1String("--log") || a == QLatin1String("--log-level")) && i + 1 < args.size()) {
            ++i;  // read by AttachLogFromCommandLine below
        } else if (a.startsWith(QLatin1String("--log=")) || a.startsWith(QLatin1String("--log-level="))) {
            // read by AttachLogFromCommandLine below
        } else {
            std::fprintf(stderr,
                         "usage: spectrometer [--simulator [fluorescent|sodium|green-laser|red-laser]]\n"
                         "                    [--simulator-fast] [--automate FILE]\n"
                         "                    [--log FILE|-] [--log-level simple|detail|debug]\n");
            return 2;
        }
    }

    // The simulated instrument must be in the port map before the window
    // builds its port list.
    std::unique_ptr<spectrosim::TVirtualInstrument> instrument;
    if (simulator) {
        instrument = std::make_unique<spectrosim::TVirtualInstrument>(winapi_posix::FreeComName(9), simOptions,
                                                                      !simulatorFast);
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
