// The simulated instrument behind an in-process virtual serial port.
#pragma once

#include "tools/spectrosim/instrument.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace winapi_posix {
class VirtualPort;
}

namespace spectrosim {

class TVirtualInstrument {
public:
    // Creates the virtual port (registered in the port map under ComName, or
    // the lowest free name when empty) and starts answering on it. Paced
    // replies leave at the host's baud rate; unpaced ones at once.
    explicit TVirtualInstrument(const std::u16string& ComName = u"", const TInstrumentOptions& Options = {},
                                bool Paced = true);
    ~TVirtualInstrument();
    TVirtualInstrument(const TVirtualInstrument&) = delete;
    TVirtualInstrument& operator=(const TVirtualInstrument&) = delete;

    const std::u16string& ComName() const;
    void SetLamp(TLamp Lamp);
    void SetSample(const TSample& Sample);
    winapi_posix::VirtualPort& Port() { return *fPort; }

private:
    void Run();
    std::unique_ptr<winapi_posix::VirtualPort> fPort;
    TInstrument fInstrument;
    bool fPaced;
    std::mutex fMutex;
    std::condition_variable fWake;
    std::string fInput;  // bytes from the host not yet handed to the instrument
    bool fStop = false;
    std::thread fThread;
};

}  // namespace spectrosim
