// Handles, last error, events and waits of the POSIX kernel32 core.
#include <gtest/gtest.h>
#include <winapi.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/posix/handles.h"

namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

// Waits until `n` threads sit in a wait on the event (there is no way to ask,
// so give them time after they announced themselves).
void LetThreadsBlock(std::atomic<int>& started, int n)
{
    while (started.load() < n) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
}

TEST(Handles, ClosedOrUnknownHandlesReportInvalidHandle)
{
    const std::size_t before = winapi_posix::OpenHandleCount();
    HANDLE e = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(winapi_posix::OpenHandleCount(), before + 1);
    EXPECT_TRUE(CloseHandle(e));
    EXPECT_EQ(winapi_posix::OpenHandleCount(), before);

    for (HANDLE bad : {e, INVALID_HANDLE_VALUE, static_cast<HANDLE>(nullptr), reinterpret_cast<HANDLE>(0x12345)}) {
        SetLastError(0);
        EXPECT_FALSE(CloseHandle(bad));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
        SetLastError(0);
        EXPECT_FALSE(SetEvent(bad));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
        SetLastError(0);
        EXPECT_FALSE(PulseEvent(bad));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
        SetLastError(0);
        EXPECT_FALSE(ResetEvent(bad));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
        SetLastError(0);
        EXPECT_EQ(WaitForSingleObject(bad, 0), WAIT_FAILED);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    }
    // A new handle never reuses the value of a closed one.
    HANDLE again = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_NE(again, e);
    CloseHandle(again);
}

TEST(Handles, LastErrorIsPerThreadAndKeptBySuccessfulCalls)
{
    SetLastError(ERROR_ACCESS_DENIED);
    DWORD other = 0;
    std::thread([&] {
        SetLastError(ERROR_IO_PENDING);
        other = GetLastError();
    }).join();
    EXPECT_EQ(other, DWORD(ERROR_IO_PENDING));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));

    // Cleanup after a failure must not hide the failure's reason.
    HANDLE e = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    SetLastError(ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(CloseHandle(e));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
}

struct Probe : winapi_posix::KernelObject {
    int* closes;
    explicit Probe(int* c) : closes(c) {}
    void OnClose() override
    {
        ++*closes;
        SetLastError(ERROR_GEN_FAILURE);  // must not leak out of CloseHandle
    }
};

TEST(Handles, CloseCallsOnCloseOnceAndLookupAsChecksTheType)
{
    int closes = 0;
    HANDLE h = winapi_posix::RegisterObject(std::make_shared<Probe>(&closes));
    EXPECT_NE(winapi_posix::LookupAs<Probe>(h), nullptr);
    HANDLE e = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    EXPECT_EQ(winapi_posix::LookupAs<Probe>(e), nullptr);
    // An event operation on a handle of another kind fails cleanly.
    EXPECT_FALSE(SetEvent(h));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    SetLastError(0);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_EQ(closes, 1);
    CloseHandle(e);
}

TEST(Events, ManualResetStaysSignaledUntilReset)
{
    HANDLE e = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
    ResetEvent(e);
    EXPECT_EQ(WaitForSingleObject(e, 0), DWORD(WAIT_TIMEOUT));
    CloseHandle(e);
}

TEST(Events, TimedWaitLastsItsTimeout)
{
    HANDLE e = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    auto t0 = Clock::now();
    EXPECT_EQ(WaitForSingleObject(e, 80), DWORD(WAIT_TIMEOUT));
    long long elapsed = MsSince(t0);
    EXPECT_GE(elapsed, 79);
    EXPECT_LT(elapsed, 1000);
    CloseHandle(e);
}

TEST(Events, InfiniteWaitEndsPromptlyWhenSignaled)
{
    HANDLE e = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::atomic<long long> wokeAfter{-1};
    std::atomic<int> started{0};
    Clock::time_point setAt;
    std::thread waiter([&] {
        ++started;
        EXPECT_EQ(WaitForSingleObject(e, INFINITE), WAIT_OBJECT_0);
        wokeAfter = MsSince(setAt);
    });
    LetThreadsBlock(started, 1);
    setAt = Clock::now();
    SetEvent(e);
    waiter.join();
    EXPECT_GE(wokeAfter.load(), 0);
    EXPECT_LT(wokeAfter.load(), 200);
    // The auto-reset event was consumed by the waiter.
    EXPECT_EQ(WaitForSingleObject(e, 0), DWORD(WAIT_TIMEOUT));
    CloseHandle(e);
}

TEST(Events, SetAutoResetReleasesExactlyOneOfTwoWaiters)
{
    HANDLE e = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::atomic<int> started{0}, released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 2; ++i)
        waiters.emplace_back([&] {
            ++started;
            if (WaitForSingleObject(e, 600) == WAIT_OBJECT_0) ++released;
        });
    LetThreadsBlock(started, 2);
    SetEvent(e);
    for (auto& t : waiters) t.join();
    EXPECT_EQ(released.load(), 1);
    CloseHandle(e);
}

TEST(Events, PulseReleasesCurrentWaitersAndLeavesEventReset)
{
    // Auto-reset: one waiter goes, the other keeps waiting.
    HANDLE autoEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::atomic<int> started{0}, released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 2; ++i)
        waiters.emplace_back([&] {
            ++started;
            if (WaitForSingleObject(autoEvent, 500) == WAIT_OBJECT_0) ++released;
        });
    LetThreadsBlock(started, 2);
    EXPECT_TRUE(PulseEvent(autoEvent));
    for (auto& t : waiters) t.join();
    EXPECT_EQ(released.load(), 1);
    EXPECT_EQ(WaitForSingleObject(autoEvent, 0), DWORD(WAIT_TIMEOUT));

    // Manual-reset: every current waiter goes.
    HANDLE manual = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    started = 0;
    released = 0;
    waiters.clear();
    for (int i = 0; i < 3; ++i)
        waiters.emplace_back([&] {
            ++started;
            if (WaitForSingleObject(manual, 2000) == WAIT_OBJECT_0) ++released;
        });
    LetThreadsBlock(started, 3);
    EXPECT_TRUE(PulseEvent(manual));
    for (auto& t : waiters) t.join();
    EXPECT_EQ(released.load(), 3);
    EXPECT_EQ(WaitForSingleObject(manual, 0), DWORD(WAIT_TIMEOUT));

    // Nobody waiting: a pulse is lost, as on Windows.
    PulseEvent(autoEvent);
    EXPECT_EQ(WaitForSingleObject(autoEvent, 0), DWORD(WAIT_TIMEOUT));
    CloseHandle(autoEvent);
    CloseHandle(manual);
}

TEST(Events, WaitForMultipleObjectsAnyAndAll)
{
    HANDLE a = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE b = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE both[] = {a, b};
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 10), DWORD(WAIT_TIMEOUT));
    SetEvent(b);
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 10), DWORD(WAIT_TIMEOUT));  // a not yet set

    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        SetEvent(a);
    });
    EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 2000), WAIT_OBJECT_0);
    setter.join();
    // The wait-all consumed the auto-reset event, not the manual one.
    EXPECT_EQ(WaitForSingleObject(a, 0), DWORD(WAIT_TIMEOUT));
    EXPECT_EQ(WaitForSingleObject(b, 0), WAIT_OBJECT_0);

    HANDLE withBad[] = {a, INVALID_HANDLE_VALUE};
    EXPECT_EQ(WaitForMultipleObjects(2, withBad, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    CloseHandle(a);
    CloseHandle(b);
}

TEST(Events, WaiterKeepsEventAliveWhenHandleIsClosed)
{
    HANDLE e = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::atomic<int> started{0};
    DWORD result = 0;
    std::thread waiter([&] {
        ++started;
        result = WaitForSingleObject(e, 100);
    });
    LetThreadsBlock(started, 1);
    EXPECT_TRUE(CloseHandle(e));
    waiter.join();
    EXPECT_EQ(result, DWORD(WAIT_TIMEOUT));
}

TEST(Kernel, TimeThreadIdsAndLocalMemory)
{
    DWORD t0 = GetTickCount();
    Sleep(30);
    DWORD dt = GetTickCount() - t0;
    EXPECT_GE(dt, 29u);
    EXPECT_LT(dt, 1000u);

    DWORD mine = GetCurrentThreadId();
    DWORD other = 0;
    std::thread([&] { other = GetCurrentThreadId(); }).join();
    EXPECT_NE(mine, 0u);
    EXPECT_NE(other, 0u);
    EXPECT_NE(mine, other);
    EXPECT_EQ(GetCurrentThreadId(), mine);

    auto* block = static_cast<unsigned char*>(LocalAlloc(LMEM_ZEROINIT, 64));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 64; ++i) ASSERT_EQ(block[i], 0) << i;
    EXPECT_EQ(LocalFree(block), nullptr);
    EXPECT_EQ(LocalFree(nullptr), nullptr);
    EXPECT_EQ(LocalAlloc(0x1000, 8), nullptr);  // unknown flag
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

}  // namespace
