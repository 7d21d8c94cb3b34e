// Handle table and thread-local last error.
#include "platform/posix/handles.h"

#include <cerrno>
#include <mutex>
#include <unordered_map>

#include "platform/posix/win32_errors.h"
#include "platform/posix/win32_kernel.h"

namespace winapi_posix {

KernelObject::~KernelObject() = default;
void KernelObject::OnClose() {}

namespace {

struct HandleTable {
    std::mutex mutex;
    std::unordered_map<uintptr_t, std::shared_ptr<KernelObject>> objects;
    // Multiples of 4 like Windows; values are never reused, so a stale handle
    // can never reach a newer object.
    uintptr_t next = 0x1000;
};

HandleTable& Table()
{
    static HandleTable* table = new HandleTable;  // outlives static destructors
    return *table;
}

thread_local DWORD t_lastError = ERROR_SUCCESS;

}  // namespace

HANDLE RegisterObject(std::shared_ptr<KernelObject> object)
{
    if (!object) return nullptr;
    auto& table = Table();
    std::lock_guard lock(table.mutex);
    uintptr_t value = table.next;
    table.next += 4;
    table.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> LookupObject(HANDLE handle)
{
    auto& table = Table();
    std::lock_guard lock(table.mutex);
    auto it = table.objects.find(reinterpret_cast<uintptr_t>(handle));
    if (it == table.objects.end()) return nullptr;
    return it->second;
}

bool UnregisterObject(HANDLE handle)
{
    std::shared_ptr<KernelObject> dropped;  // destroyed outside the lock
    auto& table = Table();
    std::lock_guard lock(table.mutex);
    auto it = table.objects.find(reinterpret_cast<uintptr_t>(handle));
    if (it == table.objects.end()) return false;
    dropped = std::move(it->second);
    table.objects.erase(it);
    return true;
}

std::size_t OpenHandleCount()
{
    auto& table = Table();
    std::lock_guard lock(table.mutex);
    return table.objects.size();
}

}  // namespace winapi_posix

using namespace winapi_posix;

extern "C" {

DWORD WINAPI GetLastError(void) { return t_lastError; }
void WINAPI SetLastError(DWORD dwErrCode) { t_lastError = dwErrCode; }

BOOL WINAPI CloseHandle(HANDLE hObject)
{
    std::shared_ptr<KernelObject> object = LookupObject(hObject);
    if (!object || !UnregisterObject(hObject)) {
        // Unknown, or closed by another thread in between: only one close wins.
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // A successful close leaves the last error alone, whatever OnClose does.
    DWORD saved = t_lastError;
    object->OnClose();
    t_lastError = saved;
    return TRUE;
}

HANDLE WINAPI GetCurrentProcess(void) { return INVALID_HANDLE_VALUE; }

BOOL WINAPI GetProcessHandleCount(HANDLE hProcess, PDWORD pdwHandleCount)
{
    if (hProcess != GetCurrentProcess() || !pdwHandleCount) {
        SetLastError(hProcess != GetCurrentProcess() ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *pdwHandleCount = static_cast<DWORD>(OpenHandleCount());
    return TRUE;
}

}  // extern "C"
