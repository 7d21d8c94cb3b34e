// Temporary bodies of the event threads, the receive path and the transmit /
// read / line-control operations so that the library links; replaced by
// their implementation. The threads start nothing yet.
#include "comm/nrcomm/nrcomm.h"

UINT CommMsgComEvent() {
  static const UINT id = RegisterWindowMessageW(PWChar(u"nrCommMsgComEvent"));
  return id;
}
UINT CommMsgQuitComEvent() {
  static const UINT id = RegisterWindowMessageW(PWChar(u"nrCommMsgQuitComEvent"));
  return id;
}

TCommThread::TCommThread(TnrCustomComm* AOwner) : Com(AOwner), hDevice(AOwner->GetHandle()) {}
void TCommThread::Terminate() { TThread::Terminate(); }
void TCommThread::Execute() {}

TMsgThread::TMsgThread(TnrCustomComm* AOwner) : Com(AOwner) {}
void TMsgThread::Terminate() { TThread::Terminate(); }
void TMsgThread::Execute() {}
void TMsgThread::SyncCommEvent() {}

void TnrCustomComm::ThreadStart() {}
void TnrCustomComm::ThreadStop() {}
void TnrCustomComm::HandleCommEvent(const MSG&) {}

void TnrCustomComm::SetTraceStates(TTraceStates Value) {
  DWORD mask = EV_RXCHAR | TraceStatesToEventMask(Value);
  if (IsRS485Emulated()) mask |= EV_TXEMPTY;
  fTraceStates = Value;
  if (IsDeviceOpen()) SetCommMask(hPort, mask);
}

void TnrCustomComm::SendChar(char16_t) {}
void TnrCustomComm::SendString(const AnsiString&) {}
void TnrCustomComm::SendData(const uint8_t*, uint32_t) {}
void TnrCustomComm::SendAheadChar(char16_t) {}
void TnrCustomComm::ClearDeviceInput() {
  if (IsDeviceOpen()) PurgeComm(hPort, PURGE_RXABORT | PURGE_RXCLEAR);
}
void TnrCustomComm::ClearDeviceOutput() {
  if (IsDeviceOpen()) PurgeComm(hPort, PURGE_TXABORT | PURGE_TXCLEAR);
}
void TnrCustomComm::ClearDeviceBuffers() {
  if (IsDeviceOpen()) PurgeComm(hPort, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);
}
void TnrCustomComm::Read(uint8_t*, uint32_t) {}
void TnrCustomComm::ReadAll(uint8_t*) {}
int32_t TnrCustomComm::ReadMax(uint8_t*, int32_t) { return 0; }
AnsiString TnrCustomComm::ReadString() { return AnsiString(); }
void TnrCustomComm::SetStateDTR(bool) {}
void TnrCustomComm::SetStateRTS(bool) {}
void TnrCustomComm::SetStateX(bool) {}
void TnrCustomComm::SetStateBreak(bool) {}
void TnrCustomComm::FlushOutputBuffer() {}
bool TnrCustomComm::WaitForBytes(uint32_t, uint32_t) { return false; }
bool TnrCustomComm::WaitForSignal(TModemSignal, uint32_t) { return false; }

void TnrCustomComm::DoTraceState(TObject* Com, TTraceStates Event) {
  if (fOnTraceState) fOnTraceState(Com, Event);
}

TModemSignals TnrCustomComm::GetModemSignals() { return TModemSignals(); }
uint32_t TnrCustomComm::GetReadyForRead() { return 0; }
uint32_t TnrCustomComm::GetNotYetSend() {
  COMSTAT st{};
  DWORD errors = 0;
  if (!IsDeviceOpen() || !ClearCommError(hPort, &errors, &st)) return 0;
  return st.cbOutQue;
}
COMMTIMEOUTS* TnrCustomComm::GetTimeOuts() {
  if (IsDeviceOpen()) GetCommTimeouts(hPort, fCommTimeouts);
  return fCommTimeouts;
}
void TnrCustomComm::SetTimeOuts(const COMMTIMEOUTS* Value) {
  if (Value != fCommTimeouts) *fCommTimeouts = *Value;
  if (IsDeviceOpen()) SetCommTimeouts(hPort, fCommTimeouts);
}
uint32_t TnrCustomComm::GetTimeoutRead() { return GetTimeOuts()->ReadTotalTimeoutMultiplier; }
void TnrCustomComm::SetTimeoutRead(uint32_t Value) {
  fCommTimeouts->ReadTotalTimeoutMultiplier = Value;
  SetTimeOuts(fCommTimeouts);
}
uint32_t TnrCustomComm::GetTimeoutWrite() { return GetTimeOuts()->WriteTotalTimeoutMultiplier; }
void TnrCustomComm::SetTimeoutWrite(uint32_t Value) {
  fCommTimeouts->WriteTotalTimeoutMultiplier = Value;
  SetTimeOuts(fCommTimeouts);
}
COMMPROP* TnrCustomComm::GetCommProp() { return &ComProp; }
