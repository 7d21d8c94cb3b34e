// The layouts of the Win32 records the library reads, writes or stores byte
// for byte, against the sizes and offsets Windows documents: for 32-bit and
// 64-bit Windows in the respective builds (the 32-bit program cannot run here,
// so the compiler checks it), and the records that are the same everywhere on
// POSIX too, where <winapi.h> declares them itself.
#include <winapi.h>

#include <cstddef>

#include "platform/dcb_flags.h"

namespace {

// Serial records: the same on every Windows, all members 32 bits or less.
static_assert(sizeof(DCB) == 28);
static_assert(offsetof(DCB, BaudRate) == 4 && offsetof(DCB, wReserved) == 12 && offsetof(DCB, XonLim) == 14);
static_assert(offsetof(DCB, ByteSize) == 18 && offsetof(DCB, Parity) == 19 && offsetof(DCB, StopBits) == 20);
static_assert(offsetof(DCB, XonChar) == 21 && offsetof(DCB, EvtChar) == 25 && offsetof(DCB, wReserved1) == 26);
static_assert(platform::kDcbFlagsOffset == 8);
static_assert(sizeof(COMMTIMEOUTS) == 20 && offsetof(COMMTIMEOUTS, WriteTotalTimeoutConstant) == 16);
static_assert(sizeof(COMSTAT) == 12 && offsetof(COMSTAT, cbInQue) == 4 && offsetof(COMSTAT, cbOutQue) == 8);
static_assert(sizeof(COMMPROP) == 64 && offsetof(COMMPROP, dwMaxBaud) == 20 && offsetof(COMMPROP, wSettableData) == 40);
static_assert(offsetof(COMMPROP, dwCurrentRxQueue) == 48 && offsetof(COMMPROP, wcProvChar) == 60);
static_assert(sizeof(COMMCONFIG) == 52 && offsetof(COMMCONFIG, dcb) == 8 && offsetof(COMMCONFIG, wcProviderData) == 48);

// The stored port settings: 49 bytes, the port number, then the DCB from byte 2.
static_assert(2 + sizeof(DCB) + 19 == 49);

// Device broadcasts: the port's name follows the 12-byte header.
static_assert(sizeof(DEV_BROADCAST_HDR) == 12 && offsetof(DEV_BROADCAST_PORT_W, dbcp_name) == 12);

#if defined(_WIN64)

static_assert(sizeof(void*) == 8);
static_assert(sizeof(OVERLAPPED) == 32 && offsetof(OVERLAPPED, Offset) == 16 && offsetof(OVERLAPPED, hEvent) == 24);
static_assert(sizeof(MSG) == 48 && offsetof(MSG, wParam) == 16 && offsetof(MSG, lParam) == 24 &&
              offsetof(MSG, time) == 32 && offsetof(MSG, pt) == 36);
// SetupAPI: cbSize must be these values; the detail record is 8 on 64-bit.
static_assert(sizeof(SP_DEVINFO_DATA) == 32 && offsetof(SP_DEVINFO_DATA, DevInst) == 20);
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 32 && offsetof(SP_DEVICE_INTERFACE_DATA, Flags) == 20);
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == 8 &&
              offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) == 4);

#elif defined(_WIN32)

static_assert(sizeof(void*) == 4);
static_assert(sizeof(OVERLAPPED) == 20 && offsetof(OVERLAPPED, Offset) == 8 && offsetof(OVERLAPPED, hEvent) == 16);
static_assert(sizeof(MSG) == 28 && offsetof(MSG, wParam) == 8 && offsetof(MSG, lParam) == 12 &&
              offsetof(MSG, time) == 16 && offsetof(MSG, pt) == 20);
// SetupAPI packs its records to 1 byte on 32-bit Windows: the detail record's
// cbSize is 6 there, the classic mistake being 8.
static_assert(sizeof(SP_DEVINFO_DATA) == 28 && offsetof(SP_DEVINFO_DATA, DevInst) == 20);
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 28 && offsetof(SP_DEVICE_INTERFACE_DATA, Flags) == 20);
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == 6 &&
              offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) == 4);

#endif

}  // namespace
