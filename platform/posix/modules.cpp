// LoadLibraryW / GetModuleHandleW / GetProcAddress / FreeLibrary over a fixed
// table of the entry points this layer provides, named as Windows names them.
#include "platform/posix/modules.h"

#include <map>
#include <mutex>
#include <set>
#include <vector>

#include "platform/posix/text.h"
#include "platform/posix/win32_comm.h"
#include "platform/posix/win32_errors.h"
#include "platform/posix/win32_kernel.h"
#include "platform/posix/win32_registry.h"
#include "platform/posix/win32_setupapi.h"

namespace winapi_posix {
namespace {

struct EntryPoint {
    const char* name;
    FARPROC address;
};

template <class F>
FARPROC Entry(F* f)
{
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(f));
}

struct Module {
    const char16_t* fileName;
    bool alwaysLoaded;  // kernel32 and ntdll are mapped into every process
    std::vector<EntryPoint> entries;
    int loadCount = 0;
};

#define CM_ENTRIES                                                                        \
    {"CM_Locate_DevNodeW", Entry(&CM_Locate_DevNodeW)},                                   \
        {"CM_Get_DevNode_Registry_PropertyW", Entry(&CM_Get_DevNode_Registry_PropertyW)}, \
        {"CM_Get_Parent", Entry(&CM_Get_Parent)}, {"CM_Get_Child", Entry(&CM_Get_Child)}, \
        {"CM_Get_Sibling", Entry(&CM_Get_Sibling)},                                       \
        {"CM_Get_Device_ID_List_SizeW", Entry(&CM_Get_Device_ID_List_SizeW)},             \
        {"CM_Get_Device_ID_ListW", Entry(&CM_Get_Device_ID_ListW)},                       \
    {                                                                                     \
        "CM_Request_Device_EjectW", Entry(&CM_Request_Device_EjectW)                      \
    }

std::vector<Module>& Modules()
{
    static std::vector<Module>* modules = new std::vector<Module>{
        {u"kernel32.dll",
         true,
         {
             {"CancelIo", Entry(&CancelIo)},
             {"CloseHandle", Entry(&CloseHandle)},
             {"CreateEventW", Entry(&CreateEventW)},
             {"GetLastError", Entry(&GetLastError)},
             {"SetLastError", Entry(&SetLastError)},
         }},
        {u"ntdll.dll", true, {{"ZwQueryKey", Entry(&ZwQueryKey)}, {"NtQueryKey", Entry(&ZwQueryKey)}}},
        {u"setupapi.dll",
         false,
         {
             {"SetupDiGetClassDevsW", Entry(&SetupDiGetClassDevsW)},
             {"SetupDiDestroyDeviceInfoList", Entry(&SetupDiDestroyDeviceInfoList)},
             {"SetupDiEnumDeviceInfo", Entry(&SetupDiEnumDeviceInfo)},
             {"SetupDiGetDeviceRegistryPropertyW", Entry(&SetupDiGetDeviceRegistryPropertyW)},
             {"SetupDiOpenDevRegKey", Entry(&SetupDiOpenDevRegKey)},
             {"SetupDiEnumDeviceInterfaces", Entry(&SetupDiEnumDeviceInterfaces)},
             {"SetupDiGetDeviceInterfaceDetailW", Entry(&SetupDiGetDeviceInterfaceDetailW)},
             {"SetupDiCreateDeviceInfoList", Entry(&SetupDiCreateDeviceInfoList)},
             {"SetupDiCreateDeviceInfoW", Entry(&SetupDiCreateDeviceInfoW)},
             {"SetupDiGetINFClassW", Entry(&SetupDiGetINFClassW)},
             {"SetupDiSetDeviceRegistryPropertyW", Entry(&SetupDiSetDeviceRegistryPropertyW)},
             {"SetupDiCallClassInstaller", Entry(&SetupDiCallClassInstaller)},
             {"SetupDiGetDeviceInstanceIdW", Entry(&SetupDiGetDeviceInstanceIdW)},
             {"SetupDiRemoveDevice", Entry(&SetupDiRemoveDevice)},
             {"SetupDiUnremoveDevice", Entry(&SetupDiUnremoveDevice)},
             {"SetupDiOpenDeviceInfoW", Entry(&SetupDiOpenDeviceInfoW)},
             {"SetupDiSetClassInstallParamsW", Entry(&SetupDiSetClassInstallParamsW)},
             // Like Windows' SetupAPI, which forwards the device-node calls.
             CM_ENTRIES,
         }},
        {u"cfgmgr32.dll", false, {CM_ENTRIES}},
        {u"winspool.drv", false, {{"EnumPortsW", Entry(&EnumPortsW)}}},
        {u"advapi32.dll",
         true,
         {
             {"RegOpenKeyExW", Entry(&RegOpenKeyExW)},
             {"RegCreateKeyExW", Entry(&RegCreateKeyExW)},
             {"RegEnumValueW", Entry(&RegEnumValueW)},
             {"RegQueryValueExW", Entry(&RegQueryValueExW)},
             {"RegSetValueExW", Entry(&RegSetValueExW)},
             {"RegDeleteValueW", Entry(&RegDeleteValueW)},
             {"RegCloseKey", Entry(&RegCloseKey)},
         }},
    };
    return *modules;
}

std::mutex g_moduleMutex;
std::set<std::u16string> g_missingModules;  // folded names
std::set<std::pair<std::u16string, std::string>> g_missingEntries;

// "C:\Windows\System32\SetupAPI" -> "SETUPAPI.DLL"
std::u16string NormalName(std::u16string_view name)
{
    auto slash = name.find_last_of(u"\\/");
    if (slash != std::u16string_view::npos) name.remove_prefix(slash + 1);
    std::u16string folded = UpperAscii(name);
    if (folded.find(u'.') == std::u16string::npos) folded += u".DLL";
    return folded;
}

Module* Find(std::u16string_view name)
{
    std::u16string wanted = NormalName(name);
    for (auto& m : Modules())
        if (UpperAscii(m.fileName) == wanted) return &m;
    return nullptr;
}

HMODULE HandleOf(Module* m) { return reinterpret_cast<HMODULE>(m); }

Module* FromHandle(HMODULE h)
{
    for (auto& m : Modules())
        if (reinterpret_cast<HMODULE>(&m) == h) return &m;
    return nullptr;
}

bool Missing(const Module& m) { return g_missingModules.count(UpperAscii(m.fileName)) != 0; }

bool IsLoaded(const Module& m) { return !Missing(m) && (m.alwaysLoaded || m.loadCount > 0); }

// The program itself, for GetModuleHandleW(NULL).
int g_mainModule;

}  // namespace

void SetModuleMissingForTesting(const std::u16string& module, bool missing)
{
    std::lock_guard lock(g_moduleMutex);
    if (missing)
        g_missingModules.insert(NormalName(module));
    else
        g_missingModules.erase(NormalName(module));
}

void SetEntryPointMissingForTesting(const std::u16string& module, const std::string& entry, bool missing)
{
    std::lock_guard lock(g_moduleMutex);
    auto key = std::make_pair(NormalName(module), entry);
    if (missing)
        g_missingEntries.insert(key);
    else
        g_missingEntries.erase(key);
}

void ResetModuleHooksForTesting()
{
    std::lock_guard lock(g_moduleMutex);
    g_missingModules.clear();
    g_missingEntries.clear();
}

}  // namespace winapi_posix

using namespace winapi_posix;

extern "C" {

HMODULE WINAPI GetModuleHandleW(LPCWSTR lpModuleName)
{
    if (!lpModuleName) return reinterpret_cast<HMODULE>(&g_mainModule);
    std::lock_guard lock(g_moduleMutex);
    Module* m = Find(lpModuleName);
    if (!m || !IsLoaded(*m)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return HandleOf(m);
}

HMODULE WINAPI LoadLibraryW(LPCWSTR lpLibFileName)
{
    if (!lpLibFileName || !*lpLibFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::lock_guard lock(g_moduleMutex);
    Module* m = Find(lpLibFileName);
    if (!m || Missing(*m)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    ++m->loadCount;
    return HandleOf(m);
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule)
{
    std::lock_guard lock(g_moduleMutex);
    Module* m = FromHandle(hLibModule);
    if (!m || !(m->alwaysLoaded || m->loadCount > 0)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    if (m->loadCount > 0) --m->loadCount;
    return TRUE;
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName)
{
    std::lock_guard lock(g_moduleMutex);
    Module* m = FromHandle(hModule);
    if (!m || !IsLoaded(*m)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    // Ordinals (values below 64K) are not supported: none of ours has one.
    if (reinterpret_cast<uintptr_t>(lpProcName) < 0x10000) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    std::string name(lpProcName);
    if (g_missingEntries.count({UpperAscii(m->fileName), name})) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    for (auto& e : m->entries) {
        // Export names are case-sensitive on Windows.
        if (name == e.name && e.address) return e.address;
    }
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

}  // extern "C"
