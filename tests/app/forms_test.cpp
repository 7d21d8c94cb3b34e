// The main window and the calibration dialog, driven through their widgets.
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/calibration.h"
#include "comm/nrcomm/nrcomm.h"
#include "comm/nrcommbox/nrcommbox.h"
#include "platform/posix/virtual_port.h"
#include "tests/app/helpers.h"
#include "tests/app/private_ports.h"
#include "toolkit/extctrls.h"
#include "toolkit/qt/portsettingsdialog.h"
#include "toolkit/qt/qtapplication.h"
#include "toolkit/qt/qtdesktop.h"
#include "tools/spectrosim/virtual_instrument.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontInfo>
#include <QFontMetrics>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

TQtApplication* App = nullptr;
std::vector<UnicodeString> Boxes;  // texts of the message boxes shown

fs::path ProgramDir()
{
    return fs::path(ToUtf8(TForm1::ProgramDirectory()));
}

QString Q(const char* Utf8)
{
    return QString::fromUtf8(Utf8);
}

class Forms : public ::testing::Test {
protected:
    void SetUp() override
    {
        Boxes.clear();
        ResetAcquisitionState();
        fs::remove_all(ProgramDir() / "data");
        CreateForms();
    }
    void TearDown() override
    {
        Form.reset();
        fs::remove_all(ProgramDir() / "data");
    }
    void CreateForms()
    {
        Form.reset();
        Form = std::make_unique<TForm1>();
        new TForm2(Form.get());
    }
    void Feed(const std::string& Bytes)
    {
        // As the component delivers a chunk: errors end in a message box.
        GuardedCall([&] {
            Form->nrComm1AfterReceive(Form->nrComm1, reinterpret_cast<const std::uint8_t*>(Bytes.data()),
                                      static_cast<std::uint32_t>(Bytes.size()));
        });
    }
    void FeedCapture(int Points, int Peak = 60, int PeakCount = 1000)
    {
        std::string bytes;
        for (int i = 0; i < Points; ++i)
            bytes += std::to_string(i) + " " + std::to_string(i == Peak ? PeakCount : 20 + i % 7) + "\r\n";
        Feed(bytes);
    }
    QStringList ListLines() const
    {
        QStringList l;
        for (int i = 0; i < Form->ListBox1->count(); ++i)
            l << Form->ListBox1->item(i)->text();
        return l;
    }
    std::unique_ptr<TForm1> Form;
};

TEST_F(Forms, StartStateAndLayout)
{
    TForm1& f = *Form;
    EXPECT_EQ(f.windowTitle(), Q("Spektrometer *Datenaufnahme*"));
    EXPECT_EQ(f.centralWidget()->size(), QSize(390, 346));
    EXPECT_EQ(f.pos(), QPoint(207, 141));
    EXPECT_EQ(f.font().pixelSize(), 11);
    EXPECT_EQ(f.nrDeviceBox1->geometry(), QRect(24, 16, 110, 21));
    EXPECT_EQ(f.ProtokollButton->text(), Q("Protokoll"));
    EXPECT_EQ(f.ProtokollButton->geometry(), QRect(150, 15, 59, 23));
    EXPECT_EQ(f.Label1->text(), Q("Datenempfang"));
    EXPECT_EQ(f.Label1->pos(), QPoint(24, 43));
    EXPECT_EQ(f.ListBox1->geometry(), QRect(24, 62, 185, 179));
    EXPECT_EQ(f.bSend->text(), Q("Aufnahme"));
    EXPECT_EQ(f.bSend->geometry(), QRect(24, 247, 185, 25));
    EXPECT_EQ(f.CLButton->text(), Q("Listbox löschen"));
    EXPECT_EQ(f.CLButton->geometry(), QRect(24, 271, 185, 25));
    EXPECT_EQ(f.Label4->text(), Q("Temperatur in ° C"));
    EXPECT_TRUE(f.Label4->font().bold());
    EXPECT_EQ(f.Label4->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    EXPECT_EQ(f.C_Panel->geometry(), QRect(240, 43, 121, 41));
    EXPECT_EQ(f.C_Panel->font().pixelSize(), 19);
    EXPECT_EQ(f.Label5->text(), Q("Temperatur in °F"));
    EXPECT_EQ(f.Label5->palette().color(QPalette::WindowText), QColor(0, 0, 128));
    EXPECT_EQ(f.F_Panel->geometry(), QRect(240, 115, 121, 41));
    EXPECT_EQ(f.LECaptureLabel->text(), Q("Belichtungszeit(ms):"));
    EXPECT_EQ(f.LECapture->geometry(), QRect(240, 181, 106, 21));
    EXPECT_EQ(f.LECapture->text(), Q("10"));
    EXPECT_EQ(f.Edit1->text(), Q("10"));
    EXPECT_TRUE(f.Edit1->isHidden());
    EXPECT_EQ(f.UpDown1->geometry(), QRect(346, 181, 16, 21));
    EXPECT_EQ(f.UpDown1->Position(), 10);
    EXPECT_EQ(f.Image1->geometry(), QRect(215, 208, 167, 88));
    EXPECT_FALSE(f.Image1->HasPicture());
    EXPECT_EQ(f.Label2->text(), Q("Befehlszeile:"));
    EXPECT_EQ(f.eSend->geometry(), QRect(280, 302, 81, 28));
    EXPECT_EQ(f.eSend->text(), Q("s1000"));
    EXPECT_TRUE(f.C_Panel->text().isEmpty());
    EXPECT_TRUE(f.F_Panel->text().isEmpty());
    EXPECT_EQ(f.ListBox1->count(), 0);

    EXPECT_EQ(f.Datei1->title(), Q("Datei"));
    EXPECT_EQ(f.Speichern1->text(), Q("Speichern"));
    EXPECT_EQ(f.Speichern1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));
    EXPECT_EQ(f.Eichung1->text(), Q("Eichung"));
    EXPECT_EQ(f.Beenden1->text(), Q("Beenden"));
    EXPECT_EQ(f.Beenden1->shortcut(), QKeySequence(Qt::ALT | Qt::Key_F4));
    EXPECT_EQ(f.Info1->text(), Q("Info"));
    EXPECT_EQ(f.Info1->menu(), nullptr);

    EXPECT_EQ(f.TTemp->Interval(), 60000u);
    EXPECT_TRUE(f.TTemp->Running());
    TnrComm& c = *f.nrComm1;
    EXPECT_FALSE(c.GetActive());
    EXPECT_EQ(c.GetBaudRate(), 9600u);
    EXPECT_EQ(c.GetParity(), pNone);
    EXPECT_EQ(c.GetStopBits(), sbOne);
    EXPECT_EQ(c.GetByteSize(), 8);
    EXPECT_EQ(c.GetComPortNo(), 1);
    EXPECT_EQ(c.GetTraceStates(), TTraceStates{tsRxChar});
    EXPECT_EQ(c.GetStreamProtocol(), spNone);
    EXPECT_EQ(c.GetBufferInSize(), 4096);
    EXPECT_EQ(c.GetBufferOutSize(), 4096);
    EXPECT_EQ(c.GetTimeoutWrite(), 100u);
    EXPECT_EQ(c.GetEnumPorts(), epQuickAll);
    EXPECT_TRUE(c.GetUseMainThread());
    EXPECT_EQ(f.nrDeviceBox1->GetnrComm(), f.nrComm1);

    ASSERT_NE(Form2, nullptr);
    EXPECT_TRUE(Form2->isHidden());
    EXPECT_EQ(Form2->windowTitle(), Q("Eichung"));
    EXPECT_EQ(Form2->size(), QSize(281, 206));
    EXPECT_EQ(Form2->EW1->text(), Q("532"));
    EXPECT_EQ(Form2->EW2->text(), Q("655"));
    EXPECT_EQ(Form2->EI1->text(), Q("57"));
    EXPECT_EQ(Form2->EI2->text(), Q("114"));
    EXPECT_EQ(Form2->Button3->geometry(), QRect(0, 168, 281, 38));
    EXPECT_EQ(Form2->Label1->text(), Q("Wellenlänge 1(nm):"));
}

TEST_F(Forms, MissingCalibrationFileIsReportedAndWindowWorks)
{
    // SetUp removed the data folder: the load at start failed with a message.
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].rfind(u"Datei ", 0), 0u);
    EXPECT_NE(Boxes[0].find(u"kann nicht geöffnet werden."), UnicodeString::npos);
    EXPECT_EQ(CalSlope, 0);
    Form->eSend->setText(Q("s1000"));
    Feed("57 700\r\n");
    EXPECT_EQ(ListLines(), QStringList{Q("0 700")});
}

TEST_F(Forms, CalibrationFileIsLoadedAtStart)
{
    fs::create_directories(ProgramDir() / "data");
    WriteAll(ProgramDir() / "data" / "conf.dat", "2\n400\n");
    Boxes.clear();
    CreateForms();
    EXPECT_TRUE(Boxes.empty());
    EXPECT_EQ(CalSlope, 2);
    EXPECT_EQ(CalOffset, 400);
    Feed("57 100\r\n");
    EXPECT_EQ(ListLines(), QStringList{Q("514 100")});
    EXPECT_EQ(Counts[0], 100);
}

TEST_F(Forms, ExposureTyping)
{
    QLineEdit* e = Form->LECapture;
    e->setFocus();
    e->selectAll();
    QTest::keyClicks(e, "2.5");
    EXPECT_EQ(Form->eSend->text(), Q("s2500"));
    EXPECT_EQ(Form->Edit1->text(), Q("25"));
    e->selectAll();
    QTest::keyClicks(e, "0.5");
    EXPECT_EQ(Form->eSend->text(), Q("s500"));

    // "45": each press changes the command, the release clamps to 30 ms.
    e->selectAll();
    QTest::keyClick(e, '4');
    EXPECT_EQ(Form->eSend->text(), Q("s4000"));
    QTest::keyPress(e, '5');
    EXPECT_EQ(Form->eSend->text(), Q("s45000"));
    EXPECT_EQ(e->text(), Q("45"));
    QTest::keyRelease(e, '5');
    EXPECT_EQ(e->text(), Q("30"));
    EXPECT_EQ(Form->Edit1->text(), Q("300"));
    EXPECT_EQ(Form->eSend->text(), Q("s30000"));

    // Exactly 30 is allowed.
    e->selectAll();
    QTest::keyClicks(e, "30");
    EXPECT_EQ(e->text(), Q("30"));
    EXPECT_EQ(Form->eSend->text(), Q("s30000"));
}

TEST_F(Forms, EmptyExposureFieldShowsConversionErrorAndKeepsCommand)
{
    Boxes.clear();
    Form->LECapture->setFocus();
    Form->LECapture->selectAll();
    QTest::keyClick(Form->LECapture, Qt::Key_Backspace);
    EXPECT_EQ(Form->eSend->text(), Q("s1000"));
    ASSERT_FALSE(Boxes.empty());
    EXPECT_EQ(Boxes[0], u"'' ist kein gültiger Gleitkommawert.");  // the event loop adds the full stop
}

TEST_F(Forms, SpinStepsMoveAllThreeFields)
{
    Form->UpDown1->UpButton()->click();
    EXPECT_EQ(Form->Edit1->text(), Q("15"));
    EXPECT_EQ(Form->LECapture->text(), Q("1.5"));
    EXPECT_EQ(Form->eSend->text(), Q("s1500"));
    Form->UpDown1->DownButton()->click();
    Form->UpDown1->DownButton()->click();
    Form->UpDown1->DownButton()->click();
    EXPECT_EQ(Form->Edit1->text(), Q("0"));  // the spin's minimum
    EXPECT_EQ(Form->eSend->text(), Q("s0"));
    Form->Edit1->setText(Q("295"));
    Form->UpDown1->UpButton()->click();
    Form->UpDown1->UpButton()->click();
    EXPECT_EQ(Form->Edit1->text(), Q("300"));
    EXPECT_EQ(Form->LECapture->text(), Q("30"));
}

TEST_F(Forms, ReplyChunksFillListCountsAndPanels)
{
    Feed("12 34");
    Feed("5\r");
    EXPECT_EQ(Form->ListBox1->count(), 0);
    Feed("\n");
    EXPECT_EQ(ListLines(), QStringList{Q("0 345")});
    EXPECT_EQ(Counts[0], 345);

    Feed("CT:10000\r\nRN:V\r\n");
    EXPECT_EQ(CaptureTime, 10000);
    Boxes.clear();
    Feed("CT: 10000\r\n");
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0], u"'CT:' ist kein gültiger Gleitkommawert.");
    EXPECT_EQ(CaptureTime, 10000);

    // Temperature reply: panels, command re-armed from the exposure field, list emptied.
    Form->eSend->setText(Q("t"));
    Feed("23.456C\r\n");
    EXPECT_EQ(Form->C_Panel->text(), Q("23.456"));
    EXPECT_EQ(Form->F_Panel->text(), Q("74.221"));
    EXPECT_EQ(Form->eSend->text(), Q("s10000"));
    EXPECT_EQ(Form->ListBox1->count(), 0);

    Form->eSend->setText(Q("x"));
    Feed("1 2\r\n");
    EXPECT_EQ(Form->ListBox1->count(), 0);
}

TEST_F(Forms, The128thPointDrawsThePlot)
{
    Boxes.clear();
    FeedCapture(127);
    EXPECT_FALSE(Form->Image1->HasPicture());
    Feed("127 832\r\n");
    ASSERT_TRUE(Form->Image1->HasPicture());
    const QImage& img = Form->Image1->Picture();
    EXPECT_EQ(img.size(), QSize(167, 88));
    EXPECT_EQ(img.pixelColor(0, 40), QColor(0, 0, 0));    // frame
    EXPECT_EQ(img.pixelColor(166, 5), QColor(0, 0, 0));
    EXPECT_EQ(img.pixelColor(40, 20), QColor(255, 255, 255));
    // The peak (position 60, count 1000) reaches y = 2 at x = 79.
    EXPECT_EQ(img.pixelColor(79, 2), QColor(255, 0, 0));
    // No calibration scan: no marker, no message.
    EXPECT_TRUE(Boxes.empty());
    for (int y = 30; y < 80; ++y)
        EXPECT_NE(img.pixelColor(79, y), QColor(0, 0, 255));
}

TEST_F(Forms, ClearingTheListKeepsTheCaptureGoing)
{
    FeedCapture(10);
    Form->CLButton->click();
    EXPECT_EQ(Form->ListBox1->count(), 0);
    EXPECT_EQ(PointCount, 10);
    Feed("10 77\r\n");
    EXPECT_EQ(Counts[10], 77);
    EXPECT_EQ(Form->ListBox1->count(), 1);
}

TEST_F(Forms, SendWithoutPortClearsListAndSendsNothing)
{
    FeedCapture(5);
    Boxes.clear();
    Form->bSend->click();
    EXPECT_EQ(Form->ListBox1->count(), 0);
    EXPECT_EQ(PointCount, 0);
    EXPECT_TRUE(Boxes.empty());
    // The start-up timer leaves "t" in the command line.
    Form->TTemp->OnTimer()(Form->TTemp);
    EXPECT_EQ(Form->eSend->text(), Q("t"));
    EXPECT_FALSE(Form->TTemp->Running());
}

TEST_F(Forms, CalibrationScanReportsPeakAndSaves)
{
    fs::create_directories(ProgramDir() / "data");
    Form->Eichung1->trigger();
    EXPECT_TRUE(Form2->isVisible());
    Form2->Button1->click();
    EXPECT_EQ(ScanMode, 1);
    EXPECT_EQ(Form->eSend->text(), Q("s"));
    Boxes.clear();
    FeedCapture(128, 60, 900);
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0], u"60;900");
    EXPECT_EQ(Form2->EI1->text(), Q("60"));
    EXPECT_EQ(Form2->EI2->text(), Q("114"));
    const QImage& img = Form->Image1->Picture();
    EXPECT_EQ(img.pixelColor(79, 60), QColor(0, 0, 255));  // the marker

    // The scan mode stays: "Aufnahme" reports again.
    Form2->Button2->click();
    Boxes.clear();
    FeedCapture(128, 116, 1023);
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0], u"116;1023");
    EXPECT_EQ(Form2->EI2->text(), Q("116"));

    Form2->EW1->setText(Q("500"));
    Form2->EW2->setText(Q("600"));
    Form2->EI1->setText(Q("40"));
    Form2->EI2->setText(Q("90"));
    Form2->Button3->click();
    EXPECT_EQ(ReadAll(ProgramDir() / "data" / "conf.dat"), "2\r\n420\r\n");
    EXPECT_EQ(CalSlope, 2);
    EXPECT_EQ(CalOffset, 420);
    EXPECT_FALSE(Form2->isVisible());
    EXPECT_EQ(ScanMode, 0);

    // After the dialog is gone a capture draws without marker or message.
    Boxes.clear();
    Form->bSend->click();
    FeedCapture(128);
    EXPECT_TRUE(Boxes.empty());
    EXPECT_EQ(ListLines().first(), Q("420 20"));
}

TEST_F(Forms, CalibrationFailures)
{
    Form->Eichung1->trigger();
    Form2->Button1->click();
    // No data folder: the coefficients change, the file does not, the dialog stays.
    Boxes.clear();
    Form2->Button3->click();
    ASSERT_EQ(Boxes.size(), 1u);
    const UnicodeString path = CalibrationFilePath(TForm1::ProgramDirectory());
    EXPECT_EQ(Boxes[0].rfind(u"Datei \"" + path + u"\" kann nicht erstellt werden. ", 0), 0u)
        << ToUtf8(Boxes[0]);
    EXPECT_EQ(FloatToStr(CalSlope), u"2.15789473684211");
    EXPECT_EQ(CalOffset, 409);
    EXPECT_TRUE(Form2->isVisible());
    EXPECT_EQ(ScanMode, 1);
    EXPECT_FALSE(fs::exists(ProgramDir() / "data"));

    // Equal indices: nothing changes.
    CalSlope = CalOffset = 0;
    Form2->EI2->setText(Q("57"));
    Boxes.clear();
    Form2->Button3->click();
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0], u"Gleitkommadivision durch Null.");
    Form2->EW2->setText(Q("532"));
    Boxes.clear();
    Form2->Button3->click();
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0], u"Ungültige Gleitkommaoperation.");
    Form2->EW1->setText(Q("abc"));
    Boxes.clear();
    Form2->Button3->click();
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0], u"'abc' ist kein gültiger Gleitkommawert.");
    EXPECT_EQ(CalSlope, 0);
    EXPECT_TRUE(Form2->isVisible());

    // Esc does not close it, neither on the dialog nor in a field.
    QTest::keyClick(Form2, Qt::Key_Escape);
    QTest::keyClick(Form2->EW1, Qt::Key_Escape);
    EXPECT_TRUE(Form2->isVisible());
    EXPECT_EQ(ScanMode, 1);

    // Closing the dialog ends the scan mode.
    Form2->close();
    EXPECT_FALSE(Form2->isVisible());
    EXPECT_EQ(ScanMode, 0);
}

TEST_F(Forms, SaveWritesTheListAndRemembersTheName)
{
    const fs::path dir = fs::temp_directory_path() / "spectro-forms-save";
    fs::remove_all(dir);
    fs::create_directories(dir);
    Feed("CT:1500\r\n");
    Feed("57 700\r\n58 0100\r\n");
    int asked = 0;
    UnicodeString proposed;
    Form->SaveTextFileDialog1.ExecuteHook = [&](UnicodeString& Name) {
        ++asked;
        proposed = Name;
        if (asked == 1)
            Name = Utf8ToUnicode((dir / "NATRIUM.DAT").string());
        return true;
    };
    Form->Speichern1->trigger();
    const fs::path file = dir / "NATRIUM.DAT.dat";
    EXPECT_EQ(ReadAll(file),
              "Target: NATRIUM.DAT\r\nComment: Schulspektrum\r\nExpTime: 1.5ms\r\nFactor: 0.001\r\n"
              "WL     CTS\r\n0 700\r\n0 0100\r\n");
    // The second save proposes the extended name and overwrites without asking.
    Form->CLButton->click();
    Form->Speichern1->trigger();
    EXPECT_EQ(proposed, Utf8ToUnicode(file.string()));
    EXPECT_EQ(ReadAll(file),
              "Target: NATRIUM.DAT\r\nComment: Schulspektrum\r\nExpTime: 1.5ms\r\nFactor: 0.001\r\nWL     CTS\r\n");
    EXPECT_EQ(Form->ListBox1->count(), 0);

    // A folder in the way: the runtime's message, the program carries on.
    fs::create_directories(dir / "busy.dat");
    Form->SaveTextFileDialog1.ExecuteHook = [&](UnicodeString& Name) {
        Name = Utf8ToUnicode((dir / "busy.dat").string());
        return true;
    };
    Boxes.clear();
    Form->Speichern1->trigger();
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0], u"Dateizugriff verweigert.");

    // Cancel writes nothing.
    Form->SaveTextFileDialog1.ExecuteHook = [&](UnicodeString&) { return false; };
    fs::remove(file);
    Form->Speichern1->trigger();
    EXPECT_FALSE(fs::exists(file));
    fs::remove_all(dir);
}

// Qt's own save dialog, as "Speichern" shows it, speaks German.
TEST_F(Forms, SaveDialogTextsAreGerman)
{
    QString title, cancel;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        title = dialog->windowTitle();
        if (auto* buttons = dialog->findChild<QDialogButtonBox*>())
            cancel = buttons->button(QDialogButtonBox::Cancel)->text();
        dialog->reject();
    });
    EXPECT_FALSE(Form->SaveTextFileDialog1.Execute());
    EXPECT_EQ(title, Q("Speichern unter"));
    EXPECT_EQ(cancel, Q("Abbrechen"));
}

// Each label's text ends before the control to its right (or the window's edge).
TEST_F(Forms, LabelsFitBeforeTheNextControl)
{
    struct Room {
        QLabel* Label;
        int Right;
    };
    const Room rooms[] = {
        {Form->Label2, Form->eSend->x()},
        {Form->Label4, 390},
        {Form->Label5, 390},
        {Form->LECaptureLabel, 390},
        {Form2->Label1, Form2->EW1->x()},
        {Form2->Label2, Form2->EW2->x()},
        {Form2->Label3, Form2->EI1->x()},
        {Form2->Label4, Form2->EI2->x()},
    };
    for (const Room& r : rooms) {
        const int width = QFontMetrics(r.Label->font()).horizontalAdvance(r.Label->text());
        EXPECT_LE(r.Label->x() + width, r.Right) << r.Label->text().toStdString() << " in "
                                                  << QFontInfo(r.Label->font()).family().toStdString();
    }
}

// The temperature panels' background is the desktop's colour, not a fixed one.
TEST_F(Forms, PanelBackgroundComesFromThePalette)
{
    const QPalette saved = QApplication::palette();
    QPalette p = saved;
    p.setColor(QPalette::Inactive, QPalette::Button, QColor(10, 200, 30));
    QApplication::setPalette(p);
    CreateForms();
    for (QLabel* panel : {Form->C_Panel, Form->F_Panel}) {
        EXPECT_EQ(panel->palette().color(QPalette::Window), QColor(10, 200, 30));
        EXPECT_EQ(panel->grab().toImage().pixelColor(3, 3), QColor(10, 200, 30));
    }
    QApplication::setPalette(saved);
}

TEST_F(Forms, InfoBox)
{
    Boxes.clear();
    Form->Info1->trigger();
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0], u"Software zum Einlesen von Velm-Schulspektren\rSpektrometer-Team, 2026\rLizenz: MIT");
}

// The real component on the simulated instrument's virtual port.
TEST_F(Forms, CaptureFromTheSimulatedInstrument)
{
    spectrosim::TInstrumentOptions options;
    options.Lamp = spectrosim::TLamp::GreenLaser;
    spectrosim::TVirtualInstrument instrument(u"COM7", options, /*Paced=*/false);
    CreateForms();  // the port list is built with the instrument in it
    TnrDeviceBox* box = Form->nrDeviceBox1;
    const int index = box->findText(Q("COM7"), Qt::MatchContains);
    ASSERT_GE(index, 0);
    box->setCurrentIndex(index);
    emit box->activated(index);
    ASSERT_TRUE(Form->nrComm1->GetActive());
    EXPECT_EQ(Form->TTemp->Interval(), 2000u);
    EXPECT_TRUE(Form->TTemp->Running());

    // The temperature query (run at once instead of waiting 2 s).
    Form->TTempTimer(Form->TTemp);
    ASSERT_TRUE(Application->WaitUntil([&] { return !Form->F_Panel->text().isEmpty(); },
                                       std::chrono::seconds(5)));
    EXPECT_EQ(Form->C_Panel->text().size(), 6);
    EXPECT_EQ(Form->eSend->text(), Q("s10000"));

    Form->LECapture->setText(Q("1"));
    Form->bSend->click();
    ASSERT_TRUE(Application->WaitUntil([&] { return Form->ListBox1->count() >= 128; }, std::chrono::seconds(5)));
    EXPECT_EQ(CaptureTime, 1000);
    EXPECT_TRUE(Form->Image1->HasPicture());
    int peak = 0;
    for (int i = 1; i < 128; ++i)
        if (Counts[i] > Counts[peak])
            peak = i;
    EXPECT_EQ(peak, spectrosim::PixelOf(532));

    // A bad reply is shown and reception carries on.
    Boxes.clear();
    instrument.Port().Write(std::string("x 1\r\n"));
    ASSERT_TRUE(Application->WaitUntil([&] { return !Boxes.empty(); }, std::chrono::seconds(5)));
    EXPECT_NE(Boxes[0].find(u"'x' ist kein gültiger Gleitkommawert"), UnicodeString::npos) << ToUtf8(Boxes[0]);
    Form->bSend->click();
    ASSERT_TRUE(Application->WaitUntil([&] { return Form->ListBox1->count() >= 128; }, std::chrono::seconds(5)));

    // Picking the port again restarts the 2 s query.
    Form->TTemp->SetEnabled(false);
    emit box->activated(index);
    EXPECT_TRUE(Form->TTemp->Running());
    EXPECT_EQ(Form->TTemp->Interval(), 2000u);
    Form.reset();  // closes the port before the instrument goes
}

// Unplugged during a capture: one message, no port in the box, the points
// that arrived stay; the port list follows the ports that come and go; picking
// the port again when it is back captures as before.
TEST_F(Forms, LostPortIsReportedAndThePortListFollowsThePorts)
{
    spectrosim::TInstrumentOptions options;
    options.Lamp = spectrosim::TLamp::GreenLaser;
    auto instrument = std::make_unique<spectrosim::TVirtualInstrument>(u"COM7", options, /*Paced=*/true);
    CreateForms();
    TnrDeviceBox* box = Form->nrDeviceBox1;
    auto indexOf = [&](const char* Com) { return box->findText(Q(Com), Qt::MatchContains); };
    auto pick = [&](const char* Com) {
        const int index = indexOf(Com);
        ASSERT_GE(index, 0) << Com;
        box->setCurrentIndex(index);
        emit box->activated(index);
        Form->TTemp->SetEnabled(false);  // no temperature query in between
    };
    auto waitFor = [](const std::function<bool()>& Predicate) {
        return Application->WaitUntil(Predicate, std::chrono::seconds(10));
    };
    pick("COM7");
    ASSERT_TRUE(Form->nrComm1->GetActive());

    // Other ports come and go; COM7 stays selected.
    auto other = std::make_unique<winapi_posix::VirtualPort>(u"COM3");
    ASSERT_TRUE(waitFor([&] { return indexOf("COM3") >= 0; }));
    EXPECT_TRUE(box->currentText().contains(Q("COM7"))) << box->currentText().toStdString();
    other.reset();
    ASSERT_TRUE(waitFor([&] { return indexOf("COM3") < 0; }));
    EXPECT_TRUE(box->currentText().contains(Q("COM7")));

    Boxes.clear();
    Form->LECapture->setText(Q("1"));
    Form->bSend->click();
    ASSERT_TRUE(waitFor([&] { return Form->ListBox1->count() >= 10; }));
    instrument->Port().Remove();
    ASSERT_TRUE(waitFor([&] { return !Boxes.empty(); }));
    EXPECT_EQ(Boxes[0], u"Die Verbindung zu COM7 wurde unterbrochen.");
    EXPECT_FALSE(Form->nrComm1->GetActive());
    EXPECT_EQ(box->currentIndex(), -1);
    EXPECT_TRUE(waitFor([&] { return indexOf("COM7") < 0; }));  // gone from the list
    const int partial = Form->ListBox1->count();
    EXPECT_GE(partial, 10);
    EXPECT_LT(partial, 128);
    Form->bSend->click();  // on no port: sends nothing, says nothing

    // Back (a new device under the same name): listed again, nothing selected.
    instrument.reset();
    instrument = std::make_unique<spectrosim::TVirtualInstrument>(u"COM7", options, /*Paced=*/false);
    ASSERT_TRUE(waitFor([&] { return indexOf("COM7") >= 0; }));
    EXPECT_EQ(box->currentIndex(), -1);
    pick("COM7");
    ASSERT_TRUE(Form->nrComm1->GetActive());
    Form->bSend->click();
    ASSERT_TRUE(waitFor([&] { return Form->ListBox1->count() >= 128; }));
    int peak = 0;
    for (int i = 1; i < 128; ++i)
        if (Counts[i] > Counts[peak])
            peak = i;
    EXPECT_EQ(peak, spectrosim::PixelOf(532));
    // Only the one message: no line of the lost reply was joined to the new one.
    Application->WaitUntil([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_EQ(Boxes.size(), 1u) << ToUtf8(Boxes.back());
    Form.reset();
}

}  // namespace

int main(int argc, char** argv)
{
    const fs::path root = UsePrivatePorts("spectro-forms-");
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication qt(argc, argv);
    // As the program starts.
    LoadGermanQtTranslations();
    InstallFormFonts();
    TQtApplication app;
    App = &app;
    InstallQtDesktopProvider();
    app.MessageBoxHook = [](const UnicodeString& Text, const UnicodeString&, int) {
        Boxes.push_back(Text);
        return MsgBox::IdOk;
    };
    ::testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    fs::remove_all(root);
    return status;
}
