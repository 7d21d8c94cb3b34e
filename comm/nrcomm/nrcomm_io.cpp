// Transmit, direct reads, line control, queue status and time-outs of the
// serial port component. Every operation does nothing (or gives its empty
// result) while the port is closed.
#include <algorithm>

#include "comm/nrcomm/nrcomm.h"
#include "comm/utilities/utilities.h"

namespace {

// The two waits look every 5 ms and keep the application responsive between
// looks.
constexpr DWORD kWaitLookInterval = 5;

void LetApplicationRun()
{
    // Only the main thread may pump; a wait on another thread just sleeps.
    if (Application && IsMainThread()) Application->ProcessMessages();
}

// Whether Ms milliseconds have passed since Start. Unsigned subtraction keeps
// this right across the wrap of the 32-bit tick counter.
bool TicksPassed(DWORD Start, DWORD Ms) { return GetTickCount() - Start > Ms; }

// A failed send: the system's error code goes to the error event.
void ReportSendError(TnrCustomComm& Com) { Com.DoCommError(0, GetLastError(), TComStateFlags()); }

}  // namespace

// --- queue and status properties ---------------------------------------------

uint32_t TnrCustomComm::GetReadyForRead()
{
    COMSTAT st{};
    DWORD errors = 0;
    if (!IsDeviceOpen() || !ClearCommError(hPort, &errors, &st)) return 0;
    return st.cbInQue;
}

uint32_t TnrCustomComm::GetNotYetSend()
{
    COMSTAT st{};
    DWORD errors = 0;
    if (!IsDeviceOpen() || !ClearCommError(hPort, &errors, &st)) return 0;
    return st.cbOutQue;
}

TModemSignals TnrCustomComm::GetModemSignals()
{
    DWORD status = 0;
    if (!IsDeviceOpen() || !GetCommModemStatus(hPort, &status)) return TModemSignals();
    return ModemStatusToSignals(status);
}

COMMPROP* TnrCustomComm::GetCommProp()
{
    if (IsDeviceOpen()) GetCommProperties(hPort, &ComProp);
    return &ComProp;
}

COMMTIMEOUTS* TnrCustomComm::GetTimeOuts()
{
    if (IsDeviceOpen()) GetCommTimeouts(hPort, fCommTimeouts);
    return fCommTimeouts;
}

void TnrCustomComm::SetTimeOuts(const COMMTIMEOUTS* Value)
{
    if (Value && Value != fCommTimeouts) *fCommTimeouts = *Value;
    if (IsDeviceOpen()) SetCommTimeouts(hPort, fCommTimeouts);
}

uint32_t TnrCustomComm::GetTimeoutRead() { return GetTimeOuts()->ReadTotalTimeoutMultiplier; }

void TnrCustomComm::SetTimeoutRead(uint32_t Value)
{
    fCommTimeouts->ReadTotalTimeoutMultiplier = Value;
    SetTimeOuts(fCommTimeouts);
}

uint32_t TnrCustomComm::GetTimeoutWrite() { return GetTimeOuts()->WriteTotalTimeoutMultiplier; }

void TnrCustomComm::SetTimeoutWrite(uint32_t Value)
{
    fCommTimeouts->WriteTotalTimeoutMultiplier = Value;
    SetTimeOuts(fCommTimeouts);
}

// --- reading -------------------------------------------------------------------

void TnrCustomComm::Read(uint8_t* Buffer, uint32_t Len)
{
    if (!IsDeviceOpen()) return;
    // The outcome is not reported; callers ask only for what is queued.
    ReadFileWait(hPort, Buffer, Len, &fOvlRead);
}

void TnrCustomComm::ReadAll(uint8_t* Buffer) { Read(Buffer, GetReadyForRead()); }

int32_t TnrCustomComm::ReadMax(uint8_t* Buffer, int32_t MaxLen)
{
    // A negative limit reads nothing rather than turning into a huge count.
    const uint32_t limit = MaxLen > 0 ? static_cast<uint32_t>(MaxLen) : 0;
    const uint32_t n = std::min(GetReadyForRead(), limit);
    Read(Buffer, n);
    return static_cast<int32_t>(n);
}

AnsiString TnrCustomComm::ReadString()
{
    const uint32_t n = GetReadyForRead();
    if (n == 0) return AnsiString();
    AnsiString s(n, '\0');
    Read(reinterpret_cast<uint8_t*>(s.data()), n);
    return s;
}

// --- sending ---------------------------------------------------------------------

void TnrCustomComm::SendChar(char16_t Ch)
{
    if (!IsDeviceOpen()) return;
    const uint8_t byte = static_cast<uint8_t>(Ch & 0xFF);
    LogMessageFmt(dlDebug, u"Try to send char %2Xh ...", {static_cast<unsigned>(byte)});
    if (IsRS485Emulated()) SetStateRTS(true);
    if (WriteFileWait(hPort, &byte, 1, &fOvlWrite)) {
        fTotalSent += 1;
    } else {
        ReportSendError(*this);
    }
}

void TnrCustomComm::SendAheadChar(char16_t Ch)
{
    if (!IsDeviceOpen()) return;
    if (IsRS485Emulated()) SetStateRTS(true);
    if (TransmitCommChar(hPort, static_cast<char>(Ch & 0xFF))) {
        fTotalSent += 1;
    } else {
        ReportSendError(*this);
    }
}

void TnrCustomComm::SendString(const AnsiString& S)
{
    if (!IsDeviceOpen() || S.empty()) return;
    LogMessageFmt(dlDebug, u"Try to send string %s ...", {S});
    if (IsRS485Emulated()) SetStateRTS(true);
    const DWORD count = static_cast<DWORD>(S.size());
    if (WriteFileWait(hPort, S.data(), count, &fOvlWrite)) {
        fTotalSent += count;
    } else {
        ReportSendError(*this);
    }
}

void TnrCustomComm::SendData(const uint8_t* Buff, uint32_t N)
{
    if (!IsDeviceOpen()) return;
    LogMessageFmt(dlDebug, u"Try to send the data with %d length ...", {static_cast<int>(N)});
    if (IsRS485Emulated()) SetStateRTS(true);
    // Returns while the write may still run; Buff and fOvlAsync stay in use
    // until it completes.
    if (WriteFileAsync(hPort, Buff, N, &fOvlAsync)) {
        fTotalSent += N;
        LogMessage(dlDebug, u"... the data transmittion is OK!");
    } else {
        ReportSendError(*this);
    }
}

// --- line control -------------------------------------------------------------------

void TnrCustomComm::SetStateDTR(bool State)
{
    if (!IsDeviceOpen()) return;
    EscapeCommFunction(hPort, State ? SETDTR : CLRDTR);
    DoTraceState(this, TTraceStates{tsDSR});
}

void TnrCustomComm::SetStateRTS(bool State)
{
    if (!IsDeviceOpen()) return;
    EscapeCommFunction(hPort, State ? SETRTS : CLRRTS);
    DoTraceState(this, TTraceStates{tsCTS});
}

void TnrCustomComm::SetStateX(bool State)
{
    if (!IsDeviceOpen()) return;
    EscapeCommFunction(hPort, State ? SETXON : SETXOFF);
}

void TnrCustomComm::SetStateBreak(bool State)
{
    if (!IsDeviceOpen()) return;
    EscapeCommFunction(hPort, State ? SETBREAK : CLRBREAK);
}

// --- purging and flushing -------------------------------------------------------------

void TnrCustomComm::ClearDeviceInput()
{
    if (!IsDeviceOpen()) return;
    PurgeComm(hPort, PURGE_RXABORT | PURGE_RXCLEAR);
}

void TnrCustomComm::ClearDeviceOutput()
{
    if (!IsDeviceOpen()) return;
    PurgeComm(hPort, PURGE_TXABORT | PURGE_TXCLEAR);
    if (IsRS485Emulated()) SetStateRTS(false);
}

void TnrCustomComm::ClearDeviceBuffers()
{
    if (!IsDeviceOpen()) return;
    PurgeComm(hPort, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);
    CancelDeviceIo(hPort);
    if (IsRS485Emulated()) SetStateRTS(false);
}

void TnrCustomComm::FlushOutputBuffer()
{
    if (!IsDeviceOpen()) return;
    FlushFileBuffers(hPort);
}

// --- waits ----------------------------------------------------------------------------------

bool TnrCustomComm::WaitForBytes(uint32_t Count, uint32_t Ms)
{
    if (!IsDeviceOpen()) return false;
    // Without tsRxChar the comm-event handler leaves the bytes queued (unless a
    // consumer takes them), so that they are still there for Read.
    const TTraceStates saved = fTraceStates;
    SetTraceStates(saved - TTraceStates{tsRxChar});
    const DWORD start = GetTickCount();
    bool result = false;
    for (;;) {
        if (TicksPassed(start, Ms)) break;
        if (!IsDeviceOpen()) break;
        if (GetReadyForRead() >= Count) {
            result = true;
            break;
        }
        Sleep(kWaitLookInterval);
        LetApplicationRun();
    }
    SetTraceStates(saved);
    return result;
}

bool TnrCustomComm::WaitForSignal(TModemSignal Signal, uint32_t Ms)
{
    if (!IsDeviceOpen()) return false;
    // A value outside msCTS..msRLSD has no status line and is never found.
    const bool known = static_cast<unsigned>(Signal) <= static_cast<unsigned>(msRLSD);
    const DWORD start = GetTickCount();
    for (;;) {
        if (known && GetModemSignals().Contains(Signal)) return true;
        Sleep(kWaitLookInterval);
        LetApplicationRun();
        if (TicksPassed(start, Ms) || !IsDeviceOpen()) return false;
    }
}

// --- trace states and monitors ----------------------------------------------------------------

void TnrCustomComm::DoTraceState(TObject* Com, TTraceStates Event)
{
    const TModemSignals signals = GetModemSignals();
    if (fMonitorCTS) SetMonitorChecked(fMonitorCTS, signals.Contains(msCTS));
    if (fMonitorDSR) SetMonitorChecked(fMonitorDSR, signals.Contains(msDSR));
    if (fMonitorRLSD) SetMonitorChecked(fMonitorRLSD, signals.Contains(msRLSD));
    // The ring monitor is only ever switched on.
    if (Event.Contains(tsRing) && fMonitorRing) SetMonitorChecked(fMonitorRing, true);
    if (fOnTraceState) fOnTraceState(Com, Event);
}
