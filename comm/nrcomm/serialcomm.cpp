// TnrCustomSerialComm and TnrComm: which COM port is opened and how.
#include "comm/nrcomm/nrcomm.h"

#include "comm/utilities/utilities.h"

TnrCustomSerialComm::TnrCustomSerialComm(TComponent* AOwner) : TnrCustomComm(AOwner)
{
    sLogPrefix = u"nrComm: ";
    // Without a COM1 the record keeps what the base constructor set.
    GetDefaultCommConfigW(PWChar(u"COM1"), &CommCfg, &CommCfg.dwSize);
    SetComPort(cpCOM1);
    SetBaudRate(19200);
    SetByteSize(8);
    SetParity(pNone);
    SetStopBits(sbOne);
    SetStreamProtocol(spHardware);
    SetEventChar(u'\0');
}

TnrCustomSerialComm::~TnrCustomSerialComm()
{
    StopThreadsForDestroy();
    // A handle handed over but never adopted still belongs to the component.
    if (fExtHandle && fExtHandle != INVALID_HANDLE_VALUE) CloseHandle(fExtHandle);
    fExtHandle = nullptr;
}

// ---------------------------------------------------------------------------
// Port selection

void TnrCustomSerialComm::SetComPortNo(uint16_t Value)
{
    const bool wasActive = GetActive();
    const TLifeToken life(*this);
    SetActive(false);
    if (life.Gone()) return;  // by a close handler
    fComPortNo = Value;
    SetActive(wasActive);
    DoNotify(NOTIFY_DEVICE_LIST_CHANGED);
}

TComPort TnrCustomSerialComm::GetComPort() const
{
    // Port number 0 selects no numbered port either.
    if (fComPortNo >= 1 && fComPortNo <= 8) return static_cast<TComPort>(fComPortNo - 1);
    return cpCOMxx;
}

void TnrCustomSerialComm::SetComPort(TComPort Value)
{
    if (Value >= cpCOMxx) return;
    SetComPortNo(static_cast<uint16_t>(Value + 1));
}

int32_t TnrCustomSerialComm::GetDeviceIndex() { return IndexOfDeviceData(fComPortNo); }

void TnrCustomSerialComm::SetDeviceIndex(int32_t Value)
{
    if (Value < 0 || Value >= CountDevices()) return;
    SetComPortNo(static_cast<uint16_t>(GetDevice(Value)->Data & 0xFFFF));
}

UnicodeString TnrCustomSerialComm::QueryComName()
{
    const int32_t index = GetDeviceIndex();
    if (index >= 0) return GetDevice(index)->PortName;
    return Format(u"COM%u", {static_cast<unsigned>(fComPortNo)});
}

// ---------------------------------------------------------------------------
// Opening

HANDLE TnrCustomSerialComm::DeviceOpen()
{
    const HANDLE handle = fExtHandle ? fExtHandle : OpenDeviceFile(TnrCustomSerialComm::QueryComName());
    fExtHandle = nullptr;
    return handle;
}

void TnrCustomSerialComm::SetExtHandle(HANDLE aHandle)
{
    if (!aHandle || aHandle == INVALID_HANDLE_VALUE) return;
    if (GetActive()) DoClose();
    fExtHandle = aHandle;
    DoOpen();
}

void TnrCustomSerialComm::Update()
{
    ClearDeviceList();
    GetDeviceList(nullptr);
    DoNotify(NOTIFY_DEVICE_LIST_CHANGED);
}
