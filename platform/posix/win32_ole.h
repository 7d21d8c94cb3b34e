// ole32 COM initialisation on POSIX: there is no COM; the calls only count.
#pragma once

#include "platform/posix/win32_types.h"

#define COINIT_APARTMENTTHREADED 0x2
#define COINIT_MULTITHREADED 0x0
#define COINIT_DISABLE_OLE1DDE 0x4

extern "C" {
HRESULT WINAPI CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
void WINAPI CoUninitialize(void);
}
