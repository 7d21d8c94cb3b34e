// Numbers as the lab windows show and read them.
#pragma once

#include "app/spectrum/spectrumtext.h"

#include <cmath>

// A decimal typed by the user: "." or "," as the decimal point. Raises
// EConvertError with What in the message when it does not read.
inline double ReadDecimal(const UnicodeString& Text, const UnicodeString& What)
{
    UnicodeString t = Trim(Text);
    for (char16_t& c : t)
        if (c == u',') c = u'.';
    TFormatSettings dot;
    dot.DecimalSeparator = u'.';
    double v = 0;
    if (t.empty() || !TryStrToFloat(t, v, dot) || !std::isfinite(v))
        throw EConvertError(What + u": '" + Text + u"' ist keine Zahl.");
    return v;
}

// A value with its uncertainty ("0.798 ± 0.004"); "–" for the uncertainty
// where there is none.
inline UnicodeString WithError(double V, double E, int Decimals)
{
    return Fixed(V, Decimals) + u" ± " + (std::isfinite(E) ? Fixed(E, Decimals) : UnicodeString(u"–"));
}
