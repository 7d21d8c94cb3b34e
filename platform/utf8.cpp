#include "platform/utf8.h"

namespace platform {

std::string ToUtf8(std::u16string_view text, bool keepLoneSurrogates)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c < 0xE000 && !keepLoneSurrogates) {
            c = 0xFFFD;  // lone surrogate
        }
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

bool FromUtf8Exact(std::string_view text, bool allowSurrogates, std::u16string* out)
{
    out->clear();
    bool afterHigh = false;  // the last unit was a high surrogate from a 3-byte form
    for (std::size_t i = 0; i < text.size();) {
        unsigned char b = static_cast<unsigned char>(text[i]);
        std::size_t len = b < 0x80                 ? 1
                          : b >= 0xC2 && b <= 0xDF ? 2
                          : b >= 0xE0 && b <= 0xEF ? 3
                          : b >= 0xF0 && b <= 0xF4 ? 4
                                                   : 0;
        if (len == 0 || i + len > text.size()) return false;
        char32_t c = len == 1 ? b : b & (0x7F >> len);
        for (std::size_t k = 1; k < len; ++k) {
            unsigned char n = static_cast<unsigned char>(text[i + k]);
            if ((n & 0xC0) != 0x80) return false;
            c = (c << 6) | (n & 0x3F);
        }
        static const char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < kSmallest[len] || c > 0x10FFFF) return false;  // overlong or beyond Unicode
        bool surrogate = c >= 0xD800 && c < 0xE000;
        if (surrogate && !allowSurrogates) return false;
        // A pair has one form, the 4-byte one.
        if (afterHigh && c >= 0xDC00 && c < 0xE000) return false;
        afterHigh = c >= 0xD800 && c < 0xDC00;
        if (c >= 0x10000) {
            *out += char16_t(0xD800 + ((c - 0x10000) >> 10));
            *out += char16_t(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            *out += char16_t(c);
        }
        i += len;
    }
    return true;
}

std::u16string FromUtf8(std::string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        unsigned char b = static_cast<unsigned char>(text[i]);
        char32_t c;
        int more;
        if (b < 0x80) {
            c = b;
            more = 0;
        } else if (b == 0xC0 || b == 0xC1 || b > 0xF4) {  // never a lead byte
            out += u'\uFFFD';
            ++i;
            continue;
        } else if ((b & 0xE0) == 0xC0) {
            c = b & 0x1F;
            more = 1;
        } else if ((b & 0xF0) == 0xE0) {
            c = b & 0x0F;
            more = 2;
        } else if ((b & 0xF8) == 0xF0) {
            c = b & 0x07;
            more = 3;
        } else {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        bool ok = true;
        for (int k = 0; k < more; ++k, ++j) {
            if (j >= text.size() || (static_cast<unsigned char>(text[j]) & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            c = (c << 6) | (static_cast<unsigned char>(text[j]) & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are invalid.
        static constexpr char32_t kSmallest[4] = {0, 0x80, 0x800, 0x10000};
        if (!ok || c < kSmallest[more] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            out += u'\uFFFD';
            i = ok ? j : i + 1;
            continue;
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            out += char16_t(0xD800 + (c >> 10));
            out += char16_t(0xDC00 + (c & 0x3FF));
        } else {
            out += char16_t(c);
        }
        i = j;
    }
    return out;
}

}  // namespace platform
