// Thread message queues, message-only windows, timers and the desktop hooks.
#include <gtest/gtest.h>
#include <winapi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <future>
#include <thread>
#include <vector>

#include "platform/posix/desktop.h"

namespace {

using Clock = std::chrono::steady_clock;

TEST(ThreadMessages, PostFailsUntilTheTargetAsksForMessages)
{
    std::promise<DWORD> idPromise;
    std::promise<void> mayCreateQueue;
    std::promise<void> queueCreated;
    std::vector<WPARAM> received;
    std::thread target([&] {
        idPromise.set_value(GetCurrentThreadId());
        mayCreateQueue.get_future().wait();
        MSG m;
        PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE);
        queueCreated.set_value();
        while (GetMessageW(&m, nullptr, 0, 0) > 0) received.push_back(m.wParam);
    });
    DWORD id = idPromise.get_future().get();

    SetLastError(0);
    EXPECT_FALSE(PostThreadMessageW(id, WM_USER, 1, 0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_THREAD_ID));

    mayCreateQueue.set_value();
    queueCreated.get_future().wait();
    EXPECT_TRUE(PostThreadMessageW(id, WM_USER, 2, 0));
    EXPECT_TRUE(PostThreadMessageW(id, WM_USER, 3, 0));
    EXPECT_TRUE(PostThreadMessageW(id, WM_QUIT, 0, 0));
    target.join();
    EXPECT_EQ(received, (std::vector<WPARAM>{2, 3}));

    // The queue ended with its thread.
    EXPECT_FALSE(PostThreadMessageW(id, WM_USER, 4, 0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_THREAD_ID));
    EXPECT_FALSE(PostThreadMessageW(0xFFFFFFF0u, WM_USER, 0, 0));
}

TEST(ThreadMessages, RangeFilterLeavesOtherMessagesQueuedButQuitAlwaysComes)
{
    UINT registered = RegisterWindowMessageW(u"platformFilterTest");
    MSG m;
    PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE);
    DWORD self = GetCurrentThreadId();
    PostThreadMessageW(self, WM_USER + 5, 0, 0);
    PostThreadMessageW(self, registered, 7, 0);
    ASSERT_GT(GetMessageW(&m, nullptr, 0xC000, 0xFFFF), 0);
    EXPECT_EQ(m.message, registered);
    EXPECT_EQ(m.wParam, WPARAM(7));
    EXPECT_EQ(m.hwnd, nullptr);

    PostQuitMessage(3);
    // Quit is delivered only after the queued message, whatever the filter.
    ASSERT_TRUE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.message, UINT(WM_USER + 5));
    EXPECT_EQ(GetMessageW(&m, nullptr, 0xC000, 0xFFFF), FALSE);
    EXPECT_EQ(m.message, UINT(WM_QUIT));
    EXPECT_EQ(m.wParam, WPARAM(3));
    EXPECT_FALSE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
}

TEST(ThreadMessages, GetMessageBlocksWithoutPollingAndWakesOnPost)
{
    std::promise<DWORD> idPromise;
    std::atomic<long long> latencyMs{-1};
    Clock::time_point postedAt;
    std::thread target([&] {
        MSG m;
        PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE);
        idPromise.set_value(GetCurrentThreadId());
        if (GetMessageW(&m, nullptr, 0, 0) > 0)
            latencyMs = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - postedAt).count();
    });
    DWORD id = idPromise.get_future().get();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    postedAt = Clock::now();
    ASSERT_TRUE(PostThreadMessageW(id, WM_USER, 0, 0));
    target.join();
    EXPECT_GE(latencyMs.load(), 0);
    EXPECT_LT(latencyMs.load(), 100);
}

TEST(Windows, SendCallsTheProcedureAndDispatchDeliversPostedMessagesAndTimers)
{
    std::vector<UINT> seen;
    HWND w = winapi_posix::CreateMessageWindow([&](HWND, UINT msg, WPARAM wp, LPARAM) -> LRESULT {
        seen.push_back(msg);
        return LRESULT(wp + 1);
    });
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(IsWindow(w));
    EXPECT_EQ(SendMessageA(w, WM_CHAR, 'x', 1), LRESULT('x' + 1));
    EXPECT_EQ(SendMessageA(nullptr, WM_CHAR, 'x', 1), 0);  // no window: no effect

    ASSERT_TRUE(PostMessageW(w, WM_USER, 9, 0));
    MSG m;
    ASSERT_GT(GetMessageW(&m, nullptr, 0, 0), 0);
    EXPECT_EQ(m.hwnd, w);
    EXPECT_EQ(DispatchMessageW(&m), LRESULT(10));

    auto t0 = Clock::now();
    EXPECT_NE(SetTimer(w, 1, 20, nullptr), 0u);
    int ticks = 0;
    while (ticks < 3 && GetMessageW(&m, w, 0, 0) > 0) {
        if (m.message == WM_TIMER) {
            EXPECT_EQ(m.wParam, WPARAM(1));
            ++ticks;
        }
        DispatchMessageW(&m);
    }
    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
    EXPECT_GE(elapsed, 55);  // three periods of 20 ms
    EXPECT_LT(elapsed, 1000);
    EXPECT_TRUE(KillTimer(w, 1));
    EXPECT_FALSE(KillTimer(w, 1));
    Sleep(40);
    EXPECT_FALSE(PeekMessageW(&m, w, WM_TIMER, WM_TIMER, PM_REMOVE));

    EXPECT_TRUE(winapi_posix::DestroyMessageWindow(w));
    EXPECT_FALSE(IsWindow(w));
    SetLastError(0);
    EXPECT_EQ(SendMessageW(w, WM_USER, 0, 0), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_EQ(std::count(seen.begin(), seen.end(), UINT(WM_TIMER)), 3);
}

double ThreadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

TEST(Windows, TimerOutsideTheFilterDoesNotWakeTheWait)
{
    UINT registered = RegisterWindowMessageW(u"platformTimerFilter");
    HWND w = winapi_posix::CreateMessageWindow([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
    ASSERT_NE(SetTimer(w, 1, 10, nullptr), 0u);
    DWORD self = GetCurrentThreadId();
    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        PostThreadMessageW(self, registered, 1, 0);
    });
    double cpu0 = ThreadCpuMs();
    MSG m;
    ASSERT_GT(GetMessageW(&m, nullptr, 0xC000, 0xFFFF), 0);
    double cpu = ThreadCpuMs() - cpu0;
    poster.join();
    EXPECT_EQ(m.message, registered);
    EXPECT_LT(cpu, 50.0);  // an overdue timer the filter skips must not spin the wait
    // The timer was due all along and is still delivered to an unfiltered read.
    ASSERT_TRUE(PeekMessageW(&m, w, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.message, UINT(WM_TIMER));
    winapi_posix::DestroyMessageWindow(w);
}

TEST(Desktop, HeadlessDefaultsAndInstalledProvider)
{
    winapi_posix::ResetDesktopProvider();
    winapi_posix::ClearRecordedMessageBoxes();
    EXPECT_EQ(GetForegroundWindow(), nullptr);
    EXPECT_EQ(MessageBoxW(nullptr, u"error", u"Error", MB_ICONERROR), IDOK);
    auto boxes = winapi_posix::RecordedMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Text, u"error");
    EXPECT_EQ(boxes[0].Caption, u"Error");
    EXPECT_EQ(boxes[0].Type, UINT(MB_ICONERROR));

    COMMCONFIG cc{};
    cc.dwSize = sizeof cc;
    SetLastError(0);
    EXPECT_FALSE(CommConfigDialogW(u"COM1", nullptr, &cc));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CANCELLED));

    HWND fake = reinterpret_cast<HWND>(0x4242);
    winapi_posix::DesktopProvider p;
    p.ForegroundWindow = [&] { return fake; };
    p.CommConfigDialog = [](const std::u16string& port, HWND, void* config) {
        static_cast<COMMCONFIG*>(config)->dcb.BaudRate = port == u"COM7" ? 19200 : 0;
        return true;
    };
    winapi_posix::SetDesktopProvider(p);
    EXPECT_EQ(GetForegroundWindow(), fake);
    EXPECT_TRUE(CommConfigDialogW(u"COM7", fake, &cc));
    EXPECT_EQ(cc.dcb.BaudRate, 19200u);
    // MessageBox was not installed: still the headless answer.
    EXPECT_EQ(MessageBoxW(fake, u"q", u"c", MB_YESNO), IDYES);
    winapi_posix::ResetDesktopProvider();
    EXPECT_EQ(GetForegroundWindow(), nullptr);
}

}  // namespace
