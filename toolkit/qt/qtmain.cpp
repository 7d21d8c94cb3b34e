// The program's application on Qt: the QApplication, the dispatcher and the
// desktop provider of the platform layer.
#include "toolkit/qt/portsettingsdialog.h"
#include "toolkit/qt/qtapplication.h"
#include "toolkit/qt/qtdesktop.h"

#include <QApplication>

std::unique_ptr<TApplication> CreateApplication(int& Argc, char** Argv)
{
    // Lives until the end of the process: Qt objects of the program may outlive the dispatcher.
    static QApplication* Qt = new QApplication(Argc, Argv);
    (void)Qt;
    // German whatever the locale, in the fonts the windows were laid out for.
    LoadGermanQtTranslations();
    InstallFormFonts();
    auto App = std::make_unique<TQtApplication>();
#ifndef _WIN32
    InstallQtDesktopProvider();
#endif
    return App;
}
