// Stopping the event threads: a close never deadlocks and no handler runs
// after the component is closed or destroyed, whichever thread closes it and
// from wherever; repeated opens leak no thread and no handle.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "platform/posix/handles.h"
#include "tests/comm_threads/comm_test_support.h"

using namespace commtest;
using winapi_posix::VirtualPort;

namespace {

// Used by handlers that destroy their component (and with it their closure).
std::atomic<int> gDestroyCalls{0};
std::atomic<TnrComm*> gDestroyed{nullptr};

class Shutdown : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A sanitizer starts a helper thread with the first thread; count after it.
        std::thread([] {}).join();
        baseThreads = ProcessThreadCount();
        comm = new TnrComm(nullptr);
        SetupOn(*comm, port);
        rec.Attach(*comm);
        comm->NotifyAdd(TnrNotifyEvent::Bind(&rec, &TRecorder::DeviceNotify));
    }
    void TearDown() override
    {
        delete comm;
        EXPECT_EQ(SettledThreadCount(baseThreads), baseThreads) << "every event thread has ended";
        // A thread that freed itself last touched the dispatcher's wake-up (under
        // its lock); taking that lock orders its exit, seen above through /proc,
        // before the dispatcher goes away, in a way the race detector sees too.
        Application->Wake();
    }
    void Open()
    {
        comm->SetActive(true);
        ASSERT_TRUE(comm->GetActive());
        rec.Clear();
    }

    THeadlessApplication app;
    int baseThreads = 0;
    VirtualPort port;
    TnrComm* comm = nullptr;
    TRecorder rec;
};

}  // namespace

TEST_F(Shutdown, CloseWhileAnEventWaitsInSynchronizeCancelsIt)
{
    Open();
    port.Write("a");
    ASSERT_TRUE(WaitNoPump([] { return SynchronizeRequestsPending(); }));
    comm->SetActive(false);  // joins the threads; must not wait for the main thread
    EXPECT_FALSE(comm->GetActive());
    PumpFor(50ms);
    EXPECT_TRUE(rec.OfKind("rx").empty()) << "the cancelled event never ran";
    EXPECT_EQ(SettledThreadCount(baseThreads), baseThreads);
}

TEST_F(Shutdown, CloseFromInsideOnAfterReceiveThenReopen)
{
    Open();
    int calls = 0;
    comm->SetOnAfterReceive([&](TObject*, const uint8_t*, uint32_t) {
        ++calls;
        comm->SetActive(false);
    });
    port.Write("a");
    ASSERT_TRUE(WaitMain([&] { return calls == 1; }));
    EXPECT_FALSE(comm->GetActive());
    EXPECT_EQ(SettledThreadCount(baseThreads), baseThreads);

    // The threads of the next open work as before.
    rec.Attach(*comm);
    comm->SetActive(true);
    port.Write("b");
    ASSERT_TRUE(WaitMain([&] { return rec.Received() == "b"; }));
}

TEST_F(Shutdown, DestroyFromInsideOnAfterReceiveStopsTheRemainingPieces)
{
    Open();
    // The handler's closure is destroyed with the component, so what it needs
    // afterwards lives outside it.
    gDestroyCalls = 0;
    gDestroyed = nullptr;
    comm->SetOnAfterReceive([](TObject* Sender, const uint8_t*, uint32_t) {
        ++gDestroyCalls;
        TnrComm* self = static_cast<TnrComm*>(Sender);
        delete self;
        gDestroyed.store(self);
    });
    // Longer than the receive buffer: the handler is destroyed in the first piece.
    port.Write(std::string(20000, 'x'));
    ASSERT_TRUE(WaitNoPump([&] { return comm->GetReadyForRead() == 20000; }));
    ASSERT_TRUE(WaitMain([&] { return gDestroyed.load() != nullptr; }));
    comm = nullptr;
    PumpFor(30ms);
    EXPECT_EQ(gDestroyCalls.load(), 1);
}

TEST_F(Shutdown, CloseAndDestroyFromAHandlerOnTheMessageThread)
{
    comm->SetUseMainThread(false);
    Open();
    std::atomic<int> calls{0};
    comm->SetOnAfterReceive([&](TObject*, const uint8_t*, uint32_t) {
        comm->SetActive(false);
        calls.fetch_add(1);
        Application->Wake();
    });
    port.Write("a");
    ASSERT_TRUE(WaitMain([&] { return calls.load() == 1; }));
    ASSERT_EQ(SettledThreadCount(baseThreads), baseThreads);
    EXPECT_FALSE(comm->GetActive());

    gDestroyed = nullptr;
    comm->SetOnAfterReceive([](TObject* Sender, const uint8_t*, uint32_t) {
        TnrComm* self = static_cast<TnrComm*>(Sender);
        delete self;
        gDestroyed.store(self);
        Application->Wake();
    });
    // The handler is set before the threads start: they read it from then on.
    comm->SetActive(true);
    port.Write("b");
    ASSERT_TRUE(WaitMain([&] { return gDestroyed.load() != nullptr; }));
    comm = nullptr;
}

TEST_F(Shutdown, PortFailingWhileAHandlerRunsClosesAfterTheHandler)
{
    Open();
    std::atomic<bool> inHandler{false};
    comm->SetOnAfterReceive([&](TObject*, const uint8_t*, uint32_t) {
        if (inHandler.exchange(true)) return;
        port.Remove();
        // The comm-event thread sees the failure now and must wait for us.
        std::this_thread::sleep_for(50ms);
        EXPECT_TRUE(rec.OfKind("close").empty());
        rec.Add("handler-done");
    });
    port.Write("a");
    ASSERT_TRUE(WaitMain([&] { return !rec.OfKind("close").empty() && rec.Notified(1) > 0; }));
    EXPECT_FALSE(comm->GetActive());
    auto events = rec.Events();
    size_t done = 0, close = 0;
    for (size_t i = 0; i < events.size(); ++i) {
        if (events[i].Kind == "handler-done") done = i;
        if (events[i].Kind == "close") close = i;
    }
    EXPECT_LT(done, close);
}

TEST_F(Shutdown, CloseFromAHandlerWhileTheCommThreadClosesTheFailedPort)
{
    Open();
    comm->SetOnAfterReceive([&](TObject*, const uint8_t*, uint32_t) {
        port.Remove();
        std::this_thread::sleep_for(50ms);
        comm->SetActive(false);  // takes the close over; must not wait for the comm thread's close
    });
    port.Write("a");
    ASSERT_TRUE(WaitMain([&] { return !rec.OfKind("close").empty(); }));
    PumpFor(50ms);
    EXPECT_FALSE(comm->GetActive());
    EXPECT_EQ(rec.OfKind("close").size(), 1u);
    auto notify = rec.OfKind("notify");
    ASSERT_EQ(notify.size(), 1u);
    EXPECT_EQ(notify[0].A, 1u);
}

TEST_F(Shutdown, OpenCloseAThousandTimesWithReceptionLeaksNoThreadOrHandle)
{
    // One cycle first, so that lazily created objects (registered messages,
    // the port's first open) are in place before counting.
    comm->SetActive(true);
    comm->SetActive(false);
    const size_t handles = winapi_posix::OpenHandleCount();
    for (int i = 0; i < 1000; ++i) {
        comm->SetActive(true);
        ASSERT_TRUE(comm->GetActive()) << "cycle " << i;
        const size_t before = rec.OfKind("rx").size();
        port.Write("x");
        ASSERT_TRUE(WaitMain([&] { return rec.OfKind("rx").size() > before; })) << "cycle " << i;
        comm->SetActive(false);
        rec.Clear();
    }
    EXPECT_EQ(winapi_posix::OpenHandleCount(), handles);
    // Against the settled count of the fixture: a count taken right after the
    // warm-up close may still include a thread that is just ending.
    EXPECT_EQ(SettledThreadCount(baseThreads), baseThreads);
}

namespace {

void DestroySender(TObject* Sender)
{
    auto* self = static_cast<TnrComm*>(Sender);
    delete self;
    gDestroyed.store(self);
    Application->Wake();
}

// Destroys its component from a code-1 notification.
struct TDestroyOnClosedNotice {
    void Notify(TObject* Sender, int Code)
    {
        if (Code == NOTIFY_DEVICE_CLOSED) DestroySender(Sender);
    }
};

}  // namespace

// Under AddressSanitizer: nothing of the close path may touch the component
// once a handler on it has destroyed it.
TEST_F(Shutdown, DestroyFromACloseOrErrorHandlerTouchesNothingAfterwards)
{
    enum TWay { kOnCloseAtSetActive, kOnCloseAfterFailure, kClosedNotice, kOnCommError };
    TRecordingLog log;
    TDestroyOnClosedNotice destroyer;
    TRecorder later;  // a second subscriber, behind the destroying one
    for (TWay way : {kOnCloseAtSetActive, kOnCloseAfterFailure, kClosedNotice, kOnCommError}) {
        SCOPED_TRACE(way);
        VirtualPort own;
        auto* c = new TnrComm(nullptr);
        SetupOn(*c, own);
        c->SetLog(&log);
        c->SetOnAfterReceive([](TObject*, const uint8_t*, uint32_t) {});
        if (way == kClosedNotice) {
            c->NotifyAdd(TnrNotifyEvent::Bind(&destroyer, &TDestroyOnClosedNotice::Notify));
            c->NotifyAdd(TnrNotifyEvent::Bind(&later, &TRecorder::DeviceNotify));
        } else if (way == kOnCommError) {
            c->SetOnCommError([](TObject* Sender, uint32_t, uint32_t, TComStateFlags, bool& Flush) {
                Flush = true;  // asks for a purge after the handler
                DestroySender(Sender);
            });
        } else {
            c->SetOnClose([](TObject* Sender) { DestroySender(Sender); });
        }
        gDestroyed = nullptr;
        c->SetActive(true);
        ASSERT_TRUE(c->GetActive());
        if (way == kOnCloseAfterFailure) {
            own.Remove();
        } else if (way == kOnCommError) {
            own.InjectErrors(CE_FRAME);
            own.Write("a");
        } else {
            c->SetActive(false);
        }
        ASSERT_TRUE(WaitMain([&] { return gDestroyed.load() == c; }));
        PumpFor(20ms);
        EXPECT_EQ(later.Notified(1), 0u) << "no notice from a destroyed component";
    }
}

TEST_F(Shutdown, ACloseAbortsTheTransferAHandlerWaitsIn)
{
    comm->SetUseMainThread(false);
    comm->SetTimeoutWrite(0);  // a send on a stalled line waits for good
    for (bool reading : {true, false}) {
        SCOPED_TRACE(reading);
        Open();
        std::atomic<bool> inHandler{false}, handlerDone{false};
        comm->SetOnAfterReceive([&](TObject*, const uint8_t*, uint32_t) {
            if (inHandler.exchange(true)) return;
            if (reading) {
                uint8_t buffer[16];
                comm->Read(buffer, sizeof buffer);  // bytes that never come
            } else {
                comm->SendString(std::string(65536, 'x'));
            }
            handlerDone = true;
        });
        port.SetTransmitStalled(!reading);
        port.Write("a");
        ASSERT_TRUE(WaitNoPump([&] { return inHandler.load(); }));
        std::this_thread::sleep_for(50ms);  // in its transfer by now
        // Lets a close that does not abort the transfer end (late) after all.
        std::atomic<bool> closed{false};
        std::thread rescue([&] {
            for (int i = 0; i < 300 && !closed; ++i) std::this_thread::sleep_for(10ms);
            port.SetTransmitStalled(false);
            port.Write(std::string(16, 'y'));
        });
        const auto start = std::chrono::steady_clock::now();
        comm->SetActive(false);
        const auto took = std::chrono::steady_clock::now() - start;
        closed = true;
        rescue.join();
        EXPECT_TRUE(handlerDone.load());
        EXPECT_LT(took, 500ms);
    }
}

// Under ThreadSanitizer: the handler's thread reads what the program changes.
TEST_F(Shutdown, TraceStatesAndClosesDuringTrafficRaceWithNothing)
{
    comm->SetUseMainThread(false);
    Open();
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        while (!stop) {
            port.Write("0123456789");
            std::this_thread::sleep_for(200us);
        }
    });
    for (int i = 0; i < 300; ++i) {
        comm->SetTraceStates(i % 2 ? TTraceStates{tsRxChar, tsCTS} : TTraceStates{tsRxChar});
        if (i % 30 == 29) {
            comm->SetActive(false);
            comm->SetActive(true);
            ASSERT_TRUE(comm->GetActive());
        }
        std::this_thread::sleep_for(1ms);
    }
    const size_t before = rec.Received().size();
    ASSERT_TRUE(WaitMain([&] { return rec.Received().size() > before; })) << "still receiving";
    stop = true;
    writer.join();
}
