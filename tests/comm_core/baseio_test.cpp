// The base I/O component: Active and loading, device list, receive dispatch,
// terminal edit, links and their removal notices, fatal errors, log.
#include <gtest/gtest.h>

#include <thread>

#include "comm/nrclasses/nrclasses.h"
#include "platform/posix/desktop.h"
#include "platform/posix/handles.h"
#include "tests/comm_core/helpers.h"
#include "toolkit/stdctrls.h"

namespace {

// A device component whose "device" is an event handle.
class TFakeIO : public TnrBaseIO {
public:
    explicit TFakeIO(TComponent* AOwner = nullptr) : TnrBaseIO(AOwner) {}
    ~TFakeIO() override { DoClose(); }

    bool Openable = true;
    int Opens = 0, ListLoads = 0;
    std::u16string Sent;
    std::vector<int32_t> LoadData;  // Data keys DeviceListLoad adds

    HANDLE DeviceOpen() override
    {
        ++Opens;
        return Openable ? CreateEventW(nullptr, FALSE, FALSE, nullptr) : INVALID_HANDLE_VALUE;
    }
    void DoOpen() override
    {
        TnrBaseIO::DoOpen();
        if (!IsDeviceOpen()) ReportFatalError(1, 0, u"cannot open", false);
    }
    int32_t GetDeviceIndex() override { return -1; }
    void DeviceListLoad() override
    {
        ++ListLoads;
        for (int32_t d : LoadData) {
            auto* dev = new TnrDevice();
            dev->Data = d;
            dev->NameFriendly = u"COM" + IntToStr(d);
            if (InsertDevice(dev) < 0) delete dev;
        }
    }
    void SendChar(char16_t Ch) override { Sent += Ch; }
    void SendString(const AnsiString&) override {}
    void SendData(const uint8_t*, uint32_t) override {}
    void ClearDeviceInput() override {}
    void ClearDeviceOutput() override {}
    void ClearDeviceBuffers() override {}

    using TnrBaseIO::DoDataReceived;
    using TnrBaseIO::TerminalOutput;
};

class TCountingDevice : public TnrDevice {
public:
    explicit TCountingDevice(int32_t data, int* freed) : fFreed(freed)
    {
        Data = data;
        NameFriendly = u"D" + IntToStr(data);
    }
    ~TCountingDevice() override { ++*fFreed; }

private:
    int* fFreed;
};

class TTestProcessor : public TnrCustomDataProcessor {
public:
    explicit TTestProcessor(TComponent* AOwner = nullptr) : TnrCustomDataProcessor(AOwner) {}
    bool IgnoreTerminal = false;
    bool IgnoreSendComplete = false;
    std::function<void()> OnProcessing;
    void DoProcessing(uint8_t*, uint32_t, TIgnoreTypes& R) override
    {
        if (OnProcessing) OnProcessing();
        if (IgnoreTerminal) R.Include(itTerminal);
    }
    void DoAfterSendComplete(bool& flIgnore) override { flIgnore = IgnoreSendComplete; }
};

class BaseIO : public ::testing::Test {
protected:
    void SetUp() override { winapi_posix::ClearRecordedMessageBoxes(); }
    THeadlessApplication app;
};

}  // namespace

// --- Active, loading, designing ----------------------------------------------

TEST_F(BaseIO, ActiveWhileLoadingIsOnlyRememberedUntilLoadingFinishes)
{
    TFakeIO io;
    io.BeginLoading();
    io.SetActive(true);
    EXPECT_EQ(io.Opens, 0);
    EXPECT_TRUE(io.GetActive());  // the remembered value
    io.EndLoading();
    EXPECT_EQ(io.Opens, 1);
    EXPECT_TRUE(io.IsDeviceOpen());
    io.SetActive(true);  // equal: nothing
    EXPECT_EQ(io.Opens, 1);
    io.SetActive(false);
    EXPECT_FALSE(io.GetActive());
    EXPECT_EQ(io.GetHandle(), INVALID_HANDLE_VALUE);
}

TEST_F(BaseIO, DesigningTestsTheOpenAndLeavesTheDeviceClosed)
{
    TFakeIO io;
    int closes = 0;
    io.SetOnClose([&](TObject*) { ++closes; });
    io.SetDesigning(true);
    io.SetActive(true);
    EXPECT_TRUE(io.GetActive());
    EXPECT_FALSE(io.IsDeviceOpen());
    EXPECT_EQ(closes, 1);
    io.SetActive(true);  // designing: tried again
    EXPECT_EQ(io.Opens, 2);
}

TEST_F(BaseIO, LoadingFinishedShowsTheErrorBoxOnceForAFailingDevice)
{
    TFakeIO io;
    io.Openable = false;
    io.BeginLoading();
    io.SetActive(true);
    io.EndLoading();
    auto boxes = winapi_posix::RecordedMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Text, u"cannot open");  // the exception's text
    EXPECT_EQ(boxes[0].Caption, u"Error");
    EXPECT_EQ(boxes[0].Type, static_cast<UINT>(MB_ICONERROR));
    EXPECT_FALSE(io.GetActive());

    // A handler that clears RaiseException: no exception, so no box.
    winapi_posix::ClearRecordedMessageBoxes();
    TFakeIO quiet;
    quiet.Openable = false;
    quiet.SetOnFatalError([](TObject*, uint32_t, uint32_t, const UnicodeString&, bool& Raise) { Raise = false; });
    quiet.BeginLoading();
    quiet.SetActive(true);
    quiet.EndLoading();
    EXPECT_TRUE(winapi_posix::RecordedMessageBoxes().empty());
    EXPECT_FALSE(quiet.GetActive());
}

TEST_F(BaseIO, OpenAndCloseEventsSwallowTheirErrors)
{
    TFakeIO io;
    io.SetOnOpen([](TObject*) { throw Exception(u"open handler"); });
    io.SetOnClose([](TObject*) { throw Exception(u"close handler"); });
    EXPECT_NO_THROW(io.SetActive(true));
    EXPECT_TRUE(io.GetActive());
    EXPECT_NO_THROW(io.SetActive(false));
    EXPECT_FALSE(io.GetActive());
}

// --- fatal errors and the log ------------------------------------------------

TEST_F(BaseIO, ReportFatalErrorAsksTheHandlerLogsAndRaisesOrShows)
{
    TFakeIO io;
    TRecordingLog log;
    io.SetLog(&log);
    std::vector<uint32_t> seen;
    io.SetOnFatalError([&](TObject* Sender, uint32_t Code, uint32_t Detail, const UnicodeString& Msg, bool& Raise) {
        EXPECT_EQ(Sender, &io);
        EXPECT_TRUE(Raise);
        EXPECT_EQ(Msg, u"bad");
        seen = {Code, Detail};
    });
    try {
        io.ReportFatalError(1, 4000000000u, u"bad", false);
        ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), u"bad");
    }
    EXPECT_EQ(seen, (std::vector<uint32_t>{1, 4000000000u}));
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(log.Lines()[0].Text, u"Fatal Error: 1, 4000000000, bad");  // no prefix
    EXPECT_EQ(log.Lines()[0].Level, dlSimple);

    // ShowOnly: the error box instead of an exception.
    io.SetOnFatalError(nullptr);
    std::vector<UnicodeString> shown;
    app.OnMessageBox = [&](const THeadlessApplication::TMessageBoxCall& c) { shown.push_back(c.Text); };
    EXPECT_NO_THROW(io.ReportFatalError(1, 0, u"shown", true));
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0].find(u"shown"), UnicodeString::npos);
}

TEST_F(BaseIO, LogMessagesCarryThePrefixAndNeedASink)
{
    TFakeIO io;
    io.LogMessage(dlSimple, u"dropped");  // no sink: nothing happens
    TRecordingLog log;
    io.SetLog(&log);
    io.LogMessage(dlDetail, u"plain");
    io.LogMessage(dlDetail, u"");
    io.LogMessageFmt(dlDebug, u"n=%d s=%s", {42, UnicodeString(u"x")});
    ASSERT_EQ(log.Lines().size(), 2u);
    // The prefix is the component's class name.
    EXPECT_EQ(log.Lines()[0].Text, u"TFakeIOplain");
    EXPECT_EQ(log.Lines()[1].Text, u"TFakeIOn=42 s=x");
    EXPECT_EQ(log.Lines()[1].Level, dlDebug);
    EXPECT_EQ(log.SysInfoCount(), 1);
}

// --- device list ---------------------------------------------------------------

TEST_F(BaseIO, InsertDeviceKeepsDataOrderAndRefusesDuplicates)
{
    TFakeIO io;
    int freed = 0;
    for (int32_t d : {2, 7, 9}) EXPECT_GE(io.InsertDevice(new TCountingDevice(d, &freed)), 0);
    auto* five = new TCountingDevice(5, &freed);
    EXPECT_EQ(io.InsertDevice(five), 1);
    EXPECT_EQ(five->GetIndex(), 1);
    EXPECT_EQ(five->GetParent(), &io);
    EXPECT_EQ(io.GetDevice(2)->Data, 7);
    EXPECT_EQ(io.GetDevice(2)->GetIndex(), 2);
    EXPECT_EQ(io.GetDevice(3)->GetIndex(), 3);
    EXPECT_EQ(io.GetDevice(0)->GetIndex(), 0);

    TCountingDevice dup(7, &freed);
    EXPECT_EQ(io.InsertDevice(&dup), -1);
    EXPECT_EQ(io.CountDevices(), 4);
    EXPECT_EQ(io.InsertDevice(new TCountingDevice(12, &freed)), 4);  // appended after the last

    EXPECT_EQ(io.GetDevice(-1), nullptr);
    EXPECT_EQ(io.GetDevice(5), nullptr);
    EXPECT_EQ(io.IndexOfDevice(five), 1);
    EXPECT_EQ(io.IndexOfDevice(&dup), -1);
    EXPECT_EQ(io.IndexOfDeviceData(9), 3);
    EXPECT_EQ(io.IndexOfDeviceData(8), -1);

    io.ClearDeviceList();
    EXPECT_EQ(freed, 5);
    EXPECT_EQ(io.GetDeviceCount(), 0);
}

TEST_F(BaseIO, GetDeviceListLoadsOnlyAnEmptyListAndCopiesIt)
{
    TFakeIO io;
    io.LoadData = {3, 1};
    TStringList target;
    target.Add(u"stale");
    io.GetDeviceList(&target);
    EXPECT_EQ(io.ListLoads, 1);
    ASSERT_EQ(target.Count(), 2);
    EXPECT_EQ(target.Strings(0), u"COM1");
    EXPECT_EQ(target.Objects(1), io.GetDevice(1));
    io.GetDeviceList(nullptr);  // not empty: no reload
    EXPECT_EQ(io.ListLoads, 1);
}

TEST_F(BaseIO, DeviceChangeMessagesForPortsUpdate)
{
    TFakeIO io;
    TNotifyRecorder rec;
    io.NotifyAdd(rec.Event());
    io.NotifyAdd(rec.Event());  // not twice
    DEV_BROADCAST_HDR port{};
    port.dbch_size = sizeof(port);
    port.dbch_devicetype = DBT_DEVTYP_PORT;
    DEV_BROADCAST_HDR volume = port;
    volume.dbch_devicetype = DBT_DEVTYP_VOLUME;
    auto msg = [](UINT m, WPARAM w, const void* l) {
        MSG x{};
        x.message = m;
        x.wParam = w;
        x.lParam = reinterpret_cast<LPARAM>(l);
        return x;
    };
    EXPECT_TRUE(io.WMDeviceChange(msg(WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, nullptr)));
    EXPECT_TRUE(io.WMDeviceChange(msg(WM_DEVICECHANGE, DBT_DEVICEARRIVAL, &port)));
    EXPECT_TRUE(io.WMDeviceChange(msg(WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, &port)));
    EXPECT_FALSE(io.WMDeviceChange(msg(WM_DEVICECHANGE, DBT_DEVICEARRIVAL, &volume)));
    EXPECT_FALSE(io.WMDeviceChange(msg(WM_DEVICECHANGE, DBT_DEVICEARRIVAL, nullptr)));
    EXPECT_FALSE(io.WMDeviceChange(msg(WM_TIMER, DBT_DEVNODES_CHANGED, nullptr)));
    EXPECT_EQ(rec.Codes, (std::vector<int>{3, 3, 3}));
    io.NotifyDelete(rec.Event());
    io.Update();
    EXPECT_EQ(rec.Codes.size(), 3u);
}

// --- receive dispatch and the terminal edit -----------------------------------

TEST_F(BaseIO, ReceiveGoesToProcessorThenTerminalThenEvent)
{
    TFakeIO io;
    TEdit edit(nullptr);
    TTestProcessor proc;
    io.SetTerminal(&edit);
    io.SetTerminalUsage(tuReceive);
    io.SetDataProcessor(&proc);
    EXPECT_EQ(proc.GetDevice(), &io);
    UnicodeString atProcessor = u"?", atEvent = u"?";
    proc.OnProcessing = [&] { atProcessor = edit.Text(); };
    io.SetOnAfterReceive([&](TObject* Com, const uint8_t* Buffer, uint32_t Received) {
        EXPECT_EQ(Com, &io);
        EXPECT_EQ(Buffer[0], 'a');
        atEvent = edit.Text() + u":" + IntToStr(Received);
    });
    uint8_t data[6] = {'a', 'b', 0, 'c', 'd', 0xEE};
    io.DoDataReceived(data, 5);
    EXPECT_EQ(atProcessor, u"");
    EXPECT_EQ(atEvent, u"abcd:5");  // both pieces around the NUL

    // A processor that asks to skip the terminal: the event still fires.
    proc.IgnoreTerminal = true;
    atEvent = u"?";
    io.DoDataReceived(data, 2);
    EXPECT_EQ(edit.Text(), u"abcd");
    EXPECT_EQ(atEvent, u"abcd:2");
    EXPECT_TRUE(io.HasDataConsumer());
}

TEST_F(BaseIO, TerminalSendsTypedCharactersAndNeverEchoesItsOwnOutput)
{
    TFakeIO io;
    TEdit edit(nullptr);
    io.SetTerminal(&edit);
    io.SetTerminalUsage(tuSend);
    edit.PerformChar(u'x');
    EXPECT_EQ(io.Sent, u"x");
    EXPECT_EQ(edit.Text(), u"");  // no echo: the edit never sees it
    io.SetTerminalEcho(true);
    edit.PerformChar(u'y');
    EXPECT_EQ(io.Sent, u"xy");
    EXPECT_EQ(edit.Text(), u"y");

    // Received single bytes go in as typed characters but are not sent back.
    io.SetTerminalUsage(tuBoth);
    uint8_t one[2] = {'z', 0};
    io.TerminalOutput(one, 1);
    EXPECT_EQ(edit.Text(), u"yz");
    EXPECT_EQ(io.Sent, u"xy");

    // tuSend shows nothing received; detaching gives the edit its own handling back.
    io.SetTerminalUsage(tuSend);
    io.TerminalOutput(one, 1);
    EXPECT_EQ(edit.Text(), u"yz");
    io.SetTerminal(nullptr);
    edit.PerformChar(u'!');
    EXPECT_EQ(edit.Text(), u"yz!");
    EXPECT_EQ(io.Sent, u"xy");
}

TEST_F(BaseIO, SendCompleteAsksTheProcessor)
{
    TFakeIO io;
    EXPECT_FALSE(io.DoSendComplete());
    TTestProcessor proc;
    io.SetDataProcessor(&proc);
    EXPECT_FALSE(io.DoSendComplete());
    proc.IgnoreSendComplete = true;
    EXPECT_TRUE(io.DoSendComplete());
    io.SetDataProcessor(nullptr);
    EXPECT_EQ(proc.GetDevice(), nullptr);
    EXPECT_FALSE(io.DoSendComplete());
}

// --- removal notices -------------------------------------------------------------

TEST_F(BaseIO, DestroyedPartnersAreForgotten)
{
    TFakeIO io;
    auto* edit = new TEdit(nullptr);
    auto* log = new TRecordingLog();
    auto* proc = new TTestProcessor();
    io.SetTerminal(edit);
    io.SetTerminalUsage(tuBoth);
    io.SetLog(log);
    io.SetDataProcessor(proc);
    delete edit;
    delete log;
    delete proc;
    EXPECT_EQ(io.GetTerminal(), nullptr);
    EXPECT_EQ(io.GetLog(), nullptr);
    EXPECT_EQ(io.GetDataProcessor(), nullptr);
    uint8_t data[3] = {'o', 'k', 0};
    bool received = false;
    io.SetOnAfterReceive([&](TObject*, const uint8_t*, uint32_t) { received = true; });
    io.DoDataReceived(data, 2);  // reaches nothing that is gone
    io.LogMessage(dlSimple, u"dropped");
    EXPECT_TRUE(received);
}

namespace {
// Created between a component and the partners it links to: their owner
// frees it after the partners and before the component; it looks then.
class TLinkWitness : public TComponent {
public:
    TLinkWitness(TComponent* AOwner, TTestComm* Comm, std::vector<const void*>& Seen)
        : TComponent(AOwner), fComm(Comm), fSeen(Seen)
    {
    }
    ~TLinkWitness() override
    {
        fSeen = {fComm->GetLog(), fComm->GetMonitorCTS(), fComm->GetTerminal(), fComm->GetDataProcessor()};
    }

private:
    TTestComm* fComm;
    std::vector<const void*>& fSeen;
};
}  // namespace

TEST_F(BaseIO, PartnersFreedByTheirCommonOwnerAreForgottenBeforeTheComponentGoes)
{
    std::vector<const void*> seen;
    auto* form = new TComponent(nullptr);
    auto* comm = new TTestComm(form);
    new TLinkWitness(form, comm, seen);
    comm->SetLog(new TRecordingLog(form));
    comm->SetMonitorCTS(new TCheckBox(form));
    comm->SetTerminal(new TEdit(form));
    comm->SetDataProcessor(new TTestProcessor(form));
    delete form;  // the component's own destruction touches none of them
    EXPECT_EQ(seen, std::vector<const void*>(4, nullptr));
}

TEST_F(BaseIO, DestroyingTheComponentDetachesEveryProcessorAndFreesItsHandles)
{
    const std::size_t before = winapi_posix::OpenHandleCount();
    TTestProcessor first, second, chained;
    TNotifyRecorder box;
    {
        TFakeIO io;
        io.NotifyAdd(box.Event());
        io.SetDataProcessor(&first);
        io.SetDataProcessor(&second);  // first stays attached, as a replaced processor does
        chained.AttachDevice(&io);
        io.SetActive(true);
        EXPECT_GT(winapi_posix::OpenHandleCount(), before);
    }
    EXPECT_EQ(first.GetDevice(), nullptr);
    EXPECT_EQ(second.GetDevice(), nullptr);
    EXPECT_EQ(chained.GetDevice(), nullptr);
    EXPECT_EQ(winapi_posix::OpenHandleCount(), before);
}

// --- the worker thread -------------------------------------------------------------

namespace {
// Polls nothing: its body delivers one block and ends (or fails).
class TThreadedIO : public TFakeIO {
public:
    TThreadedIO() { isThreaded = true; }
    bool Fail = false;
    void ThreadExecute(TnrThreadIO*) override
    {
        if (Fail) throw Exception(u"worker failed");
        uint8_t data[4] = {'w', 'k', 0, 0};
        DoDataReceived(data, 2);
    }
};
}  // namespace

TEST_F(BaseIO, WorkerThreadHandsDataToTheMainThreadAndIsJoinedOnClose)
{
    const std::size_t before = winapi_posix::OpenHandleCount();
    {
        TThreadedIO io;
        io.SetUseMainThread(true);
        std::thread::id where;
        std::string got;
        io.SetOnAfterReceive([&](TObject*, const uint8_t* b, uint32_t n) {
            where = std::this_thread::get_id();
            got.assign(reinterpret_cast<const char*>(b), n);
        });
        io.SetActive(true);
        ASSERT_TRUE(app.WaitUntil([&] { return !got.empty(); }, std::chrono::seconds(5)));
        EXPECT_EQ(got, "wk");
        EXPECT_EQ(where, std::this_thread::get_id());
        io.SetActive(false);

        io.Fail = true;  // an error of the body ends the thread quietly
        io.SetActive(true);
        io.SetActive(false);
        EXPECT_FALSE(io.GetActive());
    }
    EXPECT_EQ(winapi_posix::OpenHandleCount(), before);
}
