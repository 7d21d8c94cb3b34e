// The registry's store: HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER in one text
// file (RegistryStorePath), read through a cache that follows the file and
// written by atomic replacement under a lock shared with other processes.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/registry.h"

namespace winapi_posix {

enum class Hive { Machine, User };

struct StoreKey {
    std::u16string path;  // as created, relative to the hive
    std::vector<RegValue> values;
};

// Folded "M\path" / "U\path" -> key. Ancestors are stored explicitly.
using StoreData = std::map<std::u16string, StoreKey>;

// The store's id of a key: "M\\PATH" or "U\\PATH", the path folded.
std::u16string StoreId(Hive h, const std::u16string& path);
// A value by name, case-insensitive; null when the key has none of it.
const RegValue* FindValue(const std::vector<RegValue>& values, std::u16string_view name);

// Runs `read` on the store as it is now and returns its result, or the
// store's error (ERROR_BADDB when the file is corrupt).
LONG ReadStore(const std::function<LONG(const StoreData&)>& read);
// Runs `change` on the store and writes it back when it returns ERROR_SUCCESS.
LONG ModifyStore(const std::function<LONG(StoreData&)>& change);

}  // namespace winapi_posix
