// TnrCustomComm: construction, open, configuration and close of the port.
#include "comm/nrcomm/nrcomm.h"

#include "comm/utilities/utilities.h"

#include <algorithm>

namespace {

constexpr uint32_t kMinReceiveBuffer = 8192;

// True unless the system is of the NT family from major version 5 on, where
// the driver toggles RTS for RS485 itself.
bool DriverLacksRS485Toggle()
{
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    if (!GetVersionExW(&info)) return true;
    return !(info.dwPlatformId == VER_PLATFORM_WIN32_NT && info.dwMajorVersion >= 5);
}

}  // namespace

TnrCustomComm::TnrCustomComm(TComponent* AOwner) : TnrBaseIO(AOwner)
{
    Stat = new COMSTAT{};
    fCommTimeouts = new COMMTIMEOUTS{};
    fCommTimeouts->WriteTotalTimeoutMultiplier = 100;
    fIsNotSupportRS485 = DriverLacksRS485Toggle();
    fUseMainThread = true;
    fTraceStates = TTraceStates();
    CommCfg.dwSize = sizeof(COMMCONFIG);
    CommCfg.dcb.DCBlength = sizeof(DCB);
    fBufferInSize = 8192;
    fBufferOutSize = 8192;
}

TnrCustomComm::~TnrCustomComm()
{
    StopThreadsForDestroy();
    try {
        SetTerminal(nullptr);
        SetDataProcessor(nullptr);
        // The close below must not call into a handler that may already be gone.
        fOnTraceState = nullptr;
        DoClose();
    } catch (...) {
        // Nothing of a failing close may leave a destructor.
    }
    FreeReceiveBuffer();
    delete Stat;
    Stat = nullptr;
    delete fCommTimeouts;
    fCommTimeouts = nullptr;
}

UnicodeString TnrCustomComm::QueryComName() { return u"Unknown"; }

// ---------------------------------------------------------------------------
// Open and close

void TnrCustomComm::AllocReceiveBuffer()
{
    FreeReceiveBuffer();
    const uint32_t n = std::max<uint32_t>(fBufferInSize, kMinReceiveBuffer);
    glBuffer = static_cast<uint8_t*>(LocalAlloc(LMEM_ZEROINIT, n));
    glBufferSize = glBuffer ? n : 0;
}

void TnrCustomComm::FreeReceiveBuffer()
{
    if (glBuffer) LocalFree(glBuffer);
    glBuffer = nullptr;
    glBufferSize = 0;
}

void TnrCustomComm::DoOpen()
{
    const TLifeToken life(*this);
    DoClose();
    if (life.Gone()) return;  // by OnClose or a notification
    fTotalReceived = 0;
    fTotalSent = 0;
    TnrBaseIO::DoOpen();
    if (!IsDeviceOpen()) {
        // The reason first: nothing may overwrite the open's last error before.
        const UnicodeString reason = LastErrorText();
        LastErrorString = Format(u"Device \"%s\" Open Error !!!\r%s", {GetComName(), reason});
        ReportFatalError(1, 0, LastErrorString, false);
        return;
    }
    AllocReceiveBuffer();
    LogMessageFmt(dlSimple, u"The port %s is opened succesfully", {GetComName()});
    SetupDevice();
    SetTraceStates(fTraceStates);  // sets the port's event mask
    ThreadStart();
    DoNotify(NOTIFY_DEVICE_OPENED);
}

void TnrCustomComm::SetupDevice()
{
    DWORD errors = 0;
    ClearCommError(hPort, &errors, nullptr);  // drops a pending error state
    SetupComm(hPort, fBufferInSize, fBufferOutSize);
    SetTimeOuts(fCommTimeouts);
    ApplyCommState();
}

void TnrCustomComm::DoClose()
{
    // Every handler on the way may destroy the component.
    const TLifeToken life(*this);
    if (IsDeviceOpen()) {
        try {
            ShutDown(true);
            if (life.Gone()) return;
            LogMessage(dlSimple, u"The port is closed succesfully");
        } catch (...) {
            if (life.Gone()) return;
            TnrBaseIO::DoClose();
            if (life.Gone()) return;
        }
    }
    DoTraceState(this, TTraceStates{tsTxEmpty});
}

void TnrCustomComm::ShutDown(bool Purge)
{
    if (!IsDeviceOpen()) return;
    const TLifeToken life(*this);
    ThreadStop();
    // A handler the threads were waiting for may have closed the port meanwhile.
    if (!IsDeviceOpen()) return;
    if (Purge && GetNotYetSend() > 0) {
        ClearDeviceBuffers();  // discard, do not wait
        if (life.Gone()) return;
    }
    FreeReceiveBuffer();
    TnrBaseIO::DoClose();
    if (life.Gone()) return;
    DoNotify(NOTIFY_DEVICE_CLOSED);
}

// ---------------------------------------------------------------------------
// The DCB

void TnrCustomComm::ApplyCommState()
{
    DCB& dcb = CommCfg.dcb;
    dcb.DCBlength = sizeof(DCB);
    DWORD flags = GetDcbFlags(dcb) & DCB_FLAGS_KEEP_MASK;
    if (fRS485Mode) {
        flags |= DCB_FLAGS_RS485;
    } else {
        switch (fProtocol) {
        case spXonXoff: flags |= DCB_FLAGS_XONXOFF; break;
        case spHardware: flags |= DCB_FLAGS_HARDWARE; break;
        default: flags |= DCB_FLAGS_NONE; break;
        }
    }
    SetDcbFlags(dcb, flags);
    dcb.XonLim = 2048;
    dcb.XoffLim = 2048;
    dcb.XonChar = 0x11;   // DC1
    dcb.XoffChar = 0x13;  // DC3
    if (IsDeviceOpen()) SetCommState(hPort, &dcb);
}

void TnrCustomComm::ReadCommConfig()
{
    CommCfg.dwSize = sizeof(COMMCONFIG);
    CommCfg.dcb.DCBlength = sizeof(DCB);
    if (IsDeviceOpen()) {
        DWORD size = CommCfg.dwSize;
        GetCommConfig(hPort, &CommCfg, &size);
        GetCommState(hPort, &CommCfg.dcb);
    }
    const DWORD flags = GetDcbFlags(CommCfg.dcb);
    if ((flags & DCB_FLAGS_XONXOFF) == DCB_FLAGS_XONXOFF)
        fProtocol = spXonXoff;
    else if ((flags & DCB_FLAGS_HARDWARE) == DCB_FLAGS_HARDWARE)
        fProtocol = spHardware;
    else
        fProtocol = spNone;
    fRS485Mode = (flags & DCB_FLAGS_RS485) == DCB_FLAGS_RS485;
}

void TnrCustomComm::ConfigDialog()
{
    ReadCommConfig();
    const UnicodeString name = GetComName();
    if (!CommConfigDialogW(PWChar(name), ForegroundWindowHandle(), &CommCfg)) return;
    if (IsDeviceOpen()) SetCommState(hPort, &CommCfg.dcb);
    ReadCommConfig();
}

// ---------------------------------------------------------------------------
// Errors

void TnrCustomComm::DoCommError(uint32_t CommCode, uint32_t SysError, TComStateFlags State)
{
    if (IsRS485Emulated()) SetStateRTS(false);
    LogMessageFmt(dlDetail, u"Communication Error %d:%d",
                  {static_cast<long long>(CommCode), static_cast<long long>(SysError)});
    bool flFlashBuffers = false;
    if (fOnCommError) {
        const TLifeToken life(*this);
        fOnCommError(this, CommCode, SysError, State, flFlashBuffers);
        if (life.Gone()) return;
    }
    if (flFlashBuffers) ClearDeviceBuffers();
}

// ---------------------------------------------------------------------------
// Property writers

void TnrCustomComm::SetBaudRate(uint32_t Value)
{
    CommCfg.dcb.BaudRate = Value;
    ApplyCommState();
}

void TnrCustomComm::SetParity(TParity Value)
{
    CommCfg.dcb.Parity = static_cast<BYTE>(Value);
    DWORD flags = GetDcbFlags(CommCfg.dcb);
    if (Value == pNone)
        flags &= ~DCB_FLAG_PARITY;
    else
        flags |= DCB_FLAG_PARITY;
    SetDcbFlags(CommCfg.dcb, flags);
    ApplyCommState();
}

void TnrCustomComm::SetStopBits(TStopBits Value)
{
    CommCfg.dcb.StopBits = static_cast<BYTE>(Value);
    ApplyCommState();
}

void TnrCustomComm::SetByteSize(uint8_t Value)
{
    CommCfg.dcb.ByteSize = (Value >= 4 && Value <= 8) ? Value : 8;
    ApplyCommState();
}

void TnrCustomComm::WriteEventChar(char16_t Value)
{
    CommCfg.dcb.EvtChar = static_cast<char>(Value & 0xFF);
    ApplyCommState();
}

char16_t TnrCustomComm::ReadEventChar() { return static_cast<char16_t>(static_cast<uint8_t>(CommCfg.dcb.EvtChar)); }

void TnrCustomComm::SetStreamProtocol(TStreamProtocol Value)
{
    fProtocol = Value;
    ApplyCommState();
}

void TnrCustomComm::SetRS485Mode(bool Value)
{
    fRS485Mode = Value;
    ApplyCommState();
}

void TnrCustomComm::SetBufferInSize(uint16_t Value)
{
    if (IsDeviceOpen()) SetupComm(hPort, Value, fBufferOutSize);
    fBufferInSize = Value;
}

void TnrCustomComm::SetBufferOutSize(uint16_t Value)
{
    if (IsDeviceOpen()) SetupComm(hPort, fBufferInSize, Value);
    fBufferOutSize = Value;
}

// ---------------------------------------------------------------------------
// Monitor controls

void TnrCustomComm::SetMonitor(TControl*& Field, TControl* Value)
{
    Field = Value;
    if (Value) Value->FreeNotification(this);
}

void TnrCustomComm::SetMonitorCTS(TControl* Value) { SetMonitor(fMonitorCTS, Value); }
void TnrCustomComm::SetMonitorDSR(TControl* Value) { SetMonitor(fMonitorDSR, Value); }
void TnrCustomComm::SetMonitorRLSD(TControl* Value) { SetMonitor(fMonitorRLSD, Value); }
void TnrCustomComm::SetMonitorRing(TControl* Value) { SetMonitor(fMonitorRing, Value); }

void TnrCustomComm::SetMonitorChecked(TControl* Control, bool Value)
{
    if (Control) SetCheckedProperty(Control, Value);
}

void TnrCustomComm::Notification(TComponent* AComponent, TOperation Operation)
{
    TnrBaseIO::Notification(AComponent, Operation);
    if (Operation != opRemove || !AComponent) return;
    if (AComponent == fMonitorCTS)
        fMonitorCTS = nullptr;
    else if (AComponent == fMonitorDSR)
        fMonitorDSR = nullptr;
    else if (AComponent == fMonitorRLSD)
        fMonitorRLSD = nullptr;
    else if (AComponent == fMonitorRing)
        fMonitorRing = nullptr;
}
