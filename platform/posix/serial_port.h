// The port engine behind a COM handle: request queues, time-outs, the event
// mask, error state and one service thread per open port that blocks in
// poll() on the device and a wake-up descriptor.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/posix/handles.h"
#include "platform/posix/portmap.h"
#include "platform/posix/serial_backend.h"

namespace winapi_posix {

class SerialPort : public KernelObject {
public:
    // The service thread holds the port only while it runs one pass.
    void StartService(std::weak_ptr<SerialPort> self);

    SerialPort(std::unique_ptr<SerialBackend> backend, PortMapEntry entry, bool overlapped);
    ~SerialPort() override;
    void OnClose() override;

    // Each returns TRUE/FALSE and sets the last error like the Win32 call.
    BOOL Read(void* buffer, DWORD count, DWORD* transferred, OVERLAPPED* ovl);
    BOOL Write(const void* buffer, DWORD count, DWORD* transferred, OVERLAPPED* ovl);
    BOOL WaitEvent(DWORD* mask, OVERLAPPED* ovl);
    BOOL Flush();
    BOOL Cancel();
    BOOL Setup(DWORD inQueue, DWORD outQueue);
    BOOL GetState(DCB* dcb);
    BOOL SetState(const DCB* dcb);
    BOOL GetTimeouts(COMMTIMEOUTS* timeouts);
    BOOL SetTimeouts(const COMMTIMEOUTS* timeouts);
    BOOL GetMask(DWORD* mask);
    BOOL SetMask(DWORD mask);
    BOOL ClearError(DWORD* errors, COMSTAT* stat);
    BOOL Purge(DWORD flags);
    BOOL Escape(DWORD function);
    BOOL GetModemStatus(DWORD* status);
    BOOL GetProperties(COMMPROP* prop);
    BOOL TransmitChar(char c);

private:
    using Clock = std::chrono::steady_clock;
    enum class Kind { Read, Write, Wait };
    struct Request {
        Kind kind;
        OVERLAPPED* ovl;
        uint8_t* readBuffer = nullptr;
        const uint8_t* writeBuffer = nullptr;
        DWORD size = 0;
        DWORD done = 0;
        DWORD* eventMask = nullptr;
        DWORD thread = 0;
        bool started = false;
        bool returnOnAny = false;                               // read: complete as soon as one byte is there
        bool immediate = false;                                 // read: complete with whatever is queued
        Clock::duration totalLength = Clock::duration::zero();  // zero: no total time-out
        Clock::time_point totalDeadline = Clock::time_point::max();
        Clock::time_point intervalDeadline = Clock::time_point::max();
        Clock::duration interval = Clock::duration::zero();
    };

    BOOL Submit(Request request, DWORD* transferred);

    // All below run with mutex_ held.
    DWORD Refusal(const Request& request) const;  // the error a new request fails with, or 0
    void File(Request request);                   // queues it, or completes it at once
    void FileRead(Request& request);
    void FileWrite(Request& request);
    void FileWait(Request& request);
    DWORD Usable() const;  // 0 or the error every call reports now
    void Complete(Request& request, ULONG_PTR status);
    void ServeReads(Clock::time_point now);
    void ServeWrites(Clock::time_point now);
    void CheckDrain(Clock::time_point now);
    void RaiseEvents(DWORD events);
    void AddErrors(DWORD errors);
    void ReceiveBytes(const uint8_t* data, size_t count);
    void LinesChanged();
    void InputFlow();  // fInX: XOFF when the queue fills, XON when it has emptied
    // Completes the queue's requests (only the calling thread's) with status.
    void AbortQueue(std::deque<Request>& queue, ULONG_PTR status, bool onlyThisThread);
    void AbortReads(ULONG_PTR status, bool onlyThisThread);
    void AbortWrites(ULONG_PTR status, bool onlyThisThread);
    void AbortAll(ULONG_PTR status);
    void EndWait(ULONG_PTR status);  // the pending WaitCommEvent, with an empty mask
    void DeviceRemoved();
    void ResizeInput(size_t capacity);
    size_t InputFree() const { return input_.size() - inputCount_; }
    size_t TakeInput(uint8_t* out, size_t max);
    int PollTimeoutMs(Clock::time_point now) const;
    void WakeService();
    bool ServiceOnce();  // one poll pass; false when the port is closing

    std::unique_ptr<SerialBackend> backend_;
    PortMapEntry entry_;
    bool overlappedHandle_;

    mutable std::mutex mutex_;
    std::condition_variable drained_;  // FlushFileBuffers waiters
    bool closed_ = false;
    bool removed_ = false;
    bool stopping_ = false;

    DCB dcb_{};
    COMMTIMEOUTS timeouts_{};
    DWORD mask_ = 0;
    DWORD history_ = 0;
    DWORD errors_ = 0;
    DWORD modemStatus_ = 0;
    DWORD inQueueSize_ = 0, outQueueSize_ = 0;
    bool rtsToggleEmulated_ = false;
    bool txBusy_ = false;
    bool writeBlocked_ = false;  // last Transmit took less than offered
    bool xoffHold_ = false;
    bool xoffSent_ = false;  // the engine sent XOFF for a filling queue
    bool rx80Reported_ = false;
    Clock::time_point drainCheck_ = Clock::time_point::max();

    std::vector<uint8_t> scratch_;  // service thread only
    std::vector<uint8_t> input_;
    size_t inputHead_ = 0, inputCount_ = 0;

    std::deque<Request> reads_, writes_;
    std::unique_ptr<Request> wait_;

    int wakeFd_ = -1;
    std::thread service_;
};

}  // namespace winapi_posix
