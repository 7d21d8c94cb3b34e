// The three receivers the benchmark compares on the same kind of pty: a plain
// poll()/read() loop, QSerialPort (readyRead) and TnrComm (OnAfterReceive on
// the main thread, UseMainThread). Each either checks what it receives against
// the reference stream or writes every byte straight back (echo).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "bench/comm_receive/pty_peer.h"

namespace bench {

class THost {
public:
    virtual ~THost() = default;
    virtual const char* Name() const = 0;
    // Opens the pty's slave. Echo: write every received byte back at once.
    virtual void Open(TPty& Pty, bool Echo) = 0;
    // Runs the host's own loop until Done holds (tested after every receive)
    // or Timeout passes; returns whether Done held.
    virtual bool RunUntil(const std::function<bool()>& Done, std::chrono::milliseconds Timeout) = 0;
    virtual void Close() = 0;

    TChecker Check;
    uint64_t Echoed = 0;

protected:
    // Every host hands its received bytes here, from its receive handler.
    void Received(const uint8_t* Data, size_t N)
    {
        if (fEcho) {
            WriteBack(Data, N);
            Echoed += N;
        } else {
            Check.Feed(Data, N);
        }
    }
    virtual void WriteBack(const uint8_t* Data, size_t N) = 0;
    void Reset(bool Echo)
    {
        fEcho = Echo;
        Check.Pos = 0;
        Check.Errors = 0;
        Echoed = 0;
    }

private:
    bool fEcho = false;
};

std::unique_ptr<THost> NewPlainHost();
std::unique_ptr<THost> NewQSerialPortHost();
std::unique_ptr<THost> NewTnrCommHost();

}  // namespace bench
