// The spectrum window: the last capture with a wavelength axis, cross-hair
// read-out and zoom, overlays of ".dat" files, peaks, calibration from known
// lines, averaging, dark spectrum, CSV / JCAMP-DX / PNG export; transmittance
// and absorbance against a reference, live view, saturation warning and the
// exposure assistant.
#pragma once

#include "app/spectrum/absorbance.h"
#include "app/spectrum/elementid.h"
#include "app/spectrum/exposureassistant.h"
#include "app/spectrum/linelibrary.h"
#include "app/spectrum/spectrumanalysis.h"
#include "app/spectrum/spectrumfiles.h"
#include "app/spectrum/spectrumplot.h"
#include "app/spectrum/spectrumprint.h"
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
    TButton* PdfButton;
    TButton* PrintButton;
    TButton* LiveButton;
    TButton* AutoExposureButton;
    TLabel* QuantityLabel;
    TComboBox* QuantityBox;
    TButton* ReferenceButton;
    TLabel* StoredLabel;
    TLabel* SaturationLabel;
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
    TButton* AutoAssignButton;
    TLabel* ElementsLabel;
    std::vector<TCheckBox*> ElementChecks;  // one per library element, in its order
    TButton* IdentifyButton;
    TCheckBox* RainbowCheck;
    TCheckBox* FillCheck;
    TLabel* IdentLabel;
    TSaveDialog* SaveDialog;
    TOpenDialog* OpenDialog;

    // A capture of the main window is complete (Counts holds it).
    void CaptureComplete();
    // Ends live view, averaging, the assistant and any capture still to be
    // sent (the one running is shown when it arrives).
    void StopRuns();
    // The main window lost the port: runs end, the last spectrum stays.
    void PortLost();

    // What is shown: the counts per pixel (dark subtracted when chosen,
    // averaged when asked for), the standard deviation of an average, the
    // peaks found in it, and the line fit of the assignments.
    const TCounts& Shown() const { return fShown; }
    const TCounts& ShownStd() const { return fStd; }
    const std::vector<TPeak>& Peaks() const { return fPeaks; }
    const std::optional<TLineFit>& Fit() const { return fFit; }
    // The quantity chosen and the one shown (counts while T or A cannot be
    // computed), with its values when it is T or A.
    TQuantity Quantity() const { return fQuantity; }
    TQuantity ShownQuantity() const { return fShownQuantity; }
    const TRatioSpectrum& Ratio() const { return fRatio; }
    const std::optional<TStoredSpectrum>& Reference() const { return fReference; }
    const std::optional<TStoredSpectrum>& Dark() const { return fDark; }
    // For the lab windows: a capture (its raw counts at its exposure) as the
    // quantity, against the reference and dark kept (counts: dark subtracted
    // when chosen). Raises Exception with the reason when T or A cannot be
    // computed for it.
    TRatioSpectrum QuantityOf(TQuantity Quantity, const TCounts& Raw, std::int32_t ExposureUs) const;
    // The pixel at Nm on the current scale (the pixel itself without one).
    double PixelAt(double Nm) const;
    // λmax of the absorbance shown, if any.
    std::optional<double> AbsorbanceMaximum() const;
    bool LiveRunning() const { return fRun == TRun::Live; }
    bool AssistantRunning() const { return fRun == TRun::Assistant; }
    TWavelengthScale Scale() const;
    const TPlotFrame& Frame() const { return fFrame; }
    // Captures completed since the window was created.
    int Captures() const { return fCaptures; }

    void CaptureButtonClick(TObject* Sender);
    void AverageButtonClick(TObject* Sender);
    void DarkButtonClick(TObject* Sender);
    void ReferenceButtonClick(TObject* Sender);
    void LiveButtonClick(TObject* Sender);
    void AutoExposureButtonClick(TObject* Sender);
    void QuantityBoxChange(TObject* Sender);
    void AssignButtonClick(TObject* Sender);
    void ApplyButtonClick(TObject* Sender);
    void AutoAssignButtonClick(TObject* Sender);
    void IdentifyButtonClick(TObject* Sender);
    // The last identification ("Element bestimmen").
    const std::optional<TIdentification>& Identification() const { return fIdentification; }
    // The calibration's assignments: line and the peak's pixel.
    struct TAssignment {
        UnicodeString Name;
        double Nm;
        double Pixel;
    };
    const std::vector<TAssignment>& Assignments() const { return fAssignments; }

private:
    void CreateControls();
    // Places the plot and the controls around it for the client size.
    void LayoutControls();
    enum class TRun { None, Single, Average, Dark, Reference, Live, Assistant };
    void Start(TRun Run);
    void Send();
    void SendLater();
    void EndRun(const UnicodeString& Status);
    void AssistantStep(const TCounts& Capture);
    TStoredSpectrum Stored(TCounts Capture) const;
    // Why T or A cannot be shown for the current capture (empty: it can).
    UnicodeString RatioBlocker(std::int32_t ExposureUs) const;
    void UpdateShown();
    void UpdateLabels();
    void UpdatePeaks();
    void UpdateFit();
    TPlotScene BuildScene(double& X0, double& X1, double& Y0, double& Y1) const;
    void Redraw();
    TReportPage Report() const;
    void PrintOrSave(bool Pdf);
    void ShowReadout(int X, int Y);
    void Export(bool Jcamp);
    UnicodeString PeakText(const TPeak& P) const;
    void PlotMouseDown(TObject*, TMouseButton Button, TShiftState, int X, int Y);
    void PlotMouseMove(TObject*, TShiftState, int X, int Y);
    void PlotMouseUp(TObject*, TMouseButton Button, TShiftState, int X, int Y);

    TCounts fRaw;
    std::int32_t fRawExposureUs = 0;
    bool fRawIsStored = false;  // fRaw is the dark or reference just taken
    std::vector<TPixelRun> fSaturated;
    TCounts fShown;
    TCounts fStd;
    std::optional<TStoredSpectrum> fDark;
    std::optional<TStoredSpectrum> fReference;
    TQuantity fQuantity = TQuantity::Counts;
    TQuantity fShownQuantity = TQuantity::Counts;
    TRatioSpectrum fRatio;
    UnicodeString fRatioNote;
    TRun fRun = TRun::None;
    bool fStopLive = false;
    std::optional<TExposureAssistant> fAssistant;
    std::vector<TCounts> fAveraged;  // captures of a running average
    int fAverageCount = 0;           // captures wanted
    int fCaptures = 0;
    std::vector<TPeak> fPeaks;
    std::vector<TOverlay> fOverlays;
    std::vector<TAssignment> fAssignments;
    // The largest residual of the calibration taken from known lines (0: none).
    double fCalibrationResidual = 0;
    std::optional<TIdentification> fIdentification;
    void AddLineMarkers(TPlotScene& Scene) const;
    void UpdateLinesNote();
    std::optional<TLineFit> fFit;
    std::optional<std::pair<double, double>> fZoom;
    TPlotFrame fFrame;
    TPoint fCross{-1, -1};
    int fDragFrom = -1, fDragTo = -1;
    std::unique_ptr<TTimerHandle> fSend;
    std::unique_ptr<TTimerHandle> fWatchdog;
    std::vector<std::pair<TControl*, int>> fBesidePlot;  // designed left
    std::vector<std::pair<TControl*, int>> fBelowPlot;   // designed top
};

extern TSpectrumForm* SpectrumForm;
