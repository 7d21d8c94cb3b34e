// Completion of I/O requests through their OVERLAPPED records.
#include "platform/posix/overlapped.h"

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace winapi_posix {

namespace {

DWORD ErrorFromStatus(ULONG_PTR status)
{
    switch (status) {
    case kStatusSuccess: return ERROR_SUCCESS;
    case kStatusCancelled: return ERROR_OPERATION_ABORTED;
    case kStatusAccessDenied: return ERROR_ACCESS_DENIED;
    case kStatusInvalidHandle: return ERROR_INVALID_HANDLE;
    case kStatusInvalidParameter: return ERROR_INVALID_PARAMETER;
    default: return ERROR_GEN_FAILURE;
    }
}

// Internal is read by GetOverlappedResult on another thread while the driver
// completes the request, so both sides go through atomic_ref.
void StoreStatus(OVERLAPPED* ovl, ULONG_PTR status)
{
    std::atomic_ref<ULONG_PTR>(ovl->Internal).store(status, std::memory_order_release);
}

// Every completion is announced here; GetOverlappedResult waits on it, so a
// wait works for records without an event and after the handle has closed.
std::mutex completionMutex;
std::condition_variable completionCv;

}  // namespace

ULONG_PTR StatusFromError(DWORD error)
{
    switch (error) {
    case ERROR_SUCCESS: return kStatusSuccess;
    case ERROR_OPERATION_ABORTED: return kStatusCancelled;
    case ERROR_ACCESS_DENIED: return kStatusAccessDenied;
    case ERROR_INVALID_HANDLE: return kStatusInvalidHandle;
    default: return kStatusInvalidParameter;
    }
}

BOOL Fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

ULONG_PTR StatusOf(OVERLAPPED* ovl)
{
    return std::atomic_ref<ULONG_PTR>(ovl->Internal).load(std::memory_order_acquire);
}

void StartOverlapped(OVERLAPPED* ovl)
{
    if (ovl->hEvent) ResetEvent(ovl->hEvent);
    ovl->InternalHigh = 0;
    StoreStatus(ovl, kStatusPending);
}

void CompleteOverlapped(OVERLAPPED* ovl, ULONG_PTR status, DWORD count)
{
    ovl->InternalHigh = count;
    StoreStatus(ovl, status);
    if (ovl->hEvent) SetEvent(ovl->hEvent);
    {
        std::lock_guard<std::mutex> lock(completionMutex);
    }
    completionCv.notify_all();
}

void WaitCompletion(OVERLAPPED* ovl)
{
    std::unique_lock<std::mutex> lock(completionMutex);
    completionCv.wait(lock, [ovl] { return StatusOf(ovl) != kStatusPending; });
}

BOOL ResultOf(OVERLAPPED* ovl, DWORD* transferred)
{
    ULONG_PTR status = StatusOf(ovl);
    if (transferred) *transferred = static_cast<DWORD>(ovl->InternalHigh);
    if (status == kStatusSuccess) return TRUE;
    return Fail(ErrorFromStatus(status));
}

BOOL OverlappedResult(OVERLAPPED* ovl, DWORD* transferred, BOOL wait)
{
    if (!ovl) return Fail(ERROR_INVALID_PARAMETER);
    if (StatusOf(ovl) == kStatusPending) {
        if (!wait) return Fail(ERROR_IO_INCOMPLETE);
        WaitCompletion(ovl);
        // Windows waits on the record's event and so consumes an auto-reset signal.
        if (ovl->hEvent) WaitForSingleObject(ovl->hEvent, 0);
    }
    return ResultOf(ovl, transferred);
}

}  // namespace winapi_posix
