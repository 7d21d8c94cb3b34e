// The device-file utilities over the driver, on virtual ports.
#include "comm/utilities/utilities.h"

#include <cstring>

#include "platform/posix/modules.h"
#include "platform/posix/virtual_port.h"
#include "tests/serial/serial_test_util.h"
#include "tests/support/device_file_fixture.h"

using namespace serial_test;
using winapi_posix::VirtualPort;

namespace {

::testing::Environment* const environment = ::testing::AddGlobalTestEnvironment(new PrivatePortMap);

class DeviceFile : public TDeviceFileFixture {
protected:
    void SetUp() override
    {
        peer = std::make_unique<VirtualPort>(u"COM10");
        OpenPort(u"COM10");
    }
    std::unique_ptr<VirtualPort> peer;
};

TEST_F(DeviceFile, SecondOpenFailsWithAccessDeniedAndItsTextWithoutFullStop)
{
    SetLastError(0);
    EXPECT_EQ(OpenDeviceFile(u"COM10"), INVALID_HANDLE_VALUE);
    ASSERT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    UnicodeString text = LastErrorText();
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.back(), u'.');
    EXPECT_GT(text.back(), u' ');

    LPWSTR raw = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   ERROR_ACCESS_DENIED, 0, reinterpret_cast<LPWSTR>(&raw), 0, nullptr);
    ASSERT_NE(raw, nullptr);
    UnicodeString system(reinterpret_cast<const char16_t*>(raw));
    LocalFree(raw);
    EXPECT_EQ(system.compare(0, text.size(), text), 0) << "a prefix of the system text";

    SetLastError(0x7FFF0000);  // no text for that code
    EXPECT_EQ(LastErrorText(), u"");
    SetLastError(0);
    EXPECT_EQ(OpenDeviceFile(u"COM99"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
}

TEST_F(DeviceFile, ImmediateCompletionIsTrueWhateverTheLastErrorWasAndKeepsTheEvent)
{
    OVERLAPPED ovl = Record(event);
    SetLastError(ERROR_GEN_FAILURE);
    EXPECT_TRUE(WriteFileWait(port, "abc", 3, &ovl));
    EXPECT_EQ(ovl.hEvent, event);
    EXPECT_EQ(ovl.Offset, 0u);
    EXPECT_EQ(ovl.OffsetHigh, 0u);
    EXPECT_EQ(ovl.InternalHigh, 3u);
    EXPECT_EQ(peer->ReadExactly(3, 1000), "abc");

    peer->Write("xyz");
    Sleep(30);
    char buffer[3];
    ovl = Record(event);
    SetLastError(ERROR_GEN_FAILURE);
    EXPECT_TRUE(ReadFileWait(port, buffer, 3, &ovl));
    EXPECT_EQ(std::string(buffer, 3), "xyz");
    EXPECT_EQ(ovl.hEvent, event);
}

TEST_F(DeviceFile, ReadFileWaitWaitsForPendingReadAndFailsWhenPurged)
{
    char buffer[4];
    OVERLAPPED ovl = Record(event);
    std::thread writer([&] {
        Sleep(100);
        peer->Write("late");
    });
    EXPECT_TRUE(ReadFileWait(port, buffer, 4, &ovl));
    writer.join();
    EXPECT_EQ(std::string(buffer, 4), "late");

    ExpectPurgeEndsReadWait(&ovl);
    EXPECT_EQ(ovl.hEvent, event);
}

TEST_F(DeviceFile, WriteFileAsyncIsTrueWhilePendingAndCompletesWithoutAnEvent)
{
    peer->SetTransmitStalled(true);
    OVERLAPPED ovl = Record(nullptr);  // the non-waiting record has no event
    EXPECT_TRUE(WriteFileAsync(port, "async", 5, &ovl));
    EXPECT_EQ(ovl.Internal, ULONG_PTR(0x103)) << "still pending";
    EXPECT_EQ(peer->ReadAvailable(), "");
    peer->SetTransmitStalled(false);
    DWORD n = 0;
    ASSERT_TRUE(GetOverlappedResult(port, &ovl, &n, TRUE));
    EXPECT_EQ(n, 5u);
    EXPECT_EQ(ovl.hEvent, nullptr);
    EXPECT_EQ(peer->ReadExactly(5, 1000), "async");

    // An immediate failure is false; the reason stays in the last error.
    peer->Remove();
    ovl = Record(nullptr);
    EXPECT_FALSE(WriteFileAsync(port, "x", 1, &ovl));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
}

TEST_F(DeviceFile, WaitOverlappedResultReportsAnOutrightFailure)
{
    OVERLAPPED ovl = Record(event);
    DWORD transferred = 5, code = 0;
    SetLastError(ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(WaitOverlappedResult(port, &ovl, transferred, code));
    EXPECT_EQ(code, DWORD(ERROR_INVALID_PARAMETER));
}

TEST_F(DeviceFile, CancelDeviceIoCancelsThisThreadsReadAndIsFalseWithoutCancelIo)
{
    char buffer[4];
    OVERLAPPED ovl = Record(event);
    std::memset(&ovl, 0, 16);
    ASSERT_FALSE(ReadFile(port, buffer, 4, nullptr, &ovl));
    EXPECT_TRUE(CancelDeviceIo(port));
    DWORD n;
    EXPECT_FALSE(GetOverlappedResult(port, &ovl, &n, TRUE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_OPERATION_ABORTED));

    winapi_posix::SetEntryPointMissingForTesting(u"kernel32.dll", "CancelIo", true);
    ASSERT_FALSE(ReadFile(port, buffer, 4, nullptr, &ovl));
    EXPECT_FALSE(CancelDeviceIo(port));
    EXPECT_FALSE(WaitForSingleObject(event, 50) == WAIT_OBJECT_0) << "nothing was cancelled";
    winapi_posix::ResetModuleHooksForTesting();
    EXPECT_TRUE(CancelDeviceIo(port));
    EXPECT_FALSE(GetOverlappedResult(port, &ovl, &n, TRUE));
}

TEST(DeviceFileWindow, ForegroundWindowIsNullWithoutADesktop) { EXPECT_EQ(ForegroundWindowHandle(), nullptr); }

}  // namespace
