// SetupAPI and Configuration Manager on POSIX (over sysfs). The library binds
// these by name at run time (LoadLibraryW("SetupAPI.dll") / "cfgmgr32.dll"),
// as on Windows; the prototypes are here for the entry-point types.
#pragma once

#include "platform/posix/win32_registry.h"
#include "platform/posix/win32_types.h"

typedef PVOID HDEVINFO;
typedef DWORD DEVINST;
typedef DEVINST* PDEVINST;
typedef DWORD DEVNODE;
typedef DWORD CONFIGRET;
typedef WCHAR* DEVINSTID_W;
typedef UINT DI_FUNCTION;

// Records carry ULONG_PTR members, so their cbSize is 32 in a 64-bit
// process (28 only in a 32-bit one): callers set cbSize = sizeof(...).
typedef struct _SP_DEVINFO_DATA {
    DWORD cbSize;
    GUID ClassGuid;
    DWORD DevInst;
    ULONG_PTR Reserved;
} SP_DEVINFO_DATA, *PSP_DEVINFO_DATA;

typedef struct _SP_DEVICE_INTERFACE_DATA {
    DWORD cbSize;
    GUID InterfaceClassGuid;
    DWORD Flags;
    ULONG_PTR Reserved;
} SP_DEVICE_INTERFACE_DATA, *PSP_DEVICE_INTERFACE_DATA;

// cbSize of the fixed part: sizeof() (8 in a 64-bit process, 6 in a 32-bit one).
typedef struct _SP_DEVICE_INTERFACE_DETAIL_DATA_W {
    DWORD cbSize;
    WCHAR DevicePath[1];
} SP_DEVICE_INTERFACE_DETAIL_DATA_W, *PSP_DEVICE_INTERFACE_DETAIL_DATA_W;

typedef struct _SP_CLASSINSTALL_HEADER {
    DWORD cbSize;
    DI_FUNCTION InstallFunction;
} SP_CLASSINSTALL_HEADER, *PSP_CLASSINSTALL_HEADER;

typedef enum _PNP_VETO_TYPE { PNP_VetoTypeUnknown = 0 } PNP_VETO_TYPE, *PPNP_VETO_TYPE;

static_assert(sizeof(SP_DEVINFO_DATA) == 32, "SP_DEVINFO_DATA as in a 64-bit process");
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 32, "SP_DEVICE_INTERFACE_DATA as in a 64-bit process");
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == 8, "detail record fixed part");

#define SPINT_ACTIVE 0x00000001
#define SPINT_DEFAULT 0x00000002
#define SPINT_REMOVED 0x00000004

#define DIGCF_DEFAULT 0x00000001
#define DIGCF_PRESENT 0x00000002
#define DIGCF_ALLCLASSES 0x00000004
#define DIGCF_PROFILE 0x00000008
#define DIGCF_DEVICEINTERFACE 0x00000010

#define SPDRP_DEVICEDESC 0x00000000
#define SPDRP_HARDWAREID 0x00000001
#define SPDRP_COMPATIBLEIDS 0x00000002
#define SPDRP_SERVICE 0x00000004
#define SPDRP_CLASS 0x00000007
#define SPDRP_CLASSGUID 0x00000008
#define SPDRP_DRIVER 0x00000009
#define SPDRP_CONFIGFLAGS 0x0000000A
#define SPDRP_MFG 0x0000000B
#define SPDRP_FRIENDLYNAME 0x0000000C
#define SPDRP_LOCATION_INFORMATION 0x0000000D
#define SPDRP_PHYSICAL_DEVICE_OBJECT_NAME 0x0000000E
#define SPDRP_CAPABILITIES 0x0000000F
#define SPDRP_UI_NUMBER 0x00000010
#define SPDRP_ENUMERATOR_NAME 0x00000016

#define DICS_FLAG_GLOBAL 0x00000001
#define DICS_FLAG_CONFIGSPECIFIC 0x00000002
#define DIREG_DEV 0x00000001
#define DIREG_DRV 0x00000002
#define DIREG_BOTH 0x00000004

#define DIF_REMOVE 0x00000005
#define DIF_PROPERTYCHANGE 0x00000012
#define DICD_GENERATE_ID 0x00000001
#define DIOD_INHERIT_CLASSDRVS 0x00000002

#define CR_SUCCESS 0x00000000
#define CR_DEFAULT 0x00000001
#define CR_OUT_OF_MEMORY 0x00000002
#define CR_INVALID_POINTER 0x00000003
#define CR_INVALID_FLAG 0x00000004
#define CR_INVALID_DEVNODE 0x00000005
#define CR_INVALID_DEVINST CR_INVALID_DEVNODE
#define CR_NO_SUCH_DEVNODE 0x0000000D
#define CR_NO_SUCH_DEVINST CR_NO_SUCH_DEVNODE
#define CR_FAILURE 0x00000013
#define CR_BUFFER_SMALL 0x0000001A
#define CR_INVALID_DATA 0x0000001F
#define CR_NO_SUCH_VALUE 0x00000025
#define CR_INVALID_DEVICE_ID 0x0000001E
#define CR_CALL_NOT_IMPLEMENTED 0x00000034
#define CR_INVALID_PROPERTY 0x00000035
#define CR_REMOVE_VETOED 0x00000017

#define CM_LOCATE_DEVNODE_NORMAL 0x00000000
#define CM_LOCATE_DEVNODE_PHANTOM 0x00000001
#define CM_GETIDLIST_FILTER_NONE 0x00000000
#define CM_GETIDLIST_FILTER_ENUMERATOR 0x00000001
#define CM_GETIDLIST_FILTER_SERVICE 0x00000002
#define CM_GETIDLIST_FILTER_EJECTRELATIONS 0x00000004
#define CM_GETIDLIST_FILTER_REMOVALRELATIONS 0x00000008
#define CM_GETIDLIST_FILTER_POWERRELATIONS 0x00000010
#define CM_GETIDLIST_FILTER_BUSRELATIONS 0x00000020
// CM_DRP_* = SPDRP_* + 1
#define CM_DRP_DEVICEDESC 0x00000001
#define CM_DRP_SERVICE 0x00000005
#define CM_DRP_DRIVER 0x0000000A
#define CM_DRP_MFG 0x0000000C
#define CM_DRP_FRIENDLYNAME 0x0000000D
#define CM_DRP_PHYSICAL_DEVICE_OBJECT_NAME 0x0000000F

extern "C" {

HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID* ClassGuid, PCWSTR Enumerator, HWND hwndParent, DWORD Flags);
BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet);
BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex, PSP_DEVINFO_DATA DeviceInfoData);
BOOL WINAPI SetupDiGetDeviceRegistryPropertyW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                              PDWORD PropertyRegDataType, PBYTE PropertyBuffer,
                                              DWORD PropertyBufferSize, PDWORD RequiredSize);
HKEY WINAPI SetupDiOpenDevRegKey(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Scope, DWORD HwProfile,
                                 DWORD KeyType, REGSAM samDesired);
BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                        const GUID* InterfaceClassGuid, DWORD MemberIndex,
                                        PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData);
BOOL WINAPI SetupDiGetDeviceInterfaceDetailW(HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                             PSP_DEVICE_INTERFACE_DETAIL_DATA_W DeviceInterfaceDetailData,
                                             DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize,
                                             PSP_DEVINFO_DATA DeviceInfoData);
HDEVINFO WINAPI SetupDiCreateDeviceInfoList(const GUID* ClassGuid, HWND hwndParent);
BOOL WINAPI SetupDiCreateDeviceInfoW(HDEVINFO DeviceInfoSet, PCWSTR DeviceName, const GUID* ClassGuid,
                                     PCWSTR DeviceDescription, HWND hwndParent, DWORD CreationFlags,
                                     PSP_DEVINFO_DATA DeviceInfoData);
BOOL WINAPI SetupDiGetINFClassW(PCWSTR InfName, LPGUID ClassGuid, PWSTR ClassName, DWORD ClassNameSize,
                                PDWORD RequiredSize);
BOOL WINAPI SetupDiSetDeviceRegistryPropertyW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                              const BYTE* PropertyBuffer, DWORD PropertyBufferSize);
BOOL WINAPI SetupDiCallClassInstaller(DI_FUNCTION InstallFunction, HDEVINFO DeviceInfoSet,
                                      PSP_DEVINFO_DATA DeviceInfoData);
BOOL WINAPI SetupDiGetDeviceInstanceIdW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, PWSTR DeviceInstanceId,
                                        DWORD DeviceInstanceIdSize, PDWORD RequiredSize);
BOOL WINAPI SetupDiRemoveDevice(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData);
BOOL WINAPI SetupDiUnremoveDevice(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData);
BOOL WINAPI SetupDiOpenDeviceInfoW(HDEVINFO DeviceInfoSet, PCWSTR DeviceInstanceId, HWND hwndParent, DWORD OpenFlags,
                                   PSP_DEVINFO_DATA DeviceInfoData);
BOOL WINAPI SetupDiSetClassInstallParamsW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                          PSP_CLASSINSTALL_HEADER ClassInstallParams, DWORD ClassInstallParamsSize);

CONFIGRET WINAPI CM_Locate_DevNodeW(PDEVINST pdnDevInst, DEVINSTID_W pDeviceID, ULONG ulFlags);
CONFIGRET WINAPI CM_Get_DevNode_Registry_PropertyW(DEVINST dnDevInst, ULONG ulProperty, PULONG pulRegDataType,
                                                   PVOID Buffer, PULONG pulLength, ULONG ulFlags);
CONFIGRET WINAPI CM_Get_Parent(PDEVINST pdnDevInst, DEVINST dnDevInst, ULONG ulFlags);
CONFIGRET WINAPI CM_Get_Child(PDEVINST pdnDevInst, DEVINST dnDevInst, ULONG ulFlags);
CONFIGRET WINAPI CM_Get_Sibling(PDEVINST pdnDevInst, DEVINST dnDevInst, ULONG ulFlags);
CONFIGRET WINAPI CM_Get_Device_ID_List_SizeW(PULONG pulLen, PCWSTR pszFilter, ULONG ulFlags);
CONFIGRET WINAPI CM_Get_Device_ID_ListW(PCWSTR pszFilter, PWCHAR Buffer, ULONG BufferLen, ULONG ulFlags);
CONFIGRET WINAPI CM_Request_Device_EjectW(DEVINST dnDevInst, PPNP_VETO_TYPE pVetoType, LPWSTR pszVetoName,
                                          ULONG ulNameLength, ULONG ulFlags);

}  // extern "C"
