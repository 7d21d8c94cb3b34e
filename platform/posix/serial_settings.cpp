// The port's settings behind SetupComm, Get/SetCommState, Get/SetCommTimeouts,
// EscapeCommFunction, GetCommModemStatus and GetCommProperties, and the DCB
// every port starts with.
#include "platform/posix/serial_port.h"

#include <cstring>

#include "platform/posix/overlapped.h"

namespace winapi_posix {

void DefaultDcb(DCB* dcb)
{
    std::memset(dcb, 0, sizeof *dcb);
    dcb->DCBlength = sizeof(DCB);
    dcb->BaudRate = CBR_9600;
    SetDcbFlags(*dcb,
                kDcbBinary | (DTR_CONTROL_ENABLE << kDcbDtrControlShift) | (RTS_CONTROL_ENABLE << kDcbRtsControlShift));
    dcb->XonLim = 2048;
    dcb->XoffLim = 512;
    dcb->ByteSize = 8;
    dcb->Parity = NOPARITY;
    dcb->StopBits = ONESTOPBIT;
    dcb->XonChar = 0x11;
    dcb->XoffChar = 0x13;
}

double BitsPerCharacter(const DCB& dcb)
{
    double stop = dcb.StopBits == ONESTOPBIT ? 1.0 : dcb.StopBits == ONE5STOPBITS ? 1.5 : 2.0;
    return 1.0 + dcb.ByteSize + (dcb.Parity != NOPARITY ? 1.0 : 0.0) + stop;
}

BOOL SerialPort::Setup(DWORD inQueue, DWORD outQueue)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (DWORD e = Usable()) return Fail(e);
    inQueueSize_ = inQueue;
    outQueueSize_ = outQueue;
    ResizeInput(inQueue);
    return TRUE;
}

BOOL SerialPort::GetState(DCB* dcb)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (DWORD e = Usable()) return Fail(e);
    if (!dcb) return Fail(ERROR_INVALID_PARAMETER);
    *dcb = dcb_;
    dcb->DCBlength = sizeof(DCB);
    return TRUE;
}

namespace {

// The checks serial.sys makes before it touches the hardware.
bool ValidDcb(const DCB& dcb)
{
    if (dcb.BaudRate == 0) return false;
    if (dcb.ByteSize < 5 || dcb.ByteSize > 8) return false;
    if (dcb.Parity > SPACEPARITY || dcb.StopBits > TWOSTOPBITS) return false;
    if (dcb.ByteSize == 5 && dcb.StopBits == TWOSTOPBITS) return false;
    if (dcb.ByteSize != 5 && dcb.StopBits == ONE5STOPBITS) return false;
    DWORD flags = DcbFlags(dcb);
    if ((flags & (kDcbOutX | kDcbInX)) && dcb.XonChar == dcb.XoffChar) return false;
    return true;
}

}  // namespace

BOOL SerialPort::SetState(const DCB* dcb)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (DWORD e = Usable()) return Fail(e);
    if (!dcb || !ValidDcb(*dcb)) return Fail(ERROR_INVALID_PARAMETER);
    if (DWORD e = backend_->Configure(*dcb)) return Fail(e);
    DWORD oldRts = DcbRtsControl(DcbFlags(dcb_));
    dcb_ = *dcb;
    dcb_.DCBlength = sizeof(DCB);
    DWORD rts = DcbRtsControl(DcbFlags(dcb_));
    if (rts == RTS_CONTROL_TOGGLE) {
        rtsToggleEmulated_ = !backend_->SetRs485(true);
        if (rtsToggleEmulated_) backend_->SetRts(txBusy_);
    } else {
        if (oldRts == RTS_CONTROL_TOGGLE && !rtsToggleEmulated_) backend_->SetRs485(false);
        rtsToggleEmulated_ = false;
    }
    InputFlow();
    WakeService();  // pacing of a virtual port follows the new baud rate
    return TRUE;
}

BOOL SerialPort::GetTimeouts(COMMTIMEOUTS* timeouts)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (DWORD e = Usable()) return Fail(e);
    if (!timeouts) return Fail(ERROR_INVALID_PARAMETER);
    *timeouts = timeouts_;
    return TRUE;
}

BOOL SerialPort::SetTimeouts(const COMMTIMEOUTS* timeouts)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (DWORD e = Usable()) return Fail(e);
    if (!timeouts) return Fail(ERROR_INVALID_PARAMETER);
    if (timeouts->ReadIntervalTimeout == MAXDWORD && timeouts->ReadTotalTimeoutMultiplier == MAXDWORD &&
        timeouts->ReadTotalTimeoutConstant == MAXDWORD)
        return Fail(ERROR_INVALID_PARAMETER);
    timeouts_ = *timeouts;
    return TRUE;
}

BOOL SerialPort::Escape(DWORD function)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (DWORD e = Usable()) return Fail(e);
    DWORD error = 0;
    switch (function) {
    case SETXOFF:
        xoffHold_ = true;
        error = backend_->SetXoffHold(true);
        break;
    case SETXON:
        xoffHold_ = false;
        error = backend_->SetXoffHold(false);
        ServeWrites(Clock::now());
        WakeService();
        break;
    case SETRTS: error = backend_->SetRts(true); break;
    case CLRRTS: error = backend_->SetRts(false); break;
    case SETDTR: error = backend_->SetDtr(true); break;
    case CLRDTR: error = backend_->SetDtr(false); break;
    case SETBREAK: error = backend_->SetBreak(true); break;
    case CLRBREAK: error = backend_->SetBreak(false); break;
    case RESETDEV: break;
    default: return Fail(ERROR_INVALID_PARAMETER);
    }
    if (error == ERROR_ACCESS_DENIED) DeviceRemoved();
    if (error) return Fail(error);
    return TRUE;
}

BOOL SerialPort::GetModemStatus(DWORD* status)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (DWORD e = Usable()) return Fail(e);
    if (!status) return Fail(ERROR_INVALID_PARAMETER);
    if (DWORD e = backend_->ModemStatus(status)) return Fail(e);
    return TRUE;
}

BOOL SerialPort::GetProperties(COMMPROP* prop)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (DWORD e = Usable()) return Fail(e);
    if (!prop) return Fail(ERROR_INVALID_PARAMETER);
    std::memset(prop, 0, sizeof *prop);
    prop->wPacketLength = sizeof(COMMPROP);
    prop->wPacketVersion = 2;
    prop->dwServiceMask = SP_SERIALCOMM;
    prop->dwMaxTxQueue = 0;  // no fixed maximum
    prop->dwMaxRxQueue = 0;
    prop->dwMaxBaud = BAUD_USER;
    prop->dwProvSubType = PST_RS232;
    prop->dwProvCapabilities = PCF_DTRDSR | PCF_RTSCTS | PCF_RLSD | PCF_PARITY_CHECK | PCF_XONXOFF | PCF_SETXCHAR |
                               PCF_TOTALTIMEOUTS | PCF_INTTIMEOUTS | PCF_SPECIALCHARS;
    prop->dwSettableParams =
        SP_PARITY | SP_BAUD | SP_DATABITS | SP_STOPBITS | SP_HANDSHAKING | SP_PARITY_CHECK | SP_RLSD;
    prop->dwSettableBaud = BAUD_075 | BAUD_110 | BAUD_134_5 | BAUD_150 | BAUD_300 | BAUD_600 | BAUD_1200 | BAUD_1800 |
                           BAUD_2400 | BAUD_4800 | BAUD_7200 | BAUD_9600 | BAUD_14400 | BAUD_19200 | BAUD_38400 |
                           BAUD_56K | BAUD_128K | BAUD_115200 | BAUD_57600 | BAUD_USER;
    prop->wSettableData = DATABITS_5 | DATABITS_6 | DATABITS_7 | DATABITS_8;
    prop->wSettableStopParity =
        STOPBITS_10 | STOPBITS_15 | STOPBITS_20 | PARITY_NONE | PARITY_ODD | PARITY_EVEN | PARITY_MARK | PARITY_SPACE;
    prop->dwCurrentTxQueue = outQueueSize_;
    prop->dwCurrentRxQueue = static_cast<DWORD>(input_.size());
    return TRUE;
}

}  // namespace winapi_posix
