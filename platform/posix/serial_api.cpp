// The Win32 communications functions: each finds the port engine behind its
// handle (serial_port.h) and hands the call on.
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>

#include "platform/posix/overlapped.h"
#include "platform/posix/serial_port.h"

using winapi_posix::Fail;
using winapi_posix::LookupAs;
using winapi_posix::SerialPort;

namespace {

std::shared_ptr<SerialPort> PortOf(HANDLE handle)
{
    auto port = LookupAs<SerialPort>(handle);
    if (!port) SetLastError(ERROR_INVALID_HANDLE);
    return port;
}

// Calls `call` on the port behind `handle`; FALSE with ERROR_INVALID_HANDLE
// when there is none.
template <typename... Params, typename... Args>
BOOL OnPort(HANDLE handle, BOOL (SerialPort::*call)(Params...), Args... args)
{
    auto port = PortOf(handle);
    return port ? ((*port).*call)(args...) : FALSE;
}

// "\\?\COM3", "\\.\COM3" and "COM3" name the same port.
std::u16string PortName(const char16_t* path)
{
    std::u16string name(path);
    if (name.size() >= 4 && name[0] == u'\\' && name[1] == u'\\' && (name[2] == u'?' || name[2] == u'.') &&
        name[3] == u'\\')
        name.erase(0, 4);
    return name;
}

// Whether the caller's record can take a COMMCONFIG; if not, *size says how
// much it needs.
bool CommConfigFits(LPCOMMCONFIG cc, LPDWORD size)
{
    if (cc && *size >= sizeof(COMMCONFIG)) return true;
    *size = sizeof(COMMCONFIG);
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
}

BOOL FillCommConfig(LPCOMMCONFIG cc, LPDWORD size, const DCB& dcb)
{
    std::memset(cc, 0, sizeof(COMMCONFIG));
    cc->dwSize = sizeof(COMMCONFIG);
    cc->wVersion = 1;
    cc->dcb = dcb;
    cc->dwProviderSubType = PST_RS232;
    *size = sizeof(COMMCONFIG);
    return TRUE;
}

}  // namespace

extern "C" {

HANDLE WINAPI CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile)
{
    (void)dwDesiredAccess;
    (void)dwShareMode;
    (void)lpSecurityAttributes;
    (void)hTemplateFile;
    if (!lpFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    winapi_posix::PortMapEntry entry;
    if (!winapi_posix::FindPort(PortName(lpFileName), &entry)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (dwCreationDisposition != OPEN_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    DWORD error = 0;
    std::unique_ptr<winapi_posix::SerialBackend> backend = entry.Virtual
                                                               ? winapi_posix::OpenVirtualBackend(entry.ComName, &error)
                                                               : winapi_posix::OpenTtyBackend(entry.DevicePath, &error);
    if (!backend) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    auto port =
        std::make_shared<SerialPort>(std::move(backend), entry, (dwFlagsAndAttributes & FILE_FLAG_OVERLAPPED) != 0);
    port->StartService(port);
    HANDLE handle = winapi_posix::RegisterObject(port);
    SetLastError(ERROR_SUCCESS);
    return handle;
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                     LPOVERLAPPED lpOverlapped)
{
    if (lpNumberOfBytesRead) *lpNumberOfBytesRead = 0;
    return OnPort(hFile, &SerialPort::Read, lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead, lpOverlapped);
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
                      LPOVERLAPPED lpOverlapped)
{
    if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = 0;
    return OnPort(hFile, &SerialPort::Write, lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten, lpOverlapped);
}

BOOL WINAPI GetOverlappedResult(HANDLE hFile, LPOVERLAPPED lpOverlapped, LPDWORD lpNumberOfBytesTransferred, BOOL bWait)
{
    (void)hFile;  // the record alone tells the state
    return winapi_posix::OverlappedResult(lpOverlapped, lpNumberOfBytesTransferred, bWait);
}

BOOL WINAPI FlushFileBuffers(HANDLE hFile) { return OnPort(hFile, &SerialPort::Flush); }

BOOL WINAPI CancelIo(HANDLE hFile) { return OnPort(hFile, &SerialPort::Cancel); }

BOOL WINAPI SetupComm(HANDLE hFile, DWORD dwInQueue, DWORD dwOutQueue)
{
    return OnPort(hFile, &SerialPort::Setup, dwInQueue, dwOutQueue);
}

BOOL WINAPI GetCommState(HANDLE hFile, LPDCB lpDCB) { return OnPort(hFile, &SerialPort::GetState, lpDCB); }

BOOL WINAPI SetCommState(HANDLE hFile, LPDCB lpDCB) { return OnPort(hFile, &SerialPort::SetState, lpDCB); }

BOOL WINAPI GetCommConfig(HANDLE hCommDev, LPCOMMCONFIG lpCC, LPDWORD lpdwSize)
{
    auto port = PortOf(hCommDev);
    if (!port) return FALSE;
    if (!lpdwSize) return Fail(ERROR_INVALID_PARAMETER);
    if (!CommConfigFits(lpCC, lpdwSize)) return FALSE;
    DCB dcb;
    if (!port->GetState(&dcb)) return FALSE;
    return FillCommConfig(lpCC, lpdwSize, dcb);
}

BOOL WINAPI GetDefaultCommConfigW(LPCWSTR lpszName, LPCOMMCONFIG lpCC, LPDWORD lpdwSize)
{
    if (!lpszName || !lpdwSize) return Fail(ERROR_INVALID_PARAMETER);
    winapi_posix::PortMapEntry entry;
    if (!winapi_posix::FindPort(PortName(lpszName), &entry)) return Fail(ERROR_FILE_NOT_FOUND);
    if (!CommConfigFits(lpCC, lpdwSize)) return FALSE;
    DCB dcb;
    winapi_posix::DefaultDcb(&dcb);
    return FillCommConfig(lpCC, lpdwSize, dcb);
}

BOOL WINAPI GetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts)
{
    return OnPort(hFile, &SerialPort::GetTimeouts, lpCommTimeouts);
}

BOOL WINAPI SetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts)
{
    return OnPort(hFile, &SerialPort::SetTimeouts, lpCommTimeouts);
}

BOOL WINAPI GetCommMask(HANDLE hFile, LPDWORD lpEvtMask) { return OnPort(hFile, &SerialPort::GetMask, lpEvtMask); }

BOOL WINAPI SetCommMask(HANDLE hFile, DWORD dwEvtMask) { return OnPort(hFile, &SerialPort::SetMask, dwEvtMask); }

BOOL WINAPI WaitCommEvent(HANDLE hFile, LPDWORD lpEvtMask, LPOVERLAPPED lpOverlapped)
{
    return OnPort(hFile, &SerialPort::WaitEvent, lpEvtMask, lpOverlapped);
}

BOOL WINAPI ClearCommError(HANDLE hFile, LPDWORD lpErrors, LPCOMSTAT lpStat)
{
    return OnPort(hFile, &SerialPort::ClearError, lpErrors, lpStat);
}

BOOL WINAPI PurgeComm(HANDLE hFile, DWORD dwFlags) { return OnPort(hFile, &SerialPort::Purge, dwFlags); }

BOOL WINAPI EscapeCommFunction(HANDLE hFile, DWORD dwFunc) { return OnPort(hFile, &SerialPort::Escape, dwFunc); }

BOOL WINAPI GetCommModemStatus(HANDLE hFile, LPDWORD lpModemStat)
{
    return OnPort(hFile, &SerialPort::GetModemStatus, lpModemStat);
}

BOOL WINAPI GetCommProperties(HANDLE hFile, LPCOMMPROP lpCommProp)
{
    return OnPort(hFile, &SerialPort::GetProperties, lpCommProp);
}

BOOL WINAPI TransmitCommChar(HANDLE hFile, char cChar) { return OnPort(hFile, &SerialPort::TransmitChar, cChar); }

}  // extern "C"
