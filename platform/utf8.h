// UTF-16 <-> UTF-8, the one converter of the platform layer and the runtime.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Lone surrogates become U+FFFD, or keep their 3-byte forms when asked (for
// names that must come back exactly as they were stored).
std::string ToUtf8(std::u16string_view text, bool keepLoneSurrogates = false);
// Invalid sequences (bad or missing continuation bytes, overlong forms,
// surrogates, values past U+10FFFF) become U+FFFD.
std::u16string FromUtf8(std::string_view text);
// The exact decoder: false for anything that is not the shortest form of each
// code point up to U+10FFFF, a pair only as its 4-byte form, lone surrogates
// only when allowed.
bool FromUtf8Exact(std::string_view text, bool allowSurrogates, std::u16string* out);

}  // namespace platform
