#include "comm/nrcommbox/nrcommbox.h"

TnrDeviceBox::TnrDeviceBox(TComponent* AOwner) : TComboBox(AOwner) { SetStyle(csDropDownList); }

TnrDeviceBox::~TnrDeviceBox()
{
    if (fComm) fComm->NotifyDelete(NotifyHandler());
}

TnrNotifyEvent TnrDeviceBox::NotifyHandler() { return TnrNotifyEvent::Bind(this, &TnrDeviceBox::DeviceNotify); }

void TnrDeviceBox::FillItems(TnrBaseIO* Value)
{
    TStringList Devices;
    Value->GetDeviceList(&Devices);
    for (int i = 0; i < Devices.Count(); ++i) AddItem(Devices.Strings(i), Devices.Objects(i));
}

void TnrDeviceBox::SetnrComm(TnrBaseIO* Value)
{
    Clear();
    if (Value) {
        FillItems(Value);
        SetItemIndex(Value->GetDeviceIndex());
        Value->NotifyAdd(NotifyHandler());
        FreeNotification(Value);
    }
    if (fComm && fComm != Value) {
        fComm->NotifyDelete(NotifyHandler());
        RemoveFreeNotification(fComm);
    }
    fComm = Value;
}

void TnrDeviceBox::Reload() { SetnrComm(fComm); }

void TnrDeviceBox::DeviceNotify(TObject* /*Sender*/, int Code)
{
    if (Code == NOTIFY_DEVICE_LIST_CHANGED) Reload();
}

void TnrDeviceBox::WMDeviceChange(const MSG& Msg)
{
    if (fComm) fComm->WMDeviceChange(Msg);
}

TnrDevice* TnrDeviceBox::ItemDevice(int Index) const
{
    if (Index < 0 || Index >= Count()) return nullptr;
    return static_cast<TnrDevice*>(Items().Objects(Index));
}

void TnrDeviceBox::Notification(TComponent* AComponent, TOperation Operation)
{
    TComboBox::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == fComm) {
        fComm = nullptr;
        SetItemIndex(-1);
        // The texts stay; the device objects went with their component.
        for (int i = 0; i < Count(); ++i) SetItemObject(i, nullptr);
    }
}

void TnrDeviceBox::Change()
{
    if (!fComm) return;
    fComm->SetDeviceIndex(ItemIndex());
    TComboBox::Change();
}
