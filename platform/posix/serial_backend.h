// Inside the serial driver: what one device behind a COM handle must offer to
// the port engine (serial_port.cpp). Two kinds: termios ttys (serial_tty.cpp)
// and in-process virtual ports (virtual_port.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <winapi.h>

#include "platform/dcb_flags.h"

namespace winapi_posix {

// What one service pass found on the device.
struct ServiceResult {
    size_t Received = 0;            // bytes stored in the engine's buffer
    DWORD Errors = 0;               // CE_* line errors
    bool Break = false;             // a break was received
    bool LinesChanged = false;      // modem status may differ from the last look
    bool TransmitProgress = false;  // queued output moved on; push more, check drain
    bool Removed = false;           // the device is gone
};

class SerialBackend {
public:
    virtual ~SerialBackend() = default;

    // File descriptor the service thread polls: the tty itself, or the virtual
    // device's event descriptor. -1 when there is none.
    virtual int PollFd() const = 0;
    // True when PollFd is the data descriptor (POLLIN/POLLOUT matter), false when
    // it is only a wake-up descriptor that is readable when Service has work.
    virtual bool PollsData() const = 0;

    // Runs on the service thread without the engine lock: collect up to
    // `capacity` received bytes into `buffer`, line events, transmit progress.
    virtual ServiceResult Service(uint8_t* buffer, size_t capacity, short revents) = 0;
    // Milliseconds until Service must run again without a poll event (paced
    // transmitter), -1 for never.
    virtual int ServiceDelayMs() const { return -1; }

    // Output. Transmit returns the number of bytes accepted (0 when the device
    // cannot take more now) or -1 with a Win32 error in *error.
    virtual long Transmit(const uint8_t* data, size_t count, DWORD* error) = 0;
    virtual bool TransmitAhead(uint8_t byte, DWORD* error) = 0;
    // Accepted bytes that have not left the line yet.
    virtual DWORD TransmitQueued() = 0;
    // When output is still queued in the device: how long until it is worth
    // looking again (-1: the device reports its progress through Service).
    virtual int DrainCheckDelayMs(DWORD queued) const = 0;

    // Applies a DCB that the engine has validated. Returns a Win32 error or 0.
    virtual DWORD Configure(const DCB& dcb) = 0;
    // The device's current line settings as a DCB (used once, at open).
    virtual void CurrentSettings(DCB* dcb) = 0;
    // Direction control by the driver (RS485). False when the device cannot do
    // it; the engine then toggles RTS itself.
    virtual bool SetRs485(bool on) = 0;

    virtual DWORD ModemStatus(DWORD* status) = 0;  // MS_* bits; 0 bits when there are no lines
    virtual DWORD SetDtr(bool on) = 0;
    virtual DWORD SetRts(bool on) = 0;
    virtual DWORD SetBreak(bool on) = 0;
    virtual DWORD SetXoffHold(bool held) = 0;  // act as if XOFF (true) / XON (false) was received
    // True when the device sends XOFF/XON for a filling input queue itself
    // (fInX); otherwise the engine sends them by its own queue's level.
    virtual bool SendsInputFlow() const = 0;
    virtual DWORD HoldFlags() = 0;  // COMSTAT fCtsHold .. fXoffSent bits

    virtual void PurgeInput() = 0;
    virtual void PurgeOutput() = 0;

    // The engine is done with the device (handle closed).
    virtual void Close() = 0;

    // Set by the engine: wakes the service thread (for helpers of the backend).
    std::function<void()> Wake;
};

// Opens the tty at path exclusively. Returns null and a Win32 error in *error.
std::unique_ptr<SerialBackend> OpenTtyBackend(const std::string& path, DWORD* error);
// Opens the in-process virtual port registered under comName.
std::unique_ptr<SerialBackend> OpenVirtualBackend(const std::u16string& comName, DWORD* error);

// COMSTAT's first word.
constexpr DWORD kHoldCts = 0x01, kHoldDsr = 0x02, kHoldRlsd = 0x04, kHoldXoff = 0x08, kHoldXoffSent = 0x10;

// The DCB flags word (platform/dcb_flags.h).
using namespace ::platform;

// The provider's defaults: 9600 8N1, binary, DTR and RTS on, no flow control.
void DefaultDcb(DCB* dcb);

// Bits on the line per character (start + data + parity + stop), for pacing.
double BitsPerCharacter(const DCB& dcb);

}  // namespace winapi_posix
