// TnrCustomSerialComm::DeviceListLoad: the device list from the serial-port map,
// enriched by the Plug-and-Play scans when EnumPorts asks for them.
#include <memory>

#include "comm/discovery/discovery.h"
#include "comm/nrcomm/nrcomm.h"
#include "comm/utilities/utilities.h"

namespace {

// Frees the scan records that are still listed when the load ends, however it ends.
struct TScanRecords {
    TStringList& List;
    explicit TScanRecords(TStringList& L) : List(L) {}
    ~TScanRecords()
    {
        for (int i = 0; i < List.Count(); ++i) delete static_cast<TnrDevice*>(List.Objects(i));
        List.Clear();
    }
    TnrDevice* At(int i) const { return static_cast<TnrDevice*>(List.Objects(i)); }
};

// Copies what a scan found onto a record of the device list.
void MergeScanRecord(TnrDevice* Device, const TnrDevice* Scan)
{
    Device->Service = Scan->Service;
    Device->Description = Scan->Description;
    if (!Scan->Description.empty()) Device->NameFriendly += u" (" + Scan->Description + u")";
    Device->Driver = Scan->Driver;
    Device->Manufacturer = Scan->Manufacturer;
    Device->PortName = Trim(Scan->PortName);
    Device->RegKey = Scan->RegKey;
}

bool StartsWith(const UnicodeString& S, const UnicodeString& Prefix)
{
    return S.compare(0, Prefix.size(), Prefix) == 0;
}

}  // namespace

void DeviceListMerge(TnrBaseIO* Target, const TStringList& Ports, TStringList& Scans, TnrEnumPorts Mode)
{
    TScanRecords Records(Scans);
    const bool FullScan = Mode != epQuickAll;
    const bool PresentOnly = Mode == epFullPresent;
    int Unnumbered = 4096;

    // First pass: every port of the serial-port map.
    for (int i = 0; i < Ports.Count(); ++i) {
        const UnicodeString& Entry = Ports.Strings(i);
        auto Device = std::make_unique<TnrDevice>();
        Device->NameFriendly = Trim(Entry.substr(0, Entry.find(u'=')));
        Device->NameDeviceDos = Device->NameFriendly;
        Device->NamePDO = Ports.Values(Device->NameFriendly);
        Device->Data = PortNumberOfEntry(&Ports, i);
        Device->PortName = Device->NameDeviceDos;
        if (FullScan) {
            const bool Compared = Scans.Count() > 0;
            int Match = -1;
            const UnicodeString InDescription = u"(" + Device->NameDeviceDos + u")";
            for (int s = 0; s < Scans.Count(); ++s) {
                const TnrDevice* Scan = Records.At(s);
                if (SameText(Scan->PortName, Device->NameDeviceDos) || Pos(InDescription, Scan->Description) > 0) {
                    Match = s;
                    break;
                }
            }
            if (Match >= 0) {
                std::unique_ptr<TnrDevice> Scan(Records.At(Match));
                Scans.Delete(Match);
                MergeScanRecord(Device.get(), Scan.get());
            } else if (PresentOnly && Compared) {
                continue;  // mapped, but no present device matches it
            }
        }
        if (Target->InsertDevice(Device.get()) >= 0) Device.release();  // the list owns it now
    }

    if (!FullScan) return;
    // Second pass: ports that only the scans know.
    for (int s = 0; s < Scans.Count(); ++s) {
        const TnrDevice* Scan = Records.At(s);
        if (Scan->PortName.empty() || StartsWith(Scan->PortName, u"LPT")) continue;
        auto Device = std::make_unique<TnrDevice>();
        Device->NameFriendly = Scan->PortName.substr(0, Scan->PortName.find(u'\0'));
        Device->NameDeviceDos = Device->NameFriendly;
        Device->NamePDO = Ports.Values(Device->NameFriendly);
        if (StartsWith(Scan->PortName, u"COM")) {
            int Number = 0;
            Device->Data = DecimalToInt(Device->NameFriendly.substr(3), Number) ? Number : 0;
        } else {
            Device->Data = ++Unnumbered;
        }
        MergeScanRecord(Device.get(), Scan);
        if (Target->InsertDevice(Device.get()) >= 0) Device.release();
    }
}

void TnrCustomSerialComm::DeviceListLoad()
{
    TStringList Ports;
    TStringList Scans;
    TScanRecords Records(Scans);  // frees the scan records if a scan raises
    if (fEnumPorts != epQuickAll) {
        for (const auto& Scan : DeviceScans)
            EnumClassDevices(Scan.Guid, fEnumPorts == epFullPresent, Scan.Mode, &Scans);
    }
    EnumComPortNames(&Ports, true);
    DeviceListMerge(this, Ports, Scans, fEnumPorts);
}
