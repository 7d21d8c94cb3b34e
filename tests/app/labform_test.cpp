// The absorbance lab in the spectrum window on the simulated halogen lamp and
// dye (headless): dark, reference, absorbance of the dye, a reference of
// another exposure, live view, the exposure assistant, saturation, port loss.
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/spectrum/spectrumform.h"
#include "comm/nrcomm/nrcomm.h"
#include "comm/nrcommbox/nrcommbox.h"
#include "platform/posix/virtual_port.h"
#include "tests/app/boxes.h"
#include "tests/app/helpers.h"
#include "tests/app/pdf_reader.h"
#include "tools/spectrosim/virtual_instrument.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

TEST(SpectrumWindowLab, AbsorbanceOfTheSimulatedDyeLiveViewAssistantAndPortLoss)
{
    const fs::path dir = fs::temp_directory_path() / ("spectro-lab-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    TBoxes boxes;
    ResetAcquisitionState();
    CalSlope = 2.2;
    CalOffset = 400;
    spectrosim::TInstrumentOptions options;
    options.Lamp = spectrosim::TLamp::Off;
    spectrosim::TVirtualInstrument instrument(u"COM7", options, /*Paced=*/false);
    auto form = std::make_unique<TForm1>();
    new TForm2(form.get());
    const int index = form->nrDeviceBox1->Items().IndexOf(u"COM7");
    ASSERT_GE(index, 0);
    form->nrDeviceBox1->PickItem(index);
    form->TTemp->SetEnabled(false);  // no temperature query in between
    form->SetExposureMs(10);
    form->Spektrum1->Click();
    TSpectrumForm* w = SpectrumForm;
    ASSERT_NE(w, nullptr);
    const auto wait = [&](const std::function<bool()>& Done) {
        return Application->WaitUntil(Done, std::chrono::seconds(10));
    };
    const auto capture = [&] {
        const int before = w->Captures();
        w->CaptureButton->Click();
        return wait([&] { return w->Captures() > before; });
    };

    // Dark with the lamp off, the blank with the lamp on, then the dye.
    w->DarkButton->Click();
    ASSERT_TRUE(wait([&] { return w->Dark().has_value(); }));
    instrument.SetLamp(spectrosim::TLamp::Halogen);
    w->ReferenceButton->Click();
    ASSERT_TRUE(wait([&] { return w->Reference().has_value(); }));
    EXPECT_EQ(w->Reference()->ExposureUs, 10000);
    w->QuantityBox->PickItem(2);
    instrument.SetSample({spectrosim::TSample::TKind::Dye, 0.5});
    ASSERT_TRUE(capture());
    ASSERT_EQ(w->ShownQuantity(), TQuantity::Absorbance);
    const std::size_t p590 = static_cast<std::size_t>(spectrosim::PixelOf(590));
    ASSERT_TRUE(w->Ratio().Valid(p590));
    EXPECT_NEAR(w->Ratio().Values[p590], 0.40, 0.02);
    ASSERT_FALSE(w->Peaks().empty());
    EXPECT_NEAR(CalSlope * w->Peaks()[0].Centre + CalOffset, 590, 4);
    EXPECT_NEAR(w->Peaks()[0].Fwhm * CalSlope, 90, 12);
    EXPECT_NE(w->PeakList->Items().Strings(0).find(u"   A 0."), UnicodeString::npos);

    // The files: no number where the pixel has none.
    w->SaveDialog->ExecuteHook = [&](UnicodeString& F) {
        F = Utf8ToUnicode((dir / "farbstoff").string());
        return true;
    };
    w->CsvButton->Click();
    const std::string csv = ReadAll(dir / "farbstoff.csv");
    EXPECT_EQ(csv.substr(0, csv.find('\n')), "wavelength_nm,absorbance");
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 129);
    EXPECT_EQ(csv.find("nan"), std::string::npos);
    EXPECT_EQ(csv.find("inf"), std::string::npos);
    w->JcampButton->Click();
    const std::string jdx = ReadAll(dir / "farbstoff.jdx");
    EXPECT_NE(jdx.find("##YUNITS=ABSORBANCE\n"), std::string::npos);
    EXPECT_NE(jdx.find("##$REFERENCE EXPOSURE=10 ms\n"), std::string::npos);
    EXPECT_NE(jdx.find("##NPOINTS=" + std::to_string(w->Ratio().ValidCount()) + "\n"), std::string::npos);

    // Another exposure: counts until reference and dark are taken again.
    form->SetExposureMs(5);
    EXPECT_EQ(form->eSend->Text(), u"s5000");
    ASSERT_TRUE(capture());
    EXPECT_EQ(w->ShownQuantity(), TQuantity::Counts);
    EXPECT_NE(w->StoredLabel->Caption().find(u"neu aufnehmen"), UnicodeString::npos);

    // Saturated at the longest exposure: said and marked.
    form->SetExposureMs(30);
    ASSERT_TRUE(capture());
    EXPECT_EQ(w->SaturationLabel->Caption().substr(0, 16), u"Übersteuert bei ");

    // The assistant brings the highest count into 750..900 and sets the exposure.
    form->SetExposureMs(1);
    w->AutoExposureButton->Click();
    ASSERT_TRUE(wait([&] { return !w->AssistantRunning(); }));
    EXPECT_EQ(w->StatusLabel->Caption().substr(0, 15), u"Belichtung pass") << ToUtf8(w->StatusLabel->Caption());
    const double top = *std::max_element(Counts.begin(), Counts.end());
    EXPECT_GE(top, 750);
    EXPECT_LE(top, 900);
    EXPECT_EQ(form->eSend->Text(), CaptureCommandFor(form->LECapture->Text()));
    EXPECT_EQ(w->SaturationLabel->Caption(), u"");

    // Live view: captures back to back until stopped after the running one.
    const int before = w->Captures();
    w->LiveButton->Click();
    EXPECT_TRUE(w->LiveRunning());
    ASSERT_TRUE(wait([&] { return w->Captures() >= before + 5; }));
    w->LiveButton->Click();
    ASSERT_TRUE(wait([&] { return !w->LiveRunning(); }));
    const int stopped = w->Captures();
    Application->WaitUntil([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_LE(w->Captures(), stopped + 1);

    // Port lost during live view: it ends; the last spectrum stays and saves.
    w->LiveButton->Click();
    ASSERT_TRUE(wait([&] { return w->Captures() >= stopped + 3; }));
    instrument.Port().Remove();
    ASSERT_TRUE(wait([&] { return !w->LiveRunning(); }));
    EXPECT_NE(w->StatusLabel->Caption().find(u"Verbindung"), UnicodeString::npos);
    ASSERT_FALSE(boxes.List.empty());
    EXPECT_EQ(boxes.List.back(), u"Die Verbindung zu COM7 wurde unterbrochen.");
    EXPECT_EQ(w->Shown().size(), 128U);
    fs::remove(dir / "farbstoff.csv");
    w->CsvButton->Click();
    const std::string kept = ReadAll(dir / "farbstoff.csv");
    EXPECT_EQ(std::count(kept.begin(), kept.end(), '\n'), 129);
    form.reset();
    fs::remove_all(dir);
}

}  // namespace

namespace {

// Each simulated lamp, calibrated: "Element bestimmen" names its element;
// the neon tube's lines assigned automatically calibrate within 0.3 nm.
TEST(SpectrumWindowLines, EachLampIsIdentifiedAndNeonCalibrates)
{
    TBoxes boxes;
    ResetAcquisitionState();
    spectrosim::TVirtualInstrument instrument(u"COM7", {}, /*Paced=*/false);
    auto form = std::make_unique<TForm1>();
    form->nrDeviceBox1->PickItem(form->nrDeviceBox1->Items().IndexOf(u"COM7"));
    form->TTemp->SetEnabled(false);
    form->SetExposureMs(10);
    form->Spektrum1->Click();
    TSpectrumForm* w = SpectrumForm;
    const auto capture = [&](spectrosim::TLamp Lamp) {
        instrument.SetLamp(Lamp);
        const int before = w->Captures();
        w->CaptureButton->Click();
        return Application->WaitUntil([&] { return w->Captures() > before; }, std::chrono::seconds(10));
    };
    using spectrosim::TLamp;
    CalSlope = 2.2;
    CalOffset = 400;
    const std::pair<TLamp, const char16_t*> lamps[] = {
        {TLamp::Hydrogen, u"Wasserstoff"}, {TLamp::Helium, u"Helium"},           {TLamp::Neon, u"Neon"},
        {TLamp::Argon, u"Argon"},          {TLamp::Fluorescent, u"Quecksilber"}, {TLamp::Sodium, u"Natrium"}};
    for (const auto& [lamp, name] : lamps) {
        ASSERT_TRUE(capture(lamp));
        w->IdentifyButton->Click();
        EXPECT_EQ(w->IdentLabel->Caption(), u"Wahrscheinlich: " + UnicodeString(name))
            << spectrosim::LampName(lamp) << ": " << ToUtf8(boxes.List.back());
    }
    // Helium's lines drawn over the plot in their colour.
    w->ElementChecks[1]->SetChecked(true);
    const auto& shown = w->PlotImage->Picture();
    int marker = 0;
    for (int y = 0; y < shown.Height(); ++y)
        for (int x = 0; x < shown.Width(); ++x) marker += shown.Pixel(x, y) == RGB(0, 110, 200);
    EXPECT_GT(marker, 50);

    // Uncalibrated: the neon lines proposed for the peaks give the simulator's scale.
    CalSlope = 0;
    CalOffset = 0;
    ASSERT_TRUE(capture(TLamp::Neon));
    for (int i = 0; i < w->LineBox->Count(); ++i)
        if (ReferenceLines()[static_cast<std::size_t>(i)].Element == "Ne") {
            w->LineBox->PickItem(i);
            break;
        }
    w->AutoAssignButton->Click();
    ASSERT_TRUE(w->Fit().has_value());
    EXPECT_GE(w->Assignments().size(), 4U);
    for (double pixel : {0.0, 64.0, 127.0})
        EXPECT_NEAR(w->Fit()->Slope * pixel + w->Fit()->Offset, 400 + 2.2 * pixel, 0.3);
    form.reset();
}

}  // namespace

namespace {

// The spectrum window's page: recorded on the headless printer (everything
// inside the margins, title, plot frame, facts, peaks where the layout puts
// them) and as a PDF read back by poppler (text, and the plot's frame).
TEST(SpectrumWindowPage, PrintedLayoutAndPdf)
{
    TBoxes boxes;
    ResetAcquisitionState();
    spectrosim::TVirtualInstrument instrument(u"COM7", {}, /*Paced=*/false);
    auto form = std::make_unique<TForm1>();
    form->nrDeviceBox1->PickItem(form->nrDeviceBox1->Items().IndexOf(u"COM7"));
    form->TTemp->SetEnabled(false);
    form->SetExposureMs(10);
    CalSlope = 2.2;
    CalOffset = 400;
    form->Spektrum1->Click();
    TSpectrumForm* w = SpectrumForm;
    w->CaptureButton->Click();
    ASSERT_TRUE(Application->WaitUntil([&] { return w->Captures() == 1; }, std::chrono::seconds(10)));

    w->PrintButton->Click();
    ASSERT_TRUE(Application->PrintedPage);
    const TRecordingPage& page = *Application->PrintedPage;
    const TReportLayout layout = LayOutReport(page);
    const int margin = page.Mm(15);
    bool title = false, facts = false, peak = false, frame = false;
    const TRect area = PlotFrameIn(layout.Plot, 400, 400 + 2.2 * 127, 0, 1024, 300 / 96.0).Area;
    for (const TRecordingPage::TOperation& op : page.Operations) {
        const TRect& b = op.Bounds;
        EXPECT_TRUE(std::min(b.Left, b.Right) >= margin && std::max(b.Left, b.Right) <= page.PageWidth() - margin &&
                    std::min(b.Top, b.Bottom) >= margin && std::max(b.Top, b.Bottom) <= page.PageHeight() - margin)
            << ToUtf8(op.Text) << " " << b.Left << "," << b.Top << " " << b.Right << "," << b.Bottom;
        title |= op.Text == u"Spektrum" && b.Top < layout.Plot.Top;
        facts |= op.Text == u"Belichtung: 10 ms" && b.Top >= layout.Facts.Top && b.Right <= layout.Facts.Right;
        peak |= op.Text.substr(0, 4) == u"546." && b.Top >= layout.List.Top && b.Left >= layout.List.Left;
        frame |= op.Kind == TRecordingPage::TOperation::TKind::Line && b.Left == area.Left - 1 &&
                 b.Top == area.Top - 1 && b.Right == area.Right && b.Bottom == area.Top - 1;
    }
    EXPECT_TRUE(title && facts && peak && frame) << title << facts << peak << frame;

    const fs::path pdf = fs::temp_directory_path() / ("spectro-page-" + std::to_string(::getpid()) + ".pdf");
    w->SaveDialog->ExecuteHook = [&](UnicodeString& F) {
        F = Utf8ToUnicode(pdf.string());
        return true;
    };
    w->PdfButton->Click();
    const std::string text = PdfText(pdf);
    EXPECT_NE(text.find("Spektrum"), std::string::npos) << text;
    EXPECT_NE(text.find("546."), std::string::npos) << text;
    EXPECT_NE(text.find("Wellenlänge (nm)"), std::string::npos) << text;
    TRenderedPage rendered;
    ASSERT_TRUE(RenderPdf(pdf, rendered));
    const TPdfPage pdfPage;
    const TRect a = PlotFrameIn(LayOutReport(pdfPage).Plot, 400, 400 + 2.2 * 127, 0, 1024, 720 / 96.0).Area;
    EXPECT_GT(FrameDrawn(rendered, {(a.Left - 1) / 10, (a.Top - 1) / 10, a.Right / 10, a.Bottom / 10}), 0.95);
    if (!HasFailure()) fs::remove(pdf);
    form.reset();
}

}  // namespace
