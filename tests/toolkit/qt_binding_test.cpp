// The Qt binding: dispatcher, event loop guard, edit and check box adapters.
#include "toolkit/qt/qtapplication.h"
#include "toolkit/qt/qtcontrols.h"
#include "toolkit/qt/qtguard.h"
#include "toolkit/qt/portsettingsdialog.h"
#include "toolkit/extctrls.h"
#include "tests/toolkit/lambda_thread.h"
#include "tests/toolkit/qt_fixture.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QTest>

#include <atomic>
#include <vector>

using namespace std::chrono_literals;

namespace {

class QtBinding : public QtFixture {};

TEST_F(QtBinding, SynchronizeRunsOnTheQtEventLoop)
{
    std::atomic<int> Ran{0};
    bool OnMain = false;
    TLambdaThread T([&](TLambdaThread& Self) {
        for (int I = 0; I < 50; ++I)
            Self.Synchronize([&] {
                OnMain = IsMainThread();
                ++Ran;
            });
    });
    T.Start();
    EXPECT_TRUE(App->WaitUntil([&] { return T.Finished(); }, 10s));
    EXPECT_EQ(Ran, 50);
    EXPECT_TRUE(OnMain);
}

TEST_F(QtBinding, ACancelledRequestNeverRunsInTheEventLoop)
{
    std::atomic<bool> Ran{false};
    TLambdaThread T([&](TLambdaThread& Self) { Self.Synchronize([&] { Ran = true; }); });
    T.Start();
    while (!SynchronizeRequestsPending()) std::this_thread::yield();
    T.Terminate();
    EXPECT_TRUE(T.DoneSignal()->Wait(5s));  // without any event processing
    QCoreApplication::processEvents();
    EXPECT_FALSE(Ran);
}

TEST_F(QtBinding, GuardShowsTheExceptionAndTheProgramCarriesOn)
{
    QPushButton Button;
    int Clicks = 0;
    QObject::connect(&Button, &QPushButton::clicked, Guarded([&] {
        ++Clicks;
        StrToFloat(u"");  // raises
        ++Clicks;         // skipped
    }));
    Button.click();
    Button.click();
    EXPECT_EQ(Clicks, 2);
    ASSERT_EQ(Boxes.size(), 2u);
    EXPECT_EQ(Boxes[0], u"'' ist kein gültiger Gleitkommawert.");

    // Handlers with the signal's argument, and timers, use the same guard.
    QCheckBox Box;
    bool Seen = false;
    QObject::connect(&Box, &QCheckBox::toggled, Guarded([&](bool On) {
        Seen = On;
        throw EListError(u"Listenindex überschreitet das Maximum (1)");
    }));
    Box.setChecked(true);
    EXPECT_TRUE(Seen);
    TTimer Timer(nullptr);
    Timer.SetInterval(5);
    Timer.SetOnTimer([&](TObject*) {
        Timer.SetEnabled(false);
        FloatDivide(1, 0);
    });
    EXPECT_TRUE(App->WaitUntil([&] { return Boxes.size() == 4; }, 5s));
    EXPECT_EQ(Boxes[2], u"Listenindex überschreitet das Maximum (1)");
    EXPECT_EQ(Boxes[3], u"Gleitkommadivision durch Null.");
}

TEST_F(QtBinding, MessageBoxFromAThreadIsShownOnTheMainThread)
{
    std::atomic<int> Answer{-1};
    TLambdaThread T([&](TLambdaThread&) { Answer = App->MessageBox(u"error", u"Error", MsgBox::IconError); });
    T.Start();
    EXPECT_TRUE(App->WaitUntil([&] { return Answer != -1; }, 5s));
    EXPECT_EQ(Answer, MsgBox::IdOk);
    ASSERT_EQ(BoxOnMain.size(), 1u);
    EXPECT_TRUE(BoxOnMain[0]);
}

// A component that links itself to a control, like a serial component to
// its monitor check box.
class TWatcher : public TComponent {
public:
    TWatcher() : TComponent(nullptr) {}
    TControl* Monitor = nullptr;
    void SetMonitor(TControl* C)
    {
        Monitor = C;
        if (C) C->FreeNotification(this);
    }

protected:
    void Notification(TComponent* AComponent, TOperation Operation) override
    {
        TComponent::Notification(AComponent, Operation);
        if (Operation == opRemove && AComponent == Monitor) Monitor = nullptr;
    }
};

TEST_F(QtBinding, CheckBoxHasAPublishedCheckedAndTellsOfItsDestruction)
{
    auto* Box = new QCheckBox;
    Box->setObjectName("CheckBoxCTS");
    TQtCheckBoxControl* Side = TQtCheckBoxControl::For(Box);
    EXPECT_EQ(TQtCheckBoxControl::For(Box), Side);  // one side per widget
    EXPECT_EQ(Side->Name(), u"CheckBoxCTS");
    TWatcher W;
    W.SetMonitor(Side);
    EXPECT_TRUE(SetCheckedProperty(W.Monitor, true));
    EXPECT_TRUE(Box->isChecked());
    // From another thread the change is made on the main thread.
    TLambdaThread T([&](TLambdaThread&) { SetCheckedProperty(Side, false); });
    T.Start();
    EXPECT_TRUE(App->WaitUntil([&] { return T.Finished(); }, 5s));
    EXPECT_FALSE(Box->isChecked());
    delete Box;
    EXPECT_EQ(W.Monitor, nullptr);
    EXPECT_EQ(W.FreeNotifyCount(), 0);
    // A widget side without the property leaves the control alone.
    QPushButton Button;
    TQtWidgetControl Plain(&Button);
    EXPECT_FALSE(SetCheckedProperty(&Plain, true));
}

TEST_F(QtBinding, TypedCharactersOfALineEditGoThroughCharProc)
{
    QLineEdit Line;
    Line.show();
    TQtEditAdapter* Edit = TQtEditAdapter::For(&Line);
    std::u16string Sent;
    bool Echo = false;
    TCustomEdit::TCharProc Saved = Edit->CharProc();
    Edit->SetCharProc([&](char16_t C) {
        Sent += C;
        if (Echo) Saved(C);
    });
    QTest::keyClicks(&Line, "ab");
    EXPECT_EQ(Sent, u"ab");
    EXPECT_EQ(Line.text(), QString());  // the terminal swallowed them
    Echo = true;
    QTest::keyClicks(&Line, "cd");
    QTest::keyClick(&Line, Qt::Key_Backspace);
    EXPECT_EQ(Line.text(), QStringLiteral("c"));
    EXPECT_EQ(Sent, u"abcd\b");
    // Delete and Escape are keys, not typed characters: the edit's own.
    QTest::keyClick(&Line, Qt::Key_Home);
    QTest::keyClick(&Line, Qt::Key_Delete);
    QTest::keyClick(&Line, Qt::Key_Escape);
    EXPECT_EQ(Line.text(), QString());
    EXPECT_EQ(Sent, u"abcd\b");
    QTest::keyClicks(&Line, "c");
    Edit->SetCharProc(Saved);
    Edit->ReplaceSelAnsi("\x80!");
    EXPECT_EQ(Line.text(), QStringLiteral("c€!"));
    int Changes = 0;
    Edit->OnChange = [&](TObject*) { ++Changes; };
    Edit->SetText(u"x");
    EXPECT_EQ(Changes, 1);
    EXPECT_EQ(Edit->Text(), u"x");
}

TEST_F(QtBinding, PlainTextEditTakesReceivedTextFromAnyThread)
{
    QPlainTextEdit Plain;
    TQtEditAdapter* Edit = TQtEditAdapter::For(&Plain);
    EXPECT_TRUE(Edit->MultiLine());
    Edit->SetReadOnly(true);  // received text still goes in
    Edit->ReplaceSelAnsi("t\r\n23.4");
    TLambdaThread T([&](TLambdaThread&) {
        Edit->PerformAnsiChar('5');  // typed: a read-only edit ignores it
        Edit->ReplaceSelAnsi(" C\r\n");
    });
    T.Start();
    EXPECT_TRUE(App->WaitUntil([&] { return T.Finished(); }, 5s));
    EXPECT_EQ(Plain.toPlainText(), QStringLiteral("t\n23.4 C\n"));
    Edit->SetReadOnly(false);
    Edit->SetSelection(0, 1);
    Edit->PerformChar(u'T');
    EXPECT_EQ(Edit->Text(), u"T\n23.4 C\n");
    EXPECT_EQ(Edit->SelStart(), 1);
}

TEST_F(QtBinding, PortSettingsDialogShowsTheDcbAndWritesTheChosenFlowControl)
{
    DCB In{};
    In.BaudRate = 19200;
    In.ByteSize = 7;
    In.Parity = EVENPARITY;
    In.StopBits = TWOSTOPBITS;
    In.fOutxCtsFlow = 1;
    In.fRtsControl = RTS_CONTROL_HANDSHAKE;
    In.fOutxDsrFlow = 1;
    In.XonChar = 0x11;
    TPortSettingsDialog D(u"COM3", In);
    EXPECT_EQ(D.windowTitle(), QStringLiteral("Eigenschaften von COM3"));
    EXPECT_EQ(D.BaudRate->currentText(), QStringLiteral("19200"));
    EXPECT_EQ(D.DataBits->currentText(), QStringLiteral("7"));
    EXPECT_EQ(D.Parity->currentText(), QStringLiteral("Gerade"));
    EXPECT_EQ(D.StopBits->currentText(), QStringLiteral("2"));
    EXPECT_EQ(D.FlowControl->currentText(), QStringLiteral("Hardware"));

    struct TFlags {
        unsigned OutX, InX, Cts, Rts;
    };
    auto Applied = [&](int FlowIndex) {
        D.FlowControl->setCurrentIndex(FlowIndex);
        DCB Out = In;
        D.ApplyTo(Out);
        EXPECT_EQ(Out.BaudRate, 19200u);
        EXPECT_EQ(Out.ByteSize, 7);
        EXPECT_EQ(Out.Parity, EVENPARITY);
        EXPECT_EQ(Out.fParity, 1u);
        EXPECT_EQ(Out.StopBits, TWOSTOPBITS);
        EXPECT_EQ(Out.fBinary, 1u);
        EXPECT_EQ(Out.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
        EXPECT_EQ(Out.fOutxDsrFlow, 0u);
        EXPECT_EQ(Out.XonChar, 0x11);  // not the dialog's
        return TFlags{Out.fOutX, Out.fInX, Out.fOutxCtsFlow, Out.fRtsControl};
    };
    auto Is = [](TFlags F, TFlags E) { return F.OutX == E.OutX && F.InX == E.InX && F.Cts == E.Cts && F.Rts == E.Rts; };
    EXPECT_TRUE(Is(Applied(0), {0, 0, 0, RTS_CONTROL_ENABLE}));
    EXPECT_TRUE(Is(Applied(1), {1, 1, 0, RTS_CONTROL_ENABLE}));
    EXPECT_TRUE(Is(Applied(2), {0, 0, 1, RTS_CONTROL_HANDSHAKE}));

    // A rate outside the list is offered as it is; the reset button restores 9600 8N1.
    DCB Odd{};
    Odd.BaudRate = 250;
    Odd.ByteSize = 8;
    TPortSettingsDialog O(u"COM4", Odd);
    EXPECT_EQ(O.BaudRate->currentText(), QStringLiteral("250"));
    QPushButton* Reset = nullptr;
    for (auto* B : O.findChildren<QPushButton*>())
        if (B->text() == QStringLiteral("Standard wiederherstellen")) Reset = B;
    ASSERT_NE(Reset, nullptr);
    O.Parity->setCurrentIndex(2);
    O.FlowControl->setCurrentIndex(1);
    Reset->click();
    EXPECT_EQ(O.BaudRate->currentText(), QStringLiteral("9600"));
    EXPECT_EQ(O.DataBits->currentText(), QStringLiteral("8"));
    EXPECT_EQ(O.Parity->currentText(), QStringLiteral("Keine"));
    EXPECT_EQ(O.StopBits->currentText(), QStringLiteral("1"));
    EXPECT_EQ(O.FlowControl->currentText(), QStringLiteral("Keine"));
}

}  // namespace
