// The two event threads of an open port and the comm-event handler.
//
// TCommThread waits for port events (overlapped WaitCommEvent) and posts each
// event mask to TMsgThread as a registered thread message; TMsgThread runs
// HandleCommEvent, on the main thread through Synchronize when UseMainThread
// is set. No received byte travels through a message: the handler reads the
// driver's queue straight into the component's receive buffer.
//
// Stopping. The threads are joined when the port closes, so no handler runs
// after the component is closed or gone. A join never waits for the calling
// thread, nor for a thread that waits for the calling thread:
//  * a close on the main thread while the message thread waits in
//    Synchronize: Terminate cancels the pending request, the thread ends;
//  * a close (or destruction) from inside a handler: the thread that runs the
//    handler, or that waits in Synchronize for the main thread to run it, is
//    not joined. It is told to terminate, frees itself and touches nothing of
//    the component once the handler has returned.
// A port that fails under the comm-event thread is not closed there: the
// thread posts the failure to the message thread and ends; the close runs
// where the handlers run (the main thread with UseMainThread), as a handler.
// The bookkeeping lives in TCommThreadsState, shared between the component
// and its threads, so a thread can still use it after the component has been
// destroyed.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "comm/nrcomm/nrcomm.h"
#include "comm/utilities/utilities.h"

namespace {

// Only registered messages are taken from the message thread's queue.
constexpr UINT kFirstRegisteredMessage = 0xC000;
constexpr UINT kLastRegisteredMessage = 0xFFFF;

// How long a close lets a handler's blocked transfer run before aborting it.
constexpr int kJoinAbortInterval = 20;

// From the comm-event thread to the message thread: the port failed under the
// wait and is to be closed.
UINT CommMsgPortFailed()
{
    static const UINT id = RegisterWindowMessageW(PWChar(u"nrCommMsgPortFailed"));
    return id;
}

}  // namespace

struct TCommThreadsState {
    std::mutex Lock;
    // A thread is inside ThreadStop, joining the threads.
    bool Stopping = false;
    // Set when the component is destroyed (a handler may destroy it).
    bool Destroyed = false;
};

std::shared_ptr<TCommThreadsState> TnrCustomComm::NewThreadsState() { return std::make_shared<TCommThreadsState>(); }

// Registered on first use (at the first open at the latest), once per process:
// registration during static initialisation could run before the platform's
// message table exists.
UINT CommMsgComEvent()
{
    static const UINT id = RegisterWindowMessageW(PWChar(u"nrCommMsgComEvent"));
    return id;
}

UINT CommMsgQuitComEvent()
{
    static const UINT id = RegisterWindowMessageW(PWChar(u"nrCommMsgQuitComEvent"));
    return id;
}

// ---------------------------------------------------------------------------
// TCommThread

TCommThread::TCommThread(TnrCustomComm* AOwner)
    : Com(AOwner), hDevice(AOwner->GetHandle()), fState(AOwner->fThreadsState), fMsgThread(AOwner->MsgThread)
{
    // Both events exist for the thread's whole life, so Terminate can set the
    // stop event at any time without racing its creation. The wait's own event
    // is manual-reset and signalled only by the request: the driver resets it
    // when a wait starts and sets it when the wait completes.
    ovl.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    fStopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    Start();
}

TCommThread::~TCommThread()
{
    if (ovl.hEvent) CloseHandle(ovl.hEvent);
    if (fStopEvent) CloseHandle(fStopEvent);
    ovl.hEvent = nullptr;
    fStopEvent = nullptr;
}

void TCommThread::Terminate() { TThread::Terminate(); }

void TCommThread::TerminatedSet()
{
    // An event rather than a pulse: a pulse is lost when the thread is not yet
    // waiting, and a join would then hang until the next port event.
    if (fStopEvent) SetEvent(fStopEvent);
}

void TCommThread::Execute()
{
    // Lives outside the loop: a pending wait writes it when it completes.
    DWORD mask = 0;
    bool pending = false;
    if (hDevice != INVALID_HANDLE_VALUE && ovl.hEvent && fStopEvent) {
        // Bytes that came before the event mask was set (a peer answering at
        // once, bytes sent in OnOpen) raise no event: one look at the queue.
        PostEvent(CommMsgComEvent(), EV_RXCHAR);
        while (!Terminated() && Com->ThreadSeesPortOpen()) {
            ClearOverlappedStatus(ovl);
            mask = 0;
            DWORD unused = 0;
            BOOL done = WaitCommEvent(hDevice, &mask, &ovl);
            if (!done) {
                const DWORD err = GetLastError();
                if (err == ERROR_INVALID_PARAMETER && mask == 0) continue;  // a wait is still outstanding in the driver
                if (err == ERROR_INVALID_HANDLE) break;
                if (err != ERROR_IO_PENDING) {
                    // The close runs where the handlers run (see above).
                    PostEvent(CommMsgPortFailed(), 0);
                    break;
                }
                pending = true;
                const HANDLE events[2] = {ovl.hEvent, fStopEvent};
                const DWORD w = WaitForMultipleObjects(2, events, FALSE, INFINITE);
                if (w == WAIT_OBJECT_0 + 1) break;
                if (w != WAIT_OBJECT_0) {
                    PostEvent(CommMsgPortFailed(), 0);
                    break;
                }
                // The request's event is set: its result is there.
                done = GetOverlappedResult(hDevice, &ovl, &unused, TRUE);
                pending = false;
            }
            if (!done) {
                // A wait that ended with an error: the port is waited on again
                // while it answers; one that no longer does (a removed device)
                // has failed.
                if (!PortAnswers()) {
                    PostEvent(CommMsgPortFailed(), 0);
                    break;
                }
                continue;
            }
            if (mask != 0) PostEvent(CommMsgComEvent(), mask);
        }
    }
    if (pending) {
        // Do not leave with a wait outstanding: the driver would write into this
        // thread's mask and event after they are gone. CancelIo cancels what this
        // thread started, a new event mask ends a wait in any driver; then wait
        // for the request itself to complete.
        CancelDeviceIo(hDevice);
        SetCommMask(hDevice, 0);
        WaitOverlappedDone(hDevice, &ovl);
    }
}

bool TCommThread::PortAnswers()
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    return GetCommState(hDevice, &dcb) != FALSE;
}

void TCommThread::PostEvent(UINT Msg, DWORD Mask)
{
    for (;;) {
        if (Terminated() || !Com->ThreadSeesPortOpen()) return;
        // The message thread may not have its queue yet: retry until it has.
        const DWORD target = fMsgThread ? fMsgThread->fQueueThreadId.load() : 0;
        if (target != 0 && PostThreadMessageW(target, Msg, Mask, 0)) {
            if (Msg == CommMsgComEvent()) fMsgThread->fEventsPosted.fetch_add(1, std::memory_order_release);
            return;
        }
        Sleep(1);
    }
}

// ---------------------------------------------------------------------------
// TMsgThread

TMsgThread::TMsgThread(TnrCustomComm* AOwner) : Com(AOwner), fState(AOwner->fThreadsState)
{
    fQueueReady = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    Start();
}

TMsgThread::~TMsgThread()
{
    if (fQueueReady) CloseHandle(fQueueReady);
}

void TMsgThread::Terminate() { TThread::Terminate(); }

void TMsgThread::TerminatedSet()
{
    // Before the thread has its queue the post fails; the thread then still
    // sees the terminate request before it first waits in GetMessageW.
    const DWORD id = fQueueThreadId.load();
    if (id != 0) PostThreadMessageW(id, CommMsgQuitComEvent(), 0, 0);
}

bool TMsgThread::WaitQueueReady(DWORD Ms)
{
    return fQueueReady && WaitForSingleObject(fQueueReady, Ms) == WAIT_OBJECT_0;
}

void TMsgThread::Execute()
{
    // Make the queue exist before anyone posts to it.
    MSG peek{};
    PeekMessageW(&peek, nullptr, kFirstRegisteredMessage, kLastRegisteredMessage, PM_NOREMOVE);
    fQueueThreadId.store(GetCurrentThreadId());
    if (fQueueReady) SetEvent(fQueueReady);
    if (!Com) return;

    const UINT comEvent = CommMsgComEvent();
    const UINT portFailed = CommMsgPortFailed();
    const UINT quit = CommMsgQuitComEvent();
    while (!Terminated()) {
        const BOOL got = GetMessageW(&glMsg, nullptr, kFirstRegisteredMessage, kLastRegisteredMessage);
        // The terminate request is tested before the component is touched: after
        // a close from a handler the component may be gone.
        if (got == 0 || got == -1 || Terminated() || !Com->ThreadSeesPortOpen()) break;
        if (glMsg.message == quit) break;
        if (glMsg.hwnd != nullptr || (glMsg.message != comEvent && glMsg.message != portFailed)) {
            DispatchMessageW(&glMsg);
            continue;
        }
        // Received bytes only, and a handler that began after this event was
        // posted read the whole queue: the bytes are gone, nothing to hand over.
        if (glMsg.message == comEvent) {
            ++fEventsTaken;
            if (glMsg.wParam == EV_RXCHAR && fEventsTaken <= fEventsReadThrough.load(std::memory_order_acquire))
                continue;
        }
        if (Application && Com->GetUseMainThread()) {
            Synchronize([this] { SyncCommEvent(); });
        } else {
            RunHandler();
        }
    }
    OutputDebugStringW(PWChar(u"TMsgThread.Execute exit"));
}

void TMsgThread::SyncCommEvent()
{
    if (Terminated()) return;
    // Tells a close from inside the handler that this thread waits for the
    // main thread and must not be joined.
    struct TRunning {
        std::atomic<bool>& Flag;
        explicit TRunning(std::atomic<bool>& F) : Flag(F) { Flag.store(true); }
        ~TRunning() { Flag.store(false); }
    } running(fSyncRunning);
    RunHandler();
}

void TMsgThread::RunHandler()
{
    if (glMsg.message == CommMsgPortFailed()) {
        Com->ShutDown(false);
        return;
    }
    // Taken before the handler asks for the queue: every event counted here
    // had its bytes queued by then.
    const uint64_t posted = fEventsPosted.load(std::memory_order_acquire);
    Com->HandleCommEvent(glMsg);
    // A handler that closed the port or destroyed the component terminated us.
    if (Terminated()) return;
    if (Com->fQueueReadThrough) fEventsReadThrough.store(posted, std::memory_order_release);
}

// ---------------------------------------------------------------------------
// Starting and stopping

void TnrCustomComm::ThreadStart()
{
    if (!MsgThread) {
        MsgThread = new TMsgThread(this);
        // In place of a fixed sleep: the comm-event thread's first post finds the
        // queue (a post that fails is retried anyway).
        MsgThread->WaitQueueReady(1000);
    }
    if (!CommThread) CommThread = new TCommThread(this);
}

void TnrCustomComm::ThreadStop()
{
    std::shared_ptr<TCommThreadsState> state = fThreadsState;
    TCommThread* comm = nullptr;
    TMsgThread* msg = nullptr;
    {
        std::lock_guard<std::mutex> lk(state->Lock);
        // Another thread, or an outer call on this one, is joining the threads
        // and may be waiting for this very handler: leave it to that one.
        if (state->Stopping) return;
        state->Stopping = true;
        comm = CommThread;
        msg = MsgThread;
        CommThread = nullptr;
        MsgThread = nullptr;
    }
    if (comm) comm->Terminate();
    if (msg) msg->Terminate();
    TThread* current = TThread::CurrentThread();
    if (comm) {
        comm->WaitFor();
        delete comm;
    }
    if (msg) {
        if (msg == current || (msg->fSyncRunning.load() && IsMainThread())) {
            // Runs the handler we are in, or waits in Synchronize for it: it ends
            // by itself once the handler returns.
            msg->SetFreeOnTerminate(true);
        } else {
            JoinMsgThread(msg);
            delete msg;
        }
    }
    std::lock_guard<std::mutex> lk(state->Lock);
    state->Stopping = false;
}

void TnrCustomComm::JoinMsgThread(TMsgThread* Msg)
{
    // A handler on the message thread may wait in a read or a write that
    // nothing would end (no bytes coming, output stalled): the port's pending
    // transfers are aborted, again while the thread runs (the handler may
    // start another one); the main thread keeps serving Synchronize meanwhile.
    while (!Msg->WaitFor(std::chrono::milliseconds(kJoinAbortInterval))) {
        if (IsDeviceOpen()) PurgeComm(hPort, PURGE_TXABORT | PURGE_RXABORT);
        if (IsMainThread()) CheckSynchronize();
    }
}

void TnrCustomComm::StopThreadsForDestroy()
{
    ThreadsDestroying();
    ThreadStop();
}

void TnrCustomComm::ThreadsDestroying()
{
    std::lock_guard<std::mutex> lk(fThreadsState->Lock);
    fThreadsState->Destroyed = true;
}

bool TnrCustomComm::DestroyedBy(const std::shared_ptr<TCommThreadsState>& State)
{
    std::lock_guard<std::mutex> lk(State->Lock);
    return State->Destroyed;
}

// ---------------------------------------------------------------------------
// Event mask and the comm-event handler

void TnrCustomComm::SetTraceStates(TTraceStates Value)
{
    DWORD mask = EV_RXCHAR | TraceStatesToEventMask(Value);
    if (IsRS485Emulated()) mask |= EV_TXEMPTY;
    fTraceStates = Value;
    // Without tsRxChar the bytes may stay queued: every event goes to the handler.
    if (MsgThread && !Value.Contains(tsRxChar)) MsgThread->fEventsReadThrough.store(0, std::memory_order_release);
    if (IsDeviceOpen()) SetCommMask(hPort, mask);
}

void TnrCustomComm::HandleCommEvent(const MSG& Msg)
{
    if (Msg.message != CommMsgComEvent()) return;
    // A handler may close the port or destroy the component; the state
    // outlives the component and tells.
    std::shared_ptr<TCommThreadsState> state = fThreadsState;
    fQueueReadThrough = false;
    try {
        DWORD errors = 0;
        if (!ClearCommError(hPort, &errors, Stat)) {
            // A closed or failed port: nothing is queued.
            *Stat = COMSTAT{};
            errors = 0;
        }
        if (errors != 0) {
            DoCommError(errors, 0, ComStatToStateFlags(*Stat));
            if (DestroyedBy(state)) return;
            // The bytes that came with the error are read now, not with the next
            // byte; asked again, as the handler may have purged them.
            if (!ClearCommError(hPort, &errors, Stat) || Stat->cbInQue == 0) return;
            if (errors != 0) {
                DoCommError(errors, 0, ComStatToStateFlags(*Stat));
                if (DestroyedBy(state)) return;
            }
            const DWORD queued = Stat->cbInQue;
            fTotalReceived += queued;
            if (fTraceStates.load().Contains(tsRxChar) || HasDataConsumer()) ReceiveQueued(queued, state);
            return;
        }
        const DWORD events = static_cast<DWORD>(Msg.wParam);
        if ((events & EV_RXCHAR) && Stat->cbInQue > 0) {
            const DWORD queued = Stat->cbInQue;
            const bool consume = fTraceStates.load().Contains(tsRxChar) || HasDataConsumer();
            fTotalReceived += queued;
            if (consume && !ReceiveQueued(queued, state)) return;
        } else if (events & EV_RXCHAR) {
            fQueueReadThrough = fTraceStates.load().Contains(tsRxChar) || HasDataConsumer();
        }
        if (events & EV_TXEMPTY) {
            if (IsRS485Emulated()) SetStateRTS(false);
            const bool suppress = DoSendComplete();
            if (DestroyedBy(state)) return;
            if (fTraceStates.load().Contains(tsTxEmpty) && !suppress && fOnSent) {
                fOnSent(this);
                if (DestroyedBy(state)) return;
            }
        }
        const TTraceStates states = EventMaskToTraceStates(events & ~DWORD(EV_RXCHAR | EV_TXEMPTY));
        if (!states.Empty()) DoTraceState(this, states);
    } catch (const Exception& E) {
        ReportHandlerError(state, E.Message());
    } catch (const std::exception& E) {
        // Whatever a handler raises ends here: the message thread keeps running.
        ReportHandlerError(state, Utf8ToUnicode(E.what()));
    } catch (...) {
        ReportHandlerError(state, RuntimeText::UnknownException);
    }
}

void TnrCustomComm::ReportHandlerError(const std::shared_ptr<TCommThreadsState>& State, const UnicodeString& Message)
{
    const DWORD detail = GetLastError();
    if (DestroyedBy(State)) {
        OutputDebugStringW(PWChar(u"HandleCommEvent: error after the component was destroyed: " + Message));
        return;
    }
    ReportFatalError(1, detail, Message, true);
}

bool TnrCustomComm::ReceiveQueued(DWORD Queued, const std::shared_ptr<TCommThreadsState>& State)
{
    // The receive buffer keeps one byte behind the data for the terminal's NUL,
    // so a queue longer than that is read and dispatched in pieces, in order.
    DWORD remaining = Queued;
    while (remaining > 0) {
        if (!glBuffer || glBufferSize < 2 || !IsDeviceOpen()) break;
        const DWORD chunk = std::min<DWORD>(remaining, glBufferSize - 1);
        if (!ReadFileWait(hPort, glBuffer, chunk, &fOvlRead)) break;
        remaining -= chunk;
        DoDataReceived(glBuffer, chunk);
        if (DestroyedBy(State)) return false;
    }
    fQueueReadThrough = remaining == 0;
    return true;
}
