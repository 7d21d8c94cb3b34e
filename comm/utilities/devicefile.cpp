// Device files and overlapped I/O over the Win32 API (the same source on both
// systems).
#include "comm/utilities/utilities.h"

namespace {

typedef BOOL(WINAPI* CancelIoProc)(HANDLE);

}  // namespace

UnicodeString LastErrorText()
{
    DWORD Code = GetLastError();
    LPWSTR Buffer = nullptr;
    DWORD Length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                                      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                  nullptr, Code, 0, reinterpret_cast<LPWSTR>(&Buffer), 0, nullptr);
    UnicodeString Result;
    if (Buffer != nullptr) {
        Result.assign(reinterpret_cast<const char16_t*>(Buffer), Length);
        LocalFree(Buffer);
    }
    while (!Result.empty() && (Result.back() <= u' ' || Result.back() == u'.')) Result.pop_back();
    return Result;
}

HWND ForegroundWindowHandle() { return GetForegroundWindow(); }

HANDLE OpenDeviceFile(const UnicodeString& Name)
{
    UnicodeString Path = u"\\\\?\\" + Name;
    return CreateFileW(PWChar(Path), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                       nullptr);
}

bool WaitOverlappedResult(HANDLE Handle, LPOVERLAPPED Overlapped, DWORD& Transferred, DWORD& ErrorCode)
{
    ErrorCode = GetLastError();
    if (ErrorCode != ERROR_IO_PENDING) return false;
    if (GetOverlappedResult(Handle, Overlapped, &Transferred, TRUE)) return true;
    ErrorCode = GetLastError();
    return false;
}

bool WriteFileWait(HANDLE Handle, const void* Buffer, DWORD Count, LPOVERLAPPED Overlapped)
{
    ClearOverlappedStatus(*Overlapped);
    DWORD Transferred = 0;
    if (WriteFile(Handle, Buffer, Count, &Transferred, Overlapped)) return true;
    DWORD ErrorCode = 0;
    return WaitOverlappedResult(Handle, Overlapped, Transferred, ErrorCode);
}

bool ReadFileWait(HANDLE Handle, void* Buffer, DWORD Count, LPOVERLAPPED Overlapped)
{
    ClearOverlappedStatus(*Overlapped);
    DWORD Transferred = 0;
    if (ReadFile(Handle, Buffer, Count, &Transferred, Overlapped)) return true;
    DWORD ErrorCode = 0;
    return WaitOverlappedResult(Handle, Overlapped, Transferred, ErrorCode);
}

bool WriteFileAsync(HANDLE Handle, const void* Buffer, DWORD Count, LPOVERLAPPED Overlapped)
{
    ClearOverlappedStatus(*Overlapped);
    DWORD Transferred = 0;
    if (WriteFile(Handle, Buffer, Count, &Transferred, Overlapped)) return true;
    return GetLastError() == ERROR_IO_PENDING;
}

void WaitOverlappedDone(HANDLE Handle, LPOVERLAPPED Overlapped)
{
    DWORD Transferred = 0;
    while (!GetOverlappedResult(Handle, Overlapped, &Transferred, FALSE) && GetLastError() == ERROR_IO_INCOMPLETE) {
        if (WaitForSingleObject(Overlapped->hEvent, INFINITE) != WAIT_OBJECT_0) return;
    }
}

bool CancelDeviceIo(HANDLE Handle)
{
    HMODULE Module = GetModuleHandleW(PWChar(u"kernel32.dll"));
    if (Module == nullptr) return false;
    CancelIoProc Entry = reinterpret_cast<CancelIoProc>(reinterpret_cast<void*>(GetProcAddress(Module, "CancelIo")));
    if (Entry == nullptr) return false;
    return Entry(Handle) != FALSE;
}
