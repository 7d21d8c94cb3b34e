#include "toolkit/qt/qtdesktop.h"

#include <QCoreApplication>
#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QPalette>
#include <QTranslator>

bool LoadGermanQtTranslations()
{
    // Owned by the application object, so it lives as long as the texts are used.
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QStringLiteral("qtbase_de"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

bool InstallFormFonts()
{
    // Wine's "MS Sans Serif" has no bold cut and is not emboldened, so Tahoma
    // (regular and bold) stands in for both, as it does on later Windows.
    static const char* const WineFonts[] = {"tahoma.ttf", "tahomabd.ttf"};
    bool found = true;
    for (const char* file : WineFonts) {
        const QString path = QStringLiteral("/usr/share/wine/fonts/") + QLatin1String(file);
        if (!QFile::exists(path) || QFontDatabase::addApplicationFont(path) < 0) found = false;
    }
    // Used only for a family that is not there: DejaVu Sans itself is wider
    // than the forms allow, its condensed cut fits.
    QFont::insertSubstitutions(
        QStringLiteral("MS Sans Serif"),
        {QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("DejaVu Sans")});
    QFont::insertSubstitutions(QStringLiteral("Tahoma"),
                               {QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("DejaVu Sans")});
    return found;
}

QColor InactiveCaptionTextColor() { return QGuiApplication::palette().color(QPalette::Inactive, QPalette::Button); }
