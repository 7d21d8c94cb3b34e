#include "bench/comm_receive/pty_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace bench {

TPty::TPty()
{
    char name[256] = {};
    if (openpty(&Master, &Slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        std::exit(2);
    }
    Path = name;
    termios t{};
    tcgetattr(Slave, &t);
    cfmakeraw(&t);
    tcsetattr(Slave, TCSANOW, &t);
}

TPty::~TPty()
{
    CloseSlave();
    if (Master >= 0) close(Master);
}

void TPty::CloseSlave()
{
    if (Slave >= 0) close(Slave);
    Slave = -1;
}

namespace {

constexpr size_t kPeriod = (size_t(1) << 20) + 4093;

}  // namespace

const std::vector<uint8_t>& ReferenceStream()
{
    static const std::vector<uint8_t> stream = [] {
        std::vector<uint8_t> s(kPeriod);
        uint64_t x = 0x9E3779B97F4A7C15ull;
        for (auto& b : s) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            b = static_cast<uint8_t>(x >> 24);
        }
        return s;
    }();
    return stream;
}

void TChecker::Feed(const uint8_t* Data, size_t N)
{
    const uint8_t* expected = ReferenceStream().data();
    const uint64_t inRange = Pos < Total ? std::min<uint64_t>(N, Total - Pos) : 0;
    if (inRange < N) ++Errors;
    // Compared period piece by period piece; one error per mismatching call.
    bool same = true;
    for (uint64_t done = 0; done < inRange && same;) {
        const size_t at = static_cast<size_t>((Pos + done) % kPeriod);
        const size_t n = static_cast<size_t>(std::min<uint64_t>(inRange - done, kPeriod - at));
        same = std::memcmp(Data + done, expected + at, n) == 0;
        done += n;
    }
    if (!same) ++Errors;
    Pos += N;
}

void WriteStream(int Fd, uint64_t Total)
{
    const uint8_t* stream = ReferenceStream().data();
    uint64_t pos = 0;
    while (pos < Total) {
        const size_t at = static_cast<size_t>(pos % kPeriod);
        const size_t n = static_cast<size_t>(std::min<uint64_t>({65536, Total - pos, kPeriod - at}));
        const ssize_t w = write(Fd, stream + at, n);
        if (w < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            std::perror("write");
            std::exit(2);
        }
        pos += static_cast<uint64_t>(w);
    }
}

void RunEchoPeer(int Fd, int Trips, std::vector<double>& Samples, uint64_t& Errors)
{
    using Clock = std::chrono::steady_clock;
    const std::vector<uint8_t>& stream = ReferenceStream();
    Samples.clear();
    Samples.reserve(static_cast<size_t>(Trips));
    for (int i = 0; i < Trips; ++i) {
        const uint8_t out = stream[static_cast<size_t>(i) % stream.size()];
        const auto t0 = Clock::now();
        if (write(Fd, &out, 1) != 1) {
            ++Errors;
            return;
        }
        pollfd p{Fd, POLLIN, 0};
        uint8_t in = 0;
        if (poll(&p, 1, 5000) != 1 || read(Fd, &in, 1) != 1) {
            ++Errors;
            return;
        }
        Samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
        if (in != out) ++Errors;
    }
}

}  // namespace bench
