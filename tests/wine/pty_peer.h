// The far end of a COM port of the Wine prefix: a kernel pty whose master is
// held by tests/wine/pty_peer.py on the Linux side (a Windows program cannot
// open a pty), driven over a loopback TCP connection. The prefix maps COM50 ...
// COM59 to $SPECTRO_WINE_DIR/ports/COMn (scripts/wine-run); the peer points
// that path at its pty.
#pragma once

#include <cstdint>
#include <string>

class TPtyPeer {
public:
    TPtyPeer();
    ~TPtyPeer();
    TPtyPeer(const TPtyPeer&) = delete;
    TPtyPeer& operator=(const TPtyPeer&) = delete;

    // Starts the peer for COM<Number>; the port can be opened once this returns
    // an empty string (otherwise: what went wrong).
    std::string Start(int Number);
    // Puts Bytes on the line (returns once the peer has them to write).
    bool Write(const std::string& Bytes);
    // Up to Count bytes that the port sent, waiting at most Ms in all.
    std::string Read(uint32_t Count, uint32_t Ms);
    // Closes the pty master: the port's device is gone.
    bool HangUp();

private:
    bool SendAll(const char* Data, size_t Count);
    uintptr_t fConnection;  // a SOCKET
};
