// Plug-and-Play scans of the device tree and the run-time binding of SetupAPI
// and Configuration Manager that they use.
#pragma once

#include <winapi.h>

#include "comm/nrclasses/nrclasses.h"
#include "toolkit/classes.h"
#include "toolkit/sysutils.h"

// How EnumClassDevices walks a device information set.
enum class TScanMode {
    smClassScan,      // devices of a setup class
    smInterfaceScan,  // device interfaces of an interface class
};
using enum TScanMode;

// True when the binding is (or has just become) usable. Process-wide and
// unguarded: two scans must not run at the same time.
bool SetupApiLoad();
// Frees SetupAPI.dll and cfgmgr32.dll; runs by itself at program end.
void SetupApiUnload();

// Appends one scan record (a TnrDevice owned by the caller, entry text = its
// Driver) per device found.
void EnumClassDevices(const GUID& Guid, bool PresentOnly, TScanMode Mode, TStringList* List);

// A device registry property as text; empty when it cannot be read.
UnicodeString GetDevicePropertyString(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Property);

// The instance IDs on the device's bus relations joined with Separator; empty
// when none or on failure.
UnicodeString GetDeviceIdList(const UnicodeString& DeviceId, const UnicodeString& Separator);

// The two passes of DeviceListLoad: a record per port of Ports (a port list of
// EnumComPortNames with values), enriched by the matching scan record, then
// (in the full modes) one per remaining scan record that names a port; each
// goes into Target's list with InsertDevice, or is freed when refused. Takes
// the scan records of Scans (TnrDevice objects) and frees them all; Scans is
// left empty.
void DeviceListMerge(TnrBaseIO* Target, const TStringList& Ports, TStringList& Scans, TnrEnumPorts Mode);

// The classes that DeviceListLoad scans, in scan order.
struct TDeviceScan {
    GUID Guid;
    TScanMode Mode;
};
extern const TDeviceScan DeviceScans[12];
