// Receive path side by side: a plain poll()/read() loop, QSerialPort and
// TnrComm (OnAfterReceive with UseMainThread), each on its own fresh pty, in
// one process, interleaved over the rounds (the order rotates every round).
// Per round and host: receive throughput of the stream with every byte
// checked, the echo round trip seen by the peer (p50, p99), and the CPU the
// process uses while the host's port is open and idle. Printed: the median of
// the rounds with the spread (min-max), and ratios of the medians.
// Usage: comm_receive_bench [MiB=64] [rounds=7] [round-trips=1000] [idle-seconds=5] [only=plain|qt|comm]
// (only: run one host, e.g. under a profiler; no ratios then).
#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bench/common/bench_stats.h"
#include "bench/comm_receive/hosts.h"
#include "toolkit/qt/qtapplication.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

struct TFigures {
    std::vector<double> MiBps, CpuPerMiB, SwitchesPerMiB, EchoP50, EchoP99, IdleMsPer5s;
    uint64_t Errors = 0;      // stream: lost, changed, reordered or extra bytes
    uint64_t EchoErrors = 0;  // echoes missing or changed
};

void Throughput(bench::THost& Host, uint64_t Total, TFigures& F)
{
    bench::TPty pty;
    Host.Open(pty, false);
    Host.Check.Total = Total;
    const bench::TUsage u0 = bench::ProcessUsage();
    const auto t0 = Clock::now();
    std::thread writer(bench::WriteStream, pty.Master, Total);
    const bool done = Host.RunUntil([&] { return Host.Check.Pos >= Total; }, 600s);
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    const bench::TUsage u1 = bench::ProcessUsage();
    writer.join();
    Host.Close();
    const double mib = static_cast<double>(Total) / (1024.0 * 1024.0);
    F.MiBps.push_back(mib / seconds);
    F.CpuPerMiB.push_back((u1.CpuMs - u0.CpuMs) / mib);
    F.SwitchesPerMiB.push_back((u1.Switches - u0.Switches) / mib);
    F.Errors += Host.Check.Errors + (done && Host.Check.Pos == Total ? 0 : 1);
}

void Echo(bench::THost& Host, int Trips, TFigures& F)
{
    bench::TPty pty;
    Host.Open(pty, true);
    std::vector<double> samples;
    uint64_t errors = 0;
    std::thread peer(bench::RunEchoPeer, pty.Master, Trips, std::ref(samples), std::ref(errors));
    const bool done = Host.RunUntil([&] { return Host.Echoed >= static_cast<uint64_t>(Trips); }, 60s);
    peer.join();
    Host.Close();
    F.EchoP50.push_back(bench::Quantile(samples, 0.50));
    F.EchoP99.push_back(bench::Quantile(samples, 0.99));
    F.EchoErrors += errors + (done ? 0 : 1);
}

void Idle(bench::THost& Host, int Seconds, TFigures& F)
{
    bench::TPty pty;
    Host.Open(pty, false);
    Host.RunUntil([] { return false; }, 100ms);  // let the open settle
    const bench::TUsage u0 = bench::ProcessUsage();
    const auto t0 = Clock::now();
    Host.RunUntil([] { return false; }, std::chrono::seconds(Seconds));
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    const bench::TUsage u1 = bench::ProcessUsage();
    Host.Close();
    F.IdleMsPer5s.push_back((u1.CpuMs - u0.CpuMs) * 5.0 / wall);
}

}  // namespace

int main(int argc, char** argv)
{
    const uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 64;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 7;
    const int trips = argc > 3 ? std::atoi(argv[3]) : 1000;
    const int idle = argc > 4 ? std::max(1, std::atoi(argv[4])) : 5;
    const uint64_t total = mib * 1024 * 1024;
    // Keep the machine's own ports and registrations out of the way.
    setenv("SPECTRO_SYSFS_ROOT", "/nonexistent", 1);
    setenv("SPECTRO_PORTMAP_DIR", "/nonexistent/ports.d", 1);
    setenv("XDG_CONFIG_HOME", "/nonexistent", 1);

    QCoreApplication qapp(argc, argv);
    TQtApplication app;
    bench::ReferenceStream();

    std::vector<std::unique_ptr<bench::THost>> hosts;
    const std::string only = argc > 5 ? argv[5] : "";
    if (only.empty() || only == "plain") hosts.push_back(bench::NewPlainHost());
    if (only.empty() || only == "qt") hosts.push_back(bench::NewQSerialPortHost());
    if (only.empty() || only == "comm") hosts.push_back(bench::NewTnrCommHost());
    if (hosts.empty()) {
        std::fprintf(stderr, "unknown host %s (plain, qt or comm)\n", only.c_str());
        return 2;
    }
    std::vector<TFigures> figures(hosts.size());

    const std::string loadBefore = bench::LoadAverage();
    for (int r = 0; r < rounds; ++r) {
        for (size_t k = 0; k < hosts.size(); ++k) {
            const size_t i = (k + static_cast<size_t>(r)) % hosts.size();
            Throughput(*hosts[i], total, figures[i]);
        }
        for (size_t k = 0; k < hosts.size(); ++k) {
            const size_t i = (k + static_cast<size_t>(r)) % hosts.size();
            Echo(*hosts[i], trips, figures[i]);
        }
        for (size_t k = 0; k < hosts.size(); ++k) {
            const size_t i = (k + static_cast<size_t>(r)) % hosts.size();
            Idle(*hosts[i], idle, figures[i]);
        }
        std::fprintf(stderr, "round %d of %d done\n", r + 1, rounds);
    }
    const std::string loadAfter = bench::LoadAverage();

    std::printf(
        "receive over a pty: %llu MiB per run, %d rounds interleaved, %d echo round trips, idle %d s; "
        "median [min-max] over the rounds\n",
        static_cast<unsigned long long>(mib), rounds, trips, idle);
    std::printf("load average before: %s, after: %s\n", loadBefore.c_str(), loadAfter.c_str());
    std::printf("%-16s %-26s %-22s %-22s %-20s %-18s %s\n", "path", "receive MiB/s", "echo p50 us", "echo p99 us",
                "idle CPU ms per 5 s", "CPU ms per MiB", "switches per MiB");
    std::vector<bench::TSpread> mibps, p50, p99, idleCpu;
    for (size_t i = 0; i < hosts.size(); ++i) {
        const TFigures& f = figures[i];
        mibps.push_back(bench::SpreadOf(f.MiBps));
        p50.push_back(bench::SpreadOf(f.EchoP50));
        p99.push_back(bench::SpreadOf(f.EchoP99));
        idleCpu.push_back(bench::SpreadOf(f.IdleMsPer5s));
        std::printf("%-16s %-26s %-22s %-22s %-20s %-18s %s\n", hosts[i]->Name(), bench::Format(mibps[i]).c_str(),
                    bench::Format(p50[i]).c_str(), bench::Format(p99[i]).c_str(), bench::Format(idleCpu[i], 2).c_str(),
                    bench::Format(bench::SpreadOf(f.CpuPerMiB), 2).c_str(),
                    bench::Format(bench::SpreadOf(f.SwitchesPerMiB), 0).c_str());
    }
    uint64_t errors = 0;
    std::string perHost;
    for (size_t i = 0; i < hosts.size(); ++i) {
        errors += figures[i].Errors + figures[i].EchoErrors;
        perHost += std::string(i ? ", " : "") + hosts[i]->Name() + " " + std::to_string(figures[i].Errors) + "/" +
                   std::to_string(figures[i].EchoErrors);
    }
    std::printf(
        "bytes checked: %d rounds x %zu paths x %llu MiB; errors stream/echo (lost, changed or reordered "
        "bytes / missing or changed echoes): %s\n",
        rounds, hosts.size(), static_cast<unsigned long long>(mib), perHost.c_str());

    if (hosts.size() == 3) {
        const size_t plain = 0, qt = 1, comm = 2;
        const double tp = mibps[comm].Median / mibps[plain].Median;
        const double tq = mibps[comm].Median / mibps[qt].Median;
        const double e50 = p50[comm].Median / p50[plain].Median;
        const double e99 = p99[comm].Median / p99[plain].Median;
        auto verdict = [](bool Met) { return Met ? "met" : "NOT met"; };
        std::printf(
            "TnrComm/plain: throughput %.2f (goal >= 0.90: %s), echo p50 %.2f (goal <= 1.50: %s), "
            "echo p99 %.2f (goal <= 2.00: %s)\n",
            tp, verdict(tp >= 0.9), e50, verdict(e50 <= 1.5), e99, verdict(e99 <= 2.0));
        std::printf("TnrComm/QSerialPort: throughput %.2f (goal >= 1.00: %s), echo p50 %.2f, echo p99 %.2f\n", tq,
                    verdict(tq >= 1.0), p50[comm].Median / p50[qt].Median, p99[comm].Median / p99[qt].Median);
        std::printf(
            "TnrComm idle: %.2f ms CPU per 5 s (goal <= 1.00: %s); plain loop %.2f: what an idle process "
            "costs on this machine\n",
            idleCpu[comm].Median, verdict(idleCpu[comm].Median <= 1.0), idleCpu[plain].Median);
    }
    return errors ? 1 : 0;
}
