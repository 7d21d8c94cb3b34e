// TnrDeviceBox: a drop-down list of a component's devices that selects the
// device the component works with.
#pragma once

#include "comm/nrclasses/nrclasses.h"
#include "toolkit/stdctrls.h"

class TnrDeviceBox : public TComboBox {
public:
    // Drop-down list style: the user picks one of the entries, no free text.
    explicit TnrDeviceBox(TComponent* AOwner);
    ~TnrDeviceBox() override;

    // The attached component (not owned); writing it refills items and selection.
    TnrBaseIO* GetnrComm() const { return fComm; }
    void SetnrComm(TnrBaseIO* Value);
    // Stored only.
    bool GetResetOnChanged() const { return fReset; }
    void SetResetOnChanged(bool Value) { fReset = Value; }

    // Attaches the current component again: items and selection from it.
    void Reload();
    // Registered with the component: code 3 (device list or selection changed) reloads.
    void DeviceNotify(TObject* Sender, int Code);
    // Passes a device-change window message on to the attached component.
    virtual void WMDeviceChange(const MSG& Msg);

    // The device object of an item (borrowed from the component), or null.
    TnrDevice* ItemDevice(int Index) const;

protected:
    void Notification(TComponent* AComponent, TOperation Operation) override;
    // The change step, run when the user picks an entry: writes the
    // component's DeviceIndex, then the combo box's own step fires OnChange.
    void Change() override;

private:
    TnrNotifyEvent NotifyHandler();
    void FillItems(TnrBaseIO* Value);
    TnrBaseIO* fComm = nullptr;
    bool fReset = false;
};
