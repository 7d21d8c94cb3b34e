// Text helpers of the platform layer (it sits below toolkit/); UTF-8 comes
// from platform/utf8.h.
#pragma once

#include <string>
#include <string_view>

#include "platform/posix/win32_types.h"
#include "platform/utf8.h"

namespace winapi_posix {

using platform::FromUtf8;
using platform::FromUtf8Exact;
using platform::ToUtf8;
inline std::string ToUtf8KeepingSurrogates(std::u16string_view text) { return ToUtf8(text, true); }
// Null-safe view of a zero-terminated UTF-16 string.
std::u16string_view WideView(const WCHAR* text);
// ASCII-only case folding, as the registry and module names need.
char16_t FoldCase(char16_t c);
bool EqualsNoCase(std::u16string_view a, std::u16string_view b);
std::u16string UpperAscii(std::u16string_view text);

}  // namespace winapi_posix
