// Registry store, computed keys and the system-identity hooks of the POSIX
// platform layer.
//
// HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE live in one text file (env
// SPECTRO_REGISTRY, default $XDG_CONFIG_HOME or ~/.config, then
// spectrometer/registry). Read-only keys computed at each open:
//   HKLM\HARDWARE\DEVICEMAP\SERIALCOMM       from the port map
//   HKLM\SYSTEM\CurrentControlSet\Enum\...   device keys of the SetupAPI devices
#pragma once

#include <string>
#include <vector>

#include "platform/posix/portmap.h"
#include "platform/posix/win32_types.h"

namespace winapi_posix {

struct RegValue {
    std::u16string Name;
    DWORD Type = 0;
    std::vector<BYTE> Data;
};

// A REG_SZ value (UTF-16 with its terminator).
RegValue StringValue(const std::u16string& name, const std::u16string& text);

// "A\\B\\\\C\\" -> {"A", "B", "C"}: a key path's names, empty parts dropped.
std::vector<std::u16string> SplitKeyPath(const std::u16string& path);

// Path of the store file in use (after the environment).
std::string RegistryStorePath();

// The current user's security identifier, the hive name under \REGISTRY\USER.
std::u16string CurrentUserSid();

// Computed device keys below HKLM\SYSTEM\CurrentControlSet\Enum (provided by
// the SetupAPI layer): `path` is relative to Enum. True if the key exists;
// then its values and subkey names are filled.
bool EnumTreeKey(const std::u16string& path, std::vector<RegValue>* values, std::vector<std::u16string>* subkeys);

}  // namespace winapi_posix
