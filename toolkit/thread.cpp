// TThread and the main thread's synchronize queue.
#include "toolkit/classes.h"
#include "toolkit/forms.h"

#include <condition_variable>
#include <deque>

#include <winapi.h>

namespace {

// Atomic, not under the synchronize lock: every Synchronize and every call
// of a Qt adapter asks for it.
std::atomic<std::thread::id>& MainThreadIdRef()
{
    // Initialised on first use; the static below forces that during static
    // initialisation, which runs on the main thread.
    static std::atomic<std::thread::id> Id{std::this_thread::get_id()};
    return Id;
}
const std::thread::id MainThreadAtStart = MainThreadIdRef();

// One lock for the synchronize queue, the requests' states, the thread end
// signals and the wake-up hook. These statics are never destroyed: a thread
// that ends on its own may still use them after main() returns. Contention
// is low: requests are rare events.
std::mutex& SyncMutex()
{
    static std::mutex& M = *new std::mutex;
    return M;
}
// Notified when a request finished or was cancelled (the waiting threads
// check their own request) and when a request was queued or a thread ended
// (the main thread waiting in WaitFor checks its condition).
std::condition_variable& SyncCond()
{
    static std::condition_variable& C = *new std::condition_variable;
    return C;
}

std::function<void()>& WakeHook()
{
    static std::function<void()>& F = *new std::function<void()>;
    return F;
}

thread_local TThread* CurrentTThread = nullptr;

}  // namespace

struct TThread::TSyncRequest {
    enum class TState { Pending, Running, Done, Cancelled };
    TThreadMethod Method;
    bool Waited = true;  // Synchronize (false: Queue)
    TState State = TState::Pending;
    std::exception_ptr Error;
};

namespace {
std::deque<std::shared_ptr<TThread::TSyncRequest>>& SyncQueue()
{
    static auto& Q = *new std::deque<std::shared_ptr<TThread::TSyncRequest>>;
    return Q;
}
}  // namespace

bool IsMainThread() { return std::this_thread::get_id() == MainThreadIdRef().load(); }

void SetMainThreadID(std::thread::id Id) { MainThreadIdRef().store(Id); }

std::function<void()> SetWakeMainThread(std::function<void()> Wake)
{
    std::lock_guard<std::mutex> L(SyncMutex());
    std::function<void()> Old = std::move(WakeHook());
    WakeHook() = std::move(Wake);
    return Old;
}

void WakeMainThread()
{
    {
        // The hook runs under the lock: an application that replaces it on
        // destruction must not be called after it is gone (a thread that ends
        // on its own may wake the main thread at any time).
        std::lock_guard<std::mutex> L(SyncMutex());
        if (WakeHook()) WakeHook()();
    }
    // Outside the lock: a woken thread does not have to wait for it.
    SyncCond().notify_all();
}

bool SynchronizeRequestsPending()
{
    std::lock_guard<std::mutex> L(SyncMutex());
    for (auto& R : SyncQueue())
        if (R->State == TThread::TSyncRequest::TState::Pending) return true;
    return false;
}

bool CheckSynchronize()
{
    using TState = TThread::TSyncRequest::TState;
    if (!IsMainThread()) return false;
    // Only the requests present now: one that a request queues runs next time.
    std::deque<std::shared_ptr<TThread::TSyncRequest>> Batch;
    {
        std::lock_guard<std::mutex> L(SyncMutex());
        Batch.swap(SyncQueue());
    }
    bool Ran = false;
    for (auto& R : Batch) {
        {
            std::lock_guard<std::mutex> L(SyncMutex());
            if (R->State != TState::Pending) continue;  // cancelled
            R->State = TState::Running;
        }
        Ran = true;
        std::exception_ptr Error;
        try {
            R->Method();
        } catch (...) {
            Error = std::current_exception();
        }
        if (Error && !R->Waited) {
            // Nobody waits for a queued method: the event loop shows the error.
            GuardedCall([&] { std::rethrow_exception(Error); });
            Error = nullptr;
        }
        // Moved, not copied: the waiting thread then holds the only reference,
        // so the exception is released on the thread that handles it.
        {
            std::lock_guard<std::mutex> L(SyncMutex());
            R->Error = std::move(Error);
            R->State = TState::Done;
        }
        // Outside the lock: the woken thread does not have to wait for it.
        SyncCond().notify_all();
    }
    return Ran;
}

// ---------------------------------------------------------------------------
// TThreadDone

bool TThreadDone::Done() const
{
    std::lock_guard<std::mutex> L(SyncMutex());
    return fDone;
}

bool TThreadDone::Wait(std::chrono::milliseconds Timeout) const
{
    const bool Forever = Timeout.count() < 0;
    const auto Deadline = std::chrono::steady_clock::now() + (Forever ? std::chrono::milliseconds(0) : Timeout);
    const bool Main = IsMainThread();
    std::unique_lock<std::mutex> L(SyncMutex());
    for (;;) {
        if (fDone) return true;
        if (Main && !SyncQueue().empty()) {
            // Run what the thread (or another) waits for, so it can end.
            L.unlock();
            CheckSynchronize();
            L.lock();
            continue;
        }
        if (Forever) {
            SyncCond().wait(L);
        } else if (SyncCond().wait_until(L, Deadline) == std::cv_status::timeout) {
            return fDone;
        }
    }
}

// ---------------------------------------------------------------------------
// TThread

TThread::TThread() : fDone(std::make_shared<TThreadDone>()) {}

TThread::~TThread()
{
    if (fThread.joinable()) {
        if (fThread.get_id() == std::this_thread::get_id()) {
            fThread.detach();  // free-on-terminate: deleting itself
        } else {
            Terminate();
            fDone->Wait();
            fThread.join();
        }
    }
}

std::uint32_t TThread::CurrentThreadID() { return static_cast<std::uint32_t>(GetCurrentThreadId()); }

TThread* TThread::CurrentThread() { return CurrentTThread; }

void TThread::Start()
{
    if (fStarted.exchange(true)) throw EThread(u"Thread wurde bereits gestartet");
    // The new thread publishes its id, then waits until fThread is assigned:
    // a short-lived free-on-terminate thread must not delete itself before.
    struct THandshake {
        std::mutex M;
        std::condition_variable C;
        bool IdKnown = false;
        bool Go = false;
    };
    auto H = std::make_shared<THandshake>();
    fThread = std::thread([this, H] {
        fThreadID.store(CurrentThreadID());
        {
            std::unique_lock<std::mutex> L(H->M);
            H->IdKnown = true;
            H->C.notify_all();
            H->C.wait(L, [&] { return H->Go; });
        }
        Run();
    });
    // ThreadID is valid once Start returns (others post messages to it).
    std::unique_lock<std::mutex> L(H->M);
    H->Go = true;
    H->C.notify_all();
    H->C.wait(L, [&] { return H->IdKnown; });
}

void TThread::Run()
{
    CurrentTThread = this;
    try {
        Execute();
    } catch (...) {
        fFatalException = std::current_exception();
    }
    if (OnTerminate) {
        try {
            Synchronize([this] { OnTerminate(this); });
        } catch (...) {
            if (!fFatalException) fFatalException = std::current_exception();
        }
    }
    const bool Free = fFreeOnTerminate.load();
    std::shared_ptr<TThreadDone> Done = fDone;
    {
        std::lock_guard<std::mutex> L(SyncMutex());
        fFinished.store(true);
        Done->fDone = true;
    }
    WakeMainThread();
    CurrentTThread = nullptr;
    if (Free) delete this;
}

void TThread::Terminate()
{
    {
        std::lock_guard<std::mutex> L(SyncMutex());
        fTerminated.store(true);
        if (fPendingSync && fPendingSync->State == TSyncRequest::TState::Pending) {
            fPendingSync->State = TSyncRequest::TState::Cancelled;
            SyncCond().notify_all();
        }
    }
    TerminatedSet();
}

void TThread::TerminateAndWait()
{
    Terminate();
    if (fStarted.load() && fThread.joinable() && fThread.get_id() != std::this_thread::get_id()) fDone->Wait();
}

int TThread::WaitFor()
{
    WaitFor(std::chrono::milliseconds(-1));
    return fReturnValue.load();
}

bool TThread::WaitFor(std::chrono::milliseconds Timeout)
{
    if (fFreeOnTerminate.load()) throw EThread(u"WaitFor für einen Thread mit FreeOnTerminate nicht möglich");
    if (!fStarted.load()) throw EThread(u"Thread wurde nicht gestartet");
    if (fThread.get_id() == std::this_thread::get_id()) throw EThread(u"Ein Thread kann nicht auf sich selbst warten");
    return fDone->Wait(Timeout);
}

std::exception_ptr TThread::FatalException() const { return fDone->Done() ? fFatalException : nullptr; }

void TThread::Synchronize(const TThreadMethod& Method) { Synchronize(this, Method); }

void TThread::Synchronize(TThread* AThread, const TThreadMethod& Method)
{
    if (!Method) return;
    if (IsMainThread()) {
        Method();
        return;
    }
    auto R = std::make_shared<TSyncRequest>();
    R->Method = Method;
    {
        std::lock_guard<std::mutex> L(SyncMutex());
        if (AThread && AThread->fTerminated.load()) return;  // cancelled before it was made
        SyncQueue().push_back(R);
        if (AThread) AThread->fPendingSync = R;
    }
    WakeMainThread();
    std::unique_lock<std::mutex> L(SyncMutex());
    SyncCond().wait(
        L, [&] { return R->State == TSyncRequest::TState::Done || R->State == TSyncRequest::TState::Cancelled; });
    if (AThread) AThread->fPendingSync.reset();
    if (R->State == TSyncRequest::TState::Cancelled) {
        // Drop it from the queue now rather than at the next CheckSynchronize.
        auto& Q = SyncQueue();
        for (auto It = Q.begin(); It != Q.end(); ++It)
            if (*It == R) {
                Q.erase(It);
                break;
            }
        return;
    }
    std::exception_ptr Error = std::move(R->Error);
    L.unlock();
    if (Error) std::rethrow_exception(Error);
}

void TThread::Queue(const TThreadMethod& Method)
{
    if (!Method) return;
    if (IsMainThread()) {
        GuardedCall(Method);
        return;
    }
    auto R = std::make_shared<TSyncRequest>();
    R->Method = Method;
    R->Waited = false;
    {
        std::lock_guard<std::mutex> L(SyncMutex());
        SyncQueue().push_back(R);
    }
    WakeMainThread();
}
