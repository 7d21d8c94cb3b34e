// Serial driver benchmark over a kernel pty, interleaved over the rounds
// (the order of the two loops alternates), each figure printed as the median
// of the rounds with the spread (min-max):
//   1. throughput of overlapped ReadFile driven by WaitCommEvent, against a
//      plain read() loop on the same kind of pty in the same run;
//   2. CPU used by an open port with a pending WaitCommEvent (per 5 s);
//   3. latency from a byte written on the peer to WaitCommEvent completion.
// Usage: serial_driver_bench [rounds=7] [idle-seconds=5]
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <winapi.h>

#include "bench/common/bench_stats.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kTotal = 64u << 20;  // bytes per throughput run

struct Pty {
    int master = -1, slave = -1;
    std::string path;
    Pty()
    {
        char name[128];
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
            perror("openpty");
            exit(1);
        }
        path = name;
    }
    ~Pty()
    {
        close(master);
        if (slave >= 0) close(slave);
    }
};

// Writes kTotal bytes into the master as fast as the reader takes them.
std::thread Writer(int master)
{
    return std::thread([master] {
        std::vector<char> block(65536, 'x');
        size_t sent = 0;
        while (sent < kTotal) {
            ssize_t n = write(master, block.data(), std::min(block.size(), kTotal - sent));
            if (n > 0)
                sent += static_cast<size_t>(n);
            else if (n < 0 && errno != EINTR && errno != EAGAIN)
                break;
        }
    });
}

double PlainReadMBps()
{
    Pty pty;
    struct termios t;
    tcgetattr(pty.slave, &t);
    cfmakeraw(&t);
    tcsetattr(pty.slave, TCSANOW, &t);
    std::vector<char> buffer(65536);
    auto start = Clock::now();
    std::thread writer = Writer(pty.master);
    size_t got = 0;
    while (got < kTotal) {
        ssize_t n = read(pty.slave, buffer.data(), buffer.size());
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    writer.join();
    return got / seconds / 1e6;
}

HANDLE OpenMapped(const Pty& pty)
{
    std::string map = "COM3=" + pty.path;
    setenv("SPECTRO_PORTS", map.c_str(), 1);
    HANDLE port = CreateFileW(u"\\\\?\\COM3", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "CreateFileW failed: %u\n", GetLastError());
        exit(1);
    }
    return port;
}

// The receive loop of the serial component: wait for EV_RXCHAR, ask for the
// queue count, read exactly that many bytes.
double DriverReadMBps()
{
    Pty pty;
    HANDLE port = OpenMapped(pty);
    close(pty.slave);
    pty.slave = -1;
    SetupComm(port, 65536, 4096);
    SetCommMask(port, EV_RXCHAR);
    OVERLAPPED wait{}, read{};
    wait.hEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    read.hEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::vector<char> buffer(65536);
    auto start = Clock::now();
    std::thread writer = Writer(pty.master);
    size_t got = 0;
    while (got < kTotal) {
        DWORD mask = 0;
        if (!WaitCommEvent(port, &mask, &wait)) {
            if (GetLastError() != ERROR_IO_PENDING) break;
            WaitForSingleObject(wait.hEvent, INFINITE);
        }
        DWORD errors = 0;
        COMSTAT stat{};
        ClearCommError(port, &errors, &stat);
        DWORD count = std::min<DWORD>(stat.cbInQue, static_cast<DWORD>(buffer.size()));
        if (count == 0) continue;
        DWORD n = 0;
        if (!ReadFile(port, buffer.data(), count, &n, &read)) {
            if (GetLastError() != ERROR_IO_PENDING || !GetOverlappedResult(port, &read, &n, TRUE)) break;
        }
        got += n;
    }
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    writer.join();
    CloseHandle(port);
    CloseHandle(wait.hEvent);
    CloseHandle(read.hEvent);
    return got / seconds / 1e6;
}

double CpuMs() { return bench::ProcessUsage().CpuMs; }

double IdleCpuMs(int Seconds)
{
    Pty pty;
    HANDLE port = OpenMapped(pty);
    SetCommMask(port, EV_RXCHAR | EV_TXEMPTY | EV_CTS | EV_DSR);
    OVERLAPPED wait{};
    wait.hEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    DWORD mask = 0;
    WaitCommEvent(port, &mask, &wait);
    double before = CpuMs();
    std::this_thread::sleep_for(std::chrono::seconds(Seconds));
    double used = (CpuMs() - before) * 5.0 / Seconds;
    CloseHandle(port);
    CloseHandle(wait.hEvent);
    return used;
}

void Latency(double* median, double* p99)
{
    Pty pty;
    HANDLE port = OpenMapped(pty);
    SetCommMask(port, EV_RXCHAR);
    OVERLAPPED wait{}, read{};
    wait.hEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    read.hEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::vector<double> samples;
    for (int i = 0; i < 1000; ++i) {
        DWORD mask = 0;
        bool pending = !WaitCommEvent(port, &mask, &wait) && GetLastError() == ERROR_IO_PENDING;
        auto start = Clock::now();
        char byte = 'L';
        if (write(pty.master, &byte, 1) != 1) break;
        if (pending) WaitForSingleObject(wait.hEvent, INFINITE);
        samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        char in;
        DWORD n = 0;
        if (!ReadFile(port, &in, 1, &n, &read) && GetLastError() == ERROR_IO_PENDING)
            GetOverlappedResult(port, &read, &n, TRUE);
    }
    std::sort(samples.begin(), samples.end());
    *median = samples[samples.size() / 2];
    *p99 = samples[samples.size() * 99 / 100];
    CloseHandle(port);
    CloseHandle(wait.hEvent);
    CloseHandle(read.hEvent);
}

}  // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 7;
    const int idleSeconds = argc > 2 ? std::max(1, atoi(argv[2])) : 5;
    // Keep the machine's own ports and registrations out of the way.
    setenv("SPECTRO_SYSFS_ROOT", "/nonexistent", 1);
    setenv("SPECTRO_PORTMAP_DIR", "/nonexistent/ports.d", 1);
    setenv("XDG_CONFIG_HOME", "/nonexistent", 1);

    const std::string loadBefore = bench::LoadAverage();
    std::vector<double> plain, driver, ratio, idle, median, p99;
    for (int run = 0; run < rounds; ++run) {
        double p = 0, d = 0;
        if (run % 2 == 0) {
            p = PlainReadMBps();
            d = DriverReadMBps();
        } else {
            d = DriverReadMBps();
            p = PlainReadMBps();
        }
        plain.push_back(p);
        driver.push_back(d);
        ratio.push_back(d / p);
        idle.push_back(IdleCpuMs(idleSeconds));
        double m = 0, q = 0;
        Latency(&m, &q);
        median.push_back(m);
        p99.push_back(q);
    }
    const bench::TSpread sp = bench::SpreadOf(plain), sd = bench::SpreadOf(driver);
    printf("serial driver over a pty, %d rounds interleaved; median [min-max] over the rounds\n", rounds);
    printf("load average before: %s, after: %s\n", loadBefore.c_str(), bench::LoadAverage().c_str());
    printf("throughput MB/s: plain read() %s, overlapped ReadFile+WaitCommEvent %s\n", bench::Format(sp).c_str(),
           bench::Format(sd).c_str());
    printf("ratio of the medians %.2f (target >= 0.9); per-round ratio %s\n", sd.Median / sp.Median,
           bench::Format(bench::SpreadOf(ratio), 2).c_str());
    printf("idle: %s ms CPU per 5 s with a pending WaitCommEvent (target <= 10 ms)\n",
           bench::Format(bench::SpreadOf(idle), 2).c_str());
    printf("latency peer write -> WaitCommEvent completion, 1000 round trips per round: p50 %s us, p99 %s us\n",
           bench::Format(bench::SpreadOf(median)).c_str(), bench::Format(bench::SpreadOf(p99)).c_str());
    return 0;
}
