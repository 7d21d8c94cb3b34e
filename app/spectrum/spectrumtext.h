// Numbers as the spectrum window shows them: "." decimal point, fixed decimals.
#pragma once

#include "toolkit/sysutils.h"

inline UnicodeString Fixed(double V, int Decimals)
{
    TFormatSettings dot;
    dot.DecimalSeparator = u'.';
    return FloatToStrF(V, ffFixed, 15, Decimals, dot);
}

// Chosen unchanged when its file name has an extension, otherwise with Ext.
inline UnicodeString WithExtension(const UnicodeString& Chosen, const char16_t* Ext)
{
    return ExtractFileName(Chosen).find(u'.') == UnicodeString::npos ? Chosen + Ext : Chosen;
}

// An exposure in microseconds as milliseconds ("10", "2.5").
inline UnicodeString ExposureMsText(std::int32_t Us)
{
    return Fixed(Us / 1000.0, Us % 1000 == 0 ? 0 : (Us % 100 == 0 ? 1 : 3));
}
