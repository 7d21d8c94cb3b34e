// The peer side of the receive benchmark: a kernel pty whose master end the
// benchmark drives, the reference byte stream every host must deliver, the
// writer of that stream and the echo peer.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// A pty with a raw slave; Path names the slave for hosts that open it.
struct TPty {
    int Master = -1;
    int Slave = -1;
    std::string Path;
    TPty();
    ~TPty();
    TPty(const TPty&) = delete;
    TPty& operator=(const TPty&) = delete;
    // For hosts that open the slave themselves (and lock it exclusively).
    void CloseSlave();
};

// One period of the reference stream: pseudo-random bytes, so a lost, doubled
// or reordered piece shows as a mismatch. The stream repeats it; the period
// (1 MiB and 4093 bytes) is no multiple of any buffer size on the way, and it
// keeps the process small: the kernel here charges an idle process CPU time in
// proportion to its resident memory, which a 64 MiB stream would add to every
// host's idle figure.
const std::vector<uint8_t>& ReferenceStream();

// Compares what a host received against the first Total bytes of the
// reference stream, in order.
struct TChecker {
    uint64_t Total = 0;
    uint64_t Pos = 0;
    uint64_t Errors = 0;  // mismatching pieces, bytes beyond the stream
    void Feed(const uint8_t* Data, size_t N);
};

// Writes the first Total bytes of the reference stream into Fd (blocks while
// the pty is full).
void WriteStream(int Fd, uint64_t Total);

// The echo peer: Trips times writes one byte into Fd and waits for it to come
// back; the round-trip times in microseconds go to Samples. A byte that does
// not come back within 5 s, or comes back changed, counts in Errors.
void RunEchoPeer(int Fd, int Trips, std::vector<double>& Samples, uint64_t& Errors);

}  // namespace bench
