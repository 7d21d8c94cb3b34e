#include "platform/win32_errno.h"

#include <cerrno>

namespace platform {

DWORD ErrorFromErrno(int err)
{
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

}  // namespace platform
