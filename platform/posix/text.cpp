#include "platform/posix/text.h"

namespace winapi_posix {

std::u16string_view WideView(const WCHAR* text)
{
    if (!text) return {};
    return std::u16string_view(text);
}

char16_t FoldCase(char16_t c) { return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c; }

bool EqualsNoCase(std::u16string_view a, std::u16string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (FoldCase(a[i]) != FoldCase(b[i])) return false;
    return true;
}

std::u16string UpperAscii(std::u16string_view text)
{
    std::u16string out(text);
    for (auto& c : out) c = FoldCase(c);
    return out;
}

}  // namespace winapi_posix
