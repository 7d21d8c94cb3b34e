// FormatMessageW over the English system texts of the error codes this layer
// produces, worded as Windows words them (final full stop, then CR LF).
#include <cstring>
#include <string>
#include <string_view>

#include "platform/posix/win32_errors.h"
#include "platform/posix/win32_kernel.h"

namespace {

struct SystemText {
    DWORD code;
    const char16_t* text;
};

constexpr SystemText kSystemTexts[] = {
    {ERROR_SUCCESS, u"The operation completed successfully."},
    {ERROR_INVALID_FUNCTION, u"Incorrect function."},
    {ERROR_FILE_NOT_FOUND, u"The system cannot find the file specified."},
    {ERROR_PATH_NOT_FOUND, u"The system cannot find the path specified."},
    {ERROR_TOO_MANY_OPEN_FILES, u"The system cannot open the file."},
    {ERROR_ACCESS_DENIED, u"Access is denied."},
    {ERROR_INVALID_HANDLE, u"The handle is invalid."},
    {ERROR_NOT_ENOUGH_MEMORY, u"Not enough memory resources are available to process this command."},
    {ERROR_INVALID_ACCESS, u"The access code is invalid."},
    {ERROR_INVALID_DATA, u"The data is invalid."},
    {ERROR_OUTOFMEMORY, u"Not enough memory resources are available to complete this operation."},
    {ERROR_BAD_UNIT, u"The system cannot find the device specified."},
    {ERROR_NOT_READY, u"The device is not ready."},
    {ERROR_BAD_COMMAND, u"The device does not recognize the command."},
    {ERROR_CRC, u"Data error (cyclic redundancy check)."},
    {ERROR_BAD_LENGTH, u"The program issued a command but the command length is incorrect."},
    {ERROR_WRITE_FAULT, u"The system cannot write to the specified device."},
    {ERROR_READ_FAULT, u"The system cannot read from the specified device."},
    {ERROR_GEN_FAILURE, u"A device attached to the system is not functioning."},
    {ERROR_SHARING_VIOLATION, u"The process cannot access the file because it is being used by another process."},
    {ERROR_LOCK_VIOLATION,
     u"The process cannot access the file because another process has locked a portion of the file."},
    {ERROR_HANDLE_EOF, u"Reached the end of the file."},
    {ERROR_NOT_SUPPORTED, u"The request is not supported."},
    {ERROR_DEV_NOT_EXIST, u"The specified network resource or device is no longer available."},
    {ERROR_FILE_EXISTS, u"The file exists."},
    {ERROR_INVALID_PARAMETER, u"The parameter is incorrect."},
    {ERROR_BROKEN_PIPE, u"The pipe has been ended."},
    {ERROR_DISK_FULL, u"There is not enough space on the disk."},
    {ERROR_SEM_TIMEOUT, u"The semaphore timeout period has expired."},
    {ERROR_INSUFFICIENT_BUFFER, u"The data area passed to a system call is too small."},
    {ERROR_INVALID_NAME, u"The filename, directory name, or volume label syntax is incorrect."},
    {ERROR_INVALID_LEVEL, u"The system call level is not correct."},
    {ERROR_MOD_NOT_FOUND, u"The specified module could not be found."},
    {ERROR_PROC_NOT_FOUND, u"The specified procedure could not be found."},
    {ERROR_BAD_PATHNAME, u"The specified path is invalid."},
    {ERROR_BUSY, u"The requested resource is in use."},
    {ERROR_ALREADY_EXISTS, u"Cannot create a file when that file already exists."},
    {ERROR_FILENAME_EXCED_RANGE, u"The filename or extension is too long."},
    {ERROR_MORE_DATA, u"More data is available."},
    {WAIT_TIMEOUT, u"The wait operation timed out."},
    {ERROR_NO_MORE_ITEMS, u"No more data is available."},
    {ERROR_DIRECTORY, u"The directory name is invalid."},
    {ERROR_INVALID_ADDRESS, u"Attempt to access invalid address."},
    {ERROR_OPERATION_ABORTED,
     u"The I/O operation has been aborted because of either a thread exit or an application request."},
    {ERROR_IO_INCOMPLETE, u"Overlapped I/O event is not in a signaled state."},
    {ERROR_IO_PENDING, u"Overlapped I/O operation is in progress."},
    {ERROR_NOACCESS, u"Invalid access to memory location."},
    {ERROR_INVALID_FLAGS, u"Invalid flags."},
    {ERROR_BADDB, u"The configuration registry database is corrupt."},
    {ERROR_BADKEY, u"The configuration registry key is invalid."},
    {ERROR_CANTOPEN, u"The configuration registry key could not be opened."},
    {ERROR_CANTREAD, u"The configuration registry key could not be read."},
    {ERROR_CANTWRITE, u"The configuration registry key could not be written."},
    {ERROR_REGISTRY_CORRUPT,
     u"The registry is corrupted. The structure of one of the files containing registry data is corrupted, or "
     u"the system's memory image of the file is corrupted, or the file could not be recovered because the "
     u"alternate copy or log was absent or corrupted."},
    {ERROR_REGISTRY_IO_FAILED,
     u"An I/O operation initiated by the registry failed unrecoverably. The registry could not read in, or write "
     u"out, or flush, one of the files that contain the system's image of the registry."},
    {ERROR_KEY_DELETED, u"Illegal operation attempted on a registry key that has been marked for deletion."},
    {ERROR_DEVICE_NOT_CONNECTED, u"The device is not connected."},
    {ERROR_NOT_FOUND, u"Element not found."},
    {ERROR_CANCELLED, u"The operation was canceled by the user."},
    {ERROR_INVALID_WINDOW_HANDLE, u"Invalid window handle."},
    {ERROR_INVALID_THREAD_ID, u"Invalid thread identifier."},
    {ERROR_NO_SYSTEM_RESOURCES, u"Insufficient system resources exist to complete the requested service."},
    {ERROR_TIMEOUT, u"This operation returned because the timeout period expired."},
    {ERROR_INVALID_USER_BUFFER, u"The supplied user buffer is not valid for the requested operation."},
};

const char16_t* SystemTextOf(DWORD code)
{
    for (const auto& t : kSystemTexts)
        if (t.code == code) return t.text;
    return nullptr;
}

}  // namespace

extern "C" {

DWORD WINAPI FormatMessageW(DWORD dwFlags, LPCVOID, DWORD dwMessageId, DWORD, LPWSTR lpBuffer, DWORD nSize, va_list*)
{
    if (!(dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) ||
        (dwFlags & (FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_FROM_HMODULE))) {
        // Only the system's table exists here.
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (!lpBuffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const char16_t* text = SystemTextOf(dwMessageId);
    if (!text) {
        SetLastError(ERROR_MR_MID_NOT_FOUND);
        return 0;
    }
    std::u16string message(text);
    message += u"\r\n";
    const DWORD length = DWORD(message.size());

    WCHAR* out;
    if (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        // lpBuffer is really a WCHAR** receiving a LocalAlloc block of at least nSize characters.
        DWORD chars = length + 1 > nSize ? length + 1 : nSize;
        out = static_cast<WCHAR*>(LocalAlloc(LMEM_FIXED, chars * sizeof(WCHAR)));
        if (!out) return 0;
        *reinterpret_cast<WCHAR**>(lpBuffer) = out;
    } else {
        if (nSize < length + 1) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return 0;
        }
        out = lpBuffer;
    }
    std::memcpy(out, message.data(), length * sizeof(WCHAR));
    out[length] = 0;
    return length;
}

}  // extern "C"
