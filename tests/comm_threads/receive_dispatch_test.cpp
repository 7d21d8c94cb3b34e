// The comm-event path on a virtual port: event mask, what one event
// dispatches and in which order, where the handler runs, the receive
// buffer's pieces, and a device that disappears under the threads.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>

#include "tests/comm_threads/comm_test_support.h"

using namespace commtest;
using winapi_posix::VirtualPort;

namespace {

std::string Pattern(size_t n, unsigned seed = 7)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + seed + i / 251) & 0xFF);
    return s;
}

class ReceiveDispatch : public ::testing::Test {
protected:
    void SetUp() override
    {
        comm = new TTestComm(nullptr);
        SetupOn(*comm, port);
        rec.Attach(*comm);
        comm->NotifyAdd(TnrNotifyEvent::Bind(&rec, &TRecorder::DeviceNotify));
    }
    void TearDown() override { delete comm; }
    void Open()
    {
        comm->SetActive(true);
        ASSERT_TRUE(comm->GetActive());
        rec.Clear();
    }
    DWORD Mask()
    {
        DWORD mask = 0;
        EXPECT_TRUE(GetCommMask(comm->GetHandle(), &mask));
        return mask;
    }

    THeadlessApplication app;
    VirtualPort port;
    TTestComm* comm = nullptr;
    TRecorder rec;
};

}  // namespace

TEST_F(ReceiveDispatch, EventMaskAlwaysHasRxCharAndTxEmptyUnderEmulatedRS485)
{
    Open();
    EXPECT_EQ(Mask(), 0x0001u);
    comm->SetTraceStates({tsRxChar, tsTxEmpty});
    EXPECT_EQ(Mask(), 0x0005u);
    comm->SetTraceStates({tsRx80Full, tsEvent1, tsEvent2});
    EXPECT_EQ(Mask(), 0x1C01u);
    comm->SetActive(false);

    comm->EmulateRS485();
    comm->SetRS485Mode(true);
    comm->SetTraceStates({});
    comm->SetActive(true);
    EXPECT_EQ(Mask(), 0x0005u);
}

TEST_F(ReceiveDispatch, BytesArriveInOrderOnTheMainThreadAndAreCounted)
{
    Open();
    port.Write("hello ");
    ASSERT_TRUE(WaitMain([&] { return rec.Received() == "hello "; }));
    port.Write("world");
    ASSERT_TRUE(WaitMain([&] { return rec.Received() == "hello world"; }));
    for (auto& e : rec.OfKind("rx")) EXPECT_EQ(e.Thread, std::this_thread::get_id());
    EXPECT_EQ(comm->GetTotalReceived(), 11u);
    EXPECT_TRUE(rec.OfKind("trace").empty());
}

TEST_F(ReceiveDispatch, WithoutUseMainThreadTheHandlerRunsOnTheMessageThread)
{
    comm->SetUseMainThread(false);
    Open();
    port.Write("abc");
    ASSERT_TRUE(WaitMain([&] { return rec.Received() == "abc"; }));
    auto rx = rec.OfKind("rx");
    ASSERT_FALSE(rx.empty());
    EXPECT_NE(rx[0].Thread, std::this_thread::get_id());
}

TEST_F(ReceiveDispatch, FrameErrorIsReportedBeforeTheBytesThatCameWithIt)
{
    // Without tsErr the error comes with the EV_RXCHAR of its byte.
    comm->SetTraceStates({tsRxChar, tsTxEmpty, tsCTS});
    Open();
    port.InjectErrors(CE_FRAME);
    port.Write("a");
    ASSERT_TRUE(WaitMain([&] { return rec.Received() == "a"; })) << "not waiting for the next byte";
    PumpFor(50ms);
    auto events = rec.Events();
    ASSERT_EQ(events.size(), 2u) << "the error, then its bytes; nothing else";
    EXPECT_EQ(events[0].Kind, "commerror");
    EXPECT_EQ(events[0].A, 0x0008u);  // CE_FRAME
    EXPECT_EQ(events[0].B, 0u);
    EXPECT_EQ(events[1].Kind, "rx");
    EXPECT_TRUE(comm->GetActive());

    port.Write("b");
    ASSERT_TRUE(WaitMain([&] { return rec.Received() == "ab"; }));
}

TEST_F(ReceiveDispatch, BytesQueuedBeforeTheEventMaskIsSetAreReadAtOnce)
{
    // The peer answers while the port is still being set up.
    comm->SetOnOpen([&](TObject*) { port.Write("early"); });
    Open();
    ASSERT_TRUE(WaitMain([&] { return rec.Received() == "early"; })) << "not waiting for the next byte";
    EXPECT_EQ(comm->GetTotalReceived(), 5u);
}

TEST_F(ReceiveDispatch, RxCharWithCtsDispatchesTheBytesBeforeTheLineEvent)
{
    Open();
    // The message thread blocks in Synchronize with the driver's own event, so
    // the combined event below is the only one handled meanwhile.
    port.Write("xyz");
    ASSERT_TRUE(WaitNoPump([&] { return comm->GetReadyForRead() == 3; }));
    MSG msg{};
    msg.message = CommMsgComEvent();
    msg.wParam = EV_RXCHAR | EV_CTS;
    comm->HandleCommEvent(msg);
    auto events = rec.Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].Kind, "rx");
    EXPECT_EQ(events[0].Data, "xyz");
    EXPECT_EQ(events[1].Kind, "trace");
    EXPECT_EQ(events[1].A, TTraceStates({tsCTS}).ToBits());

    // The driver's EV_RXCHAR now finds an empty queue: nothing more, no count.
    PumpFor(50ms);
    EXPECT_EQ(rec.Events().size(), 2u);
    EXPECT_EQ(comm->GetTotalReceived(), 3u);
}

TEST_F(ReceiveDispatch, WithoutConsumerTheBytesStayQueuedAndAreCountedAgain)
{
    comm->SetOnAfterReceive(nullptr);
    comm->SetTraceStates({});
    Open();
    // The pty may hand "abc" over in pieces, each counting the queue so far;
    // a single byte then counts the whole queue of 4 once more.
    port.Write("abc");
    ASSERT_TRUE(WaitMain([&] { return comm->GetTotalReceived() >= 3; }));
    PumpFor(50ms);
    const auto before = comm->GetTotalReceived();
    port.Write("d");
    ASSERT_TRUE(WaitMain([&] { return comm->GetTotalReceived() >= before + 4; }));
    PumpFor(20ms);
    EXPECT_EQ(comm->GetTotalReceived(), before + 4) << "the whole queue of 4";
    EXPECT_EQ(comm->GetReadyForRead(), 4u);
    EXPECT_EQ(comm->ReadString(), "abcd");

    // tsRxChar alone makes the component read although nobody listens.
    comm->SetTraceStates({tsRxChar});
    const auto counted = comm->GetTotalReceived();
    port.Write("f");
    ASSERT_TRUE(WaitMain([&] { return comm->GetTotalReceived() >= counted + 1; }));
    PumpFor(20ms);
    EXPECT_EQ(comm->GetReadyForRead(), 0u);
}

TEST_F(ReceiveDispatch, ALongQueueIsDeliveredInBufferSizedPiecesInOrder)
{
    Open();
    const std::string data = Pattern(20000);
    port.Write(data);
    ASSERT_TRUE(WaitNoPump([&] { return comm->GetReadyForRead() == data.size(); }));
    ASSERT_TRUE(WaitMain([&] { return rec.Received().size() == data.size(); }));
    auto rx = rec.OfKind("rx");
    ASSERT_EQ(rx.size(), 3u);
    // The buffer holds 8192 bytes; one stays free for the terminal's NUL.
    EXPECT_EQ(rx[0].A, 8191u);
    EXPECT_EQ(rx[1].A, 8191u);
    EXPECT_EQ(rx[2].A, 20000u - 2 * 8191u);
    EXPECT_TRUE(rec.Received() == data);
    EXPECT_EQ(comm->GetTotalReceived(), 20000u);
}

TEST_F(ReceiveDispatch, EventsQueuedBehindABusyMainThreadDeliverEveryByteOnceInOrder)
{
    Open();
    // The main thread does not run requests: the first event waits in
    // Synchronize, the others queue behind it; its handler reads them all.
    std::string sent;
    for (unsigned i = 0; i < 10; ++i) {
        const std::string piece = Pattern(100 + i, i);
        sent += piece;
        port.Write(piece);
        ASSERT_TRUE(WaitNoPump([&] { return comm->GetReadyForRead() == sent.size(); }));
    }
    ASSERT_TRUE(WaitMain([&] { return rec.Received().size() >= sent.size(); }));
    PumpFor(50ms);
    EXPECT_TRUE(rec.Received() == sent);
    EXPECT_EQ(comm->GetTotalReceived(), sent.size());
    // Later bytes still come with their own events.
    port.Write("tail");
    ASSERT_TRUE(WaitMain([&] { return rec.Received() == sent + "tail"; }));
}

TEST_F(ReceiveDispatch, AfterSendOnlyWithTxEmptyInTraceStates)
{
    Open();
    comm->SendString("1");
    ASSERT_EQ(port.ReadExactly(1, 1000), "1");
    PumpFor(50ms);
    EXPECT_TRUE(rec.OfKind("sent").empty());

    comm->SetTraceStates({tsRxChar, tsTxEmpty});
    comm->SendString("2");
    ASSERT_TRUE(WaitMain([&] { return !rec.OfKind("sent").empty(); }));
    EXPECT_TRUE(rec.OfKind("trace").empty()) << "EV_TXEMPTY is no trace state";
}

TEST_F(ReceiveDispatch, LineEventsAreReportedAsTraceStates)
{
    comm->SetTraceStates({tsCTS, tsDSR, tsRing});
    Open();
    port.SetCTS(true);
    ASSERT_TRUE(WaitMain([&] { return !rec.OfKind("trace").empty(); }));
    EXPECT_TRUE(TTraceStates::FromBits(static_cast<uint16_t>(rec.OfKind("trace")[0].A)).Contains(tsCTS));
    port.SetRing(true);
    ASSERT_TRUE(WaitMain([&] {
        for (auto& e : rec.OfKind("trace"))
            if (TTraceStates::FromBits(static_cast<uint16_t>(e.A)).Contains(tsRing)) return true;
        return false;
    }));
}

TEST_F(ReceiveDispatch, DeviceRemovedMidStreamClosesThePortOnTheMainThread)
{
    Open();
    std::atomic<bool> stop{false};
    std::string sent;
    std::thread writer([&] {
        for (unsigned i = 0; !stop.load() && i < 5000; ++i) {
            std::string chunk = Pattern(64, i);
            sent += chunk;
            port.Write(chunk);
            std::this_thread::sleep_for(200us);
        }
    });
    ASSERT_TRUE(WaitMain([&] { return rec.Received().size() > 2000; }));
    port.Remove();
    ASSERT_TRUE(WaitMain([&] { return !rec.OfKind("close").empty() && rec.Notified(1) > 0; }));
    stop = true;
    writer.join();

    EXPECT_FALSE(comm->GetActive());
    auto close = rec.OfKind("close");
    ASSERT_EQ(close.size(), 1u);
    EXPECT_EQ(close[0].Thread, std::this_thread::get_id()) << "a GUI hears of the lost port";
    auto notify = rec.OfKind("notify");
    ASSERT_EQ(notify.size(), 1u);
    EXPECT_EQ(notify[0].A, 1u);
    const std::string got = rec.Received();
    EXPECT_EQ(sent.compare(0, got.size(), got), 0) << "what arrived is a prefix of what was sent";
    // The program carries on: the main thread still serves requests.
    PumpFor(20ms);
}

TEST_F(ReceiveDispatch, WithoutUseMainThreadAFailedPortClosesOnTheMessageThread)
{
    comm->SetUseMainThread(false);
    Open();
    port.Write("a");
    ASSERT_TRUE(WaitMain([&] { return rec.Received() == "a"; }));
    port.Remove();
    ASSERT_TRUE(WaitMain([&] { return !rec.OfKind("close").empty() && rec.Notified(1) > 0; }));
    EXPECT_FALSE(comm->GetActive());
    const auto close = rec.OfKind("close");
    ASSERT_EQ(close.size(), 1u);
    EXPECT_EQ(close[0].Thread, rec.OfKind("rx")[0].Thread) << "where the handlers run";
    EXPECT_EQ(rec.OfKind("notify")[0].Thread, close[0].Thread);
}

TEST_F(ReceiveDispatch, AnyErrorRaisedByAHandlerIsShownAndReceptionGoesOn)
{
    for (bool mainThread : {true, false}) {
        SCOPED_TRACE(mainThread);
        comm->SetUseMainThread(mainThread);
        Open();
        app.ClearMessageBoxCalls();
        int calls = 0;
        comm->SetOnAfterReceive([&](TObject*, const uint8_t* Buffer, uint32_t Len) {
            rec.Add("rx", std::string(reinterpret_cast<const char*>(Buffer), Len));
            if (++calls == 1) throw std::runtime_error("kaputt");
            if (calls == 2) throw 42;
        });
        for (const char* bytes : {"a", "b", "c"}) {
            port.Write(bytes);
            ASSERT_TRUE(WaitMain([&] {
                const std::string got = rec.Received();
                return !got.empty() && got.back() == bytes[0];
            })) << bytes;
        }
        ASSERT_TRUE(WaitMain([&] { return app.MessageBoxCalls().size() == 2; }));
        const auto boxes = app.MessageBoxCalls();
        EXPECT_EQ(boxes[0].Text, u"kaputt.");
        EXPECT_EQ(boxes[1].Text, u"Unbekannte Ausnahme.");
        EXPECT_EQ(rec.Received(), "abc");
        EXPECT_TRUE(comm->GetActive());
        comm->SetActive(false);
    }
}
