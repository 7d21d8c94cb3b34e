// Behaviour the library relies on from <winapi.h>, whichever system provides it.
#include <gtest/gtest.h>
#include <winapi.h>

#include <atomic>
#include <string>
#include <thread>

#include "tests/wine_differences.h"

#ifdef _WIN32
#define W(s) L##s
#else
#define W(s) u##s
#endif

namespace {

std::basic_string<WCHAR> SystemText(DWORD code)
{
    WCHAR* buffer = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                                 FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                             nullptr, code, 0, reinterpret_cast<WCHAR*>(&buffer), 0, nullptr);
    std::basic_string<WCHAR> text(buffer ? buffer : W(""), n);
    LocalFree(buffer);
    return text;
}

TEST(Portable, SystemTextsEndWithFullStopAndCrLf)
{
    const auto denied = SystemText(ERROR_ACCESS_DENIED);
    const auto aborted = SystemText(ERROR_OPERATION_ABORTED);
    const auto notFound = SystemText(ERROR_FILE_NOT_FOUND);
    if (wine_differences::SystemTextsAsWindows()) {
        EXPECT_EQ(denied, W("Access is denied.\r\n"));
        EXPECT_EQ(
            aborted,
            W("The I/O operation has been aborted because of either a thread exit or an application request.\r\n"));
        EXPECT_EQ(notFound, W("The system cannot find the file specified.\r\n"));
    }
    for (const auto& text : {denied, aborted, notFound}) {
        ASSERT_GT(text.size(), 3u);
        EXPECT_EQ(text.substr(text.size() - 3), W(".\r\n"));
    }
}

TEST(Portable, AutoResetEventReleasesOneWaitAndTimesOut)
{
    HANDLE e = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(WaitForSingleObject(e, 0), DWORD(WAIT_TIMEOUT));
    ASSERT_TRUE(SetEvent(e));
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(e, 20), DWORD(WAIT_TIMEOUT));  // consumed by the first wait
    EXPECT_TRUE(CloseHandle(e));
}

TEST(Portable, RegisteredMessagesAreSharedByName)
{
    UINT a = RegisterWindowMessageW(W("platformTestMessage"));
    UINT b = RegisterWindowMessageW(W("PLATFORMTESTMESSAGE"));
    EXPECT_EQ(a, b);
    EXPECT_GE(a, 0xC000u);
    EXPECT_LE(a, 0xFFFFu);
    EXPECT_NE(a, RegisterWindowMessageW(W("platformTestOther")));
}

TEST(Portable, ThreadMessageReachesQueueCreatedByPeek)
{
    UINT msg = RegisterWindowMessageW(W("platformTestPost"));
    std::atomic<DWORD> id{0};
    std::atomic<bool> ready{false};
    WPARAM got = 0;
    std::thread receiver([&] {
        MSG m;
        PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE);  // creates the queue
        id = GetCurrentThreadId();
        ready = true;
        if (GetMessageW(&m, nullptr, 0xC000, 0xFFFF) > 0) got = m.wParam;
    });
    while (!ready) std::this_thread::yield();
    EXPECT_TRUE(PostThreadMessageW(id, msg, 42, 0));
    receiver.join();
    EXPECT_EQ(got, WPARAM(42));
}

}  // namespace
