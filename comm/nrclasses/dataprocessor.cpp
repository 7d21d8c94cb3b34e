// TnrCustomDataProcessor and TnrCustomLogFile: the companions a component can
// be given. The processor sees received data before the component's own
// deliveries, can send through the component and keeps itself linked by free
// notifications; the log sink base only defines the operations.
#include "comm/nrclasses/nrclasses.h"

namespace {

TnrNotifyEvent DeviceNotifyOf(TnrCustomDataProcessor* Processor)
{
    return TnrNotifyEvent::Bind(Processor, &TnrCustomDataProcessor::DoDeviceNotify);
}

}  // namespace

// ---------------------------------------------------------------------------
// TnrCustomDataProcessor

TnrCustomDataProcessor::TnrCustomDataProcessor(TComponent* AOwner) : TComponent(AOwner)
{
    fTimerAsync = new TnrTimer();
    fTimerAsync->SetEnabled(false);
    // Through the virtual call, so that a descendant's DoAsyncTimer is used.
    fTimerAsync->SetOnTimer([this](TObject* Sender) { DoAsyncTimer(Sender); });
}

TnrCustomDataProcessor::~TnrCustomDataProcessor()
{
    AttachDevice(nullptr);
    delete fTimerAsync;
    fTimerAsync = nullptr;
    // The component base then tells every partner of the removal.
}

void TnrCustomDataProcessor::Notification(TComponent* AComponent, TOperation Operation)
{
    TComponent::Notification(AComponent, Operation);
    if (Operation != opRemove || !AComponent) return;
    // Independent tests: one component may hold more than one of the roles.
    if (AComponent == fDataProcessor) LinkProcessor(nullptr);
    if (AComponent == fDevice) AttachDevice(nullptr);
    if (AComponent == fLog) fLog = nullptr;
}

void TnrCustomDataProcessor::DoDeviceNotify(TObject*, int Code)
{
    if (Code == NOTIFY_DEVICE_CLOSED)
        DoMediumClosed();
    else if (Code == NOTIFY_DEVICE_OPENED)
        DoMediumOpened();
}

void TnrCustomDataProcessor::DoMediumClosed() { LogLine(dlDebug, u"Medium Closed"); }

void TnrCustomDataProcessor::DoMediumOpened() { LogLine(dlDebug, u"Medium Opened"); }

void TnrCustomDataProcessor::LinkProcessor(TnrCustomDataProcessor* Value)
{
    if (Value == this) return;
    // The processor linked before stays attached to its device.
    fDataProcessor = Value;
    if (Value) {
        Value->FreeNotification(this);
        // The chained processor hears the open and close notices of our device.
        Value->AttachDevice(fDevice);
    }
}

void TnrCustomDataProcessor::AttachDevice(TnrBaseIO* Value)
{
    if (fDevice && fDevice != Value) fDevice->NotifyDelete(DeviceNotifyOf(this));
    fDevice = Value;
    if (Value) {
        Value->FreeNotification(this);
        // NotifyAdd keeps an entry that is already listed out.
        Value->NotifyAdd(DeviceNotifyOf(this));
    }
}

void TnrCustomDataProcessor::ApplyActive(bool Value) { fActive = Value; }

void TnrCustomDataProcessor::SendBuffer(uint8_t* Buffer, uint32_t Len)
{
    if (Len == 0 || !Buffer) return;
    // A failing hook or device ends the send silently; a device reports its own
    // send errors through its error event.
    try {
        bool flHandled = false;
        if (fOnDataSend) fOnDataSend(this, reinterpret_cast<char*>(Buffer), Len, false, flHandled);
        if (flHandled) {
            // Off and on again: a full timer period until the completion report.
            fTimerAsync->SetEnabled(false);
            fTimerAsync->SetEnabled(true);
        } else {
            if (!fDevice) return;
            fDevice->SendData(Buffer, Len);
            // Returns when the driver has sent the data, so the buffer may go and
            // the next SendData may reuse the component's write record.
            FlushFileBuffers(fDevice->GetHandle());
        }
        LogLineFmt(dlDebug, u"DoDataSend: %u bytes", {Len});
    } catch (...) {
    }
}

void TnrCustomDataProcessor::SendText(const AnsiString& S)
{
    if (S.empty()) return;
    try {
        // The hook may change the bytes of our copy; the caller's string stays.
        AnsiString copy = S;
        bool flHandled = false;
        if (fOnDataSend) fOnDataSend(this, copy.data(), static_cast<uint32_t>(copy.size()), true, flHandled);
        if (!flHandled && fDevice) fDevice->SendString(copy);
    } catch (...) {
    }
}

void TnrCustomDataProcessor::DoAsyncTimer(TObject*)
{
    // One tick per arming.
    fTimerAsync->SetEnabled(false);
    bool flIgnore = false;
    DoAfterSendComplete(flIgnore);
}

void TnrCustomDataProcessor::StartAsyncTimer(uint32_t Interval)
{
    fTimerAsync->SetEnabled(false);
    if (Interval == 0) return;
    // Stored directly: the timer is re-armed once, by the Enabled switch below.
    fTimerAsync->FInterval = Interval;
    fTimerAsync->SetEnabled(true);
}

void TnrCustomDataProcessor::DoFatalErrors(uint32_t Code, uint32_t Detail, const UnicodeString& Msg)
{
    bool RaiseException = true;
    if (fOnFatalError) fOnFatalError(this, Code, Detail, Msg, RaiseException);
    // Written whatever the handler decided, and without the processor's prefix.
    if (fLog) fLog->AddLogFmt(dlSimple, u"Fatal Error: %u, %u, %s", {Code, Detail, Msg});
    if (RaiseException) throw Exception(Msg);
}

void TnrCustomDataProcessor::DoProcessing(uint8_t* Data, uint32_t Len, TIgnoreTypes& R)
{
    if (fDataProcessor) fDataProcessor->DoProcessing(Data, Len, R);
}

void TnrCustomDataProcessor::DataReceive(uint8_t* ptrBuffer, uint32_t Len)
{
    TIgnoreTypes R;
    DoProcessing(ptrBuffer, Len, R);
}

void TnrCustomDataProcessor::DoAfterSendComplete(bool&) {}

void TnrCustomDataProcessor::SetLog(TnrCustomLogFile* Value)
{
    fLog = Value;
    if (Value) Value->FreeNotification(this);
}

void TnrCustomDataProcessor::LogLine(TDetailLevel Level, const UnicodeString& S)
{
    if (fLog) fLog->AddLog(Level, sLogPrefix + S);
}

void TnrCustomDataProcessor::LogLineFmt(TDetailLevel Level, const UnicodeString& Fmt,
                                        std::initializer_list<TFormatArg> Args)
{
    if (fLog) fLog->AddLogFmt(Level, sLogPrefix + Fmt, std::vector<TFormatArg>(Args));
}

// ---------------------------------------------------------------------------
// TnrCustomLogFile

TnrCustomLogFile::TnrCustomLogFile(TComponent* AOwner) : TComponent(AOwner) {}

TnrCustomLogFile::~TnrCustomLogFile() = default;

void TnrCustomLogFile::RaiseFatalError(uint32_t Code, uint32_t Detail, const UnicodeString& Msg)
{
    bool RaiseException = true;
    if (fOnFatalError) fOnFatalError(this, Code, Detail, Msg, RaiseException);
    if (RaiseException) throw Exception(Msg);
}

// Storage is the descendants' business.
void TnrCustomLogFile::Save() { AbstractErrorProc(); }
void TnrCustomLogFile::Clear() { AbstractErrorProc(); }
void TnrCustomLogFile::Add(const UnicodeString&) { AbstractErrorProc(); }
void TnrCustomLogFile::AddSysInfo() { AbstractErrorProc(); }
void TnrCustomLogFile::AddLog(TDetailLevel, const UnicodeString&) { AbstractErrorProc(); }
void TnrCustomLogFile::AddFmt(const UnicodeString&, const std::vector<TFormatArg>&) { AbstractErrorProc(); }
void TnrCustomLogFile::AddLogFmt(TDetailLevel, const UnicodeString&, const std::vector<TFormatArg>&)
{
    AbstractErrorProc();
}
