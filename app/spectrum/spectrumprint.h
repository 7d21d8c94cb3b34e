// A printed page (or PDF) of a window: title, the plot at the page's own
// resolution, the facts of the measurement and a list (peaks, standards, the
// fit), laid out on one landscape page.
#pragma once

#include "app/spectrum/spectrumplot.h"
#include "toolkit/dialogs.h"
#include "toolkit/printing.h"

#include <functional>
#include <vector>

struct TReportPage {
    UnicodeString Title;
    UnicodeString Subtitle;
    std::vector<UnicodeString> Facts;
    UnicodeString ListCaption;
    std::vector<UnicodeString> List;
};

// Where the parts go: inside margins of 15 mm.
struct TReportLayout {
    TRect Title, Plot, Facts, List;
};
TReportLayout LayOutReport(const TPageCanvas& Page);

// Draws the report; Plot draws the plot into its box (with the unit of the
// page's dots per screen pixel for the frame's margins and marks).
using TPagePlot = std::function<void(TPageCanvas& Page, const TRect& Box, double Unit)>;
void DrawReport(TPageCanvas& Page, const TReportPage& Report, const TPagePlot& Plot);

// Prints the report (the system's print dialog), or with Pdf saves it as a
// PDF file chosen in Dialog (DefaultName first); Scene gives the plot's scene
// and its ranges, drawn at the page's resolution.
using TSceneSource = std::function<TPlotScene(double& X0, double& X1, double& Y0, double& Y1)>;
void PrintReport(bool Pdf, TSaveDialog& Dialog, const UnicodeString& DefaultName, const TReportPage& Report,
                 const TSceneSource& Scene);

// "10.12.2026 14:32" now, local time.
UnicodeString PrintedAtText();
