// Soak: traffic on a virtual port while the port is closed and opened again,
// unplugged and plugged in, its trace states changed, and the receive handler
// fails now and then; handlers on the main thread and on the message thread.
// After every open the data must flow again, after every unplug the port must
// close; at the end no thread or handle is left over.
//
// SPECTRO_SOAK_SECONDS sets the duration (default 3: the test run), e.g. an
// hour by hand in the ThreadSanitizer build:
//   SPECTRO_SOAK_SECONDS=3600 build-tsan/tests/comm_threads/comm_threads_soak
// SPECTRO_SOAK_SEED repeats a run (the seed is printed).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>

#include "platform/posix/handles.h"
#include "tests/comm_threads/comm_test_support.h"

using namespace commtest;
using winapi_posix::VirtualPort;

namespace {

unsigned long EnvNumber(const char* Name, unsigned long Default)
{
    const char* v = std::getenv(Name);
    return v && *v ? std::strtoul(v, nullptr, 10) : Default;
}

// The instrument's side: a port that can be pulled out and a thread that
// keeps sending to whichever port is plugged in.
class TPeer {
public:
    TPeer() : fPort(std::make_unique<VirtualPort>(u"COM21"))
    {
        fWriter = std::thread([this] {
            std::string chunk(97, 'x');
            for (unsigned n = 0; !fStop.load(); ++n) {
                {
                    std::lock_guard<std::mutex> lk(fMutex);
                    chunk[0] = static_cast<char>(n);
                    if (fPort) fPort->Write(chunk);
                }
                std::this_thread::sleep_for(std::chrono::microseconds(500));  // about 200 KB/s
            }
        });
    }
    ~TPeer()
    {
        fStop.store(true);
        fWriter.join();
    }
    void Unplug()
    {
        std::lock_guard<std::mutex> lk(fMutex);
        fPort->Remove();
    }
    void PlugIn()
    {
        std::lock_guard<std::mutex> lk(fMutex);
        fPort.reset();  // leaves the map before the new one takes the name
        fPort = std::make_unique<VirtualPort>(u"COM21");
    }
    VirtualPort& Port() { return *fPort; }

private:
    std::mutex fMutex;
    std::unique_ptr<VirtualPort> fPort;
    std::atomic<bool> fStop{false};
    std::thread fWriter;
};

TEST(CommSoak, RandomCloseOpenUnplugAndHandlerErrors)
{
    const auto seconds = EnvNumber("SPECTRO_SOAK_SECONDS", 3);
    const auto seed = static_cast<unsigned>(EnvNumber("SPECTRO_SOAK_SEED", std::random_device{}()));
    std::printf("soak: %lu s, seed %u\n", seconds, seed);
    std::mt19937 random(seed);
    auto chance = [&](unsigned OneIn) { return random() % OneIn == 0; };

    THeadlessApplication app;
    // A sanitizer's runtime starts a thread of its own with the first thread of
    // the process; it belongs to the count before, not to the ports.
    std::thread([] {}).join();
    const int threadsBefore = ProcessThreadCount();
    const size_t handlesBefore = winapi_posix::OpenHandleCount();
    std::atomic<uint64_t> bytes{0}, calls{0};
    std::atomic<unsigned> handlerErrors{0}, closes{0};
    unsigned opens = 0, unplugs = 0, traceChanges = 0, sends = 0;
    {
        TPeer peer;
        TTestComm comm(nullptr);
        SetupOn(comm, peer.Port());
        comm.SetOnAfterReceive([&](TObject*, const uint8_t*, uint32_t Received) {
            bytes.fetch_add(Received);
            // One call in 64 fails, with the runtime's exception, a standard one
            // or a thrown value.
            const uint64_t call = calls.fetch_add(1);
            if (call % 64 != 63) return;
            handlerErrors.fetch_add(1);
            switch (call / 64 % 3) {
            case 0: throw Exception(u"soak: handler error");
            case 1: throw std::runtime_error("soak: handler error");
            default: throw 42;
            }
        });
        comm.SetOnClose([&](TObject*) { closes.fetch_add(1); });
        app.SetMessageBoxAnswer(MsgBox::IdOk);  // the handler errors are shown

        auto open = [&] {
            comm.SetUseMainThread(chance(2));
            comm.SetActive(true);
            ASSERT_TRUE(comm.GetActive());
            ++opens;
            // The data flows again.
            const uint64_t mark = bytes.load();
            ASSERT_TRUE(WaitMain([&] { return bytes.load() > mark; })) << "deaf after open " << opens;
        };
        open();
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < end && !HasFatalFailure()) {
            switch (random() % 5) {
            case 0:
                comm.SetActive(false);
                open();
                break;
            case 1:
                if (!chance(4)) break;
                peer.Unplug();
                ++unplugs;
                ASSERT_TRUE(WaitMain([&] { return !comm.GetActive(); })) << "unplug " << unplugs << " not seen";
                peer.PlugIn();
                open();
                break;
            case 2:
                comm.SetTraceStates(chance(2) ? TTraceStates{tsRxChar} : TTraceStates{tsRxChar, tsTxEmpty});
                ++traceChanges;
                break;
            case 3:
                comm.SendString("s1000\r\n");
                ++sends;
                break;
            default: PumpFor(std::chrono::milliseconds(random() % 5)); break;
            }
        }
        comm.SetActive(false);
        app.ClearMessageBoxCalls();
    }
    PumpFor(std::chrono::milliseconds(50));
    EXPECT_EQ(SettledThreadCount(threadsBefore), threadsBefore);
    EXPECT_EQ(winapi_posix::OpenHandleCount(), handlesBefore);
    EXPECT_EQ(closes.load(), opens);
    std::printf("soak: %u opens, %u unplugs, %u trace changes, %u sends, %llu bytes received, %u handler errors\n",
                opens, unplugs, traceChanges, sends, static_cast<unsigned long long>(bytes.load()),
                handlerErrors.load());
}

}  // namespace
