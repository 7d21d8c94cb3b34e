// Run-time binding of SetupAPI / cfgmgr32 and the device-tree scans.
#include "comm/discovery/discovery.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "comm/nrclasses/nrclasses.h"
#include "comm/utilities/utilities.h"

namespace {

typedef HDEVINFO(WINAPI* TSetupDiGetClassDevsW)(const GUID*, PCWSTR, HWND, DWORD);
typedef BOOL(WINAPI* TSetupDiDestroyDeviceInfoList)(HDEVINFO);
typedef BOOL(WINAPI* TSetupDiEnumDeviceInfo)(HDEVINFO, DWORD, PSP_DEVINFO_DATA);
typedef BOOL(WINAPI* TSetupDiGetDeviceRegistryPropertyW)(HDEVINFO, PSP_DEVINFO_DATA, DWORD, PDWORD, PBYTE, DWORD,
                                                         PDWORD);
typedef HKEY(WINAPI* TSetupDiOpenDevRegKey)(HDEVINFO, PSP_DEVINFO_DATA, DWORD, DWORD, DWORD, REGSAM);
typedef BOOL(WINAPI* TSetupDiEnumDeviceInterfaces)(HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD,
                                                   PSP_DEVICE_INTERFACE_DATA);
typedef BOOL(WINAPI* TSetupDiGetDeviceInterfaceDetailW)(HDEVINFO, PSP_DEVICE_INTERFACE_DATA,
                                                        PSP_DEVICE_INTERFACE_DETAIL_DATA_W, DWORD, PDWORD,
                                                        PSP_DEVINFO_DATA);
typedef BOOL(WINAPI* TSetupDiGetDeviceInstanceIdW)(HDEVINFO, PSP_DEVINFO_DATA, PWSTR, DWORD, PDWORD);
typedef CONFIGRET(WINAPI* TCM_Get_Device_ID_List_SizeW)(PULONG, PCWSTR, ULONG);
typedef CONFIGRET(WINAPI* TCM_Get_Device_ID_ListW)(PCWSTR, PWSTR, ULONG, ULONG);

// One entry point of the binding. Names are written in their ANSI form where
// the system has two forms (ending in "A") and bound in their wide form.
struct TEntryPoint {
    const char* Name;
    bool HasWideForm;
    bool Required;
    FARPROC Address;
};

// The SetupAPI entry points, in lookup order.
TEntryPoint SetupApiEntries[] = {
    {"SetupDiGetClassDevsA", true, true, nullptr},
    {"SetupDiDestroyDeviceInfoList", false, true, nullptr},
    {"SetupDiEnumDeviceInfo", false, true, nullptr},
    {"SetupDiGetDeviceRegistryPropertyA", true, true, nullptr},
    {"SetupDiOpenDevRegKey", false, true, nullptr},
    {"SetupDiEnumDeviceInterfaces", false, true, nullptr},
    {"SetupDiGetDeviceInterfaceDetailA", true, true, nullptr},
    {"SetupDiCreateDeviceInfoList", false, true, nullptr},
    {"SetupDiCreateDeviceInfoA", true, true, nullptr},
    {"SetupDiGetINFClassA", true, true, nullptr},
    {"SetupDiSetDeviceRegistryPropertyA", true, true, nullptr},
    {"SetupDiCallClassInstaller", false, true, nullptr},
    {"SetupDiGetDeviceInstanceIdA", true, true, nullptr},
    {"SetupDiRemoveDevice", false, false, nullptr},
    {"SetupDiUnremoveDevice", false, false, nullptr},
    {"SetupDiOpenDeviceInfoA", true, false, nullptr},
    {"SetupDiSetClassInstallParamsA", true, true, nullptr},
};
enum {
    eGetClassDevs,
    eDestroyDeviceInfoList,
    eEnumDeviceInfo,
    eGetDeviceRegistryProperty,
    eOpenDevRegKey,
    eEnumDeviceInterfaces,
    eGetDeviceInterfaceDetail,
    eGetDeviceInstanceId = 12,
};

// The Configuration Manager entry points: from SetupAPI.dll when it exports
// CM_Locate_DevNodeW, else from cfgmgr32.dll.
TEntryPoint ConfigManagerEntries[] = {
    {"CM_Locate_DevNodeA", true, true, nullptr},     {"CM_Get_DevNode_Registry_PropertyA", true, true, nullptr},
    {"CM_Get_Parent", false, true, nullptr},         {"CM_Get_Device_ID_List_SizeA", true, true, nullptr},
    {"CM_Get_Device_ID_ListA", true, true, nullptr}, {"CM_Get_Child", false, true, nullptr},
    {"CM_Get_Sibling", false, true, nullptr},        {"CM_Request_Device_EjectA", true, false, nullptr},
};
enum { eGetDeviceIdListSize = 3, eGetDeviceIdList = 4 };

HMODULE SetupApiModule = nullptr;
HMODULE ConfigManagerModule = nullptr;
bool UnloadAtExitRegistered = false;

template <class T>
T Entry(const TEntryPoint& E)
{
    return reinterpret_cast<T>(reinterpret_cast<void*>(E.Address));
}

void LookUp(HMODULE Module, TEntryPoint& E)
{
    const AnsiString Name = E.HasWideForm ? WideEntryName(E.Name) : AnsiString(E.Name);
    E.Address = GetProcAddress(Module, Name.c_str());
}

void ForgetEntries()
{
    for (auto& E : SetupApiEntries) E.Address = nullptr;
    for (auto& E : ConfigManagerEntries) E.Address = nullptr;
}

bool AllRequiredFound()
{
    for (const auto& E : SetupApiEntries)
        if (E.Required && !E.Address) return false;
    for (const auto& E : ConfigManagerEntries)
        if (E.Required && !E.Address) return false;
    return true;
}

void UnloadAtExit() { SetupApiUnload(); }

void ReadCommonProperties(HDEVINFO Set, PSP_DEVINFO_DATA Info, TnrDevice* Device)
{
    Device->Driver = GetDevicePropertyString(Set, Info, SPDRP_DRIVER);
    Device->Service = GetDevicePropertyString(Set, Info, SPDRP_SERVICE);
    Device->NamePDO = GetDevicePropertyString(Set, Info, SPDRP_PHYSICAL_DEVICE_OBJECT_NAME);
    Device->Description = GetDevicePropertyString(Set, Info, SPDRP_DEVICEDESC);
    Device->Manufacturer = GetDevicePropertyString(Set, Info, SPDRP_MFG);
    Device->GuidClass = Info->ClassGuid;
}

void ClassScan(HDEVINFO Set, TStringList* List)
{
    for (DWORD Index = 0;; ++Index) {
        SP_DEVINFO_DATA Info;
        std::memset(&Info, 0, sizeof(Info));
        Info.cbSize = sizeof(Info);
        if (!Entry<TSetupDiEnumDeviceInfo>(SetupApiEntries[eEnumDeviceInfo])(Set, Index, &Info)) break;
        auto* Device = new TnrDevice();
        try {
            ReadCommonProperties(Set, &Info, Device);
            HKEY Key = Entry<TSetupDiOpenDevRegKey>(SetupApiEntries[eOpenDevRegKey])(Set, &Info, DICS_FLAG_GLOBAL, 0,
                                                                                     DIREG_DEV, KEY_QUERY_VALUE);
            if (Key && reinterpret_cast<HANDLE>(Key) != INVALID_HANDLE_VALUE) {
                // The reported root is not used: device keys live below HKLM.
                HKEY Root = nullptr;
                GetRegKeyName(Key, &Root, Device->RegKey);
                RegCloseKey(Key);
                Device->NameSymbolic = ReadRegString(HKEY_LOCAL_MACHINE, Device->RegKey, u"SymbolicName");
                Device->PortName = ReadRegString(HKEY_LOCAL_MACHINE, Device->RegKey, u"PortName");
            }
            constexpr DWORD IdChars = 256;
            WCHAR Id[IdChars + 1];
            std::memset(Id, 0, sizeof(Id));
            DWORD Size = 0;
            if (Entry<TSetupDiGetDeviceInstanceIdW>(SetupApiEntries[eGetDeviceInstanceId])(Set, &Info, Id, IdChars,
                                                                                           &Size) &&
                Size > 0) {
                const DWORD Chars = Size - 1 < IdChars ? Size - 1 : IdChars;
                Device->InstanceId = StrFromPWChar(Id, Chars);
                Device->DevInst = static_cast<decltype(Device->DevInst)>(Info.DevInst);
                Device->BusRelations = GetDeviceIdList(Device->InstanceId, u";");
            }
            List->AddObject(Device->Driver, Device);
        } catch (...) {
            delete Device;
            throw;
        }
    }
}

void InterfaceScan(HDEVINFO Set, const GUID& Guid, TStringList* List)
{
    const auto GetDetail = Entry<TSetupDiGetDeviceInterfaceDetailW>(SetupApiEntries[eGetDeviceInterfaceDetail]);
    for (DWORD Index = 0;; ++Index) {
        SP_DEVICE_INTERFACE_DATA Interface;
        std::memset(&Interface, 0, sizeof(Interface));
        Interface.cbSize = sizeof(Interface);
        if (!Entry<TSetupDiEnumDeviceInterfaces>(SetupApiEntries[eEnumDeviceInterfaces])(Set, nullptr, &Guid, Index,
                                                                                         &Interface))
            break;
        SP_DEVINFO_DATA Info;
        std::memset(&Info, 0, sizeof(Info));
        Info.cbSize = sizeof(Info);
        DWORD Needed = 0;
        SetLastError(ERROR_SUCCESS);
        GetDetail(Set, &Interface, nullptr, 0, &Needed, &Info);
        if (Needed == 0 || GetLastError() != ERROR_INSUFFICIENT_BUFFER) continue;
        // Needed must at least hold the fixed part and one character.
        const DWORD Fixed = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (Needed < Fixed) continue;
        auto* Detail = static_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(LocalAlloc(LPTR, Needed + sizeof(WCHAR)));
        if (!Detail) continue;
        Detail->cbSize = Fixed;
        if (GetDetail(Set, &Interface, Detail, Needed, nullptr, &Info)) {
            auto* Device = new TnrDevice();
            try {
                ReadCommonProperties(Set, &Info, Device);
                const std::size_t PathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
                Device->NameSymbolic =
                    TextUpToZero(Detail->DevicePath, (Needed + sizeof(WCHAR) - PathOffset) / sizeof(WCHAR));
                List->AddObject(Device->Driver, Device);
            } catch (...) {
                delete Device;
                LocalFree(Detail);
                throw;
            }
        }
        LocalFree(Detail);
    }
}

}  // namespace

const TDeviceScan DeviceScans[12] = {
    {{0x2C7089AA, 0x2E0E, 0x11D1, {0xB1, 0x14, 0x00, 0xC0, 0x4F, 0xC2, 0xAA, 0xE4}},
     smInterfaceScan},  // modem interface
    {{0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}},
     smInterfaceScan},  // COM port interface
    {{0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}},
     smInterfaceScan},  // Ports as interface
    {{0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}}, smClassScan},  // Ports
    {{0x6BDD1FC5, 0x810F, 0x11D0, {0xBE, 0xC7, 0x08, 0x00, 0x2B, 0xE2, 0x09, 0x2F}}, smClassScan},  // Infrared
    {{0x4D36E964, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}}, smClassScan},  // Adapter
    {{0xE0CBF06C, 0xCD8B, 0x4647, {0xBB, 0x8A, 0x26, 0x3B, 0x43, 0xF0, 0xF9, 0x74}}, smClassScan},  // Bluetooth
    {{0x4D36E96D, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}}, smClassScan},  // Modem
    {{0x4D36E971, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}}, smClassScan},  // Multifunction
    {{0x50906CB8, 0xBA12, 0x11D1, {0xBF, 0x5D, 0x00, 0x00, 0xF8, 0x05, 0xF5, 0x30}}, smClassScan},  // Multiport serial
    {{0x8ECC055D, 0x047F, 0x11D1, {0xA5, 0x37, 0x00, 0x00, 0xF8, 0x75, 0x3E, 0xD1}}, smClassScan},  // Legacy driver
    {{0xDF799E12, 0x3C56, 0x421B, {0xB2, 0x98, 0xB6, 0xD3, 0x64, 0x2B, 0xC8, 0x78}}, smClassScan},
};

bool SetupApiLoad()
{
    if (SetupApiModule) return true;
    SetupApiModule = LoadLibraryW(PWChar(u"SetupAPI.dll"));
    if (!SetupApiModule) return false;
    for (auto& E : SetupApiEntries) LookUp(SetupApiModule, E);
    HMODULE CmModule = SetupApiModule;
    LookUp(SetupApiModule, ConfigManagerEntries[0]);
    if (!ConfigManagerEntries[0].Address) {
        if (!ConfigManagerModule) ConfigManagerModule = LoadLibraryW(PWChar(u"cfgmgr32.dll"));
        CmModule = ConfigManagerModule;
    }
    if (CmModule) {
        for (auto& E : ConfigManagerEntries) LookUp(CmModule, E);
    }
    if (!AllRequiredFound()) {
        SetupApiUnload();
        return false;
    }
    if (!UnloadAtExitRegistered) {
        // Registered after the libraries were first loaded, so it runs before
        // anything that the loading itself set up is torn down.
        UnloadAtExitRegistered = true;
        std::atexit(UnloadAtExit);
    }
    return true;
}

void SetupApiUnload()
{
    ForgetEntries();
    if (SetupApiModule) {
        FreeLibrary(SetupApiModule);
        SetupApiModule = nullptr;
    }
    if (ConfigManagerModule) {
        FreeLibrary(ConfigManagerModule);
        ConfigManagerModule = nullptr;
    }
}

void EnumClassDevices(const GUID& Guid, bool PresentOnly, TScanMode Mode, TStringList* List)
{
    if (!List || !SetupApiLoad()) return;
    DWORD Flags = PresentOnly ? DIGCF_PRESENT : 0;
    if (Mode == smInterfaceScan) Flags |= DIGCF_DEVICEINTERFACE;
    HDEVINFO Set = Entry<TSetupDiGetClassDevsW>(SetupApiEntries[eGetClassDevs])(&Guid, nullptr, nullptr, Flags);
    if (Set == INVALID_HANDLE_VALUE) return;
    try {
        if (Mode == smClassScan)
            ClassScan(Set, List);
        else
            InterfaceScan(Set, Guid, List);
    } catch (...) {
        Entry<TSetupDiDestroyDeviceInfoList>(SetupApiEntries[eDestroyDeviceInfoList])(Set);
        throw;
    }
    Entry<TSetupDiDestroyDeviceInfoList>(SetupApiEntries[eDestroyDeviceInfoList])(Set);
}

UnicodeString GetDevicePropertyString(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Property)
{
    const auto GetProperty = Entry<TSetupDiGetDeviceRegistryPropertyW>(SetupApiEntries[eGetDeviceRegistryProperty]);
    if (!GetProperty) return UnicodeString();
    constexpr DWORD BufferBytes = 512;
    WCHAR Buffer[BufferBytes / sizeof(WCHAR)];
    std::memset(Buffer, 0, sizeof(Buffer));
    DWORD Needed = 0;
    if (!GetProperty(DeviceInfoSet, DeviceInfoData, Property, nullptr, reinterpret_cast<PBYTE>(Buffer), BufferBytes,
                     &Needed))
        return UnicodeString();
    // The text without its terminating zero; a size beyond the buffer is not trusted.
    if (Needed < sizeof(WCHAR)) return UnicodeString();
    if (Needed > BufferBytes) Needed = BufferBytes;
    return StrFromPWChar(Buffer, Needed / sizeof(WCHAR) - 1);
}

UnicodeString GetDeviceIdList(const UnicodeString& DeviceId, const UnicodeString& Separator)
{
    const auto GetSize = Entry<TCM_Get_Device_ID_List_SizeW>(ConfigManagerEntries[eGetDeviceIdListSize]);
    const auto GetList = Entry<TCM_Get_Device_ID_ListW>(ConfigManagerEntries[eGetDeviceIdList]);
    if (!GetSize || !GetList) return UnicodeString();
    ULONG Length = 0;
    if (GetSize(&Length, PWChar(DeviceId), CM_GETIDLIST_FILTER_BUSRELATIONS) != CR_SUCCESS || Length == 0)
        return UnicodeString();
    std::vector<WCHAR> Buffer(Length, 0);
    if (GetList(PWChar(DeviceId), Buffer.data(), Length, CM_GETIDLIST_FILTER_BUSRELATIONS) != CR_SUCCESS)
        return UnicodeString();
    return JoinMultiString(Buffer.data(), static_cast<int>(Length), Separator);
}
