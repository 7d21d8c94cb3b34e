// "Kinetik": the measured quantity at up to three wavelengths, captured at a
// fixed interval from Start, plotted live; linear and first-order fits over a
// chosen stretch of time; the points as CSV.
#pragma once

#include "app/lab/labcapture.h"
#include "app/lab/labfits.h"
#include "app/spectrum/absorbance.h"
#include "app/spectrum/spectrumplot.h"
#include "toolkit/dialogs.h"
#include "toolkit/extctrls.h"
#include "toolkit/stdctrls.h"

#include <optional>
#include <vector>

class TKineticsForm : public TForm {
public:
    explicit TKineticsForm(TComponent* AOwner);
    ~TKineticsForm() override;

    TLabeledEdit* WaveEdits[3];
    TButton* LambdaMaxButton;
    TLabeledEdit* IntervalEdit;
    TLabeledEdit* DurationEdit;
    TButton* StartButton;
    TButton* StopButton;
    TLabeledEdit* FitFromEdit;
    TLabeledEdit* FitToEdit;
    TComboBox* ChannelBox;
    TButton* FitButton;
    TButton* CopyButton;
    TButton* SaveButton;
    TButton* PrintButton;
    TButton* PdfButton;
    TLabel* LinearLabel;
    TLabel* FirstOrderLabel;
    TLabel* StatusLabel;
    TListBox* PointsList;
    TImage* PlotImage;
    TSaveDialog* SaveDialog;

    // The run's clock runs this many times faster than real time (tests).
    static double TimeScale;
    static constexpr double MinIntervalS = 1.5;  // about one capture at 9600 baud

    bool Running() const { return fRunning; }
    const std::vector<double>& Times() const { return fTimes; }
    // Per wavelength, one value per capture (NaN where the pixel had none).
    const std::vector<std::vector<double>>& Values() const { return fValues; }
    const std::optional<TLinearFit>& Linear() const { return fLinear; }
    const std::optional<TFirstOrderFit>& FirstOrder() const { return fFirstOrder; }
    // The fit results as text (what "Ergebnis kopieren" copies).
    UnicodeString ResultText() const;

    void StartButtonClick(TObject* Sender);
    void FitButtonClick(TObject* Sender);

private:
    void CreateControls();
    void LayoutControls();
    void Captured(const TCounts& Raw, std::int32_t ExposureUs);
    void Stop(const UnicodeString& Why);
    TPlotScene BuildScene(double& X0, double& X1, double& Y0, double& Y1) const;
    void Redraw();
    void PrintOrSave(bool Pdf);
    UnicodeString ColumnName(std::size_t Channel) const;
    UnicodeString QuantitySymbol() const;

    TLabCapture fCapture;
    bool fRunning = false;
    double fStart = 0, fInterval = 0, fDuration = 0;
    TQuantity fQuantity = TQuantity::Absorbance;
    std::vector<double> fNm;
    std::vector<double> fTimes;
    std::vector<std::vector<double>> fValues;
    std::optional<TLinearFit> fLinear;
    std::optional<TFirstOrderFit> fFirstOrder;
    std::size_t fFitChannel = 0;
    double fFitFrom = 0, fFitTo = 0;
};

extern TKineticsForm* KineticsForm;
