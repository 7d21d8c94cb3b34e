// The DCB's flags word: the SDK declares it as bit fields after DCBlength and
// BaudRate, so it is read and written as one DWORD at that offset. For the
// serial driver (POSIX) and the library alike.
#pragma once

#include <winapi.h>

#include <cstddef>
#include <cstring>

namespace platform {

constexpr DWORD kDcbBinary = 0x0001, kDcbParity = 0x0002, kDcbOutxCtsFlow = 0x0004, kDcbOutxDsrFlow = 0x0008,
                kDcbDtrControlShift = 4, kDcbDsrSensitivity = 0x0040, kDcbTxContinueOnXoff = 0x0080, kDcbOutX = 0x0100,
                kDcbInX = 0x0200, kDcbErrorChar = 0x0400, kDcbNull = 0x0800, kDcbRtsControlShift = 12,
                kDcbAbortOnError = 0x4000;

constexpr std::size_t kDcbFlagsOffset = 2 * sizeof(DWORD);
static_assert(sizeof(DCB) == 28, "DCB layout");

inline DWORD DcbFlags(const DCB& dcb)
{
    DWORD flags = 0;
    std::memcpy(&flags, reinterpret_cast<const unsigned char*>(&dcb) + kDcbFlagsOffset, sizeof flags);
    return flags;
}

inline void SetDcbFlags(DCB& dcb, DWORD flags)
{
    std::memcpy(reinterpret_cast<unsigned char*>(&dcb) + kDcbFlagsOffset, &flags, sizeof flags);
}

constexpr DWORD DcbDtrControl(DWORD flags) { return (flags >> kDcbDtrControlShift) & 3; }
constexpr DWORD DcbRtsControl(DWORD flags) { return (flags >> kDcbRtsControlShift) & 3; }

}  // namespace platform
