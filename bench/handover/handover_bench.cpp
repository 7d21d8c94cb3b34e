// What one hand-over between two threads costs, by each means the serial
// component's receive path uses with UseMainThread: the driver's completion
// event (set by the Linux driver's service thread, waited for by the
// comm-event thread), a registered thread message (comm-event thread to
// message thread) and Synchronize (message thread to the main thread's Qt
// event loop and back). Beside them a pipe between two threads: the kernel's
// own wake-up, which a poll()/read() receiver pays once per chunk. Each is
// timed as a round trip, interleaved over the rounds; printed: median
// [min-max] over the rounds of each round's p50 and p99, and the CPU time
// (both threads) and context switches per round trip.
// Usage: handover_bench [trips=20000] [rounds=7]
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>
#include <vector>

#include <winapi.h>

#include "bench/common/bench_stats.h"
#include "toolkit/classes.h"
#include "toolkit/qt/qtapplication.h"

namespace {

using Clock = std::chrono::steady_clock;

struct TFigures {
    std::vector<double> P50, P99, Switches, CpuUs;
};

double Micros(Clock::time_point From) { return std::chrono::duration<double, std::micro>(Clock::now() - From).count(); }

// Times Trips round trips of Ping (which returns once the other side answered).
void Measure(int Trips, const std::function<void()>& Ping, TFigures& F)
{
    std::vector<double> samples;
    samples.reserve(static_cast<size_t>(Trips));
    const bench::TUsage u0 = bench::ProcessUsage();
    for (int i = 0; i < Trips; ++i) {
        const auto t0 = Clock::now();
        Ping();
        samples.push_back(Micros(t0));
    }
    const bench::TUsage u1 = bench::ProcessUsage();
    F.P50.push_back(bench::Quantile(samples, 0.50));
    F.P99.push_back(bench::Quantile(samples, 0.99));
    F.Switches.push_back((u1.Switches - u0.Switches) / Trips);
    F.CpuUs.push_back((u1.CpuMs - u0.CpuMs) * 1000.0 / Trips);
}

void PipeRound(int Trips, TFigures& F)
{
    int there[2], back[2];
    if (pipe(there) != 0 || pipe(back) != 0) std::exit(2);
    std::thread peer([&] {
        char c;
        while (read(there[0], &c, 1) == 1 && c != 'q')
            if (write(back[1], &c, 1) != 1) break;
    });
    Measure(
        Trips,
        [&] {
            char c = 'p';
            if (write(there[1], &c, 1) != 1 || read(back[0], &c, 1) != 1) std::exit(2);
        },
        F);
    const char quit = 'q';
    if (write(there[1], &quit, 1) != 1) std::exit(2);
    peer.join();
    for (int fd : {there[0], there[1], back[0], back[1]}) close(fd);
}

void EventRound(int Trips, TFigures& F)
{
    HANDLE there = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE back = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::atomic<bool> stop{false};
    std::thread peer([&] {
        while (WaitForSingleObject(there, INFINITE) == WAIT_OBJECT_0 && !stop.load()) SetEvent(back);
    });
    Measure(
        Trips,
        [&] {
            SetEvent(there);
            WaitForSingleObject(back, INFINITE);
        },
        F);
    stop.store(true);
    SetEvent(there);
    peer.join();
    CloseHandle(there);
    CloseHandle(back);
}

void MessageRound(int Trips, TFigures& F)
{
    static const UINT ping = RegisterWindowMessageW(PWChar(u"handoverBenchPing"));
    static const UINT quit = RegisterWindowMessageW(PWChar(u"handoverBenchQuit"));
    MSG msg{};
    PeekMessageW(&msg, nullptr, 0xC000, 0xFFFF, PM_NOREMOVE);  // this thread's queue
    const DWORD self = GetCurrentThreadId();
    std::atomic<DWORD> peerId{0};
    std::thread peer([&] {
        MSG m{};
        PeekMessageW(&m, nullptr, 0xC000, 0xFFFF, PM_NOREMOVE);
        peerId.store(GetCurrentThreadId());
        while (GetMessageW(&m, nullptr, 0xC000, 0xFFFF) > 0 && m.message != quit) PostThreadMessageW(self, ping, 0, 0);
    });
    while (peerId.load() == 0) std::this_thread::yield();
    Measure(
        Trips,
        [&] {
            PostThreadMessageW(peerId.load(), ping, 0, 0);
            MSG m{};
            GetMessageW(&m, nullptr, 0xC000, 0xFFFF);
        },
        F);
    PostThreadMessageW(peerId.load(), quit, 0, 0);
    peer.join();
}

// The worker thread is timed; the main thread runs the Qt loop meanwhile.
void SynchronizeRound(int Trips, TFigures& F)
{
    QEventLoop loop;
    std::thread worker([&] {
        Measure(
            Trips, [] { TThread::Synchronize(nullptr, [] {}); }, F);
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
}

}  // namespace

int main(int argc, char** argv)
{
    const int trips = argc > 1 ? std::max(100, std::atoi(argv[1])) : 20000;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
    QCoreApplication qapp(argc, argv);
    TQtApplication app;

    struct TWay {
        const char* Name;
        void (*Round)(int, TFigures&);
        TFigures F;
    };
    std::vector<TWay> ways = {{"pipe (kernel wake-up)", PipeRound, {}},
                              {"event (driver completion)", EventRound, {}},
                              {"thread message", MessageRound, {}},
                              {"Synchronize (Qt loop)", SynchronizeRound, {}}};
    const std::string loadBefore = bench::LoadAverage();
    for (int r = 0; r < rounds; ++r)
        for (size_t k = 0; k < ways.size(); ++k) {
            TWay& w = ways[(k + static_cast<size_t>(r)) % ways.size()];
            w.Round(trips, w.F);
        }
    std::printf(
        "round trips between two threads: %d per round, %d rounds interleaved; median [min-max] over the rounds\n",
        trips, rounds);
    std::printf("load average before: %s, after: %s\n", loadBefore.c_str(), bench::LoadAverage().c_str());
    std::printf("%-28s %-22s %-22s %-22s %s\n", "hand-over", "p50 us", "p99 us", "CPU us per round trip",
                "switches per round trip");
    for (const TWay& w : ways)
        std::printf("%-28s %-22s %-22s %-22s %s\n", w.Name, bench::Format(bench::SpreadOf(w.F.P50)).c_str(),
                    bench::Format(bench::SpreadOf(w.F.P99)).c_str(), bench::Format(bench::SpreadOf(w.F.CpuUs)).c_str(),
                    bench::Format(bench::SpreadOf(w.F.Switches), 2).c_str());
    return 0;
}
