// The main window and the calibration dialog, driven through their controls
// (headless: the user's input raised by code).
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/calibration.h"
#include "comm/nrcomm/nrcomm.h"
#include "comm/nrcommbox/nrcommbox.h"
#include "platform/posix/virtual_port.h"
#include "tests/app/helpers.h"
#include "tests/app/private_ports.h"
#include "toolkit/extctrls.h"
#include "tools/spectrosim/virtual_instrument.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>

namespace fs = std::filesystem;

namespace {

THeadlessApplication* App = nullptr;
std::vector<UnicodeString> Boxes;  // texts of the message boxes shown

fs::path ProgramDir() { return fs::path(ToUtf8(TForm1::ProgramDirectory())); }

UnicodeString Q(const char* Utf8) { return Utf8ToUnicode(Utf8); }

using TLines = std::vector<UnicodeString>;

// Left, top, width, height.
std::array<int, 4> Bounds(const TControl* C) { return {C->Left(), C->Top(), C->Width(), C->Height()}; }
using B = std::array<int, 4>;

// A key pressed (the character through the edit) and released, as the event loop runs them.
void Press(TEdit* E, char16_t Ch)
{
    GuardedCall([&] { E->PerformChar(Ch); });
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
    TLines ListLines() const
    {
        TLines l;
        for (int i = 0; i < Form->ListBox1->Count(); ++i) l.push_back(Form->ListBox1->Items().Strings(i));
        return l;
    }
    std::unique_ptr<TForm1> Form;
};

TEST_F(Forms, StartStateAndLayout)
{
    TForm1& f = *Form;
    EXPECT_EQ(f.Caption(), Q("Spektrometer *Datenaufnahme*"));
    EXPECT_EQ(f.ClientWidth(), 390);
    EXPECT_EQ(f.ClientHeight(), 346);
    EXPECT_EQ(f.Left(), 207);
    EXPECT_EQ(f.Top(), 141);
    EXPECT_EQ(f.Font().Height, 11);
    EXPECT_EQ(Bounds(f.nrDeviceBox1), (B{24, 16, 110, 21}));
    EXPECT_EQ(f.ProtokollButton->Caption(), Q("Protokoll"));
    EXPECT_EQ(Bounds(f.ProtokollButton), (B{150, 15, 59, 23}));
    EXPECT_EQ(f.Label1->Caption(), Q("Datenempfang"));
    EXPECT_EQ(f.Label1->Left(), 24);
    EXPECT_EQ(f.Label1->Top(), 43);
    EXPECT_EQ(Bounds(f.ListBox1), (B{24, 62, 185, 179}));
    EXPECT_EQ(f.bSend->Caption(), Q("Aufnahme"));
    EXPECT_EQ(Bounds(f.bSend), (B{24, 247, 185, 25}));
    EXPECT_EQ(f.CLButton->Caption(), Q("Listbox löschen"));
    EXPECT_EQ(Bounds(f.CLButton), (B{24, 271, 185, 25}));
    EXPECT_EQ(f.Label4->Caption(), Q("Temperatur in ° C"));
    EXPECT_TRUE(f.Label4->Font().Style.Contains(fsBold));
    EXPECT_EQ(f.Label4->Font().Color, RGB(255, 0, 0));
    EXPECT_EQ(Bounds(f.C_Panel), (B{240, 43, 121, 41}));
    EXPECT_EQ(f.C_Panel->Font().Height, 19);
    EXPECT_EQ(f.Label5->Caption(), Q("Temperatur in °F"));
    EXPECT_EQ(f.Label5->Font().Color, RGB(0, 0, 128));
    EXPECT_EQ(Bounds(f.F_Panel), (B{240, 115, 121, 41}));
    EXPECT_EQ(f.LECapture->EditLabel()->Caption(), Q("Belichtungszeit(ms):"));
    EXPECT_EQ(Bounds(f.LECapture), (B{240, 181, 106, 21}));
    EXPECT_EQ(f.LECapture->Text(), Q("10"));
    EXPECT_EQ(f.Edit1->Text(), Q("10"));
    EXPECT_FALSE(f.Edit1->Visible());
    EXPECT_EQ(Bounds(f.UpDown1), (B{346, 181, 16, 21}));
    EXPECT_EQ(f.UpDown1->Position(), 10);
    EXPECT_EQ(Bounds(f.Image1), (B{215, 208, 167, 88}));
    EXPECT_FALSE(f.Image1->HasPicture());
    EXPECT_EQ(f.Label2->Caption(), Q("Befehlszeile:"));
    EXPECT_EQ(Bounds(f.eSend), (B{280, 302, 81, 28}));
    EXPECT_EQ(f.eSend->Text(), Q("s1000"));
    EXPECT_TRUE(f.C_Panel->Caption().empty());
    EXPECT_TRUE(f.F_Panel->Caption().empty());
    EXPECT_EQ(f.ListBox1->Count(), 0);

    EXPECT_EQ(f.Datei1->Caption(), Q("Datei"));
    EXPECT_EQ(f.Speichern1->Caption(), Q("Speichern"));
    EXPECT_EQ(f.Speichern1->ShortCut(), ShortCut('S', {ssCtrl}));
    EXPECT_EQ(f.Eichung1->Caption(), Q("Eichung"));
    EXPECT_EQ(f.Beenden1->Caption(), Q("Beenden"));
    EXPECT_EQ(f.Beenden1->ShortCut(), ShortCut(vkF4, {ssAlt}));
    EXPECT_EQ(f.Info1->Caption(), Q("Info"));
    EXPECT_EQ(f.Info1->Count(), 0);

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
    EXPECT_FALSE(Form2->Visible());
    EXPECT_EQ(Form2->Caption(), Q("Eichung"));
    EXPECT_EQ(Form2->ClientWidth(), 281);
    EXPECT_EQ(Form2->ClientHeight(), 206);
    EXPECT_EQ(Form2->EW1->Text(), Q("532"));
    EXPECT_EQ(Form2->EW2->Text(), Q("655"));
    EXPECT_EQ(Form2->EI1->Text(), Q("57"));
    EXPECT_EQ(Form2->EI2->Text(), Q("114"));
    EXPECT_EQ(Bounds(Form2->Button3), (B{0, 168, 281, 38}));
    EXPECT_EQ(Form2->Label1->Caption(), Q("Wellenlänge 1(nm):"));
}

TEST_F(Forms, MissingCalibrationFileIsReportedAndWindowWorks)
{
    // SetUp removed the data folder: the load at start failed with a message.
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].rfind(u"Datei ", 0), 0u);
    EXPECT_NE(Boxes[0].find(u"kann nicht geöffnet werden."), UnicodeString::npos);
    EXPECT_EQ(CalSlope, 0);
    Form->eSend->SetText(Q("s1000"));
    Feed("57 700\r\n");
    EXPECT_EQ(ListLines(), TLines{Q("0 700")});
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
    EXPECT_EQ(ListLines(), TLines{Q("514 100")});
    EXPECT_EQ(Counts[0], 100);
}

TEST_F(Forms, ExposureTyping)
{
    TLabeledEdit* e = Form->LECapture;
    e->SelectAll();
    e->TypeText(u"2.5");
    EXPECT_EQ(Form->eSend->Text(), Q("s2500"));
    EXPECT_EQ(Form->Edit1->Text(), Q("25"));
    e->SelectAll();
    e->TypeText(u"0.5");
    EXPECT_EQ(Form->eSend->Text(), Q("s500"));

    // "45": each press changes the command, the release clamps to 30 ms.
    e->SelectAll();
    e->TypeText(u"4");
    EXPECT_EQ(Form->eSend->Text(), Q("s4000"));
    Press(e, u'5');
    EXPECT_EQ(Form->eSend->Text(), Q("s45000"));
    EXPECT_EQ(e->Text(), Q("45"));
    e->PerformKeyUp('5');
    EXPECT_EQ(e->Text(), Q("30"));
    EXPECT_EQ(Form->Edit1->Text(), Q("300"));
    EXPECT_EQ(Form->eSend->Text(), Q("s30000"));

    // Exactly 30 is allowed.
    e->SelectAll();
    e->TypeText(u"30");
    EXPECT_EQ(e->Text(), Q("30"));
    EXPECT_EQ(Form->eSend->Text(), Q("s30000"));
}

TEST_F(Forms, EmptyExposureFieldShowsConversionErrorAndKeepsCommand)
{
    Boxes.clear();
    Form->LECapture->SelectAll();
    Form->LECapture->TypeText(u"\b");
    EXPECT_EQ(Form->eSend->Text(), Q("s1000"));
    ASSERT_FALSE(Boxes.empty());
    EXPECT_EQ(Boxes[0], u"'' ist kein gültiger Gleitkommawert.");  // the event loop adds the full stop
}

TEST_F(Forms, SpinStepsMoveAllThreeFields)
{
    Form->UpDown1->ClickButton(btNext);
    EXPECT_EQ(Form->Edit1->Text(), Q("15"));
    EXPECT_EQ(Form->LECapture->Text(), Q("1.5"));
    EXPECT_EQ(Form->eSend->Text(), Q("s1500"));
    Form->UpDown1->ClickButton(btPrev);
    Form->UpDown1->ClickButton(btPrev);
    Form->UpDown1->ClickButton(btPrev);
    EXPECT_EQ(Form->Edit1->Text(), Q("0"));  // the spin's minimum
    EXPECT_EQ(Form->eSend->Text(), Q("s0"));
    Form->Edit1->SetText(Q("295"));
    Form->UpDown1->ClickButton(btNext);
    Form->UpDown1->ClickButton(btNext);
    EXPECT_EQ(Form->Edit1->Text(), Q("300"));
    EXPECT_EQ(Form->LECapture->Text(), Q("30"));
}

TEST_F(Forms, ReplyChunksFillListCountsAndPanels)
{
    Feed("12 34");
    Feed("5\r");
    EXPECT_EQ(Form->ListBox1->Count(), 0);
    Feed("\n");
    EXPECT_EQ(ListLines(), TLines{Q("0 345")});
    EXPECT_EQ(Counts[0], 345);

    Feed("CT:10000\r\nRN:V\r\n");
    EXPECT_EQ(CaptureTime, 10000);
    Boxes.clear();
    Feed("CT: 10000\r\n");
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0], u"'CT:' ist kein gültiger Gleitkommawert.");
    EXPECT_EQ(CaptureTime, 10000);

    // Temperature reply: panels, command re-armed from the exposure field, list emptied.
    Form->eSend->SetText(Q("t"));
    Feed("23.456C\r\n");
    EXPECT_EQ(Form->C_Panel->Caption(), Q("23.456"));
    EXPECT_EQ(Form->F_Panel->Caption(), Q("74.221"));
    EXPECT_EQ(Form->eSend->Text(), Q("s10000"));
    EXPECT_EQ(Form->ListBox1->Count(), 0);

    Form->eSend->SetText(Q("x"));
    Feed("1 2\r\n");
    EXPECT_EQ(Form->ListBox1->Count(), 0);
}

TEST_F(Forms, The128thPointDrawsThePlot)
{
    Boxes.clear();
    FeedCapture(127);
    EXPECT_FALSE(Form->Image1->HasPicture());
    Feed("127 832\r\n");
    ASSERT_TRUE(Form->Image1->HasPicture());
    const TBitmap& img = Form->Image1->Picture();
    EXPECT_EQ(img.Width(), 167);
    EXPECT_EQ(img.Height(), 88);
    EXPECT_EQ(img.Pixel(0, 40), RGB(0, 0, 0));  // frame
    EXPECT_EQ(img.Pixel(166, 5), RGB(0, 0, 0));
    EXPECT_EQ(img.Pixel(40, 20), RGB(255, 255, 255));
    // The peak (position 60, count 1000) reaches y = 2 at x = 79.
    EXPECT_EQ(img.Pixel(79, 2), RGB(255, 0, 0));
    // No calibration scan: no marker, no message.
    EXPECT_TRUE(Boxes.empty());
    for (int y = 30; y < 80; ++y) EXPECT_NE(img.Pixel(79, y), RGB(0, 0, 255));
}

TEST_F(Forms, ClearingTheListKeepsTheCaptureGoing)
{
    FeedCapture(10);
    Form->CLButton->Click();
    EXPECT_EQ(Form->ListBox1->Count(), 0);
    EXPECT_EQ(PointCount, 10);
    Feed("10 77\r\n");
    EXPECT_EQ(Counts[10], 77);
    EXPECT_EQ(Form->ListBox1->Count(), 1);
}

TEST_F(Forms, SendWithoutPortClearsListAndSendsNothing)
{
    FeedCapture(5);
    Boxes.clear();
    Form->bSend->Click();
    EXPECT_EQ(Form->ListBox1->Count(), 0);
    EXPECT_EQ(PointCount, 0);
    EXPECT_TRUE(Boxes.empty());
    // The start-up timer leaves "t" in the command line.
    Form->TTemp->OnTimer()(Form->TTemp);
    EXPECT_EQ(Form->eSend->Text(), Q("t"));
    EXPECT_FALSE(Form->TTemp->Running());
}

TEST_F(Forms, CalibrationScanReportsPeakAndSaves)
{
    fs::create_directories(ProgramDir() / "data");
    Form->Eichung1->Click();
    EXPECT_TRUE(Form2->Visible());
    Form2->Button1->Click();
    EXPECT_EQ(ScanMode, 1);
    EXPECT_EQ(Form->eSend->Text(), Q("s"));
    Boxes.clear();
    FeedCapture(128, 60, 900);
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0], u"60;900");
    EXPECT_EQ(Form2->EI1->Text(), Q("60"));
    EXPECT_EQ(Form2->EI2->Text(), Q("114"));
    const TBitmap& img = Form->Image1->Picture();
    EXPECT_EQ(img.Pixel(79, 60), RGB(0, 0, 255));  // the marker

    // The scan mode stays: "Aufnahme" reports again.
    Form2->Button2->Click();
    Boxes.clear();
    FeedCapture(128, 116, 1023);
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0], u"116;1023");
    EXPECT_EQ(Form2->EI2->Text(), Q("116"));

    Form2->EW1->SetText(Q("500"));
    Form2->EW2->SetText(Q("600"));
    Form2->EI1->SetText(Q("40"));
    Form2->EI2->SetText(Q("90"));
    Form2->Button3->Click();
    EXPECT_EQ(ReadAll(ProgramDir() / "data" / "conf.dat"), "2\r\n420\r\n");
    EXPECT_EQ(CalSlope, 2);
    EXPECT_EQ(CalOffset, 420);
    EXPECT_FALSE(Form2->Visible());
    EXPECT_EQ(ScanMode, 0);

    // After the dialog is gone a capture draws without marker or message.
    Boxes.clear();
    Form->bSend->Click();
    FeedCapture(128);
    EXPECT_TRUE(Boxes.empty());
    EXPECT_EQ(ListLines().front(), Q("420 20"));
}

TEST_F(Forms, CalibrationFailures)
{
    Form->Eichung1->Click();
    Form2->Button1->Click();
    // No data folder: the coefficients change, the file does not, the dialog stays.
    Boxes.clear();
    Form2->Button3->Click();
    ASSERT_EQ(Boxes.size(), 1u);
    const UnicodeString path = CalibrationFilePath(TForm1::ProgramDirectory());
    EXPECT_EQ(Boxes[0].rfind(u"Datei \"" + path + u"\" kann nicht erstellt werden. ", 0), 0u) << ToUtf8(Boxes[0]);
    EXPECT_EQ(FloatToStr(CalSlope), u"2.15789473684211");
    EXPECT_EQ(CalOffset, 409);
    EXPECT_TRUE(Form2->Visible());
    EXPECT_EQ(ScanMode, 1);
    EXPECT_FALSE(fs::exists(ProgramDir() / "data"));

    // Equal indices: nothing changes.
    CalSlope = CalOffset = 0;
    Form2->EI2->SetText(Q("57"));
    Boxes.clear();
    Form2->Button3->Click();
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0], u"Gleitkommadivision durch Null.");
    Form2->EW2->SetText(Q("532"));
    Boxes.clear();
    Form2->Button3->Click();
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0], u"Ungültige Gleitkommaoperation.");
    Form2->EW1->SetText(Q("abc"));
    Boxes.clear();
    Form2->Button3->Click();
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0], u"'abc' ist kein gültiger Gleitkommawert.");
    EXPECT_EQ(CalSlope, 0);
    EXPECT_TRUE(Form2->Visible());

    // Closing the dialog ends the scan mode.
    Form2->Close();
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
    Form->SaveTextFileDialog1->ExecuteHook = [&](UnicodeString& Name) {
        ++asked;
        proposed = Name;
        if (asked == 1) Name = Utf8ToUnicode((dir / "NATRIUM.DAT").string());
        return true;
    };
    Form->Speichern1->Click();
    const fs::path file = dir / "NATRIUM.DAT.dat";
    EXPECT_EQ(ReadAll(file),
              "Target: NATRIUM.DAT\r\nComment: Schulspektrum\r\nExpTime: 1.5ms\r\nFactor: 0.001\r\n"
              "WL     CTS\r\n0 700\r\n0 0100\r\n");
    // The second save proposes the extended name and overwrites without asking.
    Form->CLButton->Click();
    Form->Speichern1->Click();
    EXPECT_EQ(proposed, Utf8ToUnicode(file.string()));
    EXPECT_EQ(ReadAll(file),
              "Target: NATRIUM.DAT\r\nComment: Schulspektrum\r\nExpTime: 1.5ms\r\nFactor: 0.001\r\nWL     CTS\r\n");
    EXPECT_EQ(Form->ListBox1->Count(), 0);

    // A folder in the way: the runtime's message, the program carries on.
    fs::create_directories(dir / "busy.dat");
    Form->SaveTextFileDialog1->ExecuteHook = [&](UnicodeString& Name) {
        Name = Utf8ToUnicode((dir / "busy.dat").string());
        return true;
    };
    Boxes.clear();
    Form->Speichern1->Click();
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0], u"Dateizugriff verweigert.");

    // Cancel writes nothing.
    Form->SaveTextFileDialog1->ExecuteHook = [&](UnicodeString&) { return false; };
    fs::remove(file);
    Form->Speichern1->Click();
    EXPECT_FALSE(fs::exists(file));
    fs::remove_all(dir);
}

TEST_F(Forms, InfoBox)
{
    Boxes.clear();
    Form->Info1->Click();
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
    const int index = box->Items().IndexOf(u"COM7");
    ASSERT_GE(index, 0);
    box->PickItem(index);
    ASSERT_TRUE(Form->nrComm1->GetActive());
    EXPECT_EQ(Form->TTemp->Interval(), 2000u);
    EXPECT_TRUE(Form->TTemp->Running());

    // The temperature query (run at once instead of waiting 2 s).
    Form->TTempTimer(Form->TTemp);
    ASSERT_TRUE(Application->WaitUntil([&] { return !Form->F_Panel->Caption().empty(); }, std::chrono::seconds(5)));
    EXPECT_EQ(Form->C_Panel->Caption().size(), 6);
    EXPECT_EQ(Form->eSend->Text(), Q("s10000"));

    Form->LECapture->SetText(Q("1"));
    Form->bSend->Click();
    ASSERT_TRUE(Application->WaitUntil([&] { return Form->ListBox1->Count() >= 128; }, std::chrono::seconds(5)));
    EXPECT_EQ(CaptureTime, 1000);
    EXPECT_TRUE(Form->Image1->HasPicture());
    int peak = 0;
    for (int i = 1; i < 128; ++i)
        if (Counts[i] > Counts[peak]) peak = i;
    EXPECT_EQ(peak, spectrosim::PixelOf(532));

    // A bad reply is shown and reception carries on.
    Boxes.clear();
    instrument.Port().Write(std::string("x 1\r\n"));
    ASSERT_TRUE(Application->WaitUntil([&] { return !Boxes.empty(); }, std::chrono::seconds(5)));
    EXPECT_NE(Boxes[0].find(u"'x' ist kein gültiger Gleitkommawert"), UnicodeString::npos) << ToUtf8(Boxes[0]);
    Form->bSend->Click();
    ASSERT_TRUE(Application->WaitUntil([&] { return Form->ListBox1->Count() >= 128; }, std::chrono::seconds(5)));

    // Picking the port again restarts the 2 s query.
    Form->TTemp->SetEnabled(false);
    box->PickItem(index);
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
    auto indexOf = [&](const char16_t* Com) { return box->Items().IndexOf(Com); };
    auto pick = [&](const char16_t* Com) {
        const int index = indexOf(Com);
        ASSERT_GE(index, 0);
        box->PickItem(index);
        Form->TTemp->SetEnabled(false);  // no temperature query in between
    };
    auto waitFor = [](const std::function<bool()>& Predicate) {
        return Application->WaitUntil(Predicate, std::chrono::seconds(10));
    };
    pick(u"COM7");
    ASSERT_TRUE(Form->nrComm1->GetActive());

    // Other ports come and go; COM7 stays selected.
    auto other = std::make_unique<winapi_posix::VirtualPort>(u"COM3");
    ASSERT_TRUE(waitFor([&] { return indexOf(u"COM3") >= 0; }));
    EXPECT_EQ(box->Text(), u"COM7");
    other.reset();
    ASSERT_TRUE(waitFor([&] { return indexOf(u"COM3") < 0; }));
    EXPECT_EQ(box->Text(), u"COM7");

    Boxes.clear();
    Form->LECapture->SetText(Q("1"));
    Form->bSend->Click();
    ASSERT_TRUE(waitFor([&] { return Form->ListBox1->Count() >= 10; }));
    instrument->Port().Remove();
    ASSERT_TRUE(waitFor([&] { return !Boxes.empty(); }));
    EXPECT_EQ(Boxes[0], u"Die Verbindung zu COM7 wurde unterbrochen.");
    EXPECT_FALSE(Form->nrComm1->GetActive());
    EXPECT_EQ(box->ItemIndex(), -1);
    EXPECT_TRUE(waitFor([&] { return indexOf(u"COM7") < 0; }));  // gone from the list
    const int partial = Form->ListBox1->Count();
    EXPECT_GE(partial, 10);
    EXPECT_LT(partial, 128);
    Form->bSend->Click();  // on no port: sends nothing, says nothing

    // Back (a new device under the same name): listed again, nothing selected.
    instrument.reset();
    instrument = std::make_unique<spectrosim::TVirtualInstrument>(u"COM7", options, /*Paced=*/false);
    ASSERT_TRUE(waitFor([&] { return indexOf(u"COM7") >= 0; }));
    EXPECT_EQ(box->ItemIndex(), -1);
    pick(u"COM7");
    ASSERT_TRUE(Form->nrComm1->GetActive());
    Form->bSend->Click();
    ASSERT_TRUE(waitFor([&] { return Form->ListBox1->Count() >= 128; }));
    int peak = 0;
    for (int i = 1; i < 128; ++i)
        if (Counts[i] > Counts[peak]) peak = i;
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
    THeadlessApplication app;
    App = &app;
    // The data folder beside the test program stands for the one beside the program.
    app.ExeName = Utf8ToUnicode(fs::canonical(argv[0]).string());
    app.MessageBoxHook = [](const UnicodeString& Text, const UnicodeString&, int) {
        Boxes.push_back(Text);
        return MsgBox::IdOk;
    };
    ::testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    fs::remove_all(root);
    return status;
}
