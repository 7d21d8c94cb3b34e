// The serial port engine behind a COM handle (the Win32 communications
// functions over it are in serial_api.cpp, its settings in serial_settings.cpp).
//
// One SerialPort per open handle. Requests (reads, writes, one comm-event
// wait) queue here; a service thread per port blocks in poll() on the device
// and an eventfd and completes them as bytes, line events and time-outs come.
// Completion writes the OVERLAPPED's status (NTSTATUS in Internal, count in
// InternalHigh) and signals its event, as the Windows I/O manager does.
#include "platform/posix/serial_port.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/posix/overlapped.h"
#include "platform/posix/text.h"

namespace winapi_posix {

namespace {

constexpr size_t kMinInputQueue = 32768;
constexpr size_t kScratchSize = 65536;

std::chrono::milliseconds Ms(uint64_t ms) { return std::chrono::milliseconds(ms); }

}  // namespace

SerialPort::SerialPort(std::unique_ptr<SerialBackend> backend, PortMapEntry entry, bool overlapped)
    : backend_(std::move(backend)), entry_(std::move(entry)), overlappedHandle_(overlapped)
{
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    backend_->Wake = [this] { WakeService(); };
    input_.resize(kMinInputQueue);
    backend_->CurrentSettings(&dcb_);
    dcb_.DCBlength = sizeof(DCB);
    backend_->ModemStatus(&modemStatus_);
}

SerialPort::~SerialPort()
{
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!closed_) {
            closed_ = true;
            AbortAll(kStatusCancelled);
            backend_->Close();
        }
        stopping_ = true;
    }
    if (service_.joinable()) {
        if (service_.get_id() == std::this_thread::get_id()) {
            service_.detach();
        } else {
            WakeService();
            service_.join();
        }
    }
    if (wakeFd_ >= 0) close(wakeFd_);
}

void SerialPort::StartService(std::weak_ptr<SerialPort> self)
{
    service_ = std::thread([self] {
        for (;;) {
            std::shared_ptr<SerialPort> port = self.lock();
            if (!port || !port->ServiceOnce()) return;
        }
    });
}

void SerialPort::OnClose()
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (closed_) return;
    closed_ = true;
    AbortAll(kStatusCancelled);
    drained_.notify_all();
    stopping_ = true;
    if (service_.joinable() && service_.get_id() != std::this_thread::get_id()) {
        lock.unlock();
        WakeService();
        service_.join();
        lock.lock();
    }
    backend_->Close();
}

void SerialPort::WakeService()
{
    uint64_t one = 1;
    ssize_t ignored = write(wakeFd_, &one, sizeof one);
    (void)ignored;
}

DWORD SerialPort::Usable() const
{
    if (closed_) return ERROR_INVALID_HANDLE;
    if (removed_) return ERROR_ACCESS_DENIED;
    return 0;
}

void SerialPort::Complete(Request& request, ULONG_PTR status)
{
    DWORD count = request.kind != Kind::Wait ? request.done : status == kStatusSuccess ? sizeof(DWORD) : 0;
    CompleteOverlapped(request.ovl, status, count);
}

// --- receive ------------------------------------------------------------------

void SerialPort::ResizeInput(size_t capacity)
{
    capacity = std::max({capacity, kMinInputQueue, inputCount_});
    if (capacity <= input_.size()) return;  // never shrinks: the service thread sized its read by the old room
    std::vector<uint8_t> bigger(capacity);
    size_t n = TakeInput(bigger.data(), inputCount_);
    input_.swap(bigger);
    inputHead_ = 0;
    inputCount_ = n;
}

size_t SerialPort::TakeInput(uint8_t* out, size_t max)
{
    size_t n = std::min(max, inputCount_);
    size_t first = std::min(n, input_.size() - inputHead_);
    std::memcpy(out, input_.data() + inputHead_, first);
    std::memcpy(out + first, input_.data(), n - first);
    inputHead_ = (inputHead_ + n) % input_.size();
    inputCount_ -= n;
    if (inputCount_ == 0) inputHead_ = 0;
    if (inputCount_ < input_.size() * 8 / 10) rx80Reported_ = false;
    return n;
}

void SerialPort::ReceiveBytes(const uint8_t* data, size_t count)
{
    size_t stored = 0, dropped = 0;
    size_t tail = (inputHead_ + inputCount_) % input_.size();
    // EV_RXFLAG only for an event character that reached the queue.
    bool flagStored = false;
    const auto flag = static_cast<uint8_t>(dcb_.EvtChar);
    if (DcbFlags(dcb_) & kDcbNull) {
        for (size_t i = 0; i < count; ++i) {
            if (data[i] == 0) continue;
            if (inputCount_ == input_.size()) {
                ++dropped;
                continue;
            }
            flagStored = flagStored || data[i] == flag;
            input_[tail] = data[i];
            tail = tail + 1 == input_.size() ? 0 : tail + 1;
            ++inputCount_;
            ++stored;
        }
    } else {
        stored = std::min(count, InputFree());
        dropped = count - stored;
        size_t first = std::min(stored, input_.size() - tail);
        std::memcpy(input_.data() + tail, data, first);
        std::memcpy(input_.data(), data + first, stored - first);
        inputCount_ += stored;
        flagStored = (mask_ & EV_RXFLAG) && std::memchr(data, flag, stored);
    }
    if (dropped) AddErrors(CE_RXOVER);
    if (stored == 0) return;
    InputFlow();
    DWORD events = EV_RXCHAR;
    if ((mask_ & EV_RXFLAG) && flagStored) events |= EV_RXFLAG;
    if (!rx80Reported_ && inputCount_ >= input_.size() * 8 / 10) {
        rx80Reported_ = true;
        events |= EV_RX80FULL;
    }
    RaiseEvents(events);
}

void SerialPort::InputFlow()
{
    bool wanted = (DcbFlags(dcb_) & kDcbInX) && !backend_->SendsInputFlow() && !removed_;
    DWORD error = 0;
    if (!xoffSent_) {
        if (wanted && InputFree() < dcb_.XoffLim &&
            backend_->TransmitAhead(static_cast<uint8_t>(dcb_.XoffChar), &error))
            xoffSent_ = true;
    } else if (!wanted || inputCount_ <= dcb_.XonLim) {
        xoffSent_ = false;
        if (!removed_) backend_->TransmitAhead(static_cast<uint8_t>(dcb_.XonChar), &error);
    }
}

void SerialPort::ServeReads(Clock::time_point now)
{
    while (!reads_.empty()) {
        Request& r = reads_.front();
        if (!r.started) {
            r.started = true;
            if (r.totalLength.count() > 0) r.totalDeadline = now + r.totalLength;
        }
        size_t n = TakeInput(r.readBuffer + r.done, r.size - r.done);
        if (n > 0) {
            r.done += static_cast<DWORD>(n);
            if (r.interval.count() > 0) r.intervalDeadline = now + r.interval;
        }
        bool finished = r.done == r.size || (r.returnOnAny && r.done > 0) || r.immediate || now >= r.totalDeadline ||
                        now >= r.intervalDeadline;
        if (!finished) break;
        Complete(r, kStatusSuccess);
        reads_.pop_front();
    }
    if (xoffSent_) InputFlow();
}

// ReadFile, WriteFile and WaitCommEvent: check the port, start the record,
// file the request, then return its result at once, report it pending, or wait
// for it on a synchronous handle.
BOOL SerialPort::Submit(Request request, DWORD* transferred)
{
    OVERLAPPED local{};
    bool sync = request.ovl == nullptr || !overlappedHandle_;
    if (!request.ovl) request.ovl = &local;
    OVERLAPPED* ovl = request.ovl;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (DWORD e = Usable()) return Fail(e);
        if (DWORD e = Refusal(request)) return Fail(e);
        StartOverlapped(ovl);
        request.thread = GetCurrentThreadId();
        Kind kind = request.kind;
        File(std::move(request));
        if (StatusOf(ovl) != kStatusPending) return ResultOf(ovl, transferred);
        if (kind != Kind::Wait) WakeService();  // new deadline or output
        if (!sync) return Fail(ERROR_IO_PENDING);
    }
    WaitCompletion(ovl);
    return ResultOf(ovl, transferred);
}

DWORD SerialPort::Refusal(const Request& request) const
{
    if (request.kind == Kind::Wait)
        return request.eventMask == nullptr || mask_ == 0 || wait_ ? ERROR_INVALID_PARAMETER : 0;
    return (DcbFlags(dcb_) & kDcbAbortOnError) && errors_ ? ERROR_OPERATION_ABORTED : 0;
}

void SerialPort::File(Request request)
{
    switch (request.kind) {
    case Kind::Read: return FileRead(request);
    case Kind::Write: return FileWrite(request);
    case Kind::Wait: return FileWait(request);
    }
}

BOOL SerialPort::Read(void* buffer, DWORD count, DWORD* transferred, OVERLAPPED* ovl)
{
    Request r{Kind::Read, ovl};
    r.readBuffer = static_cast<uint8_t*>(buffer);
    r.size = count;
    return Submit(r, transferred);
}

void SerialPort::FileRead(Request& r)
{
    const COMMTIMEOUTS& t = timeouts_;
    if (t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0) {
        r.immediate = true;  // take what is queued, however little
    } else if (t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
               t.ReadTotalTimeoutConstant > 0 && t.ReadTotalTimeoutConstant < MAXDWORD) {
        r.returnOnAny = true;
        r.totalLength = Ms(t.ReadTotalTimeoutConstant);
    } else {
        uint64_t total = uint64_t(t.ReadTotalTimeoutMultiplier) * r.size + t.ReadTotalTimeoutConstant;
        if (total > 0) r.totalLength = Ms(std::min<uint64_t>(total, uint64_t(1) << 40));
        if (t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != MAXDWORD) r.interval = Ms(t.ReadIntervalTimeout);
    }
    bool wasFull = InputFree() == 0;
    reads_.push_back(r);
    ServeReads(Clock::now());
    if (wasFull && InputFree() > 0) WakeService();  // the device may be held back by a full queue
}

// --- transmit -----------------------------------------------------------------

void SerialPort::ServeWrites(Clock::time_point now)
{
    while (!writes_.empty() && !removed_) {
        Request& w = writes_.front();
        if (!w.started) {
            w.started = true;
            if (w.totalLength.count() > 0) w.totalDeadline = now + w.totalLength;
            if (rtsToggleEmulated_ && w.size > 0) backend_->SetRts(true);
        }
        if (!xoffHold_ && w.done < w.size) {
            DWORD error = 0;
            long k = backend_->Transmit(w.writeBuffer + w.done, w.size - w.done, &error);
            if (k < 0) {
                if (error == ERROR_ACCESS_DENIED) {
                    DeviceRemoved();
                    return;
                }
                Complete(w, StatusFromError(error));
                writes_.pop_front();
                continue;
            }
            if (k > 0) txBusy_ = true;
            w.done += static_cast<DWORD>(k);
        }
        writeBlocked_ = w.done < w.size;
        if (w.done == w.size || now >= w.totalDeadline) {
            // A write ended by its time-out completes successfully with the bytes
            // that left, as serial.sys does (STATUS_TIMEOUT is a success code).
            Complete(w, kStatusSuccess);
            writes_.pop_front();
            writeBlocked_ = false;
            continue;
        }
        break;
    }
}

void SerialPort::CheckDrain(Clock::time_point now)
{
    drainCheck_ = Clock::time_point::max();
    if (!txBusy_ || !writes_.empty() || removed_) return;
    DWORD queued = backend_->TransmitQueued();
    if (queued == 0) {
        txBusy_ = false;
        if (rtsToggleEmulated_) backend_->SetRts(false);
        RaiseEvents(EV_TXEMPTY);
        drained_.notify_all();
        return;
    }
    int delay = backend_->DrainCheckDelayMs(queued);
    if (delay >= 0) drainCheck_ = now + Ms(delay);
}

BOOL SerialPort::Write(const void* buffer, DWORD count, DWORD* transferred, OVERLAPPED* ovl)
{
    Request w{Kind::Write, ovl};
    w.writeBuffer = static_cast<const uint8_t*>(buffer);
    w.size = count;
    return Submit(w, transferred);
}

void SerialPort::FileWrite(Request& w)
{
    uint64_t total = uint64_t(timeouts_.WriteTotalTimeoutMultiplier) * w.size + timeouts_.WriteTotalTimeoutConstant;
    if (total > 0) w.totalLength = Ms(std::min<uint64_t>(total, uint64_t(1) << 40));
    writes_.push_back(w);
    auto now = Clock::now();
    ServeWrites(now);
    CheckDrain(now);
}

BOOL SerialPort::TransmitChar(char c)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (DWORD e = Usable()) return Fail(e);
    DWORD error = 0;
    if (!backend_->TransmitAhead(static_cast<uint8_t>(c), &error)) {
        if (error == ERROR_ACCESS_DENIED) DeviceRemoved();
        return Fail(error);
    }
    txBusy_ = true;
    CheckDrain(Clock::now());
    WakeService();
    return TRUE;
}

BOOL SerialPort::Flush()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (DWORD e = Usable()) return Fail(e);
        if (writes_.empty() && !txBusy_) return TRUE;
        drained_.wait(lock);
    }
}

// --- events and errors --------------------------------------------------------

void SerialPort::RaiseEvents(DWORD events)
{
    events &= mask_;
    if (events == 0) return;
    if (wait_) {
        *wait_->eventMask = events;
        Complete(*wait_, kStatusSuccess);
        wait_.reset();
    } else {
        history_ |= events;
    }
}

void SerialPort::AddErrors(DWORD errors)
{
    errors_ |= errors;
    DWORD events = 0;
    if (errors & (CE_FRAME | CE_OVERRUN | CE_RXPARITY)) events |= EV_ERR;
    if (errors & CE_BREAK) events |= EV_BREAK;
    RaiseEvents(events);
    if (DcbFlags(dcb_) & kDcbAbortOnError) {
        AbortReads(kStatusCancelled, false);
        AbortWrites(kStatusCancelled, false);
    }
}

void SerialPort::LinesChanged()
{
    DWORD now = 0;
    if (backend_->ModemStatus(&now) != 0) return;
    DWORD changed = now ^ modemStatus_;
    modemStatus_ = now;
    DWORD events = 0;
    if (changed & MS_CTS_ON) events |= EV_CTS;
    if (changed & MS_DSR_ON) events |= EV_DSR;
    if (changed & MS_RLSD_ON) events |= EV_RLSD;
    if (changed & MS_RING_ON) events |= EV_RING;
    RaiseEvents(events);
}

BOOL SerialPort::WaitEvent(DWORD* mask, OVERLAPPED* ovl)
{
    Request w{Kind::Wait, ovl};
    w.eventMask = mask;
    return Submit(w, nullptr);
}

void SerialPort::FileWait(Request& w)
{
    if (history_) {
        *w.eventMask = history_;
        history_ = 0;
        Complete(w, kStatusSuccess);
        return;
    }
    wait_ = std::make_unique<Request>(w);
}

BOOL SerialPort::GetMask(DWORD* mask)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (DWORD e = Usable()) return Fail(e);
    if (!mask) return Fail(ERROR_INVALID_PARAMETER);
    *mask = mask_;
    return TRUE;
}

BOOL SerialPort::SetMask(DWORD mask)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (DWORD e = Usable()) return Fail(e);
    // A pending wait completes with an empty mask, as on Windows.
    if (wait_) EndWait(kStatusSuccess);
    history_ = 0;
    mask_ = mask;
    backend_->ModemStatus(&modemStatus_);
    return TRUE;
}

BOOL SerialPort::ClearError(DWORD* errors, COMSTAT* stat)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (DWORD e = Usable()) return Fail(e);
    if (errors) *errors = errors_;
    errors_ = 0;
    if (stat) {
        DWORD hold = backend_->HoldFlags() | (xoffHold_ ? kHoldXoff : 0) | (xoffSent_ ? kHoldXoffSent : 0);
        std::memset(stat, 0, sizeof *stat);
        std::memcpy(stat, &hold, sizeof hold);
        stat->cbInQue = static_cast<DWORD>(inputCount_);
        // Once the output has drained (EV_TXEMPTY time) nothing of ours is left
        // in the device: no need to ask it, which costs a system call per receive
        // event on a tty. Flow-control characters the engine sends are not
        // counted, as on Windows.
        DWORD out = txBusy_ ? backend_->TransmitQueued() : 0;
        for (const Request& w : writes_) out += w.size - w.done;
        stat->cbOutQue = out;
    }
    return TRUE;
}

// --- aborts -------------------------------------------------------------------

void SerialPort::EndWait(ULONG_PTR status)
{
    *wait_->eventMask = 0;
    Complete(*wait_, status);
    wait_.reset();
}

void SerialPort::AbortQueue(std::deque<Request>& queue, ULONG_PTR status, bool onlyThisThread)
{
    DWORD self = GetCurrentThreadId();
    for (auto it = queue.begin(); it != queue.end();) {
        if (onlyThisThread && it->thread != self) {
            ++it;
            continue;
        }
        Complete(*it, status);
        it = queue.erase(it);
    }
}

void SerialPort::AbortReads(ULONG_PTR status, bool onlyThisThread) { AbortQueue(reads_, status, onlyThisThread); }

void SerialPort::AbortWrites(ULONG_PTR status, bool onlyThisThread)
{
    AbortQueue(writes_, status, onlyThisThread);
    writeBlocked_ = false;
    drained_.notify_all();
}

void SerialPort::AbortAll(ULONG_PTR status)
{
    AbortReads(status, false);
    AbortWrites(status, false);
    if (wait_) EndWait(status);
    drained_.notify_all();
}

void SerialPort::DeviceRemoved()
{
    if (removed_) return;
    removed_ = true;
    txBusy_ = false;
    AbortAll(kStatusAccessDenied);
}

BOOL SerialPort::Cancel()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return Fail(ERROR_INVALID_HANDLE);
    AbortReads(kStatusCancelled, true);
    AbortWrites(kStatusCancelled, true);
    if (wait_ && wait_->thread == GetCurrentThreadId()) EndWait(kStatusCancelled);
    CheckDrain(Clock::now());
    return TRUE;
}

BOOL SerialPort::Purge(DWORD flags)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (DWORD e = Usable()) return Fail(e);
    if (flags & ~DWORD(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR))
        return Fail(ERROR_INVALID_PARAMETER);
    if (flags & PURGE_TXABORT) AbortWrites(kStatusCancelled, false);
    if (flags & PURGE_RXABORT) AbortReads(kStatusCancelled, false);
    if (flags & PURGE_TXCLEAR) {
        backend_->PurgeOutput();
        if (writes_.empty()) {
            txBusy_ = false;
            if (rtsToggleEmulated_) backend_->SetRts(false);
            drained_.notify_all();
        }
    }
    if (flags & PURGE_RXCLEAR) {
        inputHead_ = inputCount_ = 0;
        rx80Reported_ = false;
        backend_->PurgeInput();
        InputFlow();
        WakeService();  // room again for a device held back by a full queue
    }
    CheckDrain(Clock::now());
    return TRUE;
}

// --- service thread -----------------------------------------------------------

int SerialPort::PollTimeoutMs(Clock::time_point now) const
{
    Clock::time_point next = drainCheck_;
    if (!reads_.empty() && reads_.front().started)
        next = std::min({next, reads_.front().totalDeadline, reads_.front().intervalDeadline});
    if (!writes_.empty() && writes_.front().started) next = std::min(next, writes_.front().totalDeadline);
    int timeout = -1;
    if (next != Clock::time_point::max()) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
        timeout = static_cast<int>(std::clamp<long long>(left, 0, 1 << 30));
    }
    if (!removed_) {
        int device = backend_->ServiceDelayMs();
        if (device >= 0 && (timeout < 0 || device < timeout)) timeout = device;
    }
    return timeout;
}

bool SerialPort::ServiceOnce()
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (stopping_) return false;
    if (scratch_.empty()) scratch_.resize(kScratchSize);
    pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {-1, 0, 0}};
    nfds_t count = 1;
    int deviceFd = removed_ ? -1 : backend_->PollFd();
    bool dataFd = backend_->PollsData();
    if (deviceFd >= 0) {
        short events = POLLIN;
        if (dataFd) {
            events = 0;
            if (InputFree() > 0) events |= POLLIN;  // a full queue holds the device back
            if (writeBlocked_ && !writes_.empty() && !xoffHold_) events |= POLLOUT;
        }
        fds[1] = {deviceFd, events, 0};
        count = 2;
    }
    int timeout = PollTimeoutMs(Clock::now());
    lock.unlock();

    int ready = poll(fds, count, timeout);
    if (ready < 0 && errno != EINTR) {
        // The port can no longer be served: fail it like a removed device, so
        // that pending and later calls report it instead of waiting forever.
        const int error = errno;
        lock.lock();
        if (stopping_ || removed_) return false;  // nothing left to serve
        std::fprintf(stderr, "serial: %s (%s): poll() failed: %s; the port fails as if removed\n",
                     ToUtf8(entry_.ComName).c_str(), entry_.DevicePath.c_str(), std::strerror(error));
        DeviceRemoved();
        return true;
    }
    if (fds[0].revents & POLLIN) {
        uint64_t value;
        ssize_t ignored = read(wakeFd_, &value, sizeof value);
        (void)ignored;
    }
    ServiceResult result;
    short revents = count == 2 ? fds[1].revents : 0;
    bool serviced = count == 2 && (revents != 0 || !dataFd);
    if (serviced) {
        // The room is taken after the wait: a reader may have emptied a full queue
        // meanwhile, and a virtual device hands over its bytes only when asked.
        // Only this thread fills the queue, so the room cannot shrink until the
        // bytes are stored below.
        lock.lock();
        size_t capacity = std::min(scratch_.size(), InputFree());
        lock.unlock();
        result = backend_->Service(scratch_.data(), capacity, revents);
    }

    lock.lock();
    if (stopping_) return false;
    auto now = Clock::now();
    if (serviced) {
        if (result.Received) ReceiveBytes(scratch_.data(), result.Received);
        if (result.Errors) AddErrors(result.Errors);
        if (result.Break) AddErrors(CE_BREAK);
        if (result.LinesChanged) LinesChanged();
        if (result.Removed) DeviceRemoved();
    }
    ServeReads(now);
    ServeWrites(now);
    CheckDrain(now);
    return true;
}

}  // namespace winapi_posix
