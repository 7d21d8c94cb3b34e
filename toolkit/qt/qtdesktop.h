// What the program's windows expect of a Qt desktop, set up once after the
// QApplication exists: Qt's own texts in German, and fonts with the widths the
// forms were laid out for.
#pragma once

#include <QColor>

// Loads Qt's German translations (qtbase_de.qm from Qt's translations folder)
// whatever the system locale: the program speaks German, and so must Qt's own
// dialogs and context menus. False when the file is not there.
bool LoadGermanQtTranslations();

// "Tahoma" and "MS Sans Serif" with the widths the forms were laid out for:
// Wine's metric-compatible Tahoma (Debian fonts-wine) for both when it is
// installed, otherwise a narrow sans (DejaVu Sans Condensed) in their place.
// True when Wine's Tahoma was found.
bool InstallFormFonts();

// The system colour for inactive caption text. Qt's palette has no caption
// roles; in the classic scheme that colour is the 3-D face colour, so the
// application palette's button colour (inactive group) stands for it.
QColor InactiveCaptionTextColor();
