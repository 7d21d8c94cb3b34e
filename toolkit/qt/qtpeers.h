// The Qt side of the toolkit's controls: one peer per control mirrors its
// state onto a Qt widget and turns the widget's input into the control's user
// actions (inside the event loop's guard).
#pragma once

#include "toolkit/controls.h"

#include <QFont>
#include <QPointer>
#include <QWidget>

// Creates the peers; TQtApplication installs one.
class TQtPeerFactory : public TPeerFactory {
public:
    std::unique_ptr<TControlPeer> CreatePeer(TControl& Control) override;
};

// The widget that shows Control (null without a Qt peer); for tests.
QWidget* QtWidgetOf(const TControl* Control);
// A toolkit font as a Qt font.
QFont ToQFont(const TFont& Font);
QColor ToQColor(TColor Color);
// Installs the system colours, text measure and text drawing of Qt.
void InstallQtGraphics();
