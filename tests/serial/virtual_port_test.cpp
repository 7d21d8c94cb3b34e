// Virtual ports: modem lines, the host's lines and settings seen by the peer,
// and every fault the driver must survive (line errors, break, removal,
// stalled and slow transmitters, flow control).
#include "platform/posix/virtual_port.h"
#include "platform/posix/portmap.h"

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "tests/serial/serial_test_util.h"

using namespace serial_test;
using winapi_posix::VirtualLineSettings;
using winapi_posix::VirtualPort;

namespace {

::testing::Environment* const environment = ::testing::AddGlobalTestEnvironment(new PrivatePortMap);

class VirtualPortTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        peer = std::make_unique<VirtualPort>(u"COM7");
        port = OpenPort("COM7");
        ASSERT_NE(port, INVALID_HANDLE_VALUE) << GetLastError();
    }
    void TearDown() override
    {
        if (port != INVALID_HANDLE_VALUE) CloseHandle(port);
    }
    DWORD NextEvent(DWORD mask, DWORD timeoutMs = 2000)
    {
        Overlapped ovl;
        DWORD got = 0;
        if (!WaitCommEvent(port, &got, &ovl)) {
            if (GetLastError() != ERROR_IO_PENDING) return 0xFFFFFFFF;
            if (!ovl.Signalled(timeoutMs)) {
                SetCommMask(port, mask);  // releases the wait
                DWORD n;
                GetOverlappedResult(port, &ovl, &n, TRUE);
                return 0;
            }
        }
        return got;
    }
    std::unique_ptr<VirtualPort> peer;
    HANDLE port = INVALID_HANDLE_VALUE;
};

TEST_F(VirtualPortTest, BytesBothWaysAndExclusiveOpen)
{
    EXPECT_TRUE(peer->HostOpen());
    EXPECT_EQ(OpenPort("COM7"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));

    DWORD n = 0;
    ASSERT_TRUE(WriteFile(port, "to peer", 7, &n, nullptr));
    EXPECT_EQ(peer->ReadExactly(7, 1000), "to peer");
    peer->Write("to host");
    char buffer[7];
    ASSERT_TRUE(ReadFile(port, buffer, 7, &n, nullptr));
    EXPECT_EQ(std::string(buffer, n), "to host");
}

TEST_F(VirtualPortTest, InputQueueKeepsOrderAcrossItsWrapAndDropsNullsWhenAsked)
{
    std::string sent;
    for (int i = 0; i < 70000; ++i) sent.push_back(static_cast<char>(i * 7 % 251));
    std::string got(sent.size(), '\0');
    DWORD n = 0;
    COMMTIMEOUTS timeouts{0, 0, 5000, 0, 0};  // a lost byte fails the read instead of hanging it
    ASSERT_TRUE(SetCommTimeouts(port, &timeouts));
    auto queued = [this](DWORD want) {  // waits until the driver holds `want` bytes
        COMSTAT stat{};
        for (int i = 0; i < 500 && stat.cbInQue != want; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            ClearCommError(port, nullptr, &stat);
        }
        return stat.cbInQue;
    };
    // 30000 in, 20000 out, 40000 more: the 32 KiB queue wraps and fills up.
    peer->Write(sent.substr(0, 30000));
    ASSERT_EQ(queued(30000), 30000u);
    ASSERT_TRUE(ReadFile(port, got.data(), 20000, &n, nullptr));
    ASSERT_EQ(n, 20000u);
    peer->Write(sent.substr(30000));
    ASSERT_EQ(queued(32768), 32768u);
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(ReadFile(port, got.data() + 20000, 50000, &n, nullptr));
    ASSERT_EQ(n, 50000u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2))
        << "the bytes held back by the full queue must follow as soon as it has room";
    EXPECT_TRUE(got == sent) << "first difference at "
                             << std::mismatch(got.begin(), got.end(), sent.begin()).first - got.begin();
    DWORD errors = 0;
    COMSTAT stat{};
    ASSERT_TRUE(ClearCommError(port, &errors, &stat));
    EXPECT_EQ(errors, 0u) << "a full queue holds the peer back, nothing overruns";
    EXPECT_EQ(stat.cbInQue, 0u);

    DCB dcb{};
    ASSERT_TRUE(GetCommState(port, &dcb));
    dcb.fNull = 1;
    ASSERT_TRUE(SetCommState(port, &dcb));
    peer->Write(std::string("a\0b\0\0c", 6));
    char three[3];
    ASSERT_TRUE(ReadFile(port, three, 3, &n, nullptr));
    EXPECT_EQ(std::string(three, n), "abc");
    ASSERT_TRUE(ClearCommError(port, &errors, &stat));
    EXPECT_EQ(stat.cbInQue, 0u);
    EXPECT_EQ(errors, 0u);
}

TEST_F(VirtualPortTest, EvRxFlagOnlyForAnEventCharacterThatReachedTheQueue)
{
    DCB dcb{};
    ASSERT_TRUE(GetCommState(port, &dcb));
    dcb.fNull = 1;
    dcb.EvtChar = 0;
    ASSERT_TRUE(SetCommState(port, &dcb));
    ASSERT_TRUE(SetCommMask(port, EV_RXCHAR | EV_RXFLAG));
    peer->Write(std::string("a\0b", 3));
    EXPECT_EQ(NextEvent(EV_RXCHAR | EV_RXFLAG), DWORD(EV_RXCHAR)) << "the NUL was stripped";
    dcb.fNull = 0;
    ASSERT_TRUE(SetCommState(port, &dcb));
    peer->Write(std::string("c\0", 2));
    EXPECT_EQ(NextEvent(EV_RXCHAR | EV_RXFLAG), DWORD(EV_RXCHAR | EV_RXFLAG));
    char buffer[4];
    DWORD n = 0;
    ASSERT_TRUE(ReadFile(port, buffer, 4, &n, nullptr));
    EXPECT_EQ(std::string(buffer, n), std::string("abc\0", 4));
}

// A service thread whose poll() fails (here: more descriptors than
// RLIMIT_NOFILE allows) must not leave the port silent.
TEST_F(VirtualPortTest, PortWhoseServiceCannotWaitFailsLikeARemovedOne)
{
    ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    struct Restore {
        rlimit limit;
        ~Restore() { setrlimit(RLIMIT_NOFILE, &limit); }
    } restore{saved};
    const rlimit one{1, saved.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &one), 0);
    peer->Write("x");  // wakes the thread: it serves the byte, polls again and fails
    // The byte may still be reported; the wait after it must fail.
    DWORD error = 0;
    for (int i = 0; i < 2 && error == 0; ++i) {
        DWORD mask = 0;
        Overlapped ovl;
        if (!StartWait(port, &mask, ovl)) {
            error = GetLastError();
            break;
        }
        ASSERT_TRUE(ovl.Signalled(5000)) << "the port went silent";
        if (FinishWait(port, &mask, ovl, &error) != 0xFFFFFFFF) {
            EXPECT_EQ(mask, DWORD(EV_RXCHAR));
        }
    }
    EXPECT_EQ(error, DWORD(ERROR_ACCESS_DENIED));
    setrlimit(RLIMIT_NOFILE, &saved);
    char buffer[4];
    DWORD n = 0;
    EXPECT_FALSE(ReadFile(port, buffer, 1, &n, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
}

TEST_F(VirtualPortTest, LineErrorsRaiseEvErrAndAreClearedByClearCommError)
{
    ASSERT_TRUE(SetCommMask(port, EV_RXCHAR | EV_ERR | EV_BREAK));
    for (DWORD error : {DWORD(CE_FRAME), DWORD(CE_OVERRUN), DWORD(CE_RXPARITY)}) {
        peer->InjectErrors(error);
        EXPECT_EQ(NextEvent(EV_RXCHAR | EV_ERR | EV_BREAK), DWORD(EV_ERR)) << error;
        DWORD errors = 0;
        ASSERT_TRUE(ClearCommError(port, &errors, nullptr));
        EXPECT_EQ(errors, error);
        ASSERT_TRUE(ClearCommError(port, &errors, nullptr));
        EXPECT_EQ(errors, 0u) << "cleared by the first call";
    }
    peer->SendBreak();
    EXPECT_EQ(NextEvent(EV_RXCHAR | EV_ERR | EV_BREAK), DWORD(EV_BREAK));
    DWORD errors = 0;
    ASSERT_TRUE(ClearCommError(port, &errors, nullptr));
    EXPECT_EQ(errors, DWORD(CE_BREAK));
}

TEST_F(VirtualPortTest, AbortOnErrorFailsIoUntilClearCommError)
{
    DCB dcb{};
    ASSERT_TRUE(GetCommState(port, &dcb));
    dcb.fAbortOnError = 1;
    ASSERT_TRUE(SetCommState(port, &dcb));
    char buffer[4];
    Overlapped ovl;
    ASSERT_FALSE(ReadFile(port, buffer, 4, nullptr, &ovl));
    peer->InjectErrors(CE_FRAME);
    DWORD n;
    EXPECT_FALSE(GetOverlappedResult(port, &ovl, &n, TRUE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_OPERATION_ABORTED));
    EXPECT_FALSE(ReadFile(port, buffer, 4, nullptr, &ovl));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_OPERATION_ABORTED));
    DWORD errors;
    ASSERT_TRUE(ClearCommError(port, &errors, nullptr));
    peer->Write("ok!!");
    ASSERT_TRUE(ReadFile(port, buffer, 4, &n, nullptr));
    EXPECT_EQ(std::string(buffer, n), "ok!!");
}

TEST_F(VirtualPortTest, NullModemLinesAndTheirEvents)
{
    DWORD status = 0xFF;
    ASSERT_TRUE(GetCommModemStatus(port, &status));
    EXPECT_EQ(status, 0u);
    DWORD mask = EV_CTS | EV_DSR | EV_RLSD | EV_RING;
    ASSERT_TRUE(SetCommMask(port, mask));
    peer->SetRTS(true);
    EXPECT_EQ(NextEvent(mask), DWORD(EV_CTS));
    peer->SetDTR(true);
    EXPECT_EQ(NextEvent(mask), DWORD(EV_DSR | EV_RLSD));
    peer->SetRing(true);
    EXPECT_EQ(NextEvent(mask), DWORD(EV_RING));
    ASSERT_TRUE(GetCommModemStatus(port, &status));
    EXPECT_EQ(status, DWORD(MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON | MS_RING_ON));
    peer->SetCTS(false);
    EXPECT_EQ(NextEvent(mask), DWORD(EV_CTS));
    peer->SetRLSD(false);
    peer->SetDSR(false);
    Sleep(50);
    EXPECT_EQ(NextEvent(mask), DWORD(EV_DSR | EV_RLSD)) << "kept while no wait was pending";
}

TEST_F(VirtualPortTest, PeerSeesHostLinesAndSettings)
{
    std::mutex m;
    std::vector<std::pair<bool, bool>> lines;
    std::vector<VirtualLineSettings> settings;
    peer->SetLineCallback([&](bool dtr, bool rts) {
        std::lock_guard<std::mutex> lock(m);
        lines.emplace_back(dtr, rts);
    });
    peer->SetSettingsCallback([&](const VirtualLineSettings& s) {
        std::lock_guard<std::mutex> lock(m);
        settings.push_back(s);
    });
    EXPECT_TRUE(peer->HostDTR());
    EXPECT_TRUE(peer->HostRTS());
    ASSERT_TRUE(EscapeCommFunction(port, CLRDTR));
    ASSERT_TRUE(EscapeCommFunction(port, CLRRTS));
    ASSERT_TRUE(EscapeCommFunction(port, SETDTR));
    ASSERT_TRUE(EscapeCommFunction(port, SETBREAK));
    EXPECT_TRUE(peer->HostDTR());
    EXPECT_FALSE(peer->HostRTS());
    EXPECT_TRUE(peer->HostBreak());
    ASSERT_TRUE(EscapeCommFunction(port, CLRBREAK));

    DCB dcb{};
    ASSERT_TRUE(GetCommState(port, &dcb));
    dcb.BaudRate = 1200;
    dcb.ByteSize = 7;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    ASSERT_TRUE(SetCommState(port, &dcb));
    EXPECT_EQ(peer->HostSettings(), (VirtualLineSettings{1200, 7, NOPARITY, ONESTOPBIT}));
    ASSERT_TRUE(SetCommState(port, &dcb));  // unchanged settings: no second callback

    for (int i = 0; i < 100; ++i) {
        {
            std::lock_guard<std::mutex> lock(m);
            if (lines.size() >= 4 && !settings.empty()) break;
        }
        Sleep(10);
    }
    std::lock_guard<std::mutex> lock(m);
    // The last change comes from SetCommState: the DCB's RTS_CONTROL_ENABLE raises RTS.
    std::vector<std::pair<bool, bool>> expected = {{false, true}, {false, false}, {true, false}, {true, true}};
    EXPECT_EQ(lines, expected);
    ASSERT_EQ(settings.size(), 1u);
    EXPECT_EQ(settings[0].BaudRate, 1200u);
    EXPECT_EQ(settings[0].ByteSize, 7);
}

TEST_F(VirtualPortTest, DataCallbackAnswersLikeAnInstrument)
{
    VirtualPort* p = peer.get();
    peer->SetDataCallback([p](const std::string& bytes) {
        std::string answer = bytes;
        for (char& c : answer) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
        p->Write(answer);
    });
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(port, "t\r\n", 3, &n, nullptr));
    char buffer[3];
    ASSERT_TRUE(ReadFile(port, buffer, 3, &n, nullptr));
    EXPECT_EQ(std::string(buffer, n), "T\r\n");
}

TEST_F(VirtualPortTest, RemovalFailsThePendingWaitAndEverythingAfterWithAccessDenied)
{
    ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
    DWORD mask;
    Overlapped ovl;
    ASSERT_TRUE(StartWait(port, &mask, ovl));
    char buffer[4];
    Overlapped rovl;
    ASSERT_FALSE(ReadFile(port, buffer, 4, nullptr, &rovl));
    peer->Remove();
    DWORD error = 0;
    EXPECT_EQ(FinishWait(port, &mask, ovl, &error), 0xFFFFFFFF);
    EXPECT_EQ(error, DWORD(ERROR_ACCESS_DENIED));
    DWORD n;
    EXPECT_FALSE(GetOverlappedResult(port, &rovl, &n, TRUE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(WriteFile(port, "x", 1, &n, &rovl));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(ClearCommError(port, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(CloseHandle(port));
    port = INVALID_HANDLE_VALUE;
    EXPECT_EQ(OpenPort("COM7"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
}

TEST_F(VirtualPortTest, StalledTransmitterEndsAWriteAtItsTotalTimeout)
{
    peer->SetTransmitStalled(true);
    SetTimeouts(port, 0, 0, 0, 20, 50);
    Overlapped ovl;
    auto start = Clock::now();
    ASSERT_FALSE(WriteFile(port, "0123456789", 10, nullptr, &ovl));
    ASSERT_EQ(GetLastError(), DWORD(ERROR_IO_PENDING));
    COMSTAT stat{};
    ASSERT_TRUE(ClearCommError(port, nullptr, &stat));
    EXPECT_EQ(stat.cbOutQue, 10u);
    DWORD n = 99;
    // Ended by the time-out, the write completes successfully with what left.
    ASSERT_TRUE(GetOverlappedResult(port, &ovl, &n, TRUE));
    long elapsed = MsSince(start);
    EXPECT_EQ(n, 0u);
    EXPECT_GE(elapsed, 240);
    EXPECT_LT(elapsed, 600);

    // Without write time-outs it waits until the transmitter runs again.
    SetTimeouts(port, 0, 0, 0, 0, 0);
    ASSERT_FALSE(WriteFile(port, "abc", 3, nullptr, &ovl));
    EXPECT_FALSE(ovl.Signalled(150));
    peer->SetTransmitStalled(false);
    ASSERT_TRUE(GetOverlappedResult(port, &ovl, &n, TRUE));
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(peer->ReadExactly(3, 1000), "abc");
}

TEST_F(VirtualPortTest, PacedTransmitterDrainsAtTheBaudRateBeforeTxEmpty)
{
    peer->SetTransmitPaced(true);
    DCB dcb{};
    ASSERT_TRUE(GetCommState(port, &dcb));
    dcb.BaudRate = 9600;  // 8N1: 10 bits, about 1 ms per byte
    ASSERT_TRUE(SetCommState(port, &dcb));
    ASSERT_TRUE(SetCommMask(port, EV_TXEMPTY));
    DWORD mask;
    Overlapped wait;
    ASSERT_TRUE(StartWait(port, &mask, wait));
    std::string block(150, 'p');
    Overlapped ovl;
    auto start = Clock::now();
    if (!WriteFile(port, block.data(), 150, nullptr, &ovl)) {
        ASSERT_EQ(GetLastError(), DWORD(ERROR_IO_PENDING));
    }
    EXPECT_FALSE(wait.Signalled(50));
    EXPECT_EQ(FinishWait(port, &mask, wait), DWORD(EV_TXEMPTY));
    long elapsed = MsSince(start);
    EXPECT_GE(elapsed, 140);
    EXPECT_LT(elapsed, 1000);
    EXPECT_EQ(peer->ReadExactly(150, 1000), block);

    ASSERT_TRUE(WriteFile(port, block.data(), 50, nullptr, &ovl) || GetLastError() == ERROR_IO_PENDING);
    start = Clock::now();
    EXPECT_TRUE(FlushFileBuffers(port));
    EXPECT_GE(MsSince(start), 35) << "FlushFileBuffers returns when the bytes have left";
    COMSTAT stat{};
    ASSERT_TRUE(ClearCommError(port, nullptr, &stat));
    EXPECT_EQ(stat.cbOutQue, 0u);
}

TEST_F(VirtualPortTest, CtsFlowControlHoldsOutput)
{
    DCB dcb{};
    ASSERT_TRUE(GetCommState(port, &dcb));
    dcb.fOutxCtsFlow = 1;
    ASSERT_TRUE(SetCommState(port, &dcb));
    Overlapped ovl;
    ASSERT_FALSE(WriteFile(port, "flow", 4, nullptr, &ovl));
    COMSTAT stat{};
    ASSERT_TRUE(ClearCommError(port, nullptr, &stat));
    EXPECT_TRUE(stat.fCtsHold);
    EXPECT_EQ(peer->ReadExactly(4, 100), "");
    peer->SetRTS(true);  // drives the host's CTS
    DWORD n;
    ASSERT_TRUE(GetOverlappedResult(port, &ovl, &n, TRUE));
    EXPECT_EQ(peer->ReadExactly(4, 1000), "flow");
}

TEST_F(VirtualPortTest, XonXoffFlowControlBothWays)
{
    COMMTIMEOUTS timeouts{0, 0, 3000, 0, 0};
    ASSERT_TRUE(SetCommTimeouts(port, &timeouts));
    auto stat = [this] {
        COMSTAT s{};
        ClearCommError(port, nullptr, &s);
        return s;
    };
    auto eventually = [](const std::function<bool()>& done) {
        for (int i = 0; i < 500 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return done();
    };
    DCB dcb{};
    ASSERT_TRUE(GetCommState(port, &dcb));
    dcb.fOutX = 1;
    dcb.fInX = 1;
    ASSERT_TRUE(SetCommState(port, &dcb));

    // Output: the peer's XOFF holds it, XON lets it go; neither is input.
    peer->Write("\x13");
    ASSERT_TRUE(eventually([&] { return stat().fXoffHold != 0; }));
    Overlapped ovl;
    ASSERT_FALSE(WriteFile(port, "soft", 4, nullptr, &ovl));
    ASSERT_EQ(GetLastError(), DWORD(ERROR_IO_PENDING));
    EXPECT_EQ(peer->ReadExactly(4, 100), "");
    peer->Write(
        "a\x11"
        "b");
    DWORD n = 0;
    ASSERT_TRUE(GetOverlappedResult(port, &ovl, &n, TRUE));
    EXPECT_EQ(peer->ReadExactly(4, 1000), "soft");
    EXPECT_EQ(stat().fXoffHold, 0u);
    char two[2];
    ASSERT_TRUE(ReadFile(port, two, 2, &n, nullptr));
    EXPECT_EQ(std::string(two, n), "ab");

    // Input: XOFF once fewer than XoffLim bytes are free, XON once no more
    // than XonLim are queued.
    COMMPROP prop{};
    ASSERT_TRUE(GetCommProperties(port, &prop));
    const DWORD size = prop.dwCurrentRxQueue;
    peer->Write(std::string(size - dcb.XoffLim, 'x'));
    ASSERT_TRUE(eventually([&] { return stat().cbInQue == size - dcb.XoffLim; }));
    EXPECT_EQ(peer->ReadExactly(1, 100), "") << "exactly XoffLim bytes free is not yet too few";
    peer->Write("y");
    EXPECT_EQ(peer->ReadExactly(1, 1000), "\x13");
    EXPECT_NE(stat().fXoffSent, 0u);
    std::string sink(size, '\0');
    const DWORD aboveXonLim = size - dcb.XoffLim + 1 - (dcb.XonLim + 1);
    ASSERT_TRUE(ReadFile(port, sink.data(), aboveXonLim, &n, nullptr));
    ASSERT_EQ(n, aboveXonLim);
    EXPECT_EQ(stat().cbInQue, DWORD(dcb.XonLim) + 1);
    EXPECT_EQ(peer->ReadExactly(1, 100), "") << "still more than XonLim queued";
    ASSERT_TRUE(ReadFile(port, sink.data(), 1, &n, nullptr));
    EXPECT_EQ(peer->ReadExactly(1, 1000), "\x11");
    EXPECT_EQ(stat().fXoffSent, 0u);
}

TEST_F(VirtualPortTest, EmulatedRtsToggleRaisesRtsOnlyWhileTransmitting)
{
    std::mutex m;
    std::vector<bool> rtsChanges;
    peer->SetLineCallback([&](bool, bool rts) {
        std::lock_guard<std::mutex> lock(m);
        rtsChanges.push_back(rts);
    });
    peer->SetTransmitPaced(true);
    DCB dcb{};
    ASSERT_TRUE(GetCommState(port, &dcb));
    dcb.fRtsControl = RTS_CONTROL_TOGGLE;
    ASSERT_TRUE(SetCommState(port, &dcb));
    EXPECT_FALSE(peer->HostRTS());
    Overlapped ovl;
    if (!WriteFile(port, "485", 3, nullptr, &ovl)) {
        ASSERT_EQ(GetLastError(), DWORD(ERROR_IO_PENDING));
    }
    EXPECT_TRUE(peer->HostRTS());
    ASSERT_TRUE(FlushFileBuffers(port));
    EXPECT_FALSE(peer->HostRTS());
    EXPECT_EQ(peer->ReadExactly(3, 1000), "485");
    Sleep(50);
    std::lock_guard<std::mutex> lock(m);
    ASSERT_GE(rtsChanges.size(), 2u);
    EXPECT_TRUE(rtsChanges[rtsChanges.size() - 2]);
    EXPECT_FALSE(rtsChanges.back());
}

TEST(VirtualPortMap, RegistersUnderAFreeNameAndLeavesOnDestruction)
{
    std::u16string name;
    {
        VirtualPort a(u"COM1");
        VirtualPort b;
        name = b.ComName();
        EXPECT_NE(name, u"COM1");
        winapi_posix::PortMapEntry entry;
        ASSERT_TRUE(winapi_posix::FindPort(name, &entry));
        EXPECT_TRUE(entry.Virtual);
        EXPECT_EQ(entry.KernelName, b.KernelName());
        EXPECT_EQ(Narrow(entry.KernelName).rfind("\\Device\\nrVirtual", 0), 0u);
        HANDLE h = OpenPort(Narrow(name));
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        CloseHandle(h);
        EXPECT_FALSE(b.HostOpen());
    }
    winapi_posix::PortMapEntry entry;
    EXPECT_FALSE(winapi_posix::FindPort(name, &entry));
}

TEST(VirtualPortMap, PeerBytesWithoutAnOpenHostAreLost)
{
    VirtualPort peer(u"COM8");
    peer.Write("lost");
    HANDLE h = OpenPort("COM8");
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    COMSTAT stat{};
    ASSERT_TRUE(ClearCommError(h, nullptr, &stat));
    EXPECT_EQ(stat.cbInQue, 0u);
    CloseHandle(h);
}

}  // namespace
