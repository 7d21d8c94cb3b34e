// The device-file utilities against the real kernel32 (Wine here), on COM51:
// a kernel pty whose master the test's peer holds.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "comm/utilities/utilities.h"
#include "tests/support/device_file_fixture.h"
#include "tests/wine/pty_peer.h"
#include "tests/wine_differences.h"

namespace {

class WineDeviceFile : public TDeviceFileFixture {
protected:
    void SetUp() override
    {
        ASSERT_EQ(peer.Start(51), "");
        OpenPort(u"COM51");
    }
    void SetReadTimeouts(DWORD Multiplier, DWORD Constant)
    {
        COMMTIMEOUTS t{};
        t.ReadTotalTimeoutMultiplier = Multiplier;
        t.ReadTotalTimeoutConstant = Constant;
        t.WriteTotalTimeoutMultiplier = 100;
        ASSERT_TRUE(SetCommTimeouts(port, &t));
    }
    // Starts an overlapped one-byte read that stays pending (nothing to read).
    void StartPendingRead(char* buffer, OVERLAPPED* ovl)
    {
        *ovl = OVERLAPPED{};
        ovl->hEvent = event;
        ASSERT_FALSE(ReadFile(port, buffer, 1, nullptr, ovl));
        ASSERT_EQ(GetLastError(), DWORD(ERROR_IO_PENDING));
    }
    TPtyPeer peer;
};

}  // namespace

TEST_F(WineDeviceFile, OpensOverlappedAndExclusiveAndAMissingPortIsNotFound)
{
    // Overlapped: a read with nothing to read is pending instead of blocking.
    char buffer[1];
    OVERLAPPED ovl;
    ASSERT_NO_FATAL_FAILURE(StartPendingRead(buffer, &ovl));
    ASSERT_TRUE(peer.Write("x"));
    DWORD n = 0;
    EXPECT_TRUE(GetOverlappedResult(port, &ovl, &n, TRUE));
    EXPECT_EQ(n, 1u);

    if (wine_differences::ShareModeZeroIsExclusive()) {
        EXPECT_EQ(OpenDeviceFile(u"COM51"), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    }
    SetLastError(0);
    EXPECT_EQ(OpenDeviceFile(u"COM48"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(LastErrorText().empty());
}

TEST_F(WineDeviceFile, WriteAndReadWaitMoveExactlyTheBytesAndKeepTheEvent)
{
    SetReadTimeouts(0, 0);  // a read waits for every byte
    OVERLAPPED ovl = Record(event);
    SetLastError(ERROR_GEN_FAILURE);
    EXPECT_TRUE(WriteFileWait(port, "t\r\n", 3, &ovl));
    EXPECT_EQ(ovl.hEvent, event);
    EXPECT_EQ(ovl.Offset, 0u);
    EXPECT_EQ(ovl.OffsetHigh, 0u);
    EXPECT_EQ(peer.Read(4, 500), "t\r\n");

    std::thread writer([&] {
        Sleep(100);
        peer.Write("la");
        Sleep(50);
        peer.Write("te");
    });
    char buffer[4];
    ovl = Record(event);
    EXPECT_TRUE(ReadFileWait(port, buffer, 4, &ovl));
    writer.join();
    EXPECT_EQ(std::string(buffer, 4), "late");
    EXPECT_EQ(ovl.hEvent, event);
    EXPECT_EQ(ovl.InternalHigh, 4u);
}

TEST_F(WineDeviceFile, AReadEndsAtItsTotalTimeOutWithWhatCame)
{
    SetReadTimeouts(10, 300);  // 4 bytes: 340 ms in all
    ASSERT_TRUE(peer.Write("ab"));
    char buffer[4];
    OVERLAPPED ovl = Record(event);
    const DWORD start = GetTickCount();
    EXPECT_TRUE(ReadFileWait(port, buffer, 4, &ovl));
    const DWORD took = GetTickCount() - start;
    EXPECT_EQ(ovl.InternalHigh, 2u);
    EXPECT_EQ(std::string(buffer, 2), "ab");
    EXPECT_GE(took, 250u);
    EXPECT_LT(took, 5000u);
    if (wine_differences::TotalTimeOutEndsAnEmptyRead()) {
        ovl = Record(event);
        EXPECT_TRUE(ReadFileWait(port, buffer, 4, &ovl));
        EXPECT_EQ(ovl.InternalHigh, 0u);
    }
}

TEST_F(WineDeviceFile, CancelDeviceIoAbortsThisThreadsPendingRead)
{
    char buffer[4];
    OVERLAPPED ovl;
    DWORD n = 0;
    ASSERT_NO_FATAL_FAILURE(StartPendingRead(buffer, &ovl));
    EXPECT_TRUE(CancelDeviceIo(port));
    EXPECT_FALSE(GetOverlappedResult(port, &ovl, &n, TRUE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_OPERATION_ABORTED));

    if (wine_differences::PurgeAbortsAPendingRead()) {
        ExpectPurgeEndsReadWait(&ovl);
    }
}

TEST_F(WineDeviceFile, WaitOverlappedDoneWaitsForTheRequestNotForAStraySignal)
{
    char buffer[1];
    OVERLAPPED ovl;
    ASSERT_NO_FATAL_FAILURE(StartPendingRead(buffer, &ovl));
    SetEvent(event);  // as a terminate request signals the record's event
    std::thread writer([&] {
        Sleep(300);
        peer.Write("x");
    });
    WaitOverlappedDone(port, &ovl);
    const bool done = HasOverlappedIoCompleted(&ovl);
    writer.join();
    EXPECT_TRUE(done) << "returned while the request was still pending";
    DWORD n = 0;
    EXPECT_TRUE(GetOverlappedResult(port, &ovl, &n, FALSE));
    EXPECT_EQ(n, 1u);
}
