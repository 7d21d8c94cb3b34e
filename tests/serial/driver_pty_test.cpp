// The serial driver on kernel ptys: opening, overlapped I/O, time-outs, comm
// events, line settings as the kernel sees them, device removal.
#include <sys/wait.h>

#include <cstring>

#include "platform/posix/handles.h"
#include "tests/serial/serial_test_util.h"

using namespace serial_test;

namespace {

::testing::Environment* const environment = ::testing::AddGlobalTestEnvironment(new PrivatePortMap);

class PtyPort : public ::testing::Test {
protected:
    void SetUp() override
    {
        unsetenv("SPECTRO_PORTS");
        MapPort("COM3", pty.path);
        port = OpenPort("COM3");
        ASSERT_NE(port, INVALID_HANDLE_VALUE) << GetLastError();
    }
    void TearDown() override
    {
        if (port != INVALID_HANDLE_VALUE) {
            EXPECT_TRUE(CloseHandle(port));
        }
    }
    Pty pty;
    HANDLE port = INVALID_HANDLE_VALUE;
};

TEST(PtyOpen, UnknownNameIsFileNotFoundAndComTenOpensLikeComThree)
{
    unsetenv("SPECTRO_PORTS");
    Pty a, b;
    MapPort("COM3", a.path);
    MapPort("COM10", b.path);
    SetLastError(0);
    EXPECT_EQ(OpenPort("COM4"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));

    for (const char* name : {"COM3", "COM10", "com10"}) {
        HANDLE h = OpenPort(name);
        ASSERT_NE(h, INVALID_HANDLE_VALUE) << name;
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(h, "hi", 2, &written, nullptr)) << name;
        EXPECT_EQ((name[3] == '3' ? a : b).Receive(2, 1000), "hi") << name;
        EXPECT_TRUE(CloseHandle(h));
    }
}

TEST(PtyOpen, SecondOpenIsDeniedInThisAndAnotherProcessAndFreedByClose)
{
    unsetenv("SPECTRO_PORTS");
    Pty pty;
    MapPort("COM3", pty.path);
    HANDLE first = OpenPort("COM3");
    ASSERT_NE(first, INVALID_HANDLE_VALUE);

    EXPECT_EQ(OpenPort("COM3"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));

    pid_t child = fork();
    if (child == 0) {
        HANDLE h = OpenPort("COM3");
        _exit(h == INVALID_HANDLE_VALUE ? static_cast<int>(GetLastError()) : 100);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), ERROR_ACCESS_DENIED);

    EXPECT_TRUE(CloseHandle(first));
    HANDLE again = OpenPort("COM3");
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    CloseHandle(again);
}

TEST_F(PtyPort, ClosedHandleIsInvalidAndNoHandleLeaks)
{
    size_t before = winapi_posix::OpenHandleCount();
    ASSERT_TRUE(CloseHandle(port));
    EXPECT_EQ(winapi_posix::OpenHandleCount(), before - 1);
    DCB dcb{};
    EXPECT_FALSE(GetCommState(port, &dcb));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(CloseHandle(port));
    port = INVALID_HANDLE_VALUE;
}

TEST_F(PtyPort, BytesBothWaysIncludingEveryByteValue)
{
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    all += "\r\n\x11\x13\xff\xff";
    pty.Send(all);
    std::string got(all.size(), '\0');
    Overlapped ovl;
    if (!ReadFile(port, got.data(), static_cast<DWORD>(got.size()), nullptr, &ovl)) {
        ASSERT_EQ(GetLastError(), DWORD(ERROR_IO_PENDING));
    }
    DWORD n = 0;
    ASSERT_TRUE(GetOverlappedResult(port, &ovl, &n, TRUE));
    EXPECT_EQ(n, all.size());
    EXPECT_EQ(got, all);

    DWORD written = 0;
    Overlapped wovl;
    BOOL done = WriteFile(port, all.data(), static_cast<DWORD>(all.size()), &written, &wovl);
    if (!done) {
        ASSERT_EQ(GetLastError(), DWORD(ERROR_IO_PENDING));
    }
    ASSERT_TRUE(GetOverlappedResult(port, &wovl, &written, TRUE));
    EXPECT_EQ(written, all.size());
    EXPECT_EQ(pty.Receive(all.size(), 2000), all);
}

TEST_F(PtyPort, AllZeroReadTimeoutsWaitForEveryRequestedByte)
{
    SetTimeouts(port, 0, 0, 0, 0, 0);
    char buffer[10] = {};
    Overlapped ovl;
    ASSERT_FALSE(ReadFile(port, buffer, 10, nullptr, &ovl));
    ASSERT_EQ(GetLastError(), DWORD(ERROR_IO_PENDING));
    pty.Send("abcd");
    EXPECT_FALSE(ovl.Signalled(200));
    DWORD n = 0;
    EXPECT_FALSE(GetOverlappedResult(port, &ovl, &n, FALSE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_IO_INCOMPLETE));
    pty.Send("efghij");
    ASSERT_TRUE(GetOverlappedResult(port, &ovl, &n, TRUE));
    EXPECT_EQ(n, 10u);
    EXPECT_EQ(std::string(buffer, 10), "abcdefghij");
}

TEST_F(PtyPort, ReadTimeoutModes)
{
    char buffer[16];
    DWORD n = 99;
    // MAXDWORD interval alone: at once with what is queued, even nothing.
    SetTimeouts(port, MAXDWORD, 0, 0, 0, 0);
    EXPECT_TRUE(ReadFile(port, buffer, sizeof buffer, &n, nullptr));
    EXPECT_EQ(n, 0u);
    pty.Send("xy");
    Sleep(50);
    EXPECT_TRUE(ReadFile(port, buffer, sizeof buffer, &n, nullptr));
    EXPECT_EQ(std::string(buffer, n), "xy");

    // Total time-out: multiplier x count + constant, then the bytes that came.
    SetTimeouts(port, 0, 10, 100, 0, 0);
    pty.Send("q");
    auto start = Clock::now();
    Overlapped ovl;
    if (!ReadFile(port, buffer, 10, nullptr, &ovl)) {
        ASSERT_EQ(GetLastError(), DWORD(ERROR_IO_PENDING));
    }
    ASSERT_TRUE(GetOverlappedResult(port, &ovl, &n, TRUE));
    long elapsed = MsSince(start);
    EXPECT_EQ(std::string(buffer, n), "q");
    EXPECT_GE(elapsed, 190);
    EXPECT_LT(elapsed, 600);

    // MAXDWORD, MAXDWORD, constant: returns as soon as a byte arrives.
    SetTimeouts(port, MAXDWORD, MAXDWORD, 2000, 0, 0);
    start = Clock::now();
    ASSERT_FALSE(ReadFile(port, buffer, 10, nullptr, &ovl));
    ASSERT_EQ(GetLastError(), DWORD(ERROR_IO_PENDING));
    Sleep(50);
    pty.Send("z");
    ASSERT_TRUE(GetOverlappedResult(port, &ovl, &n, TRUE));
    EXPECT_EQ(std::string(buffer, n), "z");
    EXPECT_LT(MsSince(start), 1000);

    // Interval time-out ends a read once the line goes quiet after a byte.
    SetTimeouts(port, 50, 0, 0, 0, 0);
    ASSERT_FALSE(ReadFile(port, buffer, 10, nullptr, &ovl));
    pty.Send("ab");
    start = Clock::now();
    ASSERT_TRUE(GetOverlappedResult(port, &ovl, &n, TRUE));
    EXPECT_EQ(std::string(buffer, n), "ab");
    EXPECT_LT(MsSince(start), 1000);
}

TEST_F(PtyPort, PurgeAbortsPendingReadWithOperationAborted)
{
    char buffer[4];
    Overlapped ovl;
    ASSERT_FALSE(ReadFile(port, buffer, 4, nullptr, &ovl));
    ASSERT_EQ(GetLastError(), DWORD(ERROR_IO_PENDING));
    ASSERT_TRUE(PurgeComm(port, PURGE_RXABORT | PURGE_RXCLEAR));
    EXPECT_TRUE(ovl.Signalled(1000));
    DWORD n = 0;
    EXPECT_FALSE(GetOverlappedResult(port, &ovl, &n, TRUE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_OPERATION_ABORTED));
}

TEST_F(PtyPort, PurgeClearsQueuedInput)
{
    pty.Send("old");
    Sleep(50);
    COMSTAT stat{};
    DWORD errors = 0;
    ASSERT_TRUE(ClearCommError(port, &errors, &stat));
    EXPECT_EQ(stat.cbInQue, 3u);
    ASSERT_TRUE(PurgeComm(port, PURGE_RXCLEAR));
    ASSERT_TRUE(ClearCommError(port, &errors, &stat));
    EXPECT_EQ(stat.cbInQue, 0u);
}

TEST_F(PtyPort, CancelIoCancelsOnlyTheCallingThreadsRequests)
{
    char mine[4], theirs[4];
    Overlapped mineOvl, theirsOvl;
    ASSERT_FALSE(ReadFile(port, mine, 4, nullptr, &mineOvl));
    std::thread other([&] { EXPECT_FALSE(ReadFile(port, theirs, 4, nullptr, &theirsOvl)); });
    other.join();
    std::thread canceller([&] { EXPECT_TRUE(CancelIo(port)); });
    canceller.join();  // a thread without requests cancels nothing
    EXPECT_FALSE(mineOvl.Signalled(100));
    ASSERT_TRUE(CancelIo(port));
    DWORD n;
    EXPECT_FALSE(GetOverlappedResult(port, &mineOvl, &n, TRUE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_OPERATION_ABORTED));
    EXPECT_FALSE(theirsOvl.Signalled(50));
    pty.Send("1234");
    ASSERT_TRUE(GetOverlappedResult(port, &theirsOvl, &n, TRUE));
    EXPECT_EQ(std::string(theirs, 4), "1234");
}

TEST_F(PtyPort, WaitCommEventDeliversRxCharRxFlagAndTxEmpty)
{
    DCB dcb{};
    ASSERT_TRUE(GetCommState(port, &dcb));
    dcb.EvtChar = '\n';
    ASSERT_TRUE(SetCommState(port, &dcb));
    ASSERT_TRUE(SetCommMask(port, EV_RXCHAR | EV_RXFLAG | EV_TXEMPTY));
    DWORD mask;
    Overlapped ovl;
    ASSERT_TRUE(StartWait(port, &mask, ovl));
    EXPECT_FALSE(ovl.Signalled(50));
    pty.Send("x");
    EXPECT_TRUE(ovl.Signalled(1000));
    EXPECT_EQ(FinishWait(port, &mask, ovl), DWORD(EV_RXCHAR));

    ASSERT_TRUE(PurgeComm(port, PURGE_RXCLEAR));
    ASSERT_TRUE(StartWait(port, &mask, ovl));
    pty.Send("line\n");
    EXPECT_NE(FinishWait(port, &mask, ovl) & EV_RXFLAG, 0u);

    // Events that come while no wait is pending are kept for the next wait.
    pty.Send("more");
    Sleep(50);
    EXPECT_TRUE(WaitCommEvent(port, &mask, &ovl));
    EXPECT_EQ(mask, DWORD(EV_RXCHAR));

    DWORD written;
    Overlapped wovl;
    ASSERT_TRUE(PurgeComm(port, PURGE_RXCLEAR));
    ASSERT_TRUE(SetCommMask(port, EV_TXEMPTY));
    ASSERT_TRUE(StartWait(port, &mask, ovl));
    if (!WriteFile(port, "out", 3, &written, &wovl)) {
        ASSERT_EQ(GetLastError(), DWORD(ERROR_IO_PENDING));
    }
    EXPECT_EQ(FinishWait(port, &mask, ovl), DWORD(EV_TXEMPTY));
    EXPECT_EQ(pty.Receive(3, 1000), "out");
}

TEST_F(PtyPort, SetCommMaskCompletesPendingWaitWithEmptyMask)
{
    ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
    DWORD mask;
    Overlapped ovl;
    ASSERT_TRUE(StartWait(port, &mask, ovl));
    DWORD second;
    Overlapped ovl2;
    EXPECT_FALSE(WaitCommEvent(port, &second, &ovl2));  // one wait at a time
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    ASSERT_TRUE(SetCommMask(port, EV_RXCHAR | EV_TXEMPTY));
    EXPECT_TRUE(ovl.Signalled(1000));
    EXPECT_EQ(FinishWait(port, &mask, ovl), 0u);

    ASSERT_TRUE(SetCommMask(port, 0));
    EXPECT_FALSE(WaitCommEvent(port, &mask, &ovl));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

TEST_F(PtyPort, MasterClosedFailsPendingAndLaterCallsWithAccessDenied)
{
    ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
    DWORD mask;
    Overlapped ovl;
    ASSERT_TRUE(StartWait(port, &mask, ovl));
    close(pty.slave);  // only the driver holds the slave now
    pty.slave = -1;
    pty.CloseMaster();
    DWORD error = 0;
    EXPECT_TRUE(ovl.Signalled(2000));
    EXPECT_EQ(FinishWait(port, &mask, ovl, &error), 0xFFFFFFFF);
    EXPECT_EQ(error, DWORD(ERROR_ACCESS_DENIED));

    char buffer[4];
    Overlapped rovl;
    EXPECT_FALSE(ReadFile(port, buffer, 4, nullptr, &rovl));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(WriteFile(port, "x", 1, nullptr, &rovl));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(WaitCommEvent(port, &mask, &ovl));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
}

TEST_F(PtyPort, CloseHandleAbortsPendingIo)
{
    char buffer[4];
    Overlapped rovl, wovl;
    DWORD mask;
    ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
    ASSERT_TRUE(StartWait(port, &mask, wovl));
    ASSERT_FALSE(ReadFile(port, buffer, 4, nullptr, &rovl));
    ASSERT_TRUE(CloseHandle(port));
    DWORD n;
    EXPECT_FALSE(GetOverlappedResult(port, &rovl, &n, TRUE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_OPERATION_ABORTED));
    EXPECT_FALSE(GetOverlappedResult(port, &wovl, &n, TRUE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_OPERATION_ABORTED));
    port = INVALID_HANDLE_VALUE;
}

TEST_F(PtyPort, SetCommStateIsWhatTheKernelSees)
{
    struct Case {
        DWORD baud;
        BYTE bits, parity, stop;
        speed_t speed;
        tcflag_t parityFlags;
        bool twoStop;
    } cases[] = {
        {19200, 7, EVENPARITY, TWOSTOPBITS, B19200, PARENB, true},
        {1200, 7, NOPARITY, ONESTOPBIT, B1200, 0, false},
        {115200, 8, ODDPARITY, ONESTOPBIT, B115200, PARENB | PARODD, false},
        {9600, 6, MARKPARITY, ONESTOPBIT, B9600, PARENB | PARODD | CMSPAR, false},
        {4800, 5, SPACEPARITY, ONE5STOPBITS, B4800, PARENB | CMSPAR, true},
    };
    for (const Case& c : cases) {
        DCB dcb{};
        ASSERT_TRUE(GetCommState(port, &dcb));
        dcb.BaudRate = c.baud;
        dcb.ByteSize = c.bits;
        dcb.Parity = c.parity;
        dcb.StopBits = c.stop;
        dcb.fOutxCtsFlow = 1;
        dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
        ASSERT_TRUE(SetCommState(port, &dcb)) << c.baud;
        struct termios t;
        ASSERT_EQ(tcgetattr(pty.slave, &t), 0);
        EXPECT_EQ(cfgetospeed(&t), c.speed) << c.baud;
        // The pty driver forces CS8 and clears PARENB whatever it is given; the
        // parity kind (PARODD, CMSPAR) and everything else it keeps.
        EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8)) << c.baud;
        EXPECT_EQ(t.c_cflag & (PARODD | CMSPAR), c.parityFlags & (PARODD | CMSPAR)) << c.baud;
        EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.twoStop) << c.baud;
        EXPECT_NE(t.c_cflag & CRTSCTS, 0u);
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u) << "raw";
        EXPECT_EQ(t.c_oflag & OPOST, 0u) << "raw";
        DCB back{};
        ASSERT_TRUE(GetCommState(port, &back));
        EXPECT_EQ(back.BaudRate, c.baud);
        EXPECT_EQ(back.ByteSize, c.bits);
        EXPECT_EQ(back.Parity, c.parity);
        EXPECT_EQ(back.StopBits, c.stop);
    }

    // A rate without a B constant goes through termios2.
    DCB dcb{};
    ASSERT_TRUE(GetCommState(port, &dcb));
    dcb.BaudRate = 250000;
    dcb.fOutxCtsFlow = 0;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    ASSERT_TRUE(SetCommState(port, &dcb));
    struct termios t;
    ASSERT_EQ(tcgetattr(pty.slave, &t), 0);
    EXPECT_EQ(t.c_cflag & CBAUD, tcflag_t(0010000));  // BOTHER
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);

    dcb.fOutX = dcb.fInX = 1;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    ASSERT_TRUE(SetCommState(port, &dcb));
    ASSERT_EQ(tcgetattr(pty.slave, &t), 0);
    EXPECT_NE(t.c_iflag & IXON, 0u);
    EXPECT_NE(t.c_iflag & IXOFF, 0u);
}

TEST_F(PtyPort, InvalidDcbIsRejectedAndChangesNothing)
{
    DCB good{};
    ASSERT_TRUE(GetCommState(port, &good));
    auto rejected = [&](auto change) {
        DCB dcb = good;
        change(dcb);
        SetLastError(0);
        bool ok = SetCommState(port, &dcb);
        return !ok && GetLastError() == ERROR_INVALID_PARAMETER;
    };
    EXPECT_TRUE(rejected([](DCB& d) { d.ByteSize = 4; }));
    EXPECT_TRUE(rejected([](DCB& d) { d.ByteSize = 9; }));
    EXPECT_TRUE(rejected([](DCB& d) { d.Parity = 5; }));
    EXPECT_TRUE(rejected([](DCB& d) { d.StopBits = 3; }));
    EXPECT_TRUE(rejected([](DCB& d) { d.ByteSize = 8, d.StopBits = ONE5STOPBITS; }));
    EXPECT_TRUE(rejected([](DCB& d) { d.ByteSize = 5, d.StopBits = TWOSTOPBITS; }));
    EXPECT_TRUE(rejected([](DCB& d) { d.BaudRate = 0; }));
    EXPECT_TRUE(rejected([](DCB& d) { d.fOutX = 1, d.XonChar = d.XoffChar = 0x11; }));
    DCB after{};
    ASSERT_TRUE(GetCommState(port, &after));
    EXPECT_EQ(std::memcmp(&after, &good, sizeof good), 0);
}

TEST_F(PtyPort, PtyHasNoModemLinesButLineCallsSucceed)
{
    DWORD status = 0xFF;
    ASSERT_TRUE(GetCommModemStatus(port, &status));
    EXPECT_EQ(status, 0u);
    for (DWORD f : {SETDTR, CLRDTR, SETRTS, CLRRTS, SETBREAK, CLRBREAK}) EXPECT_TRUE(EscapeCommFunction(port, f)) << f;
    EXPECT_FALSE(EscapeCommFunction(port, 77));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

TEST_F(PtyPort, XoffHoldsOutputUntilXon)
{
    ASSERT_TRUE(EscapeCommFunction(port, SETXOFF));
    DWORD written;
    Overlapped ovl;
    if (!WriteFile(port, "held", 4, &written, &ovl)) {
        ASSERT_EQ(GetLastError(), DWORD(ERROR_IO_PENDING));
    }
    EXPECT_EQ(pty.Receive(4, 150), "");
    COMSTAT stat{};
    ASSERT_TRUE(ClearCommError(port, nullptr, &stat));
    EXPECT_TRUE(stat.fXoffHold);
    ASSERT_TRUE(EscapeCommFunction(port, SETXON));
    EXPECT_EQ(pty.Receive(4, 1000), "held");
    ASSERT_TRUE(GetOverlappedResult(port, &ovl, &written, TRUE));
}

TEST_F(PtyPort, FlushFileBuffersReturnsWhenOutputLeftAndTransmitCommChar)
{
    std::string block(20000, 'b');  // more than the pty buffer takes at once
    Overlapped ovl;
    DWORD written = 0;
    if (!WriteFile(port, block.data(), static_cast<DWORD>(block.size()), &written, &ovl)) {
        ASSERT_EQ(GetLastError(), DWORD(ERROR_IO_PENDING));
    }
    std::string received;
    std::thread reader([&] {
        Sleep(100);
        received = pty.Receive(block.size(), 3000);
    });
    EXPECT_TRUE(FlushFileBuffers(port));
    COMSTAT stat{};
    ASSERT_TRUE(ClearCommError(port, nullptr, &stat));
    EXPECT_EQ(stat.cbOutQue, 0u);
    reader.join();
    EXPECT_EQ(received.size(), block.size());
    ASSERT_TRUE(GetOverlappedResult(port, &ovl, &written, TRUE));
    EXPECT_EQ(written, block.size());

    EXPECT_TRUE(TransmitCommChar(port, '!'));
    EXPECT_EQ(pty.Receive(1, 1000), "!");
}

TEST_F(PtyPort, ConfigPropertiesAndDefaults)
{
    COMMCONFIG cc{};
    DWORD size = 10;
    EXPECT_FALSE(GetCommConfig(port, &cc, &size));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(size, sizeof(COMMCONFIG));
    ASSERT_TRUE(GetCommConfig(port, &cc, &size));
    EXPECT_EQ(cc.dwSize, 52u);
    EXPECT_EQ(cc.wVersion, 1);
    EXPECT_EQ(cc.dwProviderSubType, DWORD(PST_RS232));
    EXPECT_EQ(cc.dcb.DCBlength, 28u);

    COMMCONFIG def{};
    size = 10;
    EXPECT_FALSE(GetDefaultCommConfigW(u"COM3", &def, &size));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(size, sizeof(COMMCONFIG));
    ASSERT_TRUE(GetDefaultCommConfigW(u"COM3", &def, &size));
    EXPECT_EQ(def.dwSize, 52u);
    EXPECT_EQ(def.wVersion, 1);
    EXPECT_EQ(def.dwProviderSubType, DWORD(PST_RS232));
    EXPECT_EQ(def.dcb.DCBlength, sizeof(DCB));
    EXPECT_EQ(def.dcb.BaudRate, 9600u);
    EXPECT_EQ(def.dcb.ByteSize, 8);
    EXPECT_EQ(def.dcb.Parity, NOPARITY);
    EXPECT_EQ(def.dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(def.dcb.fBinary, 1u);
    EXPECT_EQ(def.dcb.fDtrControl, DWORD(DTR_CONTROL_ENABLE));
    EXPECT_EQ(def.dcb.fRtsControl, DWORD(RTS_CONTROL_ENABLE));
    EXPECT_EQ(def.dcb.fOutxCtsFlow | def.dcb.fOutX | def.dcb.fInX, 0u);  // no flow control
    EXPECT_EQ(def.dcb.XonChar, 0x11);
    EXPECT_EQ(def.dcb.XoffChar, 0x13);
    EXPECT_FALSE(GetDefaultCommConfigW(u"COM77", &def, &size));

    COMMPROP prop{};
    ASSERT_TRUE(GetCommProperties(port, &prop));
    EXPECT_EQ(prop.dwProvSubType, DWORD(PST_RS232));
    EXPECT_NE(prop.dwSettableBaud & BAUD_USER, 0u);
    ASSERT_TRUE(SetupComm(port, 100000, 4096));
    ASSERT_TRUE(GetCommProperties(port, &prop));
    EXPECT_GE(prop.dwCurrentRxQueue, 100000u);

    COMMTIMEOUTS t{1, 2, 3, 4, 5}, back{};
    ASSERT_TRUE(SetCommTimeouts(port, &t));
    ASSERT_TRUE(GetCommTimeouts(port, &back));
    EXPECT_EQ(std::memcmp(&t, &back, sizeof t), 0);
}

TEST(PtyRestore, CloseRestoresTheOriginalTermios)
{
    unsetenv("SPECTRO_PORTS");
    Pty pty;
    struct termios before;
    ASSERT_EQ(tcgetattr(pty.slave, &before), 0);
    before.c_lflag |= ICANON | ECHO;
    before.c_cflag |= HUPCL;
    ASSERT_EQ(tcsetattr(pty.slave, TCSANOW, &before), 0);
    MapPort("COM3", pty.path);
    HANDLE port = OpenPort("COM3");
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    struct termios during;
    ASSERT_EQ(tcgetattr(pty.slave, &during), 0);
    EXPECT_EQ(during.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_EQ(during.c_cflag & HUPCL, 0u);
    ASSERT_TRUE(CloseHandle(port));
    struct termios after;
    ASSERT_EQ(tcgetattr(pty.slave, &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
}

}  // namespace
