// SetupAPI device information sets and cfgmgr32 device nodes over the
// devices of devices.cpp. Installation functions exist (the library binds
// them) but fail: nothing can be installed on this system.
#include <cstring>
#include <memory>

#include "platform/posix/devices.h"
#include "platform/posix/handles.h"
#include "platform/posix/text.h"
#include "platform/posix/win32_errors.h"
#include "platform/posix/win32_kernel.h"
#include "platform/posix/win32_registry.h"
#include "platform/posix/win32_setupapi.h"

namespace winapi_posix {

namespace {

struct DeviceInfoSet : KernelObject {
    std::vector<PnpDevice> devices;
    GUID interfaceClass{};  // for sets of interfaces
    bool interfaces = false;
};

// Null with ERROR_INVALID_HANDLE when h is no device information set.
std::shared_ptr<DeviceInfoSet> SetOf(HDEVINFO h)
{
    auto set = LookupAs<DeviceInfoSet>(h);
    if (!set) SetLastError(ERROR_INVALID_HANDLE);
    return set;
}

// "USB" of "USB\VID_0403&PID_6001\A10K1ABC".
std::u16string EnumeratorOf(const PnpDevice& d) { return d.InstanceId.substr(0, d.InstanceId.find(u'\\')); }

// Which interface classes a device registers.
bool HasInterface(const PnpDevice& d, const GUID& g)
{
    if (!d.IsPort) return false;
    if (g == kGuidComPortInterface) return true;
    // serial.sys registers the Ports GUID for UART ports (serenum's bus interface).
    if (g == kGuidPortsClass) return d.LegacySerial;
    return false;
}

const PnpDevice* DeviceFor(const DeviceInfoSet& set, PSP_DEVINFO_DATA data)
{
    if (!data || data->cbSize != sizeof(SP_DEVINFO_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return nullptr;
    }
    for (const auto& d : set.devices)
        if (d.DevInst == data->DevInst) return &d;
    SetLastError(ERROR_NO_SUCH_DEVINST);
    return nullptr;
}

void Fill(const PnpDevice& d, std::size_t index, PSP_DEVINFO_DATA data)
{
    data->ClassGuid = d.ClassGuid;
    data->DevInst = d.DevInst;
    data->Reserved = ULONG_PTR(index + 1);
}

// The string (or multi-string) a property has, empty when it has none.
bool PropertyOf(const PnpDevice& d, DWORD property, DWORD* type, std::u16string* value)
{
    *type = REG_SZ;
    switch (property) {
    case SPDRP_DEVICEDESC: *value = d.Description; break;
    case SPDRP_HARDWAREID:
        *type = REG_MULTI_SZ;
        *value = d.HardwareId;
        if (!value->empty()) value->push_back(0);
        break;
    case SPDRP_SERVICE: *value = d.Service; break;
    case SPDRP_CLASS: *value = d.ClassName; break;
    case SPDRP_CLASSGUID: *value = GuidToString(d.ClassGuid); break;
    case SPDRP_DRIVER: *value = d.Driver; break;
    case SPDRP_MFG: *value = d.Manufacturer; break;
    case SPDRP_FRIENDLYNAME: *value = d.IsPort ? d.Description + u" (" + d.PortName + u")" : u""; break;
    case SPDRP_PHYSICAL_DEVICE_OBJECT_NAME: *value = d.PdoName; break;
    case SPDRP_ENUMERATOR_NAME: *value = EnumeratorOf(d); break;
    default: return false;
    }
    return !value->empty();
}

const PnpDevice* NodeByDevInst(const std::vector<PnpDevice>& nodes, DWORD devInst)
{
    for (const auto& d : nodes)
        if (d.DevInst == devInst) return &d;
    return nullptr;
}

std::vector<const PnpDevice*> ChildrenOf(const std::vector<PnpDevice>& nodes, const std::u16string& parentId)
{
    std::vector<const PnpDevice*> out;
    bool root = EqualsNoCase(parentId, kRootInstanceId);
    for (const auto& d : nodes)
        if (root ? d.ParentId.empty() : EqualsNoCase(d.ParentId, parentId)) out.push_back(&d);
    return out;
}

// Instance IDs selected by a CM_Get_Device_ID_List filter.
bool IdList(PCWSTR filter, ULONG flags, std::vector<std::u16string>* ids)
{
    auto nodes = ScanDevices();
    ids->clear();
    if (flags == CM_GETIDLIST_FILTER_NONE) {
        ids->push_back(kRootInstanceId);
        for (const auto& d : nodes) ids->push_back(d.InstanceId);
        return true;
    }
    std::u16string id(WideView(filter));
    if (flags == CM_GETIDLIST_FILTER_ENUMERATOR) {
        for (const auto& d : nodes)
            if (EqualsNoCase(EnumeratorOf(d), id)) ids->push_back(d.InstanceId);
        return true;
    }
    if (flags == CM_GETIDLIST_FILTER_SERVICE) {
        for (const auto& d : nodes)
            if (EqualsNoCase(d.Service, id)) ids->push_back(d.InstanceId);
        return true;
    }
    bool known = EqualsNoCase(id, kRootInstanceId);
    for (const auto& d : nodes) known = known || EqualsNoCase(d.InstanceId, id);
    if (!known) return false;
    if (flags & (CM_GETIDLIST_FILTER_BUSRELATIONS | CM_GETIDLIST_FILTER_REMOVALRELATIONS |
                 CM_GETIDLIST_FILTER_EJECTRELATIONS)) {
        for (const PnpDevice* c : ChildrenOf(nodes, id)) ids->push_back(c->InstanceId);
    }
    return true;
}

ULONG MultiSzLength(const std::vector<std::u16string>& ids)
{
    ULONG n = 1;  // final terminator
    for (const auto& id : ids) n += ULONG(id.size() + 1);
    return n;
}

}  // namespace
}  // namespace winapi_posix

using namespace winapi_posix;

extern "C" {

HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID* ClassGuid, PCWSTR Enumerator, HWND, DWORD Flags)
{
    const bool allClasses = (Flags & DIGCF_ALLCLASSES) != 0;
    const bool interfaces = (Flags & DIGCF_DEVICEINTERFACE) != 0;
    if (!ClassGuid && !allClasses) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    auto set = std::make_shared<DeviceInfoSet>();
    set->interfaces = interfaces;
    if (ClassGuid) set->interfaceClass = *ClassGuid;
    std::u16string enumerator(WideView(Enumerator));
    // Every device here is present: absent devices are not remembered, so
    // DIGCF_PRESENT changes nothing.
    for (auto& d : ScanDevices()) {
        if (!interfaces && !enumerator.empty() && !EqualsNoCase(EnumeratorOf(d), enumerator)) continue;
        bool take;
        if (interfaces)
            take = allClasses ? d.IsPort : (ClassGuid && HasInterface(d, *ClassGuid));
        else
            take = allClasses || d.ClassGuid == *ClassGuid;
        if (take) set->devices.push_back(std::move(d));
    }
    HANDLE h = RegisterObject(set);
    SetLastError(ERROR_SUCCESS);
    return h;
}

HDEVINFO WINAPI SetupDiCreateDeviceInfoList(const GUID* ClassGuid, HWND)
{
    auto set = std::make_shared<DeviceInfoSet>();
    if (ClassGuid) set->interfaceClass = *ClassGuid;
    return RegisterObject(set);
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet)
{
    if (!SetOf(DeviceInfoSet) || !UnregisterObject(DeviceInfoSet)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex, PSP_DEVINFO_DATA DeviceInfoData)
{
    auto set = SetOf(DeviceInfoSet);
    if (!set) return FALSE;
    if (!DeviceInfoData || DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (MemberIndex >= set->devices.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    Fill(set->devices[MemberIndex], MemberIndex, DeviceInfoData);
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                              PDWORD PropertyRegDataType, PBYTE PropertyBuffer,
                                              DWORD PropertyBufferSize, PDWORD RequiredSize)
{
    auto set = SetOf(DeviceInfoSet);
    if (!set) return FALSE;
    const PnpDevice* d = DeviceFor(*set, DeviceInfoData);
    if (!d) return FALSE;
    DWORD type = 0;
    std::u16string value;
    if (!PropertyOf(*d, Property, &type, &value)) {
        SetLastError(ERROR_INVALID_DATA);  // what Windows says for a property the device lacks
        return FALSE;
    }
    DWORD bytes = DWORD((value.size() + 1) * sizeof(WCHAR));
    if (RequiredSize) *RequiredSize = bytes;
    if (PropertyRegDataType) *PropertyRegDataType = type;
    if (!PropertyBuffer || PropertyBufferSize < bytes) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(PropertyBuffer, value.c_str(), bytes);
    return TRUE;
}

HKEY WINAPI SetupDiOpenDevRegKey(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Scope, DWORD,
                                 DWORD KeyType, REGSAM samDesired)
{
    auto set = SetOf(DeviceInfoSet);
    if (!set) return reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE);
    const PnpDevice* d = DeviceFor(*set, DeviceInfoData);
    if (!d) return reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE);
    if (Scope != DICS_FLAG_GLOBAL && Scope != DICS_FLAG_CONFIGSPECIFIC) {
        SetLastError(ERROR_INVALID_FLAGS);
        return reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE);
    }
    if (KeyType != DIREG_DEV || !d->IsPort) {
        // Only the hardware key of a port exists; no driver (software) keys.
        SetLastError(ERROR_FILE_NOT_FOUND);
        return reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE);
    }
    std::u16string path = u"SYSTEM\\CurrentControlSet\\Enum\\" + d->InstanceId + u"\\Device Parameters";
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, samDesired, &key);
    if (rc != ERROR_SUCCESS) {
        SetLastError(DWORD(rc));  // e.g. the device left since the set was made
        return reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE);
    }
    return key;
}

BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                        const GUID* InterfaceClassGuid, DWORD MemberIndex,
                                        PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData)
{
    auto set = SetOf(DeviceInfoSet);
    if (!set) return FALSE;
    if (!InterfaceClassGuid || !DeviceInterfaceData ||
        DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        SetLastError(!InterfaceClassGuid ? ERROR_INVALID_PARAMETER : ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    DWORD seen = 0;
    for (std::size_t i = 0; i < set->devices.size(); ++i) {
        const PnpDevice& d = set->devices[i];
        if (DeviceInfoData && DeviceInfoData->DevInst != d.DevInst) continue;
        if (!HasInterface(d, *InterfaceClassGuid)) continue;
        if (seen++ != MemberIndex) continue;
        DeviceInterfaceData->InterfaceClassGuid = *InterfaceClassGuid;
        DeviceInterfaceData->Flags = SPINT_ACTIVE;
        DeviceInterfaceData->Reserved = ULONG_PTR(i + 1);
        return TRUE;
    }
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
}

BOOL WINAPI SetupDiGetDeviceInterfaceDetailW(HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                             PSP_DEVICE_INTERFACE_DETAIL_DATA_W Detail, DWORD DetailSize,
                                             PDWORD RequiredSize, PSP_DEVINFO_DATA DeviceInfoData)
{
    auto set = SetOf(DeviceInfoSet);
    if (!set) return FALSE;
    if (!DeviceInterfaceData || DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) ||
        DeviceInterfaceData->Reserved == 0 || DeviceInterfaceData->Reserved > set->devices.size()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::size_t index = DeviceInterfaceData->Reserved - 1;
    const PnpDevice& d = set->devices[index];
    std::u16string path = InterfacePath(d, DeviceInterfaceData->InterfaceClassGuid);
    DWORD needed = DWORD(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) + (path.size() + 1) * sizeof(WCHAR));
    if (RequiredSize) *RequiredSize = needed;
    if (DeviceInfoData) {
        if (DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
            SetLastError(ERROR_INVALID_USER_BUFFER);
            return FALSE;
        }
        Fill(d, index, DeviceInfoData);
    }
    if (!Detail) {
        SetLastError(DetailSize ? ERROR_INVALID_USER_BUFFER : ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (Detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (DetailSize < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(Detail->DevicePath, path.c_str(), (path.size() + 1) * sizeof(WCHAR));
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceInstanceIdW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, PWSTR DeviceInstanceId,
                                        DWORD DeviceInstanceIdSize, PDWORD RequiredSize)
{
    auto set = SetOf(DeviceInfoSet);
    if (!set) return FALSE;
    const PnpDevice* d = DeviceFor(*set, DeviceInfoData);
    if (!d) return FALSE;
    DWORD needed = DWORD(d->InstanceId.size() + 1);
    if (RequiredSize) *RequiredSize = needed;
    if (!DeviceInstanceId || DeviceInstanceIdSize < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(DeviceInstanceId, d->InstanceId.c_str(), needed * sizeof(WCHAR));
    return TRUE;
}

BOOL WINAPI SetupDiOpenDeviceInfoW(HDEVINFO DeviceInfoSet, PCWSTR DeviceInstanceId, HWND, DWORD,
                                   PSP_DEVINFO_DATA DeviceInfoData)
{
    auto set = SetOf(DeviceInfoSet);
    if (!set) return FALSE;
    std::u16string id(WideView(DeviceInstanceId));
    for (auto& d : ScanDevices()) {
        if (!EqualsNoCase(d.InstanceId, id)) continue;
        std::size_t index = set->devices.size();
        for (std::size_t i = 0; i < set->devices.size(); ++i)
            if (set->devices[i].DevInst == d.DevInst) index = i;
        if (index == set->devices.size()) set->devices.push_back(d);
        if (DeviceInfoData) {
            if (DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
                SetLastError(ERROR_INVALID_USER_BUFFER);
                return FALSE;
            }
            Fill(set->devices[index], index, DeviceInfoData);
        }
        return TRUE;
    }
    SetLastError(ERROR_NO_SUCH_DEVINST);
    return FALSE;
}

// Device installation does not exist on this system.
BOOL WINAPI SetupDiCreateDeviceInfoW(HDEVINFO DeviceInfoSet, PCWSTR, const GUID*, PCWSTR, HWND, DWORD, PSP_DEVINFO_DATA)
{
    SetLastError(SetOf(DeviceInfoSet) ? ERROR_ACCESS_DENIED : ERROR_INVALID_HANDLE);
    return FALSE;
}

BOOL WINAPI SetupDiGetINFClassW(PCWSTR, LPGUID, PWSTR, DWORD, PDWORD)
{
    SetLastError(ERROR_FILE_NOT_FOUND);  // there are no INF files
    return FALSE;
}

BOOL WINAPI SetupDiSetDeviceRegistryPropertyW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA, DWORD, const BYTE*, DWORD)
{
    SetLastError(SetOf(DeviceInfoSet) ? ERROR_ACCESS_DENIED : ERROR_INVALID_HANDLE);
    return FALSE;
}

BOOL WINAPI SetupDiCallClassInstaller(DI_FUNCTION, HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA)
{
    SetLastError(SetOf(DeviceInfoSet) ? ERROR_ACCESS_DENIED : ERROR_INVALID_HANDLE);
    return FALSE;
}

BOOL WINAPI SetupDiRemoveDevice(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA)
{
    SetLastError(SetOf(DeviceInfoSet) ? ERROR_ACCESS_DENIED : ERROR_INVALID_HANDLE);
    return FALSE;
}

BOOL WINAPI SetupDiUnremoveDevice(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA)
{
    SetLastError(SetOf(DeviceInfoSet) ? ERROR_ACCESS_DENIED : ERROR_INVALID_HANDLE);
    return FALSE;
}

BOOL WINAPI SetupDiSetClassInstallParamsW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA, PSP_CLASSINSTALL_HEADER, DWORD)
{
    SetLastError(SetOf(DeviceInfoSet) ? ERROR_ACCESS_DENIED : ERROR_INVALID_HANDLE);
    return FALSE;
}

CONFIGRET WINAPI CM_Locate_DevNodeW(PDEVINST pdnDevInst, DEVINSTID_W pDeviceID, ULONG ulFlags)
{
    if (!pdnDevInst) return CR_INVALID_POINTER;
    if (ulFlags & ~ULONG(CM_LOCATE_DEVNODE_PHANTOM | 0x2 | 0x4)) return CR_INVALID_FLAG;
    *pdnDevInst = 0;
    std::u16string id(WideView(pDeviceID));
    if (id.empty()) {
        *pdnDevInst = kRootDevInst;
        return CR_SUCCESS;
    }
    for (const auto& d : ScanDevices()) {
        if (EqualsNoCase(d.InstanceId, id)) {
            *pdnDevInst = d.DevInst;
            return CR_SUCCESS;
        }
    }
    return CR_NO_SUCH_DEVNODE;
}

CONFIGRET WINAPI CM_Get_DevNode_Registry_PropertyW(DEVINST dnDevInst, ULONG ulProperty, PULONG pulRegDataType,
                                                   PVOID Buffer, PULONG pulLength, ULONG)
{
    if (!pulLength) return CR_INVALID_POINTER;
    auto nodes = ScanDevices();
    const PnpDevice* d = NodeByDevInst(nodes, dnDevInst);
    if (!d) return CR_NO_SUCH_DEVNODE;
    if (ulProperty == 0) return CR_INVALID_PROPERTY;
    DWORD type = 0;
    std::u16string value;
    if (!PropertyOf(*d, ulProperty - 1, &type, &value)) return CR_NO_SUCH_VALUE;
    ULONG bytes = ULONG((value.size() + 1) * sizeof(WCHAR));
    if (pulRegDataType) *pulRegDataType = type;
    if (!Buffer || *pulLength < bytes) {
        *pulLength = bytes;
        return CR_BUFFER_SMALL;
    }
    std::memcpy(Buffer, value.c_str(), bytes);
    *pulLength = bytes;
    return CR_SUCCESS;
}

CONFIGRET WINAPI CM_Get_Parent(PDEVINST pdnDevInst, DEVINST dnDevInst, ULONG)
{
    if (!pdnDevInst) return CR_INVALID_POINTER;
    *pdnDevInst = 0;
    if (dnDevInst == kRootDevInst) return CR_NO_SUCH_DEVNODE;
    auto nodes = ScanDevices();
    const PnpDevice* d = NodeByDevInst(nodes, dnDevInst);
    if (!d) return CR_INVALID_DEVNODE;
    *pdnDevInst = d->ParentId.empty() ? kRootDevInst : DevInstOf(d->ParentId);
    return CR_SUCCESS;
}

CONFIGRET WINAPI CM_Get_Child(PDEVINST pdnDevInst, DEVINST dnDevInst, ULONG)
{
    if (!pdnDevInst) return CR_INVALID_POINTER;
    *pdnDevInst = 0;
    auto nodes = ScanDevices();
    std::u16string id = InstanceIdOf(dnDevInst);
    if (id.empty() || (dnDevInst != kRootDevInst && !NodeByDevInst(nodes, dnDevInst))) return CR_INVALID_DEVNODE;
    auto children = ChildrenOf(nodes, id);
    if (children.empty()) return CR_NO_SUCH_DEVNODE;
    *pdnDevInst = children.front()->DevInst;
    return CR_SUCCESS;
}

CONFIGRET WINAPI CM_Get_Sibling(PDEVINST pdnDevInst, DEVINST dnDevInst, ULONG)
{
    if (!pdnDevInst) return CR_INVALID_POINTER;
    *pdnDevInst = 0;
    auto nodes = ScanDevices();
    const PnpDevice* d = NodeByDevInst(nodes, dnDevInst);
    if (!d) return CR_INVALID_DEVNODE;
    auto siblings = ChildrenOf(nodes, d->ParentId.empty() ? std::u16string(kRootInstanceId) : d->ParentId);
    for (std::size_t i = 0; i + 1 < siblings.size(); ++i) {
        if (siblings[i]->DevInst == dnDevInst) {
            *pdnDevInst = siblings[i + 1]->DevInst;
            return CR_SUCCESS;
        }
    }
    return CR_NO_SUCH_DEVNODE;
}

CONFIGRET WINAPI CM_Get_Device_ID_List_SizeW(PULONG pulLen, PCWSTR pszFilter, ULONG ulFlags)
{
    if (!pulLen) return CR_INVALID_POINTER;
    *pulLen = 0;
    std::vector<std::u16string> ids;
    if (!IdList(pszFilter, ulFlags, &ids)) return CR_INVALID_DEVICE_ID;
    *pulLen = MultiSzLength(ids);
    return CR_SUCCESS;
}

CONFIGRET WINAPI CM_Get_Device_ID_ListW(PCWSTR pszFilter, PWCHAR Buffer, ULONG BufferLen, ULONG ulFlags)
{
    if (!Buffer || BufferLen == 0) return CR_INVALID_POINTER;
    std::vector<std::u16string> ids;
    if (!IdList(pszFilter, ulFlags, &ids)) return CR_INVALID_DEVICE_ID;
    if (BufferLen < MultiSzLength(ids)) return CR_BUFFER_SMALL;
    WCHAR* out = Buffer;
    for (const auto& id : ids) {
        std::memcpy(out, id.c_str(), (id.size() + 1) * sizeof(WCHAR));
        out += id.size() + 1;
    }
    *out = 0;
    return CR_SUCCESS;
}

CONFIGRET WINAPI CM_Request_Device_EjectW(DEVINST dnDevInst, PPNP_VETO_TYPE pVetoType, LPWSTR pszVetoName,
                                          ULONG ulNameLength, ULONG)
{
    auto nodes = ScanDevices();
    if (!NodeByDevInst(nodes, dnDevInst)) return CR_INVALID_DEVNODE;
    // No safe-removal service: the request is vetoed.
    if (pVetoType) *pVetoType = PNP_VetoTypeUnknown;
    if (pszVetoName && ulNameLength) pszVetoName[0] = 0;
    return CR_REMOVE_VETOED;
}

}  // extern "C"
