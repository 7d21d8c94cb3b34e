// TnrBaseIO, the base of the device components, and its worker thread.
#include "comm/nrclasses/nrclasses.h"

#include "comm/utilities/utilities.h"

#include <algorithm>

// ---------------------------------------------------------------------------
// TnrThreadIO

TnrThreadIO::TnrThreadIO(TnrBaseIO* AComm, TThreadPriority APriority) : fnrComm(AComm)
{
    // Created suspended: the component stores it before it runs.
    SetPriority(APriority);
}

void TnrThreadIO::Execute()
{
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    try {
        fnrComm->ThreadExecute(this);
    } catch (...) {
        // The body's errors end the thread quietly.
    }
    CoUninitialize();
}

// ---------------------------------------------------------------------------
// Construction and destruction

TnrBaseIO::TnrBaseIO(TComponent* AOwner) : TComponent(AOwner)
{
    fPriority = tpNormal;
    sLogPrefix = fConstructedPrefix = ClassName();
    flClearDeviceListWithFree = true;
    slDevices = new TStringList();
    nrNotifyList = new TnrNotifyList();
    hPort = INVALID_HANDLE_VALUE;
    fOvlRead.hEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    fOvlWrite.hEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

TnrBaseIO::~TnrBaseIO()
{
    // A worker thread still running is stopped and joined before anything it
    // may touch goes away.
    if (fThreadIO) ThreadStop();

    if (fOvlWrite.hEvent) CloseHandle(fOvlWrite.hEvent);
    if (fOvlRead.hEvent) CloseHandle(fOvlRead.hEvent);
    fOvlWrite.hEvent = fOvlRead.hEvent = nullptr;
    ClearDeviceList();

    // Data processors that still refer to this component get their removal
    // notice now, while it is whole: their handling calls back into
    // NotifyDelete, which the component base's own notice (sent after this
    // body) could no longer reach.
    std::vector<TnrCustomDataProcessor*> processors;
    // Recognised by their subscription alone: other subscribers are never
    // dereferenced here (one may be gone without having unsubscribed).
    for (int i = 0; i < nrNotifyList->Count(); ++i) {
        const TnrNotifyEvent e = nrNotifyList->Get(i);
        if (!e.IsMethod(&TnrCustomDataProcessor::DoDeviceNotify)) continue;
        auto* proc = static_cast<TnrCustomDataProcessor*>(e.Target());
        if (proc && std::find(processors.begin(), processors.end(), proc) == processors.end())
            processors.push_back(proc);
    }
    for (TnrCustomDataProcessor* proc : processors)
        if (proc->GetDevice() == this) proc->Notification(this, opRemove);
    fDataProcessor = nullptr;

    delete nrNotifyList;
    nrNotifyList = nullptr;
    delete slDevices;
    slDevices = nullptr;
}

// ---------------------------------------------------------------------------
// Device state and the open / close templates

bool TnrBaseIO::IsDeviceOpen() { return hPort != INVALID_HANDLE_VALUE; }

HANDLE TnrBaseIO::DeviceOpen() { return INVALID_HANDLE_VALUE; }

void TnrBaseIO::DeviceClose(HANDLE Handle) { CloseHandle(Handle); }

bool TnrBaseIO::HasDataConsumer() { return fTerminal || fOnReceived || fDataProcessor; }

void TnrBaseIO::DoOpen()
{
    hPort = DeviceOpen();
    if (!IsDeviceOpen()) return;
    if (isThreaded) ThreadStart();
    if (fOnOpen) {
        try {
            fOnOpen(this);
        } catch (...) {
        }
    }
}

void TnrBaseIO::DoClose()
{
    if (hPort == INVALID_HANDLE_VALUE) return;
    DeviceClose(hPort);
    if (isThreaded) ThreadStop();
    hPort = INVALID_HANDLE_VALUE;
    if (fOnClose) {
        try {
            fOnClose(this);
        } catch (...) {
        }
    }
}

bool TnrBaseIO::GetActive()
{
    if (IsDesigning() || IsLoading()) return fActive;
    return IsDeviceOpen();
}

void TnrBaseIO::SetActive(bool Value)
{
    if (IsLoading()) {
        fActive = Value;
        return;
    }
    // Read first: a close handler may destroy the component.
    const bool designing = IsDesigning();
    if (Value == GetActive() && !designing) return;
    if (Value)
        DoOpen();
    else
        DoClose();
    if (designing) {
        // A designer only tests whether the device opens.
        fActive = IsDeviceOpen();
        if (fActive) DoClose();
    }
}

void TnrBaseIO::LoadingFinished()
{
    TComponent::LoadingFinished();
    try {
        SetTerminal(fTerminal);
        SetTerminalUsage(fTerminalUsage);
        SetActive(fActive);
    } catch (...) {
        // The reason, not just that something failed (typically the device that
        // did not open).
        UnicodeString Text = RuntimeText::UnknownException;
        try {
            throw;
        } catch (const Exception& E) {
            Text = E.Message();
        } catch (const std::exception& E) {
            Text = Utf8ToUnicode(E.what());
        } catch (...) {
        }
        MessageBoxW(ForegroundWindowHandle(), PWChar(Text), PWChar(u"Error"), MB_ICONERROR);
    }
}

// ---------------------------------------------------------------------------
// Worker thread

void TnrBaseIO::ThreadStart()
{
    IsThreadIOTerminated = false;
    fThreadIO = new TnrThreadIO(this, fPriority);
    // Started only once stored: its body tells by fThreadIO that it runs on it.
    fThreadIO->Start();
}

void TnrBaseIO::ThreadStop()
{
    if (!fThreadIO) return;
    TnrThreadIO* thread = fThreadIO;
    if (!IsThreadIOTerminated) {
        IsThreadIOTerminated = true;
        thread->Terminate();
    }
    if (TThread::CurrentThread() == thread) {
        // Stopped from its own body: it cannot be joined here; it frees itself.
        fThreadIO = nullptr;
        thread->SetFreeOnTerminate(true);
        return;
    }
    // Joined and freed here rather than freeing itself, so that no thread
    // object outlives the wait; the body still sees fThreadIO until it ends.
    thread->WaitFor();
    fThreadIO = nullptr;
    delete thread;
}

void TnrBaseIO::ThreadExecute(TnrThreadIO*) {}

// ---------------------------------------------------------------------------
// Fatal errors, notifications, receive dispatch

void TnrBaseIO::ReportFatalError(uint32_t ErrorCode, uint32_t Detail, const UnicodeString& ErrorMsg, bool ShowOnly)
{
    bool RaiseException = true;
    if (fOnFatalError) fOnFatalError(this, ErrorCode, Detail, ErrorMsg, RaiseException);
    if (fLog) fLog->AddLogFmt(dlSimple, u"Fatal Error: %u, %u, %s", {ErrorCode, Detail, ErrorMsg});
    if (!RaiseException || IsLoading()) return;
    if (ShowOnly) {
        const Exception e(ErrorMsg);
        if (Application)
            Application->ShowException(e);
        else
            MessageBoxW(nullptr, PWChar(ErrorMsg), PWChar(u"Error"), MB_ICONERROR | MB_TASKMODAL);
        return;
    }
    throw Exception(ErrorMsg);
}

void TnrBaseIO::DoNotify(int Code) { nrNotifyList->Call(this, Code); }

void TnrBaseIO::SyncDataReceived() { DoDataReceived(threadData, threadDataSize); }

void TnrBaseIO::DoDataReceived(uint8_t* Buffer, uint32_t Len)
{
    if (fThreadIO && fUseMainThread && TThread::CurrentThread() == fThreadIO) {
        threadData = Buffer;
        threadDataSize = Len;
        fThreadIO->Synchronize([this] { SyncDataReceived(); });
        return;
    }
    TIgnoreTypes R;
    if (fDataProcessor) fDataProcessor->DoProcessing(Buffer, Len, R);
    if (fTerminal && !R.Contains(itTerminal)) TerminalOutput(Buffer, Len);
    if (fOnReceived) fOnReceived(this, Buffer, Len);
}

bool TnrBaseIO::DoSendComplete()
{
    if (!fDataProcessor) return false;
    bool flIgnore = false;
    fDataProcessor->DoAfterSendComplete(flIgnore);
    return flIgnore;
}

void TnrBaseIO::NotifyAdd(const TnrNotifyEvent& NotifyEvent)
{
    if (nrNotifyList->IndexOf(NotifyEvent) < 0) nrNotifyList->Add(NotifyEvent);
}

void TnrBaseIO::NotifyDelete(const TnrNotifyEvent& NotifyEvent)
{
    const int i = nrNotifyList->IndexOf(NotifyEvent);
    if (i >= 0) nrNotifyList->Delete(i);
}

// ---------------------------------------------------------------------------
// Device list

void TnrBaseIO::SetDeviceIndex(int32_t) { DoNotify(NOTIFY_DEVICE_LIST_CHANGED); }

void TnrBaseIO::Update() { DoNotify(NOTIFY_DEVICE_LIST_CHANGED); }

int32_t TnrBaseIO::AddDevice(TnrDevice* Device)
{
    const int32_t index = slDevices->AddObject(Device->NameFriendly, Device);
    Device->fIndex = index;
    Device->fParent = this;
    return index;
}

int32_t TnrBaseIO::InsertDevice(TnrDevice* Device)
{
    const int32_t n = CountDevices();
    if (n == 0 || GetDevice(n - 1)->Data < Device->Data) return AddDevice(Device);
    for (int32_t i = 0; i < n; ++i) {
        TnrDevice* d = GetDevice(i);
        if (d->Data == Device->Data) return -1;
        if (d->Data > Device->Data) {
            slDevices->InsertObject(i, Device->NameFriendly, Device);
            Device->fIndex = i;
            Device->fParent = this;
            for (int32_t j = i + 1; j < CountDevices(); ++j) GetDevice(j)->fIndex += 1;
            return i;
        }
    }
    return -1;  // not reached: the last device's Data is not smaller
}

void TnrBaseIO::ClearDeviceList()
{
    if (flClearDeviceListWithFree)
        for (int32_t i = 0; i < CountDevices(); ++i) delete GetDevice(i);
    slDevices->Clear();
}

void TnrBaseIO::GetDeviceList(TStringList* L)
{
    if (CountDevices() == 0) DeviceListLoad();
    if (!L) return;
    L->Clear();
    for (int32_t i = 0; i < CountDevices(); ++i) L->AddObject(slDevices->Strings(i), slDevices->Objects(i));
}

TnrDevice* TnrBaseIO::GetDevice(int32_t Index) const
{
    if (Index < 0 || Index >= CountDevices()) return nullptr;
    return static_cast<TnrDevice*>(slDevices->Objects(Index));
}

int32_t TnrBaseIO::CountDevices() const { return slDevices->Count(); }

int32_t TnrBaseIO::IndexOfDevice(const TnrDevice* aDevice) const { return slDevices->IndexOfObject(aDevice); }

int32_t TnrBaseIO::IndexOfDeviceData(int32_t Value) const
{
    for (int32_t i = 0; i < CountDevices(); ++i)
        if (GetDevice(i)->Data == Value) return i;
    return -1;
}

bool TnrBaseIO::WMDeviceChange(const MSG& Msg)
{
    if (Msg.message != WM_DEVICECHANGE) return false;
    bool changed = Msg.wParam == DBT_DEVNODES_CHANGED;
    if (!changed && (Msg.wParam == DBT_DEVICEARRIVAL || Msg.wParam == DBT_DEVICEREMOVECOMPLETE) && Msg.lParam) {
        const auto* hdr = reinterpret_cast<const DEV_BROADCAST_HDR*>(Msg.lParam);
        changed = hdr->dbch_devicetype == DBT_DEVTYP_PORT;
    }
    if (changed) Update();
    return changed;
}

// ---------------------------------------------------------------------------
// Links: data processor, log sink, terminal edit

void TnrBaseIO::SetDataProcessor(TnrCustomDataProcessor* Value)
{
    if (!Value && fDataProcessor) fDataProcessor->AttachDevice(nullptr);
    fDataProcessor = Value;
    if (Value) {
        Value->AttachDevice(this);
        Value->FreeNotification(this);
    }
}

void TnrBaseIO::SetLog(TnrCustomLogFile* Value)
{
    fLog = Value;
    if (Value) Value->FreeNotification(this);
}

void TnrBaseIO::Notification(TComponent* AComponent, TOperation Operation)
{
    TComponent::Notification(AComponent, Operation);
    if (Operation != opRemove || !AComponent) return;
    if (AComponent == fDataProcessor) {
        // A processor that is being destroyed has detached itself already, and
        // its own operations can no longer be called.
        if (!AComponent->IsDestroying()) fDataProcessor->AttachDevice(nullptr);
        fDataProcessor = nullptr;
    } else if (AComponent == fTerminal) {
        fTerminal = nullptr;
        hTerminal = nullptr;
        fOldTerminalWndProc = nullptr;
    } else if (AComponent == fLog) {
        fLog = nullptr;
    }
}

void TnrBaseIO::SetTerminal(TCustomEdit* Value)
{
    if (fTerminal) fTerminal->SetCharProc(fOldTerminalWndProc);
    if (Value) {
        fOldTerminalWndProc = Value->CharProc();
        Value->SetCharProc([this](char16_t Ch) { TerminalWndProc(Ch); });
    } else {
        fOldTerminalWndProc = nullptr;
    }
    hTerminal = nullptr;
    fTerminal = Value;
    if (IsDesigning() && Value && fTerminalUsage == tuNone) fTerminalUsage = tuBoth;
    SetTerminalUsage(fTerminalUsage);
    if (Value) Value->FreeNotification(this);
}

void TnrBaseIO::SetTerminalUsage(TTerminalUsage Value)
{
    fTerminalUsage = Value;
    if (fTerminal) hTerminal = (Value == tuReceive || Value == tuBoth) ? fTerminal : nullptr;
}

void TnrBaseIO::TerminalWndProc(char16_t Ch)
{
    if (!fTerminalLocked && (fTerminalUsage == tuSend || fTerminalUsage == tuBoth)) {
        SendChar(Ch);
        if (!fTerminalEcho) return;  // the edit never sees the character
    }
    if (fOldTerminalWndProc)
        fOldTerminalWndProc(Ch);
    else if (fTerminal)
        fTerminal->DefaultCharProc()(Ch);
}

void TnrBaseIO::TerminalOutput(uint8_t* Buffer, uint32_t Len)
{
    struct Lock {
        bool& flag;
        explicit Lock(bool& f) : flag(f) { flag = true; }
        ~Lock() { flag = false; }
    } lock(fTerminalLocked);
    if (!hTerminal) return;  // tuNone / tuSend: received bytes are not shown
    if (Len == 1) {
        hTerminal->PerformAnsiChar(Buffer[0]);
        return;
    }
    Buffer[Len] = 0;
    // The edit takes NUL-terminated text: each piece up to a NUL goes in turn.
    const char* p = reinterpret_cast<const char*>(Buffer);
    const char* end = p + Len;
    while (p < end) {
        const char* nul = std::find(p, end, '\0');
        if (nul > p) hTerminal->ReplaceSelAnsi(std::string_view(p, static_cast<std::size_t>(nul - p)));
        p = nul + 1;
    }
}

// ---------------------------------------------------------------------------
// Log

const UnicodeString& TnrBaseIO::LogPrefix()
{
    // The constructor can only see its own class; the prefix is the name of
    // the component's class unless a descendant chose another one.
    if (sLogPrefix == fConstructedPrefix) sLogPrefix = fConstructedPrefix = ClassName();
    return sLogPrefix;
}

void TnrBaseIO::LogMessage(TDetailLevel Level, const UnicodeString& S)
{
    if (!fLog) return;
    if (S.empty())
        fLog->AddSysInfo();
    else
        fLog->AddLog(Level, LogPrefix() + S);
}

void TnrBaseIO::LogMessageFmt(TDetailLevel Level, const UnicodeString& Fmt, std::initializer_list<TFormatArg> Args)
{
    if (fLog) fLog->AddLogFmt(Level, LogPrefix() + Fmt, std::vector<TFormatArg>(Args));
}
