// UTF-16 / UTF-8 helpers of the platform layer (it sits below toolkit/).
#pragma once

#include <string>
#include <string_view>

#include "platform/posix/win32_types.h"

namespace winapi_posix {

std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view text);
// Exact conversions (for names that must come back as they were stored):
// lone surrogates keep their 3-byte forms instead of becoming U+FFFD, and the
// decoder accepts only the shortest form of each code point up to U+10FFFF,
// a pair only as its 4-byte form, and lone surrogates only when allowed.
std::string ToUtf8KeepingSurrogates(std::u16string_view text);
bool FromUtf8Exact(std::string_view text, bool allowSurrogates, std::u16string* out);
// Null-safe view of a zero-terminated UTF-16 string.
std::u16string_view WideView(const WCHAR* text);
// ASCII-only case folding, as the registry and module names need.
char16_t FoldCase(char16_t c);
bool EqualsNoCase(std::u16string_view a, std::u16string_view b);
std::u16string UpperAscii(std::u16string_view text);

}  // namespace winapi_posix
