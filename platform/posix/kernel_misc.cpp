// Time, thread ids, local memory, debug output, COM initialisation and the
// system version.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <new>
#include <optional>
#include <thread>

#include "platform/posix/text.h"
#include "platform/posix/version.h"
#include "platform/posix/win32_errors.h"
#include "platform/posix/win32_kernel.h"
#include "platform/posix/win32_ole.h"
#include "platform/posix/win32_registry.h"

namespace {

// Thread ids are handed out on first use, multiples of 4 like Windows,
// never 0 and never reused within the process.
std::atomic<DWORD> g_nextThreadId{0x104};
thread_local DWORD t_threadId = 0;

// LocalAlloc blocks carry a small header, so LocalFree can refuse a pointer
// that LocalAlloc did not hand out instead of corrupting the heap.
struct LocalHeader {
    std::size_t size;
    std::size_t magic;
};
constexpr std::size_t kLocalMagic = 0x4C6F63616C426C6BULL;

thread_local int t_comInit = 0;

}  // namespace

namespace {

std::mutex g_versionMutex;
std::optional<DWORD> g_platformIdOverride;

}  // namespace

namespace winapi_posix {

void SetPlatformIdForTesting(DWORD platformId)
{
    std::lock_guard lock(g_versionMutex);
    g_platformIdOverride = platformId;
}

void ResetPlatformIdForTesting()
{
    std::lock_guard lock(g_versionMutex);
    g_platformIdOverride.reset();
}

}  // namespace winapi_posix

extern "C" {

void WINAPI Sleep(DWORD dwMilliseconds)
{
    if (dwMilliseconds == INFINITE) {
        for (;;) pause();
    }
    if (dwMilliseconds == 0) {
        std::this_thread::yield();
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
}

DWORD WINAPI GetTickCount(void)
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return DWORD(ULONGLONG(ts.tv_sec) * 1000u + ULONGLONG(ts.tv_nsec) / 1000000u);  // wraps as on Windows
}

void WINAPI GetLocalTime(LPSYSTEMTIME lpSystemTime)
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    localtime_r(&ts.tv_sec, &local);
    *lpSystemTime = {WORD(local.tm_year + 1900), WORD(local.tm_mon + 1),    WORD(local.tm_wday),
                     WORD(local.tm_mday),        WORD(local.tm_hour),       WORD(local.tm_min),
                     WORD(local.tm_sec),         WORD(ts.tv_nsec / 1000000)};
}

DWORD WINAPI GetCurrentThreadId(void)
{
    if (t_threadId == 0) t_threadId = g_nextThreadId.fetch_add(4);
    return t_threadId;
}

DWORD WINAPI GetCurrentProcessId(void) { return DWORD(getpid()); }

HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes)
{
    if (uFlags & ~UINT(LMEM_MOVEABLE | LMEM_ZEROINIT)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (uBytes > SIZE_T(-1) / 2) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    void* block = (uFlags & LMEM_ZEROINIT) ? std::calloc(1, sizeof(LocalHeader) + uBytes)
                                           : std::malloc(sizeof(LocalHeader) + uBytes);
    if (!block) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto* header = static_cast<LocalHeader*>(block);
    header->size = uBytes;
    header->magic = kLocalMagic;
    return header + 1;
}

HLOCAL WINAPI LocalFree(HLOCAL hMem)
{
    if (!hMem) return nullptr;
    auto* header = static_cast<LocalHeader*>(hMem) - 1;
    if (header->magic != kLocalMagic) {
        // Not ours (or freed twice): Windows fails with the block returned.
        SetLastError(ERROR_INVALID_HANDLE);
        return hMem;
    }
    header->magic = 0;
    std::free(header);
    return nullptr;
}

// Silent unless SPECTRO_DEBUG_OUTPUT is set (to anything but "0"); then the
// text goes to stderr, one line per call.
void WINAPI OutputDebugStringW(LPCWSTR lpOutputString)
{
    const char* env = std::getenv("SPECTRO_DEBUG_OUTPUT");
    if (!env || !*env || std::strcmp(env, "0") == 0 || !lpOutputString) return;
    const std::string text = winapi_posix::ToUtf8(lpOutputString);
    std::fprintf(stderr, "%s%s", text.c_str(), (!text.empty() && text.back() == '\n') ? "" : "\n");
}

HRESULT WINAPI CoInitializeEx(LPVOID, DWORD)
{
    // Nothing to initialise; the first call per thread says S_OK, later ones
    // S_FALSE, and each must be paired with CoUninitialize as on Windows.
    return t_comInit++ == 0 ? S_OK : S_FALSE;
}

void WINAPI CoUninitialize(void)
{
    if (t_comInit > 0) --t_comInit;
}

BOOL WINAPI GetVersionExW(LPOSVERSIONINFOW info)
{
    if (!info || (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOW) &&
                  info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOEXW))) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    DWORD size = info->dwOSVersionInfoSize;
    std::memset(reinterpret_cast<BYTE*>(info) + sizeof(DWORD), 0, size - sizeof(DWORD));
    // What Windows reports to a program without a compatibility manifest.
    info->dwMajorVersion = 6;
    info->dwMinorVersion = 2;
    info->dwBuildNumber = 9200;
    {
        std::lock_guard lock(g_versionMutex);
        info->dwPlatformId = g_platformIdOverride.value_or(VER_PLATFORM_WIN32_NT);
    }
    return TRUE;
}

}  // extern "C"
