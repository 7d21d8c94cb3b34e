// Virtual serial ports: in-process devices that the serial driver opens like a
// tty ("\\?\COM7" through the port map), with a scriptable peer end for tests
// and the built-in simulator.
//
// The peer sees what a device on the far end of a null-modem cable sees: the
// bytes the host transmits, the host's DTR/RTS/break and its line settings.
// It drives the host's input lines (CTS, DSR, RLSD, RING) and sends bytes.
// Faults are injected by name: line errors, break, removal, a stalled or slow
// transmitter.
//
// Callbacks (data, lines, settings) run on the host port's service thread, in
// the order in which the host caused them, never while the host is inside a
// driver call; they may call any peer method. Without an open host handle they
// do not run, and bytes written by the peer are lost, as on a real line.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "platform/posix/win32_types.h"

namespace winapi_posix {

class VirtualPortDevice;

struct VirtualLineSettings {
    DWORD BaudRate = 9600;
    BYTE ByteSize = 8;
    BYTE Parity = 0;    // NOPARITY .. SPACEPARITY
    BYTE StopBits = 0;  // ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS
    bool operator==(const VirtualLineSettings&) const = default;
};

class VirtualPort {
public:
    // Creates the device and registers it in the port map under comName, or
    // under the lowest free COM name when comName is empty.
    explicit VirtualPort(const std::u16string& comName = u"");
    // Leaves the port map; an open host handle sees the device removed.
    ~VirtualPort();
    VirtualPort(const VirtualPort&) = delete;
    VirtualPort& operator=(const VirtualPort&) = delete;

    const std::u16string& ComName() const;
    const std::u16string& KernelName() const;  // "\Device\nrVirtual<n>"
    bool HostOpen() const;

    // --- bytes --------------------------------------------------------------
    // Bytes for the host's input queue (they raise EV_RXCHAR, EV_RXFLAG ...).
    void Write(const void* data, size_t count);
    void Write(const std::string& bytes) { Write(bytes.data(), bytes.size()); }
    // Bytes the host transmitted. Read waits up to timeoutMs for the first byte
    // and returns what is there (0 on time-out).
    size_t Read(void* buffer, size_t capacity, unsigned timeoutMs);
    // Waits until `count` bytes have arrived or timeoutMs has passed; returns
    // what arrived (possibly fewer).
    std::string ReadExactly(size_t count, unsigned timeoutMs);
    std::string ReadAvailable();
    // When set, each chunk the host transmits goes to the callback instead of
    // the Read queue. An empty function restores the queue.
    void SetDataCallback(std::function<void(const std::string& bytes)> callback);

    // --- the host's output lines and settings -------------------------------
    bool HostDTR() const;
    bool HostRTS() const;
    bool HostBreak() const;
    VirtualLineSettings HostSettings() const;
    // Called when the host changes DTR or RTS (also through SetCommState or the
    // emulated RTS toggle).
    void SetLineCallback(std::function<void(bool dtr, bool rts)> callback);
    // Called when SetCommState changes baud rate, byte size, parity or stop bits.
    void SetSettingsCallback(std::function<void(const VirtualLineSettings&)> callback);

    // --- the host's input lines ---------------------------------------------
    void SetCTS(bool on);
    void SetDSR(bool on);
    void SetRLSD(bool on);
    void SetRing(bool on);
    // Null-modem wiring of the peer's own outputs: DTR drives the host's DSR
    // and RLSD, RTS drives the host's CTS.
    void SetDTR(bool on);
    void SetRTS(bool on);

    // --- faults -------------------------------------------------------------
    // Line errors of the next received byte(s): CE_FRAME, CE_OVERRUN, CE_RXPARITY.
    void InjectErrors(DWORD ceMask);
    // A break on the line: EV_BREAK and CE_BREAK at the host.
    void SendBreak();
    // Unplug: the port leaves the map; the host's pending and later waits,
    // reads and writes fail with ERROR_ACCESS_DENIED.
    void Remove();
    // Host output stops leaving the port (writes stay pending, no EV_TXEMPTY).
    void SetTransmitStalled(bool stalled);
    // Host output leaves at the host's baud rate (bits per character from its
    // settings) instead of at once.
    void SetTransmitPaced(bool paced);

    std::shared_ptr<VirtualPortDevice> Device() const { return device_; }

private:
    std::shared_ptr<VirtualPortDevice> device_;
};

}  // namespace winapi_posix
