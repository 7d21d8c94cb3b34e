#include "comm/nrcommbox/nrcommbox.h"

#include "toolkit/qt/qtapplication.h"
#include "toolkit/qt/qtguard.h"

TnrDeviceBox::TnrDeviceBox(TComponent* AOwner, QWidget* Parent) : QComboBox(Parent), TControl(AOwner)
{
    setEditable(false);
    // activated: only the user's pick, never a selection set by the program.
    connect(this, &QComboBox::activated, this, Guarded([this] { Change(); }));
}

TnrDeviceBox::~TnrDeviceBox()
{
    if (fComm)
        fComm->NotifyDelete(NotifyHandler());
}

TnrNotifyEvent TnrDeviceBox::NotifyHandler()
{
    return TnrNotifyEvent::Bind(this, &TnrDeviceBox::DeviceNotify);
}

void TnrDeviceBox::FillItems(TnrBaseIO* Value)
{
    TStringList Devices;
    Value->GetDeviceList(&Devices);
    for (int i = 0; i < Devices.Count(); ++i)
        addItem(ToQString(Devices.Strings(i)), QVariant::fromValue(static_cast<void*>(Devices.Objects(i))));
}

void TnrDeviceBox::SetnrComm(TnrBaseIO* Value)
{
    clear();
    setCurrentIndex(-1);
    if (Value) {
        FillItems(Value);
        setCurrentIndex(Value->GetDeviceIndex());
        Value->NotifyAdd(NotifyHandler());
        FreeNotification(Value);
    }
    if (fComm && fComm != Value) {
        fComm->NotifyDelete(NotifyHandler());
        RemoveFreeNotification(fComm);
    }
    fComm = Value;
}

void TnrDeviceBox::Reload()
{
    SetnrComm(fComm);
}

void TnrDeviceBox::DeviceNotify(TObject* /*Sender*/, int Code)
{
    if (Code == NOTIFY_DEVICE_LIST_CHANGED)
        Reload();
}

void TnrDeviceBox::WMDeviceChange(const MSG& Msg)
{
    if (fComm)
        fComm->WMDeviceChange(Msg);
}

TnrDevice* TnrDeviceBox::ItemDevice(int Index) const
{
    if (Index < 0 || Index >= count())
        return nullptr;
    return static_cast<TnrDevice*>(itemData(Index).value<void*>());
}

void TnrDeviceBox::Notification(TComponent* AComponent, TOperation Operation)
{
    TControl::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == fComm) {
        fComm = nullptr;
        setCurrentIndex(-1);
        // The texts stay; the device objects went with their component.
        for (int i = 0; i < count(); ++i)
            setItemData(i, QVariant::fromValue(static_cast<void*>(nullptr)));
    }
}

void TnrDeviceBox::Change()
{
    if (!fComm)
        return;
    fComm->SetDeviceIndex(currentIndex());
    DoChange();
}

void TnrDeviceBox::DoChange()
{
    if (OnChange)
        OnChange(this);
    emit deviceChanged();
}
