// Writes the main window after a capture from the simulated instrument to
// <build>/artifacts/mainwindow.png and checks that the picture shows the plot;
// what else the windows look like on Qt.
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/calibration.h"
#include "app/lab/concentrationform.h"
#include "app/lab/kineticsform.h"
#include "app/lab/labtext.h"
#include "app/spectrum/spectralcolour.h"
#include "app/spectrum/spectrumform.h"
#include "comm/nrcomm/nrcomm.h"
#include "comm/nrcommbox/nrcommbox.h"
#include "tests/app/pdf_reader.h"
#include "tests/app/private_ports.h"
#include "toolkit/qt/portsettingsdialog.h"
#include "toolkit/qt/qtapplication.h"
#include "toolkit/qt/qtdesktop.h"
#include "toolkit/qt/qtpeers.h"
#include "tools/spectrosim/virtual_instrument.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontInfo>
#include <QFontMetrics>
#include <QPushButton>
#include <QTimer>
#include <QWindow>

#include <chrono>
#include <filesystem>

namespace fs = std::filesystem;

namespace {
// Message boxes are answered with OK (the calibration file is missing here).
std::vector<UnicodeString> Boxes;
}  // namespace

TEST(Screenshot, MainWindowAfterCapture)
{
    spectrosim::TVirtualInstrument instrument(u"COM3", {}, /*Paced=*/false);
    ResetAcquisitionState();
    {
        TForm1 form;
        new TForm2(&form);
        form.Show();
        const int index = form.nrDeviceBox1->Items().IndexOf(u"COM3");
        ASSERT_GE(index, 0);
        form.nrDeviceBox1->PickItem(index);
        form.TTempTimer(&form);
        ASSERT_TRUE(Application->WaitUntil([&] { return !form.F_Panel->Caption().empty(); }, std::chrono::seconds(5)));
        form.bSend->Click();
        ASSERT_TRUE(Application->WaitUntil([&] { return form.ListBox1->Count() >= 128; }, std::chrono::seconds(5)));
        Application->ProcessMessages();

        TBitmap shot;
        TPoint client;
        ASSERT_TRUE(form.GrabWindow(shot, client));
        fs::create_directories(SPECTRO_ARTIFACTS_DIR);
        ASSERT_TRUE(shot.SaveToPngFile(u"" SPECTRO_ARTIFACTS_DIR "/mainwindow.png"));
        // The plot is in the picture: red spectrum pixels inside the image area
        // (the default 10 ms exposure).
        const int left = client.X + form.Image1->Left(), top = client.Y + form.Image1->Top();
        int red = 0;
        for (int y = 0; y < 88; ++y)
            for (int x = 0; x < 167; ++x)
                if (shot.Pixel(left + x, top + y) == RGB(255, 0, 0)) ++red;
        EXPECT_GT(red, 100);
    }
}

// Qt's own dialogs speak German; each label ends before the control to its
// right; the temperature panels take the desktop's colour.
TEST(Screenshot, GermanDialogsFittingLabelsDesktopColours)
{
    const QPalette saved = QApplication::palette();
    QPalette p = saved;
    p.setColor(QPalette::Inactive, QPalette::Button, QColor(10, 200, 30));
    QApplication::setPalette(p);
    ResetAcquisitionState();
    {
        TForm1 form;
        auto* form2 = new TForm2(&form);
        form.Show();
        form2->Show();
        Application->ProcessMessages();
        for (TPanel* panel : {form.C_Panel, form.F_Panel})
            EXPECT_EQ(QtWidgetOf(panel)->palette().color(QPalette::Window), QColor(10, 200, 30));

        struct Room {
            TLabel* Label;
            int Right;
        };
        const Room rooms[] = {
            {form.Label2, form.eSend->Left()},   {form.Label4, form.ClientWidth()},
            {form.Label5, form.ClientWidth()},   {form.LECapture->EditLabel(), form.ClientWidth()},
            {form2->Label1, form2->EW1->Left()}, {form2->Label2, form2->EW2->Left()},
            {form2->Label3, form2->EI1->Left()}, {form2->Label4, form2->EI2->Left()},
        };
        for (const Room& r : rooms) {
            const QWidget* w = QtWidgetOf(r.Label);
            ASSERT_NE(w, nullptr);
            const int width = QFontMetrics(w->font()).horizontalAdvance(ToQString(r.Label->Caption()));
            EXPECT_LE(r.Label->Left() + width, r.Right)
                << ToUtf8(r.Label->Caption()) << " in " << QFontInfo(w->font()).family().toStdString();
        }

        // Looked at and cancelled once it is up (it may take a while on X11).
        QString title, cancel;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog || !dialog->isVisible()) return;
            poll.stop();
            title = dialog->windowTitle();
            if (auto* buttons = dialog->findChild<QDialogButtonBox*>())
                if (QPushButton* button = buttons->button(QDialogButtonBox::Cancel)) cancel = button->text();
            dialog->reject();
        });
        poll.start(10);
        EXPECT_FALSE(form.SaveTextFileDialog1->Execute());
        EXPECT_EQ(title, QStringLiteral("Speichern unter"));
        EXPECT_EQ(cancel, QStringLiteral("Abbrechen"));
    }
    QApplication::setPalette(saved);
}

// The spectrum window with the simulated fluorescent lamp, calibrated from
// its mercury lines: <build>/artifacts/spectrum.png (the README's picture).
TEST(Screenshot, SpectrumWindowWithFluorescentLamp)
{
    Boxes.clear();
    const fs::path data = fs::path(ToUtf8(TForm1::ProgramDirectory())) / "data";
    fs::create_directories(data);
    // The build's initial calibration, which does not fit the simulator.
    const TCalibration initial =
        ComputeCalibration(InitialWavelength1, InitialWavelength2, InitialIndex1, InitialIndex2);
    SaveCalibration(CalibrationFilePath(TForm1::ProgramDirectory()), initial.Slope, initial.Offset);
    spectrosim::TVirtualInstrument instrument(u"COM4", {}, /*Paced=*/false);
    ResetAcquisitionState();
    {
        TForm1 form;
        new TForm2(&form);
        form.Show();
        form.nrDeviceBox1->PickItem(form.nrDeviceBox1->Items().IndexOf(u"COM4"));
        form.eSend->SetText(u"s10000");
        form.Spektrum1->Click();
        TSpectrumForm* w = SpectrumForm;
        ASSERT_NE(w, nullptr);
        w->CaptureButton->Click();
        ASSERT_TRUE(Application->WaitUntil([&] { return w->Captures() == 1; }, std::chrono::seconds(5)));
        for (double nm : {404.66, 435.83, 546.07}) {
            for (int i = 0; i < w->LineBox->Count(); ++i)
                if (std::abs(ReferenceLines()[static_cast<std::size_t>(i)].Nm - nm) < 0.01) w->LineBox->PickItem(i);
            for (int i = 0; i < static_cast<int>(w->Peaks().size()); ++i)
                if (std::abs(w->Peaks()[static_cast<std::size_t>(i)].Centre - (nm - 400) / 2.2) < 1)
                    w->PeakBox->PickItem(i);
            w->AssignButton->Click();
        }
        w->ApplyButton->Click();
        w->PlotImage->MouseMove({}, w->Frame().XPixel(611.6), w->Frame().YPixel(700));
        Application->ProcessMessages();

        TBitmap shot;
        TPoint client;
        ASSERT_TRUE(w->GrabWindow(shot, client));
        fs::create_directories(SPECTRO_ARTIFACTS_DIR);
        ASSERT_TRUE(shot.SaveToPngFile(u"" SPECTRO_ARTIFACTS_DIR "/spectrum.png"));
        // The curve and the peak marks are in the picture.
        const int left = client.X + w->PlotImage->Left(), top = client.Y + w->PlotImage->Top();
        int red = 0, blue = 0;
        for (int y = 0; y < w->PlotImage->Height(); ++y)
            for (int x = 0; x < w->PlotImage->Width(); ++x) {
                red += shot.Pixel(left + x, top + y) == clRed;
                blue += shot.Pixel(left + x, top + y) == clBlue;
            }
        EXPECT_GT(red, 300);
        EXPECT_GT(blue, 40);
        EXPECT_EQ(w->PeakList->Items().Strings(0).substr(0, 5), u"546.0");

        // Resized by the window system: the form takes the new client size and
        // gives it to the plot, and the picture has that size.
        QWidget* window = QtWidgetOf(w);
        ASSERT_TRUE(
            Application->WaitUntil([&] { return window->windowHandle()->isExposed(); }, std::chrono::seconds(5)));
        window->resize(1000, 640);
        EXPECT_TRUE(Application->WaitUntil([&] { return w->ClientWidth() == 1000; }, std::chrono::seconds(5)));
        EXPECT_EQ(w->ClientHeight(), 640);
        EXPECT_EQ(w->PlotImage->Width(), 720);
        Application->ProcessMessages();
        ASSERT_TRUE(w->GrabWindow(shot, client));
        EXPECT_EQ(shot.Width(), 1000);
        EXPECT_EQ(shot.Height(), client.Y + 640);
    }
    fs::remove_all(data);
    EXPECT_TRUE(Boxes.empty()) << ToUtf8(Boxes.front());
}

// The absorbance of the simulated dye against a blank: the picture for the
// README (build/artifacts/spectrum-absorbance.png), the band's curve in it.
TEST(Screenshot, SpectrumWindowAbsorbance)
{
    spectrosim::TInstrumentOptions options;
    options.Lamp = spectrosim::TLamp::Off;
    spectrosim::TVirtualInstrument instrument(u"COM5", options, /*Paced=*/false);
    ResetAcquisitionState();
    CalSlope = 2.2;
    CalOffset = 400;
    {
        TForm1 form;
        new TForm2(&form);
        form.Show();
        form.nrDeviceBox1->PickItem(form.nrDeviceBox1->Items().IndexOf(u"COM5"));
        form.TTemp->SetEnabled(false);
        form.SetExposureMs(10);
        form.Spektrum1->Click();
        TSpectrumForm* w = SpectrumForm;
        const auto wait = [](const std::function<bool()>& Done) {
            return Application->WaitUntil(Done, std::chrono::seconds(5));
        };
        w->DarkButton->Click();
        ASSERT_TRUE(wait([&] { return w->Dark().has_value(); }));
        instrument.SetLamp(spectrosim::TLamp::Halogen);
        w->ReferenceButton->Click();
        ASSERT_TRUE(wait([&] { return w->Reference().has_value(); }));
        instrument.SetSample({spectrosim::TSample::TKind::Dye, 0.5});
        w->QuantityBox->PickItem(2);
        w->CaptureButton->Click();
        ASSERT_TRUE(wait([&] { return w->Captures() == 3; }));
        w->PlotImage->MouseMove({}, w->Frame().XPixel(590), w->Frame().YPixel(0.4));
        Application->ProcessMessages();
        TBitmap shot;
        TPoint client;
        ASSERT_TRUE(w->GrabWindow(shot, client));
        ASSERT_TRUE(shot.SaveToPngFile(u"" SPECTRO_ARTIFACTS_DIR "/spectrum-absorbance.png"));
        const int left = client.X + w->PlotImage->Left(), top = client.Y + w->PlotImage->Top();
        int red = 0;
        for (int y = 0; y < w->PlotImage->Height(); ++y)
            for (int x = 0; x < w->PlotImage->Width(); ++x) red += shot.Pixel(left + x, top + y) == clRed;
        EXPECT_GT(red, 300);
    }
}

// A helium tube with its lines drawn and identified, over the rainbow: the
// picture for the README (build/artifacts/spectrum-helium.png).
TEST(Screenshot, SpectrumWindowHeliumLinesAndRainbow)
{
    spectrosim::TInstrumentOptions options;
    options.Lamp = spectrosim::TLamp::Helium;
    spectrosim::TVirtualInstrument instrument(u"COM6", options, /*Paced=*/false);
    ResetAcquisitionState();
    CalSlope = 2.2;
    CalOffset = 400;
    Boxes.clear();
    {
        TForm1 form;
        new TForm2(&form);
        form.Show();
        form.nrDeviceBox1->PickItem(form.nrDeviceBox1->Items().IndexOf(u"COM6"));
        form.TTemp->SetEnabled(false);
        form.SetExposureMs(10);
        form.Spektrum1->Click();
        TSpectrumForm* w = SpectrumForm;
        w->CaptureButton->Click();
        ASSERT_TRUE(Application->WaitUntil([&] { return w->Captures() == 1; }, std::chrono::seconds(5)));
        w->ElementChecks[1]->SetChecked(true);
        w->FillCheck->SetChecked(true);
        w->IdentifyButton->Click();
        EXPECT_EQ(w->IdentLabel->Caption(), u"Wahrscheinlich: Helium");
        Application->ProcessMessages();
        TBitmap shot;
        TPoint client;
        ASSERT_TRUE(w->GrabWindow(shot, client));
        ASSERT_TRUE(shot.SaveToPngFile(u"" SPECTRO_ARTIFACTS_DIR "/spectrum-helium.png"));
        // The rainbow along the bottom of the plot: 530 nm is green there.
        const TPlotFrame& f = w->Frame();
        const TColor c = shot.Pixel(client.X + w->PlotImage->Left() + f.XPixel(530),
                                    client.Y + w->PlotImage->Top() + f.Area.Bottom - 3);
        EXPECT_EQ(c, SpectralColour(w->Frame().XValue(f.XPixel(530))));

        // The page as a PDF through Qt's writer (A4 landscape at 600 dpi),
        // read back by poppler: its text, and the plot's frame where the layout puts it.
        const fs::path pdf = fs::path(SPECTRO_ARTIFACTS_DIR) / "spectrum-helium.pdf";
        w->SaveDialog->ExecuteHook = [&](UnicodeString& F) {
            F = Utf8ToUnicode(pdf.string());
            return true;
        };
        w->PdfButton->Click();
        const std::string text = PdfText(pdf);
        EXPECT_NE(text.find("Wahrscheinlich: Helium"), std::string::npos) << text;
        EXPECT_NE(text.find("587."), std::string::npos) << text;
        struct TQtPdfPage : TRecordingPage {
            int PageWidth() const override { return 7016; }
            int PageHeight() const override { return 4961; }
            int DotsPerInch() const override { return 600; }
        } layoutPage;
        const TRect a = PlotFrameIn(LayOutReport(layoutPage).Plot, f.X0, f.X1, f.Y0, f.Y1, 600 / 96.0).Area;
        TRenderedPage rendered;
        ASSERT_TRUE(RenderPdf(pdf, rendered));
        const auto pt = [](int Dots) { return Dots * 72 / 600; };
        EXPECT_GT(FrameDrawn(rendered, {pt(a.Left - 1), pt(a.Top - 1), pt(a.Right), pt(a.Bottom)}), 0.95);
    }
    Boxes.clear();  // the identification's ranking
}

// The lab windows on the simulated dye, for the README
// (build/artifacts/concentration.png, kinetics.png): a series of three
// standards with a sample, and a fading dye's run with its fit.
TEST(Screenshot, LabWindows)
{
    TKineticsForm::TimeScale = 10;
    spectrosim::TInstrumentOptions options;
    options.Lamp = spectrosim::TLamp::Off;
    options.Clock = [] {
        return 10 * std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    };
    spectrosim::TVirtualInstrument instrument(u"COM8", options, /*Paced=*/false);
    ResetAcquisitionState();
    CalSlope = 2.2;
    CalOffset = 400;
    Boxes.clear();
    {
        TForm1 form;
        form.Show();
        form.nrDeviceBox1->PickItem(form.nrDeviceBox1->Items().IndexOf(u"COM8"));
        form.TTemp->SetEnabled(false);
        form.SetExposureMs(10);
        form.Spektrum1->Click();
        TSpectrumForm* w = SpectrumForm;
        const auto wait = [](const std::function<bool()>& Done) {
            return Application->WaitUntil(Done, std::chrono::seconds(20));
        };
        w->DarkButton->Click();
        ASSERT_TRUE(wait([&] { return w->Dark().has_value(); }));
        instrument.SetLamp(spectrosim::TLamp::Halogen);
        w->ReferenceButton->Click();
        ASSERT_TRUE(wait([&] { return w->Reference().has_value(); }));
        w->QuantityBox->PickItem(2);

        form.Konzentration1->Click();
        TConcentrationForm* c = ConcentrationForm;
        c->WavelengthEdit->SetText(u"590");
        for (const char16_t* conc : {u"0.25", u"0.5", u"1.0"}) {
            instrument.SetSample({spectrosim::TSample::TKind::Dye, ReadDecimal(conc, u"")});
            c->ConcEdit->SetText(conc);
            c->MeasureButton->Click();
            ASSERT_TRUE(wait([&] { return !c->Measuring(); }));
        }
        instrument.SetSample({spectrosim::TSample::TKind::Dye, 0.6});
        c->SampleButton->Click();
        ASSERT_TRUE(wait([&] { return !c->Samples().empty(); }));
        Application->ProcessMessages();
        TBitmap shot;
        TPoint client;
        ASSERT_TRUE(c->GrabWindow(shot, client));
        ASSERT_TRUE(shot.SaveToPngFile(u"" SPECTRO_ARTIFACTS_DIR "/concentration.png"));

        form.Kinetik1->Click();
        TKineticsForm* k = KineticsForm;
        k->WaveEdits[0]->SetText(u"590");
        k->IntervalEdit->SetText(u"2");
        k->DurationEdit->SetText(u"60");
        instrument.SetSample(*spectrosim::SampleFromText("fade:1.2:0.05"));
        k->StartButton->Click();
        ASSERT_TRUE(wait([&] { return !k->Running(); }));
        k->FitButton->Click();
        ASSERT_TRUE(k->FirstOrder().has_value());
        Application->ProcessMessages();
        ASSERT_TRUE(k->GrabWindow(shot, client));
        ASSERT_TRUE(shot.SaveToPngFile(u"" SPECTRO_ARTIFACTS_DIR "/kinetics.png"));
        // The points in red.
        int red = 0;
        for (int y = 0; y < k->PlotImage->Height(); ++y)
            for (int x = 0; x < k->PlotImage->Width(); ++x)
                red += shot.Pixel(client.X + k->PlotImage->Left() + x, client.Y + k->PlotImage->Top() + y) == clRed;
        EXPECT_GT(red, 200);
    }
    TKineticsForm::TimeScale = 1;
    Boxes.clear();
}

int main(int argc, char** argv)
{
    const fs::path root = UsePrivatePorts("spectro-shot-");
    QApplication qt(argc, argv);
    LoadGermanQtTranslations();
    InstallFormFonts();
    TQtApplication app;
    InstallQtDesktopProvider();
    app.MessageBoxHook = [](const UnicodeString& T, const UnicodeString&, int) {
        Boxes.push_back(T);
        return MsgBox::IdOk;
    };
    ::testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    fs::remove_all(root);
    return status;
}
