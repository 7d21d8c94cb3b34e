// The Plug-and-Play view of this machine's serial ports, built from the port
// map and sysfs at each scan: what SetupAPI, cfgmgr32 and the registry's Enum
// tree report.
#pragma once

#include <string>
#include <vector>

#include "platform/posix/win32_types.h"

namespace winapi_posix {

struct PnpDevice {
    std::u16string InstanceId;  // "USB\VID_0403&PID_6001\A10K1ABC"
    std::u16string ParentId;    // empty: child of the root
    GUID ClassGuid{};
    bool IsPort = false;        // a Ports-class device (otherwise a parent node)
    bool LegacySerial = false;  // a UART port (also registers the Ports GUID as interface)
    std::u16string ClassName;
    std::u16string Description;
    std::u16string Manufacturer;
    std::u16string Service;
    std::u16string Driver;        // "{4D36E978-...}\0000"
    std::u16string PdoName;       // "\Device\ttyUSB0"
    std::u16string HardwareId;    // "USB\VID_0403&PID_6001"
    std::u16string PortName;      // "COM3"
    std::u16string SymbolicName;  // "\??\USB#VID_0403&PID_6001#A10K1ABC#{86e0d1e0-...}"
    DWORD DevInst = 0;
};

// Every device node, ports first in port-map order, then their parents.
std::vector<PnpDevice> ScanDevices();

// Device node number of an instance ID (stable for the process), and back.
DWORD DevInstOf(const std::u16string& instanceId);
std::u16string InstanceIdOf(DWORD devInst);  // empty if unknown
constexpr DWORD kRootDevInst = 1;
inline const char16_t* kRootInstanceId = u"HTREE\\ROOT\\0";

std::u16string GuidToString(const GUID& guid, bool upper = true);  // with braces
// "\\?\usb#vid_0403&pid_6001#a10k1abc#{86e0d1e0-...}"
std::u16string InterfacePath(const PnpDevice& device, const GUID& interfaceClass);

extern const GUID kGuidPortsClass;        // {4D36E978-E325-11CE-BFC1-08002BE10318}
extern const GUID kGuidComPortInterface;  // {86E0D1E0-8089-11D0-9CE4-08003E301F73}
extern const GUID kGuidUsbClass;          // {36FC9E60-C465-11CF-8056-444553540000}

}  // namespace winapi_posix
