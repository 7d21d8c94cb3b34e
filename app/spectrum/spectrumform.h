// The spectrum window: the last capture with a wavelength axis, cross-hair
// read-out and zoom, overlays of ".dat" files, peaks, calibration from known
// lines, averaging, dark spectrum, CSV / JCAMP-DX / PNG export.
#pragma once

#include "app/spectrum/spectrumanalysis.h"
#include "app/spectrum/spectrumfiles.h"
#include "app/spectrum/spectrumplot.h"
#include "toolkit/dialogs.h"
#include "toolkit/extctrls.h"
#include "toolkit/stdctrls.h"

#include <memory>
#include <optional>

class TSpectrumForm : public TForm {
public:
    explicit TSpectrumForm(TComponent* AOwner);
    ~TSpectrumForm() override;

    TImage* PlotImage;
    TLabel* ReadoutLabel;
    TButton* CaptureButton;
    TButton* ResetZoomButton;
    TButton* OverlayButton;
    TButton* ClearOverlaysButton;
    TButton* PngButton;
    TButton* CsvButton;
    TButton* JcampButton;
    TLabeledEdit* ThresholdEdit;
    TLabeledEdit* AverageEdit;
    TButton* AverageButton;
    TButton* DarkButton;
    TCheckBox* DarkCheck;
    TLabel* StatusLabel;
    TLabel* PeaksLabel;
    TListBox* PeakList;
    TLabel* LinesLabel;
    TComboBox* LineBox;
    TComboBox* PeakBox;
    TButton* AssignButton;
    TButton* ClearAssignButton;
    TListBox* AssignList;
    TLabel* FitLabel;
    TButton* ApplyButton;
    TSaveDialog* SaveDialog;
    TOpenDialog* OpenDialog;

    // A capture of the main window is complete (Counts holds it).
    void CaptureComplete();

    // What is shown: the counts per pixel (dark subtracted when chosen,
    // averaged when asked for), the standard deviation of an average, the
    // peaks found in it, and the line fit of the assignments.
    const TCounts& Shown() const { return fShown; }
    const TCounts& ShownStd() const { return fStd; }
    const std::vector<TPeak>& Peaks() const { return fPeaks; }
    const std::optional<TLineFit>& Fit() const { return fFit; }
    TWavelengthScale Scale() const;
    const TPlotFrame& Frame() const { return fFrame; }
    // Captures completed since the window was created.
    int Captures() const { return fCaptures; }

    void CaptureButtonClick(TObject* Sender);
    void AverageButtonClick(TObject* Sender);
    void DarkButtonClick(TObject* Sender);
    void AssignButtonClick(TObject* Sender);
    void ApplyButtonClick(TObject* Sender);

private:
    void CreateControls();
    // Places the plot and the controls around it for the client size.
    void LayoutControls();
    void Send();
    void SendLater();
    void UpdateShown();
    void UpdatePeaks();
    void UpdateFit();
    void Redraw();
    void ShowReadout(int X, int Y);
    void Export(bool Jcamp);
    UnicodeString PeakText(const TPeak& P) const;
    void PlotMouseDown(TObject*, TMouseButton Button, TShiftState, int X, int Y);
    void PlotMouseMove(TObject*, TShiftState, int X, int Y);
    void PlotMouseUp(TObject*, TMouseButton Button, TShiftState, int X, int Y);

    TCounts fRaw;
    TCounts fShown;
    TCounts fStd;
    std::optional<TCounts> fDark;
    std::vector<TCounts> fAveraged;  // captures of a running average
    int fAverageCount = 0;           // captures wanted, 0: none running
    bool fTakeDark = false;
    int fCaptures = 0;
    std::vector<TPeak> fPeaks;
    std::vector<TOverlay> fOverlays;
    struct TAssignment {
        int Line;  // index in ReferenceLines()
        double Pixel;
    };
    std::vector<TAssignment> fAssignments;
    std::optional<TLineFit> fFit;
    std::optional<std::pair<double, double>> fZoom;
    TPlotFrame fFrame;
    TPoint fCross{-1, -1};
    int fDragFrom = -1, fDragTo = -1;
    std::unique_ptr<TTimerHandle> fSend;
    std::vector<std::pair<TControl*, int>> fBesidePlot;  // designed left
    std::vector<std::pair<TControl*, int>> fBelowPlot;   // designed top
};

extern TSpectrumForm* SpectrumForm;
