// Registry API over the store (registry_store.h), plus the read-only keys
// computed from the port map and the device tree, and ZwQueryKey.
#include "platform/posix/registry.h"

#include <unistd.h>

#include <cstring>

#include "platform/posix/handles.h"
#include "platform/posix/registry_store.h"
#include "platform/posix/text.h"
#include "platform/posix/win32_errors.h"
#include "platform/posix/win32_kernel.h"
#include "platform/posix/win32_registry.h"

namespace winapi_posix {

std::vector<std::u16string> SplitKeyPath(const std::u16string& path)
{
    std::vector<std::u16string> parts;
    std::u16string part;
    for (char16_t c : path) {
        if (c == u'\\') {
            if (!part.empty()) parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty()) parts.push_back(part);
    return parts;
}

RegValue StringValue(const std::u16string& name, const std::u16string& text)
{
    RegValue v;
    v.Name = name;
    v.Type = REG_SZ;
    v.Data.resize((text.size() + 1) * sizeof(char16_t));
    std::memcpy(v.Data.data(), text.c_str(), v.Data.size());
    return v;
}

namespace {

// ---- paths --------------------------------------------------------------

std::u16string Join(const std::vector<std::u16string>& parts, std::size_t from = 0, std::size_t to = SIZE_MAX)
{
    std::u16string out;
    for (std::size_t i = from; i < parts.size() && i < to; ++i) {
        if (!out.empty()) out += u'\\';
        out += parts[i];
    }
    return out;
}

bool Is(const std::vector<std::u16string>& parts, std::size_t i, std::u16string_view name)
{
    return i < parts.size() && EqualsNoCase(parts[i], name);
}

enum class Area { Store, SerialComm, DeviceMap, Hardware, EnumTree };

// Which part of the machine a path belongs to. HARDWARE is all computed; the
// Enum subtree comes from the device scan; everything else is the store.
Area AreaOf(Hive hive, const std::vector<std::u16string>& parts)
{
    if (hive != Hive::Machine || parts.empty()) return Area::Store;
    if (Is(parts, 0, u"HARDWARE")) {
        if (parts.size() == 1) return Area::Hardware;
        if (Is(parts, 1, u"DEVICEMAP")) {
            if (parts.size() == 2) return Area::DeviceMap;
            if (Is(parts, 2, u"SERIALCOMM") && parts.size() == 3) return Area::SerialComm;
        }
        return Area::Hardware;  // below HARDWARE: nothing else exists
    }
    if (Is(parts, 0, u"SYSTEM") && Is(parts, 1, u"CurrentControlSet") && Is(parts, 2, u"Enum")) return Area::EnumTree;
    return Area::Store;
}

// SYSTEM and SYSTEM\CurrentControlSet exist above the computed Enum tree
// even when the store has no entry for them.
bool IsImpliedKey(Hive hive, const std::vector<std::u16string>& parts)
{
    if (hive != Hive::Machine || parts.empty() || parts.size() > 2 || !Is(parts, 0, u"SYSTEM")) return false;
    return parts.size() == 1 || Is(parts, 1, u"CurrentControlSet");
}

std::vector<RegValue> SerialCommValues()
{
    std::vector<RegValue> values;
    for (const auto& e : CurrentPortMap()) values.push_back(StringValue(e.KernelName, e.ComName));
    return values;
}

// ---- keys ---------------------------------------------------------------

struct RegKey : KernelObject {
    Hive hive = Hive::Machine;
    std::u16string path;  // relative to the hive, display case
    REGSAM access = 0;
    bool computed = false;
    std::vector<RegValue> values;         // snapshot of a computed key
    std::vector<std::u16string> subkeys;  // snapshot of a computed key
};

struct KeyRef {
    Hive hive = Hive::Machine;
    std::u16string path;
    REGSAM access = KEY_ALL_ACCESS;
    std::shared_ptr<RegKey> key;  // null for a predefined root
};

bool ResolveHandle(HKEY h, KeyRef* ref)
{
    if (h == HKEY_LOCAL_MACHINE || h == HKEY_CURRENT_USER) {
        ref->hive = h == HKEY_LOCAL_MACHINE ? Hive::Machine : Hive::User;
        ref->path.clear();
        ref->access = KEY_ALL_ACCESS;
        ref->key = nullptr;
        return true;
    }
    auto key = LookupAs<RegKey>(reinterpret_cast<HANDLE>(h));
    if (!key) return false;
    ref->hive = key->hive;
    ref->path = key->path;
    ref->access = key->access;
    ref->key = key;
    return true;
}

// Builds the key object for an existing path, or returns the error.
LONG OpenPath(Hive hive, const std::vector<std::u16string>& parts, REGSAM access, std::shared_ptr<RegKey>* out)
{
    auto key = std::make_shared<RegKey>();
    key->hive = hive;
    key->access = access;
    Area area = AreaOf(hive, parts);
    switch (area) {
    case Area::Hardware:
        if (parts.size() != 1) return ERROR_FILE_NOT_FOUND;
        key->computed = true;
        key->path = u"HARDWARE";
        key->subkeys = {u"DEVICEMAP"};
        break;
    case Area::DeviceMap:
        key->computed = true;
        key->path = u"HARDWARE\\DEVICEMAP";
        if (!CurrentPortMap().empty()) key->subkeys = {u"SERIALCOMM"};
        break;
    case Area::SerialComm:
        key->values = SerialCommValues();
        // A machine without serial ports has no SERIALCOMM key at all.
        if (key->values.empty()) return ERROR_FILE_NOT_FOUND;
        key->computed = true;
        key->path = u"HARDWARE\\DEVICEMAP\\SERIALCOMM";
        break;
    case Area::EnumTree: {
        std::u16string rest = Join(parts, 3);
        if (!EnumTreeKey(rest, &key->values, &key->subkeys)) return ERROR_FILE_NOT_FOUND;
        key->computed = true;
        key->path = u"SYSTEM\\CurrentControlSet\\Enum";
        if (!rest.empty()) key->path += u"\\" + rest;
        break;
    }
    case Area::Store: {
        if (parts.empty()) break;  // the hive root
        LONG rc = ReadStore([&](const StoreData& data) {
            auto it = data.find(StoreId(hive, Join(parts)));
            if (it != data.end()) {
                key->path = it->second.path;
            } else if (IsImpliedKey(hive, parts)) {
                key->path = parts.size() == 1 ? u"SYSTEM" : u"SYSTEM\\CurrentControlSet";  // above Enum
            } else {
                return LONG(ERROR_FILE_NOT_FOUND);
            }
            return LONG(ERROR_SUCCESS);
        });
        if (rc != ERROR_SUCCESS) return rc;
        break;
    }
    }
    *out = std::move(key);
    return ERROR_SUCCESS;
}

LONG SplitSubKey(const KeyRef& base, LPCWSTR subKey, std::vector<std::u16string>* parts)
{
    *parts = SplitKeyPath(base.path);
    if (subKey && *subKey) {
        if (subKey[0] == u'\\') return ERROR_BAD_PATHNAME;
        for (auto& p : SplitKeyPath(subKey)) parts->push_back(p);
    }
    return ERROR_SUCCESS;
}

// Values of a key as they are now (store keys are read afresh).
LONG CurrentValues(const KeyRef& ref, std::vector<RegValue>* values)
{
    if (ref.key && ref.key->computed) {
        *values = ref.key->values;
        return ERROR_SUCCESS;
    }
    if (ref.path.empty()) {
        values->clear();
        return ERROR_SUCCESS;
    }
    return ReadStore([&](const StoreData& data) {
        auto it = data.find(StoreId(ref.hive, ref.path));
        if (it == data.end()) {
            if (!IsImpliedKey(ref.hive, SplitKeyPath(ref.path))) return LONG(ERROR_KEY_DELETED);
            values->clear();
            return LONG(ERROR_SUCCESS);
        }
        *values = it->second.values;
        return LONG(ERROR_SUCCESS);
    });
}

// Copies data out with Windows' size rules.
LONG CopyData(const RegValue& v, LPDWORD type, LPBYTE data, LPDWORD size)
{
    if (type) *type = v.Type;
    if (!size) return data ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    DWORD needed = DWORD(v.Data.size());
    if (data) {
        if (*size < needed) {
            *size = needed;
            return ERROR_MORE_DATA;
        }
        if (needed) std::memcpy(data, v.Data.data(), needed);
    }
    *size = needed;
    return ERROR_SUCCESS;
}

// Copies a name out with its terminator; *chars becomes its length.
// What RegOpenKeyExW and RegCreateKeyExW do first: clear the result, resolve
// the base key, split the sub-key into its parts.
LONG StartKeyOpen(HKEY h, LPCWSTR subKey, PHKEY result, KeyRef* base, std::vector<std::u16string>* parts)
{
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    if (!ResolveHandle(h, base)) return ERROR_INVALID_HANDLE;
    return SplitSubKey(*base, subKey, parts);
}

// A handle for a key found in the store or computed; computed keys refuse writers.
LONG HandOutKey(const std::shared_ptr<RegKey>& key, REGSAM access, PHKEY result)
{
    if (key->computed && (access & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY))) return ERROR_ACCESS_DENIED;
    *result = reinterpret_cast<HKEY>(RegisterObject(key));
    return ERROR_SUCCESS;
}

LONG CopyName(const std::u16string& name, LPWSTR out, LPDWORD chars)
{
    if (*chars < name.size() + 1) return ERROR_MORE_DATA;
    std::memcpy(out, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
    *chars = DWORD(name.size());
    return ERROR_SUCCESS;
}

}  // namespace

std::u16string CurrentUserSid()
{
    // A fixed machine part; the relative id follows the POSIX user like a
    // local account's would.
    return FromUtf8("S-1-5-21-2581409223-1563417498-3189652071-" + std::to_string(1000 + ::getuid()));
}

std::u16string NativeKeyName(HKEY h, bool* ok)
{
    KeyRef ref;
    *ok = ResolveHandle(h, &ref);
    if (!*ok) return {};
    std::u16string name = ref.hive == Hive::Machine ? u"\\REGISTRY\\MACHINE" : u"\\REGISTRY\\USER\\" + CurrentUserSid();
    if (!ref.path.empty()) name += u"\\" + ref.path;
    return name;
}

}  // namespace winapi_posix

using namespace winapi_posix;

extern "C" {

LSTATUS WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult)
{
    KeyRef base;
    std::vector<std::u16string> parts;
    if (LONG rc = StartKeyOpen(hKey, lpSubKey, phkResult, &base, &parts); rc != ERROR_SUCCESS) return rc;
    std::shared_ptr<RegKey> key;
    if (LONG rc = OpenPath(base.hive, parts, samDesired, &key); rc != ERROR_SUCCESS) return rc;
    return HandOutKey(key, samDesired, phkResult);
}

LSTATUS WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD, REGSAM samDesired,
                               LPSECURITY_ATTRIBUTES, PHKEY phkResult, LPDWORD lpdwDisposition)
{
    KeyRef base;
    std::vector<std::u16string> parts;
    if (LONG rc = StartKeyOpen(hKey, lpSubKey, phkResult, &base, &parts); rc != ERROR_SUCCESS) return rc;
    std::shared_ptr<RegKey> key;
    LONG rc = OpenPath(base.hive, parts, samDesired, &key);
    if (rc == ERROR_SUCCESS) {
        rc = HandOutKey(key, samDesired, phkResult);
        if (rc == ERROR_SUCCESS && lpdwDisposition) *lpdwDisposition = REG_OPENED_EXISTING_KEY;
        return rc;
    }
    if (rc != ERROR_FILE_NOT_FOUND) return rc;
    if (parts.empty() || AreaOf(base.hive, parts) != Area::Store) return ERROR_ACCESS_DENIED;
    std::u16string path;
    rc = ModifyStore([&](StoreData& data) {
        std::u16string prefix;
        for (const auto& part : parts) {
            prefix = prefix.empty() ? part : prefix + u"\\" + part;
            auto& entry = data[StoreId(base.hive, prefix)];
            if (entry.path.empty()) entry.path = prefix;
            prefix = entry.path;  // keep the case the key was first created with
        }
        path = prefix;
        return LONG(ERROR_SUCCESS);
    });
    if (rc != ERROR_SUCCESS) return rc;
    key = std::make_shared<RegKey>();
    key->hive = base.hive;
    key->path = path;
    key->access = samDesired;
    if (lpdwDisposition) *lpdwDisposition = REG_CREATED_NEW_KEY;
    *phkResult = reinterpret_cast<HKEY>(RegisterObject(key));
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCloseKey(HKEY hKey)
{
    if (hKey == HKEY_LOCAL_MACHINE || hKey == HKEY_CURRENT_USER) return ERROR_SUCCESS;
    if (!LookupAs<RegKey>(reinterpret_cast<HANDLE>(hKey))) return ERROR_INVALID_HANDLE;
    return UnregisterObject(reinterpret_cast<HANDLE>(hKey)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LSTATUS WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData,
                                LPDWORD lpcbData)
{
    KeyRef ref;
    if (!ResolveHandle(hKey, &ref)) return ERROR_INVALID_HANDLE;
    if (!(ref.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    if (lpData && !lpcbData) return ERROR_INVALID_PARAMETER;
    std::vector<RegValue> values;
    if (LONG rc = CurrentValues(ref, &values); rc != ERROR_SUCCESS) return rc;
    const RegValue* v = FindValue(values, WideView(lpValueName));
    if (!v) return ERROR_FILE_NOT_FOUND;
    return CopyData(*v, lpType, lpData, lpcbData);
}

LSTATUS WINAPI RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName, LPDWORD,
                             LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData)
{
    KeyRef ref;
    if (!ResolveHandle(hKey, &ref)) return ERROR_INVALID_HANDLE;
    if (!(ref.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    if (!lpValueName || !lpcchValueName || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
    std::vector<RegValue> values;
    if (LONG rc = CurrentValues(ref, &values); rc != ERROR_SUCCESS) return rc;
    if (dwIndex >= values.size()) return ERROR_NO_MORE_ITEMS;
    const RegValue& v = values[dwIndex];
    if (LONG rc = CopyName(v.Name, lpValueName, lpcchValueName); rc != ERROR_SUCCESS) return rc;
    return CopyData(v, lpType, lpData, lpcbData);
}

LSTATUS WINAPI RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD, LPWSTR, LPDWORD,
                             void*)
{
    KeyRef ref;
    if (!ResolveHandle(hKey, &ref)) return ERROR_INVALID_HANDLE;
    if (!lpName || !lpcchName) return ERROR_INVALID_PARAMETER;
    std::vector<std::u16string> names;
    if (ref.key && ref.key->computed) {
        names = ref.key->subkeys;
    } else {
        std::u16string prefix = StoreId(ref.hive, ref.path);
        if (!ref.path.empty()) prefix += u"\\";
        LONG rc = ReadStore([&](const StoreData& data) {
            for (const auto& [id, key] : data) {
                if (id.compare(0, prefix.size(), prefix) != 0) continue;
                std::u16string rest = id.substr(prefix.size());
                if (rest.empty() || rest.find(u'\\') != std::u16string::npos) continue;
                names.push_back(key.path.substr(key.path.size() - rest.size()));
            }
            return LONG(ERROR_SUCCESS);
        });
        if (rc != ERROR_SUCCESS) return rc;
        if (ref.hive == Hive::Machine && ref.path.empty()) names.push_back(u"HARDWARE");
    }
    if (dwIndex >= names.size()) return ERROR_NO_MORE_ITEMS;
    return CopyName(names[dwIndex], lpName, lpcchName);
}

LSTATUS WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData, DWORD cbData)
{
    KeyRef ref;
    if (!ResolveHandle(hKey, &ref)) return ERROR_INVALID_HANDLE;
    if (ref.key && ref.key->computed) return ERROR_ACCESS_DENIED;
    if (!(ref.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    if (ref.path.empty()) return ERROR_ACCESS_DENIED;  // no values on the hive roots
    if (!lpData && cbData) return ERROR_NOACCESS;
    RegValue value;
    value.Name = std::u16string(WideView(lpValueName));
    value.Type = dwType;
    if (cbData) value.Data.assign(lpData, lpData + cbData);
    return ModifyStore([&](StoreData& data) {
        auto it = data.find(StoreId(ref.hive, ref.path));
        if (it == data.end()) {
            if (!IsImpliedKey(ref.hive, SplitKeyPath(ref.path))) return LONG(ERROR_KEY_DELETED);
            if (ref.path.find(u'\\') != std::u16string::npos) data[StoreId(ref.hive, u"SYSTEM")].path = u"SYSTEM";
            it = data.emplace(StoreId(ref.hive, ref.path), StoreKey{ref.path, {}}).first;
        }
        auto& values = it->second.values;
        for (auto& v : values) {
            if (EqualsNoCase(v.Name, value.Name)) {
                v.Type = value.Type;
                v.Data = value.Data;
                return LONG(ERROR_SUCCESS);
            }
        }
        values.push_back(value);
        return LONG(ERROR_SUCCESS);
    });
}

LSTATUS WINAPI RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName)
{
    KeyRef ref;
    if (!ResolveHandle(hKey, &ref)) return ERROR_INVALID_HANDLE;
    if ((ref.key && ref.key->computed) || !(ref.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    std::u16string name(WideView(lpValueName));
    return ModifyStore([&](StoreData& data) {
        auto it = data.find(StoreId(ref.hive, ref.path));
        if (it == data.end()) return LONG(ref.path.empty() ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED);
        auto& values = it->second.values;
        for (auto v = values.begin(); v != values.end(); ++v) {
            if (EqualsNoCase(v->Name, name)) {
                values.erase(v);
                return LONG(ERROR_SUCCESS);
            }
        }
        return LONG(ERROR_FILE_NOT_FOUND);
    });
}

NTSTATUS NTAPI ZwQueryKey(HANDLE KeyHandle, int KeyInformationClass, PVOID KeyInformation, ULONG Length,
                          PULONG ResultLength)
{
    if (KeyInformationClass != 3 /* KeyNameInformation */) return STATUS_INVALID_INFO_CLASS;
    if (!ResultLength) return STATUS_INVALID_PARAMETER;
    bool ok = false;
    std::u16string name = NativeKeyName(reinterpret_cast<HKEY>(KeyHandle), &ok);
    if (!ok) return STATUS_INVALID_HANDLE;
    const ULONG nameBytes = ULONG(name.size() * sizeof(WCHAR));
    const ULONG needed = sizeof(ULONG) + nameBytes;
    *ResultLength = needed;
    if (Length < sizeof(ULONG) || !KeyInformation) return STATUS_BUFFER_TOO_SMALL;
    auto* out = static_cast<BYTE*>(KeyInformation);
    std::memcpy(out, &nameBytes, sizeof nameBytes);
    ULONG room = Length - ULONG(sizeof(ULONG));
    std::memcpy(out + sizeof(ULONG), name.data(), room < nameBytes ? room : nameBytes);
    return room < nameBytes ? STATUS_BUFFER_OVERFLOW : STATUS_SUCCESS;
}

}  // extern "C"
