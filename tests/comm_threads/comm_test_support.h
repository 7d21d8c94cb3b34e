// Helpers of the serial component's thread and I/O tests: a recording log
// sink, a recorder of the component's events, thread counting and waits on
// the headless main-thread dispatcher.
#pragma once

#include <dirent.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "comm/nrcomm/nrcomm.h"
#include "platform/posix/portmap.h"
#include "platform/posix/virtual_port.h"
#include "tests/support/recording_log.h"
#include "tests/support/test_comm.h"
#include "toolkit/forms.h"

namespace commtest {

using namespace std::chrono_literals;

// What the component reported, in order, from whichever thread.
struct TEventRecord {
    std::string Kind;  // "rx", "trace", "commerror", "sent", "close", "notify"
    std::string Data;  // received bytes
    uint32_t A = 0, B = 0;
    std::thread::id Thread;
};

class TRecorder {
public:
    void Add(std::string Kind, std::string Data = std::string(), uint32_t A = 0, uint32_t B = 0)
    {
        TEventRecord R;
        R.Kind = std::move(Kind);
        R.Data = std::move(Data);
        R.A = A;
        R.B = B;
        R.Thread = std::this_thread::get_id();
        {
            std::lock_guard<std::mutex> lk(fMutex);
            fEvents.push_back(std::move(R));
        }
        fCount.fetch_add(1);
        if (Application) Application->Wake();
    }
    std::vector<TEventRecord> Events() const
    {
        std::lock_guard<std::mutex> lk(fMutex);
        return fEvents;
    }
    std::vector<TEventRecord> OfKind(const std::string& Kind) const
    {
        std::vector<TEventRecord> out;
        for (auto& e : Events())
            if (e.Kind == Kind) out.push_back(e);
        return out;
    }
    std::string Received() const
    {
        std::string s;
        for (auto& e : Events())
            if (e.Kind == "rx") s += e.Data;
        return s;
    }
    // Notifications with the given code.
    size_t Notified(uint32_t Code) const
    {
        size_t n = 0;
        for (auto& e : OfKind("notify"))
            if (e.A == Code) ++n;
        return n;
    }
    size_t Count() const { return fCount.load(); }
    void Clear()
    {
        std::lock_guard<std::mutex> lk(fMutex);
        fEvents.clear();
    }

    // Hooks every event of Comm to this recorder.
    void Attach(TnrCustomComm& Comm)
    {
        Comm.SetOnAfterReceive([this](TObject*, const uint8_t* Buffer, uint32_t Received) {
            Add("rx", std::string(reinterpret_cast<const char*>(Buffer), Received), Received);
        });
        Comm.SetOnTraceState([this](TObject*, TTraceStates Event) { Add("trace", "", Event.ToBits()); });
        Comm.SetOnCommError([this](TObject*, uint32_t CommCode, uint32_t SysError, TComStateFlags, bool&) {
            Add("commerror", "", CommCode, SysError);
        });
        Comm.SetOnAfterSend([this](TObject*) { Add("sent"); });
        Comm.SetOnClose([this](TObject*) { Add("close"); });
    }
    void DeviceNotify(TObject*, int Code) { Add("notify", "", static_cast<uint32_t>(Code)); }

private:
    mutable std::mutex fMutex;
    std::vector<TEventRecord> fEvents;
    std::atomic<size_t> fCount{0};
};

// Runs the main thread's dispatcher until Predicate holds (false on time-out).
inline bool WaitMain(const std::function<bool()>& Predicate, std::chrono::milliseconds Timeout = 5000ms)
{
    return Application->WaitUntil(Predicate, Timeout);
}

// Pumps the main thread for a while (lets queued requests run).
inline void PumpFor(std::chrono::milliseconds Duration)
{
    Application->WaitUntil([] { return false; }, Duration);
}

// Threads of this process (entries of /proc/self/task).
// Waits without running the main thread's requests (so a message thread
// stays blocked in Synchronize).
inline bool WaitNoPump(const std::function<bool()>& Predicate, std::chrono::milliseconds Timeout = 5000ms)
{
    const auto end = std::chrono::steady_clock::now() + Timeout;
    while (!Predicate()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

inline int ProcessThreadCount()
{
    int n = 0;
    if (DIR* d = opendir("/proc/self/task")) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') ++n;
        closedir(d);
    }
    return n;
}

// Waits until the thread count has dropped to at most Expected: a thread
// that freed itself may still be on its way out.
inline int SettledThreadCount(int Expected, std::chrono::milliseconds Timeout = 2000ms)
{
    const auto end = std::chrono::steady_clock::now() + Timeout;
    int n = ProcessThreadCount();
    while (n > Expected && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(1ms);
        n = ProcessThreadCount();
    }
    return n;
}

inline uint16_t PortNumber(const std::u16string& ComName)
{
    return static_cast<uint16_t>(winapi_posix::ComNumber(ComName));
}

// A component on a virtual port with the program's line settings.
inline void SetupOn(TnrComm& Comm, const winapi_posix::VirtualPort& Port)
{
    Comm.SetComPortNo(PortNumber(Port.ComName()));
    Comm.SetBaudRate(9600);
    Comm.SetByteSize(8);
    Comm.SetParity(pNone);
    Comm.SetStopBits(sbOne);
    Comm.SetStreamProtocol(spNone);
    Comm.SetBufferInSize(4096);
    Comm.SetBufferOutSize(4096);
}

}  // namespace commtest
