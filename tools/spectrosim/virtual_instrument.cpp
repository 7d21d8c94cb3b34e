#include "tools/spectrosim/virtual_instrument.h"

#include "platform/posix/virtual_port.h"

#include <chrono>

namespace spectrosim {

TVirtualInstrument::TVirtualInstrument(const std::u16string& ComName, const TInstrumentOptions& Options, bool Paced)
    : fPort(std::make_unique<winapi_posix::VirtualPort>(ComName)), fInstrument(Options), fPaced(Paced)
{
    // The callback runs on the port's service thread and must not block:
    // hand the bytes over and let our own thread answer.
    fPort->SetDataCallback([this](const std::string& bytes) {
        {
            std::lock_guard<std::mutex> lock(fMutex);
            fInput += bytes;
        }
        fWake.notify_one();
    });
    fThread = std::thread([this] { Run(); });
}

TVirtualInstrument::~TVirtualInstrument()
{
    {
        std::lock_guard<std::mutex> lock(fMutex);
        fStop = true;
    }
    fWake.notify_one();
    fThread.join();
    fPort->SetDataCallback({});
}

const std::u16string& TVirtualInstrument::ComName() const { return fPort->ComName(); }

void TVirtualInstrument::SetLamp(TLamp Lamp)
{
    std::lock_guard<std::mutex> lock(fMutex);
    fInstrument.SetLamp(Lamp);
}

void TVirtualInstrument::SetSample(const TSample& Sample)
{
    std::lock_guard<std::mutex> lock(fMutex);
    fInstrument.SetSample(Sample);
}

void TVirtualInstrument::Run()
{
    std::unique_lock<std::mutex> lock(fMutex);
    std::vector<std::string> replies;
    for (;;) {
        fWake.wait(lock, [this] { return fStop || !fInput.empty(); });
        if (fStop) return;
        std::string input;
        input.swap(fInput);
        replies.clear();
        fInstrument.Receive(input, replies);
        for (const std::string& line : replies) {
            lock.unlock();
            fPort->Write(line);
            const auto baud = fPort->HostSettings().BaudRate;
            lock.lock();
            if (fPaced) {
                // Wait as long as the line takes on the wire; a stop ends the wait.
                const auto due = std::chrono::microseconds(LineTimeUs(line.size(), baud));
                if (fWake.wait_for(lock, due, [this] { return fStop; })) return;
            } else if (fStop) {
                return;
            }
        }
    }
}

}  // namespace spectrosim
