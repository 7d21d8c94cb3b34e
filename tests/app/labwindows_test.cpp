// The lab windows on the simulated halogen lamp and dye (headless): a
// concentration series read back by a sample, its table saved and loaded,
// bad input answered; a fading dye's rate constant from a kinetics run.
#include "app/Unit1.h"
#include "app/lab/concentrationform.h"
#include "app/lab/kineticsform.h"
#include "app/lab/labtext.h"
#include "app/spectrum/spectrumform.h"
#include "comm/nrcommbox/nrcommbox.h"
#include "tests/app/boxes.h"
#include "tests/app/helpers.h"
#include "tools/spectrosim/virtual_instrument.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

// Whether the printed page holds a text starting with Start.
bool PrintedText(const UnicodeString& Start)
{
    if (!Application->PrintedPage) return false;
    for (const TRecordingPage::TOperation& op : Application->PrintedPage->Operations)
        if (op.Text.substr(0, Start.size()) == Start) return true;
    return false;
}

bool WaitFor(const std::function<bool()>& Done, int Seconds = 10)
{
    return Application->WaitUntil(Done, std::chrono::seconds(Seconds));
}

// The program on a simulated halogen lamp, with a dark spectrum and a blank
// taken in the spectrum window, which shows absorbance.
struct TLab {
    explicit TLab(const spectrosim::TInstrumentOptions& Options) : Instrument(u"COM7", Options, /*Paced=*/false)
    {
        ResetAcquisitionState();
        CalSlope = 2.2;
        CalOffset = 400;
        Form = std::make_unique<TForm1>();
        Form->nrDeviceBox1->PickItem(Form->nrDeviceBox1->Items().IndexOf(u"COM7"));
        Form->TTemp->SetEnabled(false);
        Form->SetExposureMs(10);
        Form->Spektrum1->Click();
        Instrument.SetLamp(spectrosim::TLamp::Off);
        SpectrumForm->DarkButton->Click();
        EXPECT_TRUE(WaitFor([] { return SpectrumForm->Dark().has_value(); }));
        Instrument.SetLamp(spectrosim::TLamp::Halogen);
        SpectrumForm->ReferenceButton->Click();
        EXPECT_TRUE(WaitFor([] { return SpectrumForm->Reference().has_value(); }));
        SpectrumForm->QuantityBox->PickItem(2);
    }
    spectrosim::TVirtualInstrument Instrument;
    std::unique_ptr<TForm1> Form;
};

TEST(LabWindows, ConcentrationSeriesReadsAnUnknown)
{
    TBoxes boxes;
    TLab lab({});
    lab.Form->Konzentration1->Click();
    TConcentrationForm* w = ConcentrationForm;
    ASSERT_NE(w, nullptr);
    w->WavelengthEdit->SetText(u"590");
    // Bad input first: a letter, then the sample before any line.
    w->ConcEdit->SetText(u"0,2x");
    w->MeasureButton->Click();
    ASSERT_FALSE(boxes.List.empty());
    EXPECT_EQ(boxes.List.back(), u"Konzentration: '0,2x' ist keine Zahl.");
    w->SampleButton->Click();
    EXPECT_EQ(boxes.List.back(),
              u"Erst die Eichgerade: mindestens zwei Standards mit verschiedenen Konzentrationen messen.");
    EXPECT_FALSE(w->Measuring());

    for (const char16_t* c : {u"0,25", u"0.5", u"1.0"}) {
        lab.Instrument.SetSample({spectrosim::TSample::TKind::Dye, ReadDecimal(c, u"")});
        w->ConcEdit->SetText(c);
        w->MeasureButton->Click();
        ASSERT_TRUE(WaitFor([&] { return !w->Measuring(); }));
    }
    ASSERT_EQ(w->Standards().size(), 3U);
    ASSERT_TRUE(w->Fit().has_value()) << ToUtf8(w->FitLabel->Caption());
    EXPECT_NEAR(w->Fit()->Slope, 0.8, 0.04);
    EXPECT_GT(w->Fit()->R2, 0.999);
    lab.Instrument.SetSample({spectrosim::TSample::TKind::Dye, 0.6});
    w->SampleButton->Click();
    ASSERT_TRUE(WaitFor([&] { return !w->Samples().empty(); }));
    EXPECT_NEAR(w->Samples()[0].Concentration.X, 0.6, 0.6 * 0.03);
    EXPECT_EQ(w->WarningLabel->Caption(), u"");
    w->PrintButton->Click();
    EXPECT_TRUE(PrintedText(u"Konzentrationsreihe") && PrintedText(u"Standard 3") && PrintedText(u"Probe: Probe 1"));

    // The table to a file and back: the standards again, the fit the same.
    const fs::path file = fs::temp_directory_path() / ("spectro-series-" + std::to_string(::getpid()) + ".csv");
    w->SaveDialog->ExecuteHook = [&](UnicodeString& F) {
        F = Utf8ToUnicode(file.string());
        return true;
    };
    w->SaveButton->Click();
    const double slope = w->Fit()->Slope;
    w->OpenDialog->ExecuteHook = [&](UnicodeString& F) {
        F = Utf8ToUnicode(file.string());
        return true;
    };
    w->LoadButton->Click();
    EXPECT_EQ(w->Standards().size(), 3U);
    ASSERT_TRUE(w->Fit().has_value());
    EXPECT_DOUBLE_EQ(w->Fit()->Slope, slope);
    fs::remove(file);
    lab.Form.reset();
    EXPECT_EQ(ConcentrationForm, nullptr);
}

TEST(LabWindows, KineticsOfAFadingDye)
{
    // The run's clock and the simulator's both go ten times faster than real time.
    TKineticsForm::TimeScale = 10;
    spectrosim::TInstrumentOptions options;
    options.Clock = [] {
        return 10 * std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    };
    TBoxes boxes;
    {
        TLab lab(options);
        lab.Form->Kinetik1->Click();
        TKineticsForm* w = KineticsForm;
        ASSERT_NE(w, nullptr);
        w->WaveEdits[0]->SetText(u"590");
        w->IntervalEdit->SetText(u"1");  // shorter than a capture
        w->StartButton->Click();
        EXPECT_FALSE(w->Running());
        w->IntervalEdit->SetText(u"2");
        w->DurationEdit->SetText(u"60");
        lab.Instrument.SetSample(*spectrosim::SampleFromText("fade:1.2:0.05"));
        w->StartButton->Click();
        ASSERT_TRUE(w->Running());
        ASSERT_TRUE(WaitFor([&] { return !w->Running(); }, 30));
        EXPECT_GE(w->Times().size(), 25U);
        w->FitButton->Click();
        ASSERT_TRUE(w->FirstOrder().has_value()) << ToUtf8(w->FirstOrderLabel->Caption());
        EXPECT_NEAR(w->FirstOrder()->K, 0.05, 0.005);
        ASSERT_TRUE(w->Linear().has_value());
        EXPECT_LT(w->Linear()->Slope, 0);
        w->PrintButton->Click();
        EXPECT_TRUE(PrintedText(u"Kinetik") && PrintedText(u"1. Ordnung: k = "));
        w->CopyButton->Click();
        EXPECT_NE(Application->ClipboardText.find(u"Halbwertszeit"), UnicodeString::npos);
    }
    TKineticsForm::TimeScale = 1;
    EXPECT_NE(std::find(boxes.List.begin(), boxes.List.end(),
                        u"Das Intervall muss mindestens 1.5 s lang sein: so lange dauert eine Aufnahme."),
              boxes.List.end());
}

}  // namespace
