// Events and waits. One process-wide mutex guards every event's state and
// waiter list, which makes multi-object waits atomic; each waiting thread
// blocks on its own condition variable.
#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "platform/posix/handles.h"
#include "platform/posix/win32_errors.h"
#include "platform/posix/win32_kernel.h"

namespace winapi_posix {
namespace {

std::mutex g_eventMutex;

struct Event;

struct Waiter {
    std::condition_variable cv;
    bool waitAll = false;
    int satisfiedIndex = -1;  // set by a signal handed straight to this waiter
    const std::shared_ptr<Event>* events = nullptr;
    std::size_t count = 0;
};

struct Event : KernelObject {
    bool manualReset = false;
    bool signaled = false;
    std::vector<Waiter*> waiters;  // in arrival order

    // Gives the signal to waiters; caller holds g_eventMutex. A manual-reset
    // event releases everybody; an auto-reset one the first waiter of an
    // any-object wait (and stays unsignaled), else it stays signaled.
    // `keepSignaled` false is PulseEvent: no waiter means nothing happens.
    void Signal(bool keepSignaled)
    {
        if (manualReset) {
            for (Waiter* w : waiters) {
                if (!w->waitAll && w->satisfiedIndex < 0) w->satisfiedIndex = IndexIn(w);
                w->cv.notify_one();
            }
            signaled = keepSignaled;
            return;
        }
        for (Waiter* w : waiters) {
            if (!w->waitAll && w->satisfiedIndex < 0) {
                w->satisfiedIndex = IndexIn(w);
                w->cv.notify_one();
                return;
            }
        }
        if (keepSignaled) {
            signaled = true;
            for (Waiter* w : waiters) w->cv.notify_one();  // wait-all waiters re-check
        }
    }

    int IndexIn(Waiter* w) const
    {
        std::size_t i = 0;
        while (i < w->count && w->events[i].get() != this) ++i;
        return int(i);
    }
};

// Null with ERROR_INVALID_HANDLE when h is no event.
std::shared_ptr<Event> EventFor(HANDLE h)
{
    auto e = LookupAs<Event>(h);
    if (!e) SetLastError(ERROR_INVALID_HANDLE);
    return e;
}

// The callers hold the objects on the stack: no allocation per wait.
DWORD WaitFor(std::span<const std::shared_ptr<Event>> objects, bool waitAll, DWORD ms)
{
    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + std::chrono::milliseconds(ms);
    std::unique_lock lock(g_eventMutex);

    auto tryAcquire = [&]() -> int {
        if (waitAll) {
            for (auto& e : objects)
                if (!e->signaled) return -1;
            for (auto& e : objects)
                if (!e->manualReset) e->signaled = false;
            return 0;
        }
        for (std::size_t i = 0; i < objects.size(); ++i) {
            if (objects[i]->signaled) {
                if (!objects[i]->manualReset) objects[i]->signaled = false;
                return int(i);
            }
        }
        return -1;
    };

    int got = tryAcquire();
    if (got >= 0) return WAIT_OBJECT_0 + DWORD(got);
    if (ms == 0) return WAIT_TIMEOUT;

    Waiter self;
    self.waitAll = waitAll;
    self.events = objects.data();
    self.count = objects.size();
    for (auto& e : objects) e->waiters.push_back(&self);
    DWORD result = WAIT_TIMEOUT;
    for (;;) {
        if (self.satisfiedIndex >= 0) {
            result = WAIT_OBJECT_0 + DWORD(self.satisfiedIndex);
            break;
        }
        got = tryAcquire();
        if (got >= 0) {
            result = WAIT_OBJECT_0 + DWORD(got);
            break;
        }
        if (ms == INFINITE) {
            self.cv.wait(lock);
        } else if (self.cv.wait_until(lock, deadline) == std::cv_status::timeout && self.satisfiedIndex < 0) {
            got = tryAcquire();
            result = got >= 0 ? WAIT_OBJECT_0 + DWORD(got) : WAIT_TIMEOUT;
            break;
        }
    }
    for (auto& e : objects) {
        auto& list = e->waiters;
        list.erase(std::remove(list.begin(), list.end(), &self), list.end());
    }
    return result;
}

// SetEvent, ResetEvent and PulseEvent: the change under the event lock.
template <typename Change>
BOOL ChangeEvent(HANDLE h, Change change)
{
    auto e = EventFor(h);
    if (!e) return FALSE;
    std::lock_guard lock(g_eventMutex);
    change(*e);
    return TRUE;
}

}  // namespace

}  // namespace winapi_posix

using namespace winapi_posix;

extern "C" {

HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState, LPCWSTR lpName)
{
    if (lpName && *lpName) {
        // Named events are shared between processes on Windows; nothing here needs them.
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    auto event = std::make_shared<Event>();
    event->manualReset = bManualReset != FALSE;
    event->signaled = bInitialState != FALSE;
    HANDLE h = RegisterObject(event);
    SetLastError(ERROR_SUCCESS);
    return h;
}

BOOL WINAPI SetEvent(HANDLE hEvent)
{
    return ChangeEvent(hEvent, [](Event& e) { e.Signal(true); });
}

BOOL WINAPI ResetEvent(HANDLE hEvent)
{
    return ChangeEvent(hEvent, [](Event& e) { e.signaled = false; });
}

BOOL WINAPI PulseEvent(HANDLE hEvent)
{
    return ChangeEvent(hEvent, [](Event& e) {
        e.Signal(false);
        e.signaled = false;
    });
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds)
{
    const std::shared_ptr<Event> e[1] = {EventFor(hHandle)};
    if (!e[0]) return WAIT_FAILED;
    return WaitFor(e, false, dwMilliseconds);
}

DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds)
{
    if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || !lpHandles) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    std::array<std::shared_ptr<Event>, MAXIMUM_WAIT_OBJECTS> objects;
    for (DWORD i = 0; i < nCount; ++i) {
        auto e = EventFor(lpHandles[i]);
        if (!e) return WAIT_FAILED;
        if (bWaitAll && std::find(objects.begin(), objects.begin() + i, e) != objects.begin() + i) {
            SetLastError(ERROR_INVALID_PARAMETER);  // as Windows: a duplicate in a wait-all
            return WAIT_FAILED;
        }
        objects[i] = std::move(e);
    }
    return WaitFor(std::span(objects.data(), nCount), bWaitAll != FALSE, dwMilliseconds);
}

}  // extern "C"
