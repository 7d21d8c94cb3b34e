// The data processor between a component and the application: chaining,
// notices, receive dispatch, sends with the completion timer, fatal errors,
// free notifications; and the log sink base.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "tests/comm_processor/test_helpers.h"
#include "toolkit/stdctrls.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A processor that records what reaches it and exposes the protected parts.
class TProbe : public TnrCustomDataProcessor {
public:
    explicit TProbe(TComponent* AOwner, const char16_t* Prefix = u"") : TnrCustomDataProcessor(AOwner)
    {
        sLogPrefix = Prefix;
    }

    void DoProcessing(uint8_t* Data, uint32_t Len, TIgnoreTypes& R) override
    {
        Received.append(reinterpret_cast<const char*>(Data), Len);
        R += Adds;
        TnrCustomDataProcessor::DoProcessing(Data, Len, R);
    }
    void DoAfterSendComplete(bool& flIgnore) override
    {
        ++Completions;
        flIgnore = IgnoreSendComplete;
    }
    void SetDataSendHook(TDataSendEvent Hook) { fOnDataSend = std::move(Hook); }
    bool TimerArmed() const { return fTimerAsync->IsArmed(); }
    uint32_t TimerInterval() const { return fTimerAsync->GetInterval(); }

    std::string Received;
    TIgnoreTypes Adds;
    int Completions = 0;
    bool IgnoreSendComplete = false;
};

class ProcessorTest : public ::testing::Test {
protected:
    THeadlessApplication app;
    TRecordingLog* log = new TRecordingLog(nullptr);
    TFakeIO* io = new TFakeIO(nullptr);

    ~ProcessorTest() override
    {
        delete io;
        delete log;
    }

    // Pumps the main thread's timers for the given time.
    void Pump(std::chrono::milliseconds For)
    {
        app.WaitUntil([] { return false; }, For);
    }
};

TEST_F(ProcessorTest, ChainGetsOpenCloseNoticesAndDataThroughTheFirstProcessor)
{
    TProbe a(nullptr, u"A: ");
    TProbe b(nullptr, u"B: ");
    a.SetLog(log);
    b.SetLog(log);
    io->SetDataProcessor(&a);
    a.LinkProcessor(&b);
    EXPECT_EQ(b.GetDevice(), io);
    a.LinkProcessor(&a);  // linking itself changes nothing
    EXPECT_EQ(a.GetDataProcessor(), &b);

    io->DoNotify(NOTIFY_DEVICE_OPENED);
    io->DoNotify(NOTIFY_DEVICE_LIST_CHANGED);  // not the processors' business
    io->DoNotify(NOTIFY_DEVICE_CLOSED);
    const std::vector<std::string> expected = {"A: Medium Opened", "B: Medium Opened", "A: Medium Closed",
                                               "B: Medium Closed"};
    EXPECT_EQ(log->Texts(), expected);
    for (const auto& line : log->Lines()) EXPECT_EQ(line.Level, dlDebug);

    // Attaching the same device again adds no second subscription.
    a.AttachDevice(io);
    log->Reset();
    io->DoNotify(NOTIFY_DEVICE_OPENED);
    EXPECT_EQ(log->Lines().size(), 2u);

    uint8_t data[] = {'x', 'y', 'z', 0};
    io->DoDataReceived(data, 3);
    EXPECT_EQ(a.Received, "xyz");
    EXPECT_EQ(b.Received, "xyz");
    a.DataReceive(data, 2);
    EXPECT_EQ(b.Received, "xyzxy");
}

TEST_F(ProcessorTest, IgnoreTerminalKeepsDataOutOfTheTerminalButAfterReceiveFires)
{
    TEdit edit(nullptr);
    io->SetTerminal(&edit);
    io->SetTerminalUsage(tuReceive);
    std::string delivered;
    io->SetOnAfterReceive([&](TObject*, const uint8_t* Buffer, uint32_t Len) {
        delivered.append(reinterpret_cast<const char*>(Buffer), Len);
    });

    TProbe first(nullptr);
    TProbe second(nullptr);
    second.Adds = {itTerminal};  // the member that asks, deep in the chain
    first.LinkProcessor(&second);
    io->SetDataProcessor(&first);

    uint8_t data[] = {'a', 'b', 'c', 0};
    io->DoDataReceived(data, 3);
    EXPECT_EQ(edit.Text(), u"");
    EXPECT_EQ(delivered, "abc");

    second.Adds = TIgnoreTypes();
    uint8_t more[] = {'d', 'e', 0};
    io->DoDataReceived(more, 2);
    EXPECT_EQ(edit.Text(), u"de");
    EXPECT_EQ(delivered, "abcde");
    io->SetTerminal(nullptr);
}

TEST_F(ProcessorTest, SendCompleteAnswerDecidesTheComponentsAnswer)
{
    EXPECT_FALSE(io->DoSendComplete());  // no processor
    TProbe p(nullptr);
    io->SetDataProcessor(&p);
    EXPECT_FALSE(io->DoSendComplete());
    p.IgnoreSendComplete = true;
    EXPECT_TRUE(io->DoSendComplete());
    EXPECT_EQ(p.Completions, 2);
}

TEST_F(ProcessorTest, HandledSendBufferCompletesOnceAfterTheInterval)
{
    TProbe p(nullptr);
    p.SetLog(log);
    io->SetDataProcessor(&p);
    bool synchro = true;
    p.SetDataSendHook([&](TObject* Sender, char*, uint32_t, bool flSynchro, bool& flHandled) {
        EXPECT_EQ(Sender, &p);
        synchro = flSynchro;
        flHandled = true;
    });
    p.StartAsyncTimer(80);
    uint8_t data[] = {1, 2, 3};
    const auto start = Clock::now();
    p.SendBuffer(data, 3);
    EXPECT_FALSE(synchro);
    EXPECT_TRUE(io->Sent.empty());
    EXPECT_EQ(log->Texts(), std::vector<std::string>{"DoDataSend: 3 bytes"});

    ASSERT_TRUE(app.WaitUntil([&] { return p.Completions > 0; }, 2000ms));
    EXPECT_GE(Clock::now() - start, 70ms);
    Pump(300ms);
    EXPECT_EQ(p.Completions, 1);
    EXPECT_FALSE(p.TimerArmed());
}

TEST_F(ProcessorTest, HandledSendBufferUsesTheDefaultSecond)
{
    TProbe p(nullptr);
    p.SetDataSendHook([](TObject*, char*, uint32_t, bool, bool& flHandled) { flHandled = true; });
    uint8_t data[] = {1};
    const auto start = Clock::now();
    p.SendBuffer(data, 1);
    ASSERT_TRUE(app.WaitUntil([&] { return p.Completions > 0; }, 3000ms));
    const auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, 950ms);
    EXPECT_LT(elapsed, 2000ms);
    EXPECT_EQ(p.Completions, 1);
}

TEST_F(ProcessorTest, StartAsyncTimerZeroDisarmsAPendingCompletion)
{
    TProbe p(nullptr);
    p.StartAsyncTimer(40);
    EXPECT_TRUE(p.TimerArmed());
    EXPECT_EQ(p.TimerInterval(), 40u);
    p.StartAsyncTimer(0);
    EXPECT_FALSE(p.TimerArmed());
    EXPECT_EQ(p.TimerInterval(), 40u);  // 0 is no interval; the last one stays
    Pump(200ms);
    EXPECT_EQ(p.Completions, 0);
}

TEST_F(ProcessorTest, UnhandledSendBufferSendsTheHooksBytesThroughTheDevice)
{
    TProbe p(nullptr);
    p.SetLog(log);
    io->SetDataProcessor(&p);
    p.SetDataSendHook([](TObject*, char* Buffer, uint32_t Len, bool, bool&) {
        for (uint32_t i = 0; i < Len; ++i) Buffer[i] = static_cast<char>(Buffer[i] - 'a' + 'A');
    });
    uint8_t data[] = {'a', 'b', 'c'};
    p.SendBuffer(data, 3);
    EXPECT_EQ(io->Sent, std::vector<std::string>{"ABC"});
    EXPECT_EQ(log->Texts(), std::vector<std::string>{"DoDataSend: 3 bytes"});
    EXPECT_FALSE(p.TimerArmed());
}

TEST_F(ProcessorTest, SendBufferNeverLetsAnErrorOutAndLogsOnlyWhatWasSent)
{
    TProbe p(nullptr);
    p.SetLog(log);
    int hookCalls = 0;
    p.SetDataSendHook([&](TObject*, char*, uint32_t, bool, bool&) { ++hookCalls; });
    uint8_t data[] = {'q'};

    p.SendBuffer(data, 0);
    p.SendBuffer(nullptr, 5);
    EXPECT_EQ(hookCalls, 0);

    p.SendBuffer(data, 1);  // no device attached
    EXPECT_EQ(hookCalls, 1);

    io->SetDataProcessor(&p);
    io->FailSends = true;
    EXPECT_NO_THROW(p.SendBuffer(data, 1));

    io->FailSends = false;
    p.SetDataSendHook([](TObject*, char*, uint32_t, bool, bool&) { throw Exception(u"hook failed"); });
    EXPECT_NO_THROW(p.SendBuffer(data, 1));
    EXPECT_TRUE(io->Sent.empty());
    EXPECT_TRUE(log->Lines().empty());
}

TEST_F(ProcessorTest, SendTextSendsTheHooksCopyAndLeavesTheCallersString)
{
    TProbe p(nullptr);
    p.SetLog(log);
    io->SetDataProcessor(&p);
    bool synchro = false;
    p.SetDataSendHook([&](TObject*, char* Buffer, uint32_t Len, bool flSynchro, bool&) {
        synchro = flSynchro;
        if (Len > 0) Buffer[0] = 'T';
    });
    const AnsiString text = "text";
    p.SendText(text);
    EXPECT_TRUE(synchro);
    EXPECT_EQ(text, "text");
    EXPECT_EQ(io->SentStrings, std::vector<AnsiString>{"Text"});

    p.SetDataSendHook([](TObject*, char*, uint32_t, bool, bool& flHandled) { flHandled = true; });
    p.SendText("other");
    p.SendText("");
    EXPECT_EQ(io->SentStrings.size(), 1u);
    EXPECT_TRUE(log->Lines().empty());  // no trace, no timer for text sends
    EXPECT_FALSE(p.TimerArmed());
}

TEST_F(ProcessorTest, FatalErrorIsLoggedWhateverTheHandlerDecides)
{
    TProbe p(nullptr, u"P: ");
    p.SetLog(log);
    p.SetOnFatalError(
        [&](TObject* Sender, uint32_t Code, uint32_t Detail, const UnicodeString& Msg, bool& RaiseException) {
            EXPECT_EQ(Sender, &p);
            EXPECT_EQ(Code, 7u);
            EXPECT_EQ(Detail, 4000000000u);
            EXPECT_EQ(Msg, u"boom");
            RaiseException = false;
        });
    EXPECT_NO_THROW(p.DoFatalErrors(7, 4000000000u, u"boom"));
    ASSERT_EQ(log->Lines().size(), 1u);
    EXPECT_EQ(log->Lines()[0].Level, dlSimple);
    EXPECT_EQ(log->Lines()[0].Text, u"Fatal Error: 7, 4000000000, boom");  // no prefix

    p.SetOnFatalError(nullptr);
    try {
        p.DoFatalErrors(1, 0, u"gone");
        ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), u"gone");
    }
    EXPECT_EQ(log->Lines().size(), 2u);
}

TEST_F(ProcessorTest, DestroyedPartnersAreUnlinkedOnBothSides)
{
    auto* a = new TProbe(nullptr);
    auto* b = new TProbe(nullptr);
    auto* c = new TProbe(nullptr);
    a->SetLog(log);
    b->SetLog(log);
    c->SetLog(log);
    io->SetLog(log);
    io->SetDataProcessor(a);
    a->LinkProcessor(b);
    b->LinkProcessor(c);

    // The middle one goes: the one in front drops its link, the one behind
    // stays attached to the device.
    delete b;
    EXPECT_EQ(a->GetDataProcessor(), nullptr);
    EXPECT_EQ(c->GetDevice(), io);
    log->Reset();
    io->DoNotify(NOTIFY_DEVICE_OPENED);
    EXPECT_EQ(log->Lines().size(), 2u);  // a and c

    // The sink goes: nobody writes to it any more.
    delete log;
    log = nullptr;
    EXPECT_EQ(a->GetLog(), nullptr);
    EXPECT_EQ(c->GetLog(), nullptr);
    EXPECT_EQ(io->GetLog(), nullptr);
    io->DoNotify(NOTIFY_DEVICE_CLOSED);

    // The component's processor goes: the component forgets it.
    delete a;
    EXPECT_EQ(io->GetDataProcessor(), nullptr);
    uint8_t data[] = {'1', 0};
    io->DoDataReceived(data, 1);
    EXPECT_EQ(c->Received, "");  // c was reached only through a

    // The component goes: the remaining processor is detached.
    delete io;
    io = nullptr;
    EXPECT_EQ(c->GetDevice(), nullptr);
    delete c;
}

TEST_F(ProcessorTest, LogSinkBaseHasOnlyAbstractStorage)
{
    TnrCustomLogFile base(nullptr);
    const std::vector<TFormatArg> none;
    EXPECT_THROW(base.Save(), EAbstractError);
    EXPECT_THROW(base.Clear(), EAbstractError);
    EXPECT_THROW(base.Add(u"x"), EAbstractError);
    EXPECT_THROW(base.AddSysInfo(), EAbstractError);
    EXPECT_THROW(base.AddLog(dlSimple, u"x"), EAbstractError);
    EXPECT_THROW(base.AddFmt(u"x", none), EAbstractError);
    EXPECT_THROW(base.AddLogFmt(dlDebug, u"x", none), EAbstractError);

    EXPECT_THROW(base.RaiseFatalError(1, 2, u"sink failed"), Exception);
    bool asked = false;
    base.SetOnFatalError(
        [&](TObject* Sender, uint32_t Code, uint32_t Detail, const UnicodeString& Msg, bool& RaiseException) {
            asked = Sender == &base && Code == 1 && Detail == 2 && Msg == u"sink failed";
            RaiseException = false;
        });
    EXPECT_NO_THROW(base.RaiseFatalError(1, 2, u"sink failed"));
    EXPECT_TRUE(asked);
}

}  // namespace
