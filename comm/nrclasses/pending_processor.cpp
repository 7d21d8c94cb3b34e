// Temporary bodies of the data-processor and log-sink classes so that the
// library links; replaced by their implementation.
#include "comm/nrclasses/nrclasses.h"

TnrCustomDataProcessor::TnrCustomDataProcessor(TComponent* AOwner) : TComponent(AOwner) {}

TnrCustomDataProcessor::~TnrCustomDataProcessor() { AttachDevice(nullptr); }

void TnrCustomDataProcessor::DoDeviceNotify(TObject*, int Code) {
  if (Code == NOTIFY_DEVICE_CLOSED) DoMediumClosed();
  if (Code == NOTIFY_DEVICE_OPENED) DoMediumOpened();
}
void TnrCustomDataProcessor::DoMediumClosed() {}
void TnrCustomDataProcessor::DoMediumOpened() {}
void TnrCustomDataProcessor::LinkProcessor(TnrCustomDataProcessor* Value) {
  if (Value != this) fDataProcessor = Value;
}
void TnrCustomDataProcessor::AttachDevice(TnrBaseIO* Value) {
  if (fDevice && fDevice != Value) fDevice->NotifyDelete(TnrNotifyEvent::Bind(this, &TnrCustomDataProcessor::DoDeviceNotify));
  fDevice = Value;
  if (Value) {
    Value->FreeNotification(this);
    Value->NotifyAdd(TnrNotifyEvent::Bind(this, &TnrCustomDataProcessor::DoDeviceNotify));
  }
}
void TnrCustomDataProcessor::ApplyActive(bool Value) { fActive = Value; }
void TnrCustomDataProcessor::SendBuffer(uint8_t*, uint32_t) {}
void TnrCustomDataProcessor::SendText(const AnsiString&) {}
void TnrCustomDataProcessor::DoAsyncTimer(TObject*) {}
void TnrCustomDataProcessor::StartAsyncTimer(uint32_t) {}
void TnrCustomDataProcessor::DoFatalErrors(uint32_t, uint32_t, const UnicodeString& Msg) { throw Exception(Msg); }
void TnrCustomDataProcessor::DoProcessing(uint8_t* Data, uint32_t Len, TIgnoreTypes& R) {
  if (fDataProcessor) fDataProcessor->DoProcessing(Data, Len, R);
}
void TnrCustomDataProcessor::DataReceive(uint8_t* ptrBuffer, uint32_t Len) {
  TIgnoreTypes R;
  DoProcessing(ptrBuffer, Len, R);
}
void TnrCustomDataProcessor::DoAfterSendComplete(bool&) {}
void TnrCustomDataProcessor::SetLog(TnrCustomLogFile* Value) { fLog = Value; }
void TnrCustomDataProcessor::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation != opRemove) return;
  if (AComponent == fDataProcessor) fDataProcessor = nullptr;
  if (AComponent == fDevice) AttachDevice(nullptr);
  if (AComponent == fLog) fLog = nullptr;
}
void TnrCustomDataProcessor::LogLine(TDetailLevel, const UnicodeString&) {}
void TnrCustomDataProcessor::LogLineFmt(TDetailLevel, const UnicodeString&, std::initializer_list<TFormatArg>) {}

TnrCustomLogFile::TnrCustomLogFile(TComponent* AOwner) : TComponent(AOwner) {}
TnrCustomLogFile::~TnrCustomLogFile() = default;
void TnrCustomLogFile::RaiseFatalError(uint32_t, uint32_t, const UnicodeString& Msg) { throw Exception(Msg); }
void TnrCustomLogFile::Save() { AbstractErrorProc(); }
void TnrCustomLogFile::Clear() { AbstractErrorProc(); }
void TnrCustomLogFile::Add(const UnicodeString&) { AbstractErrorProc(); }
void TnrCustomLogFile::AddSysInfo() { AbstractErrorProc(); }
void TnrCustomLogFile::AddLog(TDetailLevel, const UnicodeString&) { AbstractErrorProc(); }
void TnrCustomLogFile::AddFmt(const UnicodeString&, const std::vector<TFormatArg>&) { AbstractErrorProc(); }
void TnrCustomLogFile::AddLogFmt(TDetailLevel, const UnicodeString&, const std::vector<TFormatArg>&) {
  AbstractErrorProc();
}
