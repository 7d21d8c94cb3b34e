// "Konzentrationsreihe": standards of known concentration measured at one
// wavelength, the straight line through them (Beer-Lambert), and samples
// read off it. Uses the spectrum window's reference and dark spectrum.
#pragma once

#include "app/lab/labcapture.h"
#include "app/lab/labfits.h"
#include "app/spectrum/spectrumplot.h"
#include "toolkit/dialogs.h"
#include "toolkit/extctrls.h"
#include "toolkit/stdctrls.h"

#include <optional>
#include <vector>

class TConcentrationForm : public TForm {
public:
    explicit TConcentrationForm(TComponent* AOwner);
    ~TConcentrationForm() override;

    TLabeledEdit* WavelengthEdit;
    TButton* LambdaMaxButton;
    TLabeledEdit* BandEdit;
    TLabeledEdit* UnitEdit;
    TLabeledEdit* AverageEdit;
    TCheckBox* ThroughOriginCheck;
    TLabeledEdit* NameEdit;
    TLabeledEdit* ConcEdit;
    TButton* MeasureButton;
    TComboBox* RowBox;  // the standard that the buttons below act on
    TButton* RemeasureButton;
    TButton* ChangeButton;
    TButton* DeleteButton;
    TListBox* StandardsList;
    TLabeledEdit* SampleNameEdit;
    TButton* SampleButton;
    TLabel* ResultLabel;
    TLabel* WarningLabel;
    TButton* SaveButton;
    TButton* LoadButton;
    TButton* PrintButton;
    TButton* PdfButton;
    TLabel* StatusLabel;
    TImage* PlotImage;
    TLabel* FitLabel;
    TLabel* QualityLabel;
    TSaveDialog* SaveDialog;
    TOpenDialog* OpenDialog;

    struct TStandard {
        UnicodeString Name;
        double Concentration = 0;
        std::optional<double> Absorbance;  // none until measured
    };
    struct TSampleResult {
        UnicodeString Name;
        double Absorbance = 0;
        TPrediction Concentration;
    };
    const std::vector<TStandard>& Standards() const { return fStandards; }
    const std::vector<TSampleResult>& Samples() const { return fSamples; }
    const std::optional<TLinearFit>& Fit() const { return fFit; }
    bool Measuring() const { return fCapture.Waiting(); }

private:
    enum class TTarget { NewStandard, Remeasure, Sample };
    void CreateControls();
    void LayoutControls();
    void StartMeasuring(TTarget Target, int Row);
    void Captured(const TCounts& Raw, std::int32_t ExposureUs);
    void Finish(double Absorbance);
    double ReadConcentration() const;
    void UpdateTable();
    void UpdateFit();
    TPlotScene BuildScene(double& X0, double& X1, double& Y0, double& Y1) const;
    void Redraw();
    void PrintOrSave(bool Pdf);
    UnicodeString Unit() const;

    std::vector<TStandard> fStandards;
    std::vector<TSampleResult> fSamples;
    std::optional<TLinearFit> fFit;
    TLabCapture fCapture;
    TTarget fTarget = TTarget::NewStandard;
    int fTargetRow = -1;
    TStandard fPending;  // the new standard being measured
    int fWanted = 1;
    std::vector<double> fReadings;
    double fNm = 0;
    int fBand = 1;
};

extern TConcentrationForm* ConcentrationForm;
