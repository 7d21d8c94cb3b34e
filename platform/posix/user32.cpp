// Thread message queues, registered messages, message-only windows and
// window timers. A thread gets its queue the first time it asks for
// messages (GetMessageW/PeekMessageW) or creates a window, as on Windows;
// the queue goes away when the thread ends.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/posix/desktop.h"
#include "platform/posix/text.h"
#include "platform/posix/win32_errors.h"
#include "platform/posix/win32_kernel.h"
#include "platform/posix/win32_user.h"

namespace winapi_posix {
namespace {

using Clock = std::chrono::steady_clock;

struct Timer {
    HWND window;
    UINT_PTR id;
    std::chrono::milliseconds interval;
    Clock::time_point due;
    TIMERPROC procedure;
};

struct Queue {
    DWORD threadId = 0;
    std::mutex mutex;
    std::condition_variable cv;
    std::deque<MSG> messages;
    bool quitPending = false;  // PostQuitMessage: delivered once the queue is empty
    int quitCode = 0;
    std::vector<Timer> timers;
};

struct Window {
    WindowProcedure procedure;
    DWORD ownerThread;
};

// Never destroyed: a thread that ends after main() returns (one that closed
// its port from a handler and ends on its own) still unregisters its queue.
std::mutex& g_registryMutex = *new std::mutex;  // queues, windows, registered messages
std::unordered_map<DWORD, std::shared_ptr<Queue>>& g_queues = *new std::unordered_map<DWORD, std::shared_ptr<Queue>>;
std::unordered_map<uintptr_t, std::shared_ptr<Window>> g_windows;
uintptr_t g_nextWindow = 0x10010;
std::map<std::u16string, UINT> g_registeredMessages;  // folded name -> id
UINT g_nextRegistered = 0xC000;
UINT_PTR g_nextThreadTimer = 1;

struct QueueOwner {
    std::shared_ptr<Queue> queue;
    ~QueueOwner()
    {
        if (!queue) return;
        std::lock_guard lock(g_registryMutex);
        g_queues.erase(queue->threadId);
    }
};
thread_local QueueOwner t_queue;

std::shared_ptr<Queue> OwnQueue()
{
    if (!t_queue.queue) {
        auto q = std::make_shared<Queue>();
        q->threadId = GetCurrentThreadId();
        std::lock_guard lock(g_registryMutex);
        g_queues[q->threadId] = q;
        t_queue.queue = q;
    }
    return t_queue.queue;
}

std::shared_ptr<Queue> QueueOf(DWORD threadId)
{
    std::lock_guard lock(g_registryMutex);
    auto it = g_queues.find(threadId);
    return it == g_queues.end() ? nullptr : it->second;
}

std::shared_ptr<Window> WindowOf(HWND hwnd)
{
    std::lock_guard lock(g_registryMutex);
    auto it = g_windows.find(reinterpret_cast<uintptr_t>(hwnd));
    return it == g_windows.end() ? nullptr : it->second;
}

bool Post(Queue& q, HWND hwnd, UINT msg, WPARAM w, LPARAM l)
{
    MSG m{};
    m.hwnd = hwnd;
    m.message = msg;
    m.wParam = w;
    m.lParam = l;
    m.time = GetTickCount();
    {
        std::lock_guard lock(q.mutex);
        q.messages.push_back(m);
    }
    q.cv.notify_all();
    return true;
}

bool Matches(const MSG& m, HWND filter, UINT low, UINT high)
{
    if (m.message == WM_QUIT) return true;  // always retrieved, whatever the range
    if (filter == reinterpret_cast<HWND>(-1)) {
        if (m.hwnd) return false;
    } else if (filter && m.hwnd != filter) {
        return false;
    }
    if (low == 0 && high == 0) return true;
    return m.message >= low && m.message <= high;
}

// Takes the first matching message (caller holds q.mutex). Due timers yield
// one WM_TIMER each, generated when looked for, as Windows does.
bool Take(Queue& q, MSG* out, HWND filter, UINT low, UINT high, bool remove)
{
    for (auto it = q.messages.begin(); it != q.messages.end(); ++it) {
        if (Matches(*it, filter, low, high)) {
            *out = *it;
            if (remove) q.messages.erase(it);
            return true;
        }
    }
    auto now = Clock::now();
    for (auto& t : q.timers) {
        if (t.due > now) continue;
        MSG m{};
        m.hwnd = t.window;
        m.message = WM_TIMER;
        m.wParam = t.id;
        m.lParam = reinterpret_cast<LPARAM>(t.procedure);
        m.time = GetTickCount();
        if (!Matches(m, filter, low, high)) continue;
        *out = m;
        if (remove) t.due = now + t.interval;
        return true;
    }
    if (q.quitPending) {
        MSG m{};
        m.message = WM_QUIT;
        m.wParam = WPARAM(q.quitCode);
        m.time = GetTickCount();
        *out = m;
        if (remove) q.quitPending = false;
        return true;
    }
    return false;
}

// When the next timer that the filter would take falls due. Timers the
// filter skips must not wake the wait, or it would spin on an overdue one.
Clock::time_point NextTimer(const Queue& q, HWND filter, UINT low, UINT high)
{
    auto next = Clock::time_point::max();
    for (auto& t : q.timers) {
        MSG m{};
        m.hwnd = t.window;
        m.message = WM_TIMER;
        if (Matches(m, filter, low, high)) next = std::min(next, t.due);
    }
    return next;
}

bool ValidFilter(HWND hwnd)
{
    if (!hwnd || hwnd == reinterpret_cast<HWND>(-1)) return true;
    return WindowOf(hwnd) != nullptr;
}

}  // namespace

HWND CreateMessageWindow(WindowProcedure procedure)
{
    OwnQueue();
    auto w = std::make_shared<Window>();
    w->procedure = std::move(procedure);
    w->ownerThread = GetCurrentThreadId();
    std::lock_guard lock(g_registryMutex);
    uintptr_t value = g_nextWindow;
    g_nextWindow += 0x10;
    g_windows[value] = std::move(w);
    return reinterpret_cast<HWND>(value);
}

bool DestroyMessageWindow(HWND window)
{
    std::shared_ptr<Window> w;
    {
        std::lock_guard lock(g_registryMutex);
        auto it = g_windows.find(reinterpret_cast<uintptr_t>(window));
        if (it == g_windows.end()) return false;
        w = it->second;
        g_windows.erase(it);
    }
    if (auto q = QueueOf(w->ownerThread)) {
        std::lock_guard lock(q->mutex);
        auto& timers = q->timers;
        timers.erase(std::remove_if(timers.begin(), timers.end(), [&](const Timer& t) { return t.window == window; }),
                     timers.end());
        auto& msgs = q->messages;
        msgs.erase(std::remove_if(msgs.begin(), msgs.end(), [&](const MSG& m) { return m.hwnd == window; }),
                   msgs.end());
    }
    return true;
}

}  // namespace winapi_posix

using namespace winapi_posix;

extern "C" {

UINT WINAPI RegisterWindowMessageW(LPCWSTR lpString)
{
    if (!lpString || !*lpString) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::u16string key = UpperAscii(lpString);
    std::lock_guard lock(g_registryMutex);
    auto it = g_registeredMessages.find(key);
    if (it != g_registeredMessages.end()) return it->second;
    if (g_nextRegistered > 0xFFFF) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    UINT id = g_nextRegistered++;
    g_registeredMessages.emplace(std::move(key), id);
    return id;
}

BOOL WINAPI PostThreadMessageW(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    auto q = QueueOf(idThread);
    if (!q) {
        SetLastError(ERROR_INVALID_THREAD_ID);
        return FALSE;
    }
    return Post(*q, nullptr, Msg, wParam, lParam) ? TRUE : FALSE;
}

BOOL WINAPI PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    if (!hWnd) return PostThreadMessageW(GetCurrentThreadId(), Msg, wParam, lParam);
    auto w = WindowOf(hWnd);
    auto q = w ? QueueOf(w->ownerThread) : nullptr;
    if (!q) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return Post(*q, hWnd, Msg, wParam, lParam) ? TRUE : FALSE;
}

BOOL WINAPI GetMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax)
{
    if (!lpMsg) {
        SetLastError(ERROR_NOACCESS);
        return -1;
    }
    if (!ValidFilter(hWnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return -1;
    }
    auto q = OwnQueue();
    std::unique_lock lock(q->mutex);
    while (!Take(*q, lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, true)) {
        auto next = NextTimer(*q, hWnd, wMsgFilterMin, wMsgFilterMax);
        if (next == Clock::time_point::max())
            q->cv.wait(lock);
        else
            q->cv.wait_until(lock, next);
    }
    return lpMsg->message == WM_QUIT ? FALSE : TRUE;
}

BOOL WINAPI PeekMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg)
{
    if (!lpMsg || !ValidFilter(hWnd)) return FALSE;
    auto q = OwnQueue();
    std::lock_guard lock(q->mutex);
    return Take(*q, lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, (wRemoveMsg & PM_REMOVE) != 0) ? TRUE : FALSE;
}

LRESULT WINAPI DispatchMessageW(const MSG* lpMsg)
{
    if (!lpMsg) return 0;
    if (lpMsg->message == WM_TIMER && lpMsg->lParam) {
        reinterpret_cast<TIMERPROC>(lpMsg->lParam)(lpMsg->hwnd, WM_TIMER, lpMsg->wParam, GetTickCount());
        return 0;
    }
    if (!lpMsg->hwnd) return 0;  // a thread message has nobody to go to
    auto w = WindowOf(lpMsg->hwnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return w->procedure(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}

void WINAPI PostQuitMessage(int nExitCode)
{
    auto q = OwnQueue();
    {
        std::lock_guard lock(q->mutex);
        q->quitPending = true;
        q->quitCode = nExitCode;
    }
    q->cv.notify_all();
}

// Calls the window procedure directly, on the calling thread (Windows would
// switch to the owner thread; our windows' procedures are thread-safe or
// only used from their own thread).
LRESULT WINAPI SendMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    if (!hWnd) return 0;
    auto w = WindowOf(hWnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return w->procedure(hWnd, Msg, wParam, lParam);
}

LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    return SendMessageW(hWnd, Msg, wParam, lParam);
}

LRESULT WINAPI DefWindowProcW(HWND, UINT, WPARAM, LPARAM) { return 0; }

BOOL WINAPI IsWindow(HWND hWnd) { return WindowOf(hWnd) ? TRUE : FALSE; }

UINT_PTR WINAPI SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc)
{
    std::shared_ptr<Queue> q;
    UINT_PTR id = nIDEvent;
    if (hWnd) {
        auto w = WindowOf(hWnd);
        q = w ? QueueOf(w->ownerThread) : nullptr;
        if (!q) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
    } else {
        q = OwnQueue();
        std::lock_guard lock(g_registryMutex);
        id = g_nextThreadTimer++;
    }
    // USER_TIMER_MINIMUM and USER_TIMER_MAXIMUM.
    uElapse = std::clamp<UINT>(uElapse, 0x0A, 0x7FFFFFFF);
    {
        std::lock_guard lock(q->mutex);
        auto& timers = q->timers;
        timers.erase(std::remove_if(timers.begin(), timers.end(),
                                    [&](const Timer& t) { return t.window == hWnd && t.id == id; }),
                     timers.end());
        auto interval = std::chrono::milliseconds(uElapse);
        timers.push_back(Timer{hWnd, id, interval, Clock::now() + interval, lpTimerFunc});
    }
    q->cv.notify_all();
    return hWnd ? (id ? id : 1) : id;
}

BOOL WINAPI KillTimer(HWND hWnd, UINT_PTR uIDEvent)
{
    std::shared_ptr<Queue> q;
    if (hWnd) {
        auto w = WindowOf(hWnd);
        q = w ? QueueOf(w->ownerThread) : nullptr;
    } else {
        q = t_queue.queue;
    }
    bool found = false;
    if (q) {
        std::lock_guard lock(q->mutex);
        auto& timers = q->timers;
        auto end = std::remove_if(timers.begin(), timers.end(),
                                  [&](const Timer& t) { return t.window == hWnd && t.id == uIDEvent; });
        found = end != timers.end();
        timers.erase(end, timers.end());
        // A WM_TIMER already taken from the queue cannot be recalled; none is queued.
    }
    if (!found) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}

}  // extern "C"
