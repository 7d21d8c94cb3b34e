// Handle table, thread-local last error and the errno table.
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

HandleTable& Table() {
  static HandleTable* table = new HandleTable;  // outlives static destructors
  return *table;
}

thread_local DWORD t_lastError = ERROR_SUCCESS;

}  // namespace

HANDLE RegisterObject(std::shared_ptr<KernelObject> object) {
  if (!object) return nullptr;
  auto& table = Table();
  std::lock_guard lock(table.mutex);
  uintptr_t value = table.next;
  table.next += 4;
  table.objects.emplace(value, std::move(object));
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> LookupObject(HANDLE handle) {
  auto& table = Table();
  std::lock_guard lock(table.mutex);
  auto it = table.objects.find(reinterpret_cast<uintptr_t>(handle));
  if (it == table.objects.end()) return nullptr;
  return it->second;
}

bool UnregisterObject(HANDLE handle) {
  std::shared_ptr<KernelObject> dropped;  // destroyed outside the lock
  auto& table = Table();
  std::lock_guard lock(table.mutex);
  auto it = table.objects.find(reinterpret_cast<uintptr_t>(handle));
  if (it == table.objects.end()) return false;
  dropped = std::move(it->second);
  table.objects.erase(it);
  return true;
}

std::size_t OpenHandleCount() {
  auto& table = Table();
  std::lock_guard lock(table.mutex);
  return table.objects.size();
}

DWORD ErrorFromErrno(int err) {
  switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS: return ERROR_ACCESS_DENIED;
    // A tty held by another process (TIOCEXCL, flock): Windows says "access denied".
    case EBUSY:
    case EWOULDBLOCK: return ERROR_ACCESS_DENIED;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL:
    case ERANGE:
    case EDOM: return ERROR_INVALID_PARAMETER;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:  // quota exceeded: full for this user
#endif
      return ERROR_DISK_FULL;
    case EPIPE: return ERROR_BROKEN_PIPE;
    case ENXIO:
    case ENODEV: return ERROR_DEVICE_NOT_CONNECTED;
    case EIO: return ERROR_GEN_FAILURE;
    case ETIMEDOUT: return ERROR_TIMEOUT;
    case EINTR:
    case ECANCELED: return ERROR_OPERATION_ABORTED;
    case ENOTTY:
    case ENOSYS: return ERROR_INVALID_FUNCTION;
    case EOPNOTSUPP: return ERROR_NOT_SUPPORTED;
    case EFAULT: return ERROR_NOACCESS;
    default: return ERROR_GEN_FAILURE;
  }
}

}  // namespace winapi_posix

using namespace winapi_posix;

extern "C" {

DWORD WINAPI GetLastError(void) { return t_lastError; }
void WINAPI SetLastError(DWORD dwErrCode) { t_lastError = dwErrCode; }

BOOL WINAPI CloseHandle(HANDLE hObject) {
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

BOOL WINAPI GetProcessHandleCount(HANDLE hProcess, PDWORD pdwHandleCount) {
  if (hProcess != GetCurrentProcess() || !pdwHandleCount) {
    SetLastError(hProcess != GetCurrentProcess() ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *pdwHandleCount = static_cast<DWORD>(OpenHandleCount());
  return TRUE;
}

}  // extern "C"
