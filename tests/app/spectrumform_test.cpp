// The spectrum window on the simulated fluorescent lamp: capture, peaks,
// calibration from the mercury lines, averaging, dark spectrum, zoom and
// read-out, overlays and the export files (headless).
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/calibration.h"
#include "app/spectrum/spectrumform.h"
#include "comm/nrcomm/nrcomm.h"
#include "comm/nrcommbox/nrcommbox.h"
#include "tests/app/boxes.h"
#include "tests/app/helpers.h"
#include "tools/spectrosim/virtual_instrument.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

UnicodeString Path(const fs::path& P) { return Utf8ToUnicode(P.string()); }

int CountColour(const TBitmap& B, TColor C)
{
    int n = 0;
    for (int y = 0; y < B.Height(); ++y)
        for (int x = 0; x < B.Width(); ++x) n += B.Pixel(x, y) == C;
    return n;
}

TEST(SpectrumWindow, SimulatedLampPeaksCalibrationAndTools)
{
    const fs::path dataDir = fs::path(ToUtf8(TForm1::ProgramDirectory())) / "data";
    const fs::path dir = fs::temp_directory_path() / ("spectro-spectrum-" + std::to_string(::getpid()));
    fs::remove_all(dataDir);
    fs::create_directories(dataDir);
    fs::create_directories(dir);
    TBoxes recorded;
    std::vector<UnicodeString>& boxes = recorded.List;
    ResetAcquisitionState();
    spectrosim::TVirtualInstrument instrument(u"COM7", {}, /*Paced=*/false);
    {
        auto form = std::make_unique<TForm1>();
        new TForm2(form.get());
        const int index = form->nrDeviceBox1->Items().IndexOf(u"COM7");
        ASSERT_GE(index, 0);
        form->nrDeviceBox1->PickItem(index);
        form->eSend->SetText(u"s10000");
        form->Spektrum1->Click();
        TSpectrumForm* w = SpectrumForm;
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(w->Visible());
        const auto wait = [&](const std::function<bool()>& Done) {
            return Application->WaitUntil(Done, std::chrono::seconds(10));
        };

        // A capture without calibration: peaks in pixels, the highest first.
        w->CaptureButton->Click();
        ASSERT_TRUE(wait([&] { return w->Shown().size() == 128; }));
        ASSERT_GE(w->PeakList->Count(), 3);
        EXPECT_NEAR(w->Peaks()[0].Centre, (546.07 - 400) / 2.2, 0.2);
        EXPECT_NEAR(w->Peaks()[0].Fwhm, 2.355, 0.35);  // the line is 1 pixel sigma wide

        // The mercury lines assigned to their peaks: the line lands within 0.5 nm.
        const double lines[] = {404.66, 435.83, 546.07};
        for (double nm : lines) {
            int line = -1, peak = -1;
            for (int i = 0; i < static_cast<int>(ReferenceLines().size()); ++i)
                if (line < 0 && std::abs(ReferenceLines()[static_cast<std::size_t>(i)].Nm - nm) < 0.01) line = i;
            for (int i = 0; i < static_cast<int>(w->Peaks().size()); ++i)
                if (std::abs(w->Peaks()[static_cast<std::size_t>(i)].Centre - (nm - 400) / 2.2) < 1) peak = i;
            ASSERT_GE(line, 0);
            ASSERT_GE(peak, 0) << nm;
            w->LineBox->PickItem(line);
            w->PeakBox->PickItem(peak);
            w->AssignButton->Click();
        }
        ASSERT_TRUE(w->Fit().has_value());
        EXPECT_EQ(w->AssignList->Count(), 3);
        w->ApplyButton->Click();
        EXPECT_EQ(CalSlope, w->Fit()->Slope);
        for (double nm : lines) EXPECT_NEAR(CalSlope * (nm - 400) / 2.2 + CalOffset, nm, 0.5);
        double slope = 0, offset = 0;
        LoadCalibration(CalibrationFilePath(TForm1::ProgramDirectory()), slope, offset);
        EXPECT_NEAR(slope, CalSlope, 1e-12);
        EXPECT_NEAR(offset, CalOffset, 1e-9);
        EXPECT_EQ(w->PeakList->Items().Strings(0).substr(0, 4), u"546.");

        // Averaging: the mean of three captures and a standard deviation in the CSV.
        w->AverageEdit->SetText(u"3");
        w->AverageButton->Click();
        ASSERT_TRUE(wait([&] { return !w->ShownStd().empty(); }));
        EXPECT_EQ(w->StatusLabel->Caption(), u"Mittelung: 3 von 3 Aufnahmen");
        EXPECT_GT(*std::max_element(w->ShownStd().begin(), w->ShownStd().end()), 0);
        w->SaveDialog->ExecuteHook = [&](UnicodeString& F) {
            F = Path(dir / "mittel");
            return true;
        };
        w->CsvButton->Click();
        const std::string csv = ReadAll(dir / "mittel.csv");
        EXPECT_EQ(csv.substr(0, csv.find('\n')), "wavelength_nm,counts,std");
        EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 129);

        // Dark spectrum taken and subtracted: the lamp's own light is left as noise.
        w->DarkButton->Click();
        ASSERT_TRUE(wait([&] { return w->StatusLabel->Caption() == u"Dunkelspektrum gespeichert."; }));
        EXPECT_TRUE(w->ShownStd().empty());  // the dark capture is shown, no longer the average
        w->DarkCheck->SetChecked(true);
        const int captures = w->Captures();
        w->CaptureButton->Click();
        ASSERT_TRUE(wait([&] { return w->Captures() > captures; }));
        EXPECT_LT(*std::max_element(w->Shown().begin(), w->Shown().end()), 60);
        w->DarkCheck->SetChecked(false);
        EXPECT_GT(*std::max_element(w->Shown().begin(), w->Shown().end()), 500);

        // Read-out under the pointer and zoom by dragging.
        const TPlotFrame f = w->Frame();
        w->PlotImage->MouseMove({}, f.XPixel(546.07), f.YPixel(500));
        EXPECT_EQ(w->ReadoutLabel->Caption().substr(0, 6), u"λ = 54") << ToUtf8(w->ReadoutLabel->Caption());
        w->PlotImage->MouseDown(mbLeft, {}, f.XPixel(500), 100);
        w->PlotImage->MouseMove({}, f.XPixel(560), 100);
        w->PlotImage->MouseUp(mbLeft, {}, f.XPixel(600), 100);
        EXPECT_NEAR(w->Frame().X0, 500, 1);
        EXPECT_NEAR(w->Frame().X1, 600, 1);
        w->ResetZoomButton->Click();
        EXPECT_NEAR(w->Frame().X0, CalOffset, 1e-9);

        // An overlay from the main window's file, then the picture and JCAMP-DX.
        form->SaveTextFileDialog1->ExecuteHook = [&](UnicodeString& F) {
            F = Path(dir / "lampe.dat");
            return true;
        };
        form->Speichern1->Click();
        const int blue = CountColour(w->PlotImage->Picture(), clBlue);
        w->OpenDialog->ExecuteHook = [&](UnicodeString& F) {
            F = Path(dir / "lampe.dat");
            return true;
        };
        w->OverlayButton->Click();
        EXPECT_GT(CountColour(w->PlotImage->Picture(), clBlue), blue + 100);
        w->PngButton->Click();
        EXPECT_EQ(ReadAll(dir / "mittel.png").substr(1, 3), "PNG");
        w->JcampButton->Click();
        EXPECT_EQ(ReadAll(dir / "mittel.jdx").substr(0, 8), "##TITLE=");
        EXPECT_TRUE(boxes.size() <= 1) << ToUtf8(boxes.back());  // the missing file at start at most
        form.reset();
    }
    EXPECT_EQ(SpectrumForm, nullptr);
    fs::remove_all(dir);
    fs::remove_all(dataDir);
}

// A larger window gives the plot the room while the side panel keeps its width
// and the rows below the plot follow it; the zoomed range spans the new plot,
// so its right edge still reads the range's end; the window keeps a minimum.
TEST(SpectrumWindow, ResizingLaysOutThePlotAndKeepsItsScale)
{
    ResetAcquisitionState();
    CalSlope = 2.2;
    CalOffset = 400;
    auto w = std::make_unique<TSpectrumForm>(nullptr);
    const TRect plot = w->PlotImage->BoundsRect(), peaks = w->PeakList->BoundsRect();
    const TRect status = w->StatusLabel->BoundsRect(), threshold = w->ThresholdEdit->EditLabel()->BoundsRect();
    w->ResetZoomButton->Click();
    TPlotFrame f = w->Frame();
    w->PlotImage->MouseDown(mbLeft, {}, f.XPixel(500), 100);
    w->PlotImage->MouseUp(mbLeft, {}, f.XPixel(600), 100);
    const TPlotFrame zoomed = w->Frame();

    w->SetClientSize(w->ClientWidth() + 200, w->ClientHeight() + 160);
    EXPECT_EQ(w->PlotImage->Width(), plot.Width() + 200);
    EXPECT_EQ(w->PlotImage->Height(), plot.Height() + 160);
    EXPECT_EQ(w->PlotImage->Picture().Width(), plot.Width() + 200);
    EXPECT_EQ(w->PeakList->BoundsRect(), (TRect{peaks.Left + 200, peaks.Top, peaks.Right + 200, peaks.Bottom}));
    EXPECT_EQ(w->ThresholdEdit->EditLabel()->Left(), threshold.Left + 200);
    EXPECT_EQ(w->StatusLabel->Top(), status.Top + 160);
    f = w->Frame();
    EXPECT_EQ(f.X0, zoomed.X0);
    EXPECT_EQ(f.X1, zoomed.X1);
    EXPECT_GE(f.Area.Right, zoomed.Area.Right + 200);
    w->PlotImage->MouseMove({}, f.Area.Right - 1, f.YPixel(500));
    const std::string readout = ToUtf8(w->ReadoutLabel->Caption());
    ASSERT_EQ(readout.rfind("λ = ", 0), 0u) << readout;
    EXPECT_NEAR(std::stod(readout.substr(std::string("λ = ").size())), zoomed.X1, 0.5) << readout;

    // Too small: the minimum, where the side panel still clears the rows below the plot.
    w->SetClientSize(100, 100);
    EXPECT_GT(w->ClientWidth(), 100);
    EXPECT_GT(w->ClientHeight(), 100);
    EXPECT_LT(w->PngButton->BoundsRect().Right, w->PeakList->Left());
    EXPECT_LE(w->ApplyButton->BoundsRect().Bottom, w->ClientHeight());
    EXPECT_LE(w->StatusLabel->BoundsRect().Bottom, w->ClientHeight());
    EXPECT_GT(w->PlotImage->Height(), 200);
}

}  // namespace
