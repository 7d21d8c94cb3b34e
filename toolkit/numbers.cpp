// Number <-> text conversions without the C library's locale.
#include "toolkit/sysutils.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#ifdef _WIN32
#include <windows.h>
#endif

TFormatSettings FormatSettings;

namespace {

// Languages that write a decimal comma (enough for the locales a user of this
// program is likely to run).
bool LocaleUsesDecimalComma(const char* Locale)
{
    if (!Locale || !*Locale || std::strcmp(Locale, "C") == 0 || std::strcmp(Locale, "POSIX") == 0) return false;
    static const char* const CommaLanguages[] = {"de", "fr", "it", "es", "nl", "pt", "ru", "pl", "cs", "sk",
                                                 "da", "fi", "nb", "nn", "no", "sv", "tr", "el", "hu", "ro",
                                                 "bg", "uk", "hr", "sl", "sr", "lt", "lv", "et", "id", "is"};
    std::string L(Locale);
    std::string Lang = L.substr(0, L.find_first_of("_.@"));
    // Switzerland and Liechtenstein write a decimal point in German and Italian.
    if (L.rfind("de_CH", 0) == 0 || L.rfind("de_LI", 0) == 0 || L.rfind("it_CH", 0) == 0) return false;
    for (const char* C : CommaLanguages)
        if (Lang == C) return true;
    return false;
}

struct TFormatSettingsInit {
    TFormatSettingsInit() { InitFormatSettingsFromLocale(); }
} FormatSettingsInit;

}  // namespace

void InitFormatSettingsFromLocale()
{
#ifdef _WIN32
    wchar_t Buf[8] = {};
    if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, Buf, 8) > 0 && Buf[0]) {
        FormatSettings.DecimalSeparator = static_cast<char16_t>(Buf[0]);
        FormatSettings.ThousandSeparator = Buf[0] == L',' ? u'.' : u',';
        return;
    }
#endif
    // POSIX precedence: LC_ALL, then LC_NUMERIC, then LANG.
    const char* Locale = nullptr;
    for (const char* Var : {"LC_ALL", "LC_NUMERIC", "LANG"}) {
        const char* V = std::getenv(Var);
        if (V && *V) {
            Locale = V;
            break;
        }
    }
    bool Comma = LocaleUsesDecimalComma(Locale);
    FormatSettings.DecimalSeparator = Comma ? u',' : u'.';
    FormatSettings.ThousandSeparator = Comma ? u'.' : u',';
}

// ---------------------------------------------------------------------------
// Float -> text

namespace {

// A finite non-zero value as decimal digits: Value = 0.D1D2D3... * 10^Exponent
// (the runtime's float record), Digits without leading zeros.
struct TDecimal {
    bool Negative = false;
    std::string Digits;  // '0'..'9', empty for zero
    int Exponent = 0;
};

// The decimal expansion (rounded to 40 digits after the first) of a double or
// an extended value.
template <class T>
TDecimal Decompose(T Value)
{
    TDecimal D;
    D.Negative = std::signbit(Value);
    Value = std::fabs(Value);
    if (Value == 0) return D;
    char Buf[64];
    auto R = std::to_chars(Buf, Buf + sizeof Buf, Value, std::chars_format::scientific, 40);
    std::string_view S(Buf, static_cast<std::size_t>(R.ptr - Buf));
    // "d.ddd...e+XX"
    std::size_t EPos = S.find('e');
    D.Digits += S[0];
    for (std::size_t I = 2; I < EPos; ++I) D.Digits += S[I];
    int E = 0;
    std::from_chars(S.data() + EPos + (S[EPos + 1] == '+' ? 2 : 1), S.data() + S.size(), E);
    D.Exponent = E + 1;
    return D;
}

// Rounds to N significant digits, half away from zero (as the runtime does);
// N <= 0 keeps nothing unless rounding carries into a new leading digit.
void RoundTo(TDecimal& D, int N)
{
    if (D.Digits.empty() || N >= static_cast<int>(D.Digits.size())) return;
    bool Up;
    if (N < 0) {
        Up = false;
    } else {
        Up = D.Digits[static_cast<std::size_t>(N)] >= '5';
    }
    D.Digits.resize(static_cast<std::size_t>(std::max(N, 0)));
    if (Up) {
        int I = static_cast<int>(D.Digits.size()) - 1;
        while (I >= 0 && D.Digits[static_cast<std::size_t>(I)] == '9') {
            D.Digits[static_cast<std::size_t>(I)] = '0';
            --I;
        }
        if (I >= 0) {
            ++D.Digits[static_cast<std::size_t>(I)];
        } else {
            D.Digits.insert(D.Digits.begin(), '1');
            ++D.Exponent;
            if (N >= 0) D.Digits.resize(static_cast<std::size_t>(std::max(N, 1)));
        }
    }
    while (!D.Digits.empty() && D.Digits.back() == '0') D.Digits.pop_back();
    if (D.Digits.empty()) D.Exponent = 0;
}

void AppendExponent(std::u16string& R, int Exp, int MinDigits, bool PlusSign)
{
    R += u'E';
    if (Exp < 0)
        R += u'-';
    else if (PlusSign)
        R += u'+';
    const UnicodeString Num = IntToStr(Exp < 0 ? -Exp : Exp);
    if (MinDigits > static_cast<int>(Num.size())) R.append(static_cast<std::size_t>(MinDigits) - Num.size(), u'0');
    R += Num;
}

template <class T>
UnicodeString NonFinite(T Value)
{
    if (std::isnan(Value)) return u"NAN";
    return Value < 0 ? u"-INF" : u"INF";
}

// Digits (of D, zero-filled) for the positions [From, To) counted from the
// first digit after the decimal exponent's point.
std::u16string DigitRange(const TDecimal& D, int From, int To)
{
    std::u16string R;
    for (int I = From; I < To; ++I)
        R += (I >= 0 && I < static_cast<int>(D.Digits.size()))
                 ? static_cast<char16_t>(D.Digits[static_cast<std::size_t>(I)])
                 : u'0';
    return R;
}

UnicodeString FormatScientific(const TDecimal& D, int MinMantissaDigits, int ExpDigits, bool PlusSign, char16_t Sep)
{
    std::u16string R;
    if (D.Negative) R += u'-';
    int Len = std::max(static_cast<int>(D.Digits.size()), MinMantissaDigits);
    R += DigitRange(D, 0, 1);
    if (Len > 1) {
        R += Sep;
        R += DigitRange(D, 1, Len);
    }
    AppendExponent(R, D.Digits.empty() ? 0 : D.Exponent - 1, ExpDigits, PlusSign);
    return R;
}

// Fixed notation with exactly Decimals digits after the separator (at least as
// many as the digits need when Decimals < 0).
UnicodeString FormatFixedDigits(const TDecimal& D, int Decimals, char16_t Sep, char16_t Thousands)
{
    std::u16string R;
    if (D.Negative && !D.Digits.empty()) R += u'-';
    int Len = static_cast<int>(D.Digits.size());
    std::u16string IntPart = D.Exponent > 0 ? DigitRange(D, 0, D.Exponent) : u"0";
    if (Thousands) {
        std::u16string G;
        int N = static_cast<int>(IntPart.size());
        for (int I = 0; I < N; ++I) {
            if (I > 0 && (N - I) % 3 == 0) G += Thousands;
            G += IntPart[static_cast<std::size_t>(I)];
        }
        IntPart = G;
    }
    R += IntPart;
    if (Decimals < 0) Decimals = std::max(0, Len - D.Exponent);
    if (Decimals > 0) {
        R += Sep;
        R += DigitRange(D, D.Exponent, D.Exponent + Decimals);
    }
    return R;
}

// One body for both widths: only the digits of the value differ.
template <class T>
UnicodeString FloatText(T Value, TFloatFormat Format, int Precision, int Digits, const TFormatSettings& Settings)
{
    if (!std::isfinite(Value)) return NonFinite(Value);
    Precision = std::clamp(Precision, 1, 18);
    TDecimal D = Decompose(Value);
    const char16_t Sep = Settings.DecimalSeparator;
    switch (Format) {
    case ffExponent: {
        RoundTo(D, Precision);
        D.Negative = D.Negative && !D.Digits.empty();
        if (D.Digits.empty()) D.Exponent = 1;
        return FormatScientific(D, Precision, std::clamp(Digits, 0, 4), true, Sep);
    }
    case ffFixed:
    case ffNumber: {
        Digits = std::clamp(Digits, 0, 18);
        TDecimal P = D;
        RoundTo(P, Precision);
        if (P.Exponent > Precision) break;  // too large for fixed: general format
        RoundTo(D, std::min(Precision, D.Exponent + Digits));
        return FormatFixedDigits(D, Digits, Sep, Format == ffNumber ? Settings.ThousandSeparator : u'\0');
    }
    case ffGeneral: break;
    }
    // General: the shorter of fixed and scientific, trailing zeros dropped.
    // Scientific when more than Precision digits precede the point or the
    // magnitude is below 0.00001 (0.00001 itself is written fixed).
    RoundTo(D, Precision);
    if (D.Digits.empty()) return u"0";
    if (D.Exponent > Precision || D.Exponent < -4) return FormatScientific(D, 1, std::clamp(Digits, 0, 4), false, Sep);
    return FormatFixedDigits(D, -1, Sep, u'\0');
}

}  // namespace

UnicodeString FloatToStrF(double Value, TFloatFormat Format, int Precision, int Digits, const TFormatSettings& Settings)
{
    return FloatText(Value, Format, Precision, Digits, Settings);
}

UnicodeString FloatToStrF(Extended Value, TFloatFormat Format, int Precision, int Digits)
{
    return FloatText(Value, Format, Precision, Digits, FormatSettings);
}

UnicodeString FloatToStr(Extended Value) { return FloatText(Value, ffGeneral, 15, 0, FormatSettings); }

UnicodeString FloatToStrF(double Value, TFloatFormat Format, int Precision, int Digits)
{
    return FloatToStrF(Value, Format, Precision, Digits, FormatSettings);
}

UnicodeString FloatToStr(double Value, const TFormatSettings& Settings)
{
    return FloatToStrF(Value, ffGeneral, 15, 0, Settings);
}

UnicodeString FloatToStr(double Value) { return FloatToStr(Value, FormatSettings); }

// ---------------------------------------------------------------------------
// Text -> float

namespace {

enum class TOutOfRange { Underflow, Largest, Overflow };

// Why from_chars found a decimal text ("ddd.ddde[+-]xx", no sign) out of the
// double's range. Largest: above the largest double, but at most that double
// rounded to 15 digits ("1.79769313486232E308", what FloatToStr gives for it,
// which must read back).
TOutOfRange OutOfRangeKind(std::string_view Text)
{
    std::string Digits;      // significant digits, no leading or trailing zeros
    long long Exponent = 0;  // value = 0.Digits * 10^Exponent
    bool Point = false;
    std::size_t I = 0;
    for (; I < Text.size() && Text[I] != 'e'; ++I) {
        if (Text[I] == '.') {
            Point = true;
        } else if (Digits.empty() && Text[I] == '0') {
            if (Point) --Exponent;
        } else {
            Digits += Text[I];
            if (!Point) ++Exponent;
        }
    }
    while (!Digits.empty() && Digits.back() == '0') Digits.pop_back();
    if (I < Text.size()) {
        const bool Negative = Text[I + 1] == '-';
        long long E = 0;
        auto R = std::from_chars(Text.data() + I + 1 + (Text[I + 1] == '+'), Text.data() + Text.size(), E);
        if (R.ec != std::errc()) return Negative ? TOutOfRange::Underflow : TOutOfRange::Overflow;
        Exponent += E;
    }
    if (Digits.empty() || Exponent <= 0) return TOutOfRange::Underflow;
    constexpr std::string_view LargestDigits = "179769313486232";
    if (Exponent == 309 && Digits <= LargestDigits) return TOutOfRange::Largest;
    return TOutOfRange::Overflow;
}

}  // namespace

bool TryStrToFloat(const UnicodeString& S, double& Value, const TFormatSettings& Settings)
{
    std::size_t I = 0, N = S.size();
    while (I < N && S[I] == u' ') ++I;
    while (N > I && S[N - 1] == u' ') --N;
    std::string Buf;  // normalised ASCII for from_chars
    Buf.reserve(N - I + 4);
    bool Negative = false;
    if (I < N && (S[I] == u'+' || S[I] == u'-')) {
        Negative = S[I] == u'-';
        ++I;
    }
    int MantissaDigits = 0;
    while (I < N && S[I] >= u'0' && S[I] <= u'9') {
        Buf += static_cast<char>(S[I++]);
        ++MantissaDigits;
    }
    if (I < N && S[I] == Settings.DecimalSeparator) {
        Buf += '.';
        ++I;
        while (I < N && S[I] >= u'0' && S[I] <= u'9') {
            Buf += static_cast<char>(S[I++]);
            ++MantissaDigits;
        }
    }
    if (MantissaDigits == 0) return false;
    if (I < N && (S[I] == u'e' || S[I] == u'E')) {
        Buf += 'e';
        ++I;
        if (I < N && (S[I] == u'+' || S[I] == u'-')) {
            Buf += static_cast<char>(S[I++]);
        }
        int ExpDigits = 0;
        while (I < N && S[I] >= u'0' && S[I] <= u'9') {
            Buf += static_cast<char>(S[I++]);
            ++ExpDigits;
        }
        if (ExpDigits == 0) return false;
    }
    if (I != N) return false;
    double V = 0;
    auto R = std::from_chars(Buf.data(), Buf.data() + Buf.size(), V, std::chars_format::general);
    if (R.ptr != Buf.data() + Buf.size()) return false;
    if (R.ec == std::errc::result_out_of_range) {
        switch (OutOfRangeKind(Buf)) {
        case TOutOfRange::Underflow: V = 0; break;
        case TOutOfRange::Largest: V = std::numeric_limits<double>::max(); break;
        case TOutOfRange::Overflow: return false;
        }
    } else if (R.ec != std::errc()) {
        return false;
    }
    Value = Negative ? -V : V;
    return true;
}

bool TryStrToFloat(const UnicodeString& S, double& Value) { return TryStrToFloat(S, Value, FormatSettings); }

UnicodeString TextForMessage(const UnicodeString& S)
{
    constexpr std::size_t Keep = 200;
    if (S.size() <= Keep) return S;
    std::size_t N = Keep;
    if (S[N - 1] >= 0xD800 && S[N - 1] < 0xDC00) --N;  // not half a surrogate pair
    return S.substr(0, N) + u"\u2026";
}

double StrToFloat(const UnicodeString& S, const TFormatSettings& Settings)
{
    double V = 0;
    if (!TryStrToFloat(S, V, Settings)) throw EConvertError(Format(RuntimeText::InvalidFloat, {TextForMessage(S)}));
    return V;
}

double StrToFloat(const UnicodeString& S) { return StrToFloat(S, FormatSettings); }

double StrToFloatDef(const UnicodeString& S, double Default)
{
    double V = 0;
    return TryStrToFloat(S, V) ? V : Default;
}

// ---------------------------------------------------------------------------
// Integers

namespace {
template <class T>
UnicodeString DecimalText(T Value)
{
    char Buf[32];
    auto R = std::to_chars(Buf, Buf + sizeof Buf, Value);
    return UnicodeString(Buf, R.ptr);
}
}  // namespace

UnicodeString IntToStr(long long Value) { return DecimalText(Value); }

UnicodeString UIntToStr(unsigned long long Value) { return DecimalText(Value); }

UnicodeString IntToHex(unsigned long long Value, int Digits)
{
    char Buf[32];
    auto R = std::to_chars(Buf, Buf + sizeof Buf, Value, 16);
    UnicodeString S;
    for (int I = static_cast<int>(R.ptr - Buf); I < Digits; ++I) S += u'0';
    for (char* P = Buf; P != R.ptr; ++P) S += static_cast<char16_t>(*P >= 'a' ? *P - 32 : *P);
    return S;
}

namespace {
// The runtime's Val: leading blanks, sign, decimal digits or "$"/"0x" hex,
// nothing after the digits. Hex tells which it was.
bool ParseInteger(const UnicodeString& S, long long& Value, bool& Hex)
{
    std::size_t I = 0, N = S.size();
    while (I < N && S[I] == u' ') ++I;
    bool Negative = false;
    if (I < N && (S[I] == u'+' || S[I] == u'-')) {
        Negative = S[I] == u'-';
        ++I;
    }
    unsigned Base = 10;
    if (I < N && S[I] == u'$') {
        Base = 16;
        ++I;
    } else if (I + 1 < N && S[I] == u'0' && (S[I + 1] == u'x' || S[I + 1] == u'X')) {
        Base = 16;
        I += 2;
    }
    if (I >= N) return false;
    unsigned long long Acc = 0;
    const unsigned long long Limit = Negative ? 0x8000000000000000ull : 0x7FFFFFFFFFFFFFFFull;
    for (; I < N; ++I) {
        char16_t C = S[I];
        unsigned D;
        if (C >= u'0' && C <= u'9')
            D = C - u'0';
        else if (Base == 16 && C >= u'a' && C <= u'f')
            D = C - u'a' + 10;
        else if (Base == 16 && C >= u'A' && C <= u'F')
            D = C - u'A' + 10;
        else
            return false;
        if (Acc > (Limit - D) / Base) {
            // Hex may use the full unsigned range (the runtime's "$FFFFFFFF" = -1 for 32 bits).
            if (Base != 16) return false;
            if (Acc > (0xFFFFFFFFFFFFFFFFull - D) / Base) return false;
        }
        Acc = Acc * Base + D;
    }
    Value = Negative ? static_cast<long long>(0 - Acc) : static_cast<long long>(Acc);
    Hex = Base == 16;
    return true;
}
}  // namespace

bool TryStrToInt64(const UnicodeString& S, long long& Value)
{
    bool Hex = false;
    return ParseInteger(S, Value, Hex);
}

bool TryStrToInt(const UnicodeString& S, int& Value)
{
    long long V = 0;
    bool Hex = false;
    if (!ParseInteger(S, V, Hex)) return false;
    // Hexadecimal texts may give the 32-bit pattern ("$FFFFFFFF" is -1).
    if (Hex && V >= 0 && V <= 0xFFFFFFFFll) {
        Value = static_cast<int>(static_cast<std::uint32_t>(V));
        return true;
    }
    if (V < std::numeric_limits<int>::min() || V > std::numeric_limits<int>::max()) return false;
    Value = static_cast<int>(V);
    return true;
}

int StrToInt(const UnicodeString& S)
{
    int V = 0;
    if (!TryStrToInt(S, V)) throw EConvertError(Format(RuntimeText::InvalidInteger, {TextForMessage(S)}));
    return V;
}

int StrToIntDef(const UnicodeString& S, int Default)
{
    int V = 0;
    return TryStrToInt(S, V) ? V : Default;
}

long long StrToInt64(const UnicodeString& S)
{
    long long V = 0;
    if (!TryStrToInt64(S, V)) throw EConvertError(Format(RuntimeText::InvalidInteger, {TextForMessage(S)}));
    return V;
}

// ---------------------------------------------------------------------------
// Float exceptions

double FloatDivide(double Dividend, double Divisor)
{
    if (std::isnan(Dividend) || std::isnan(Divisor)) throw EInvalidOp(RuntimeText::InvalidOp);
    if (Divisor == 0) {
        if (Dividend == 0) throw EInvalidOp(RuntimeText::InvalidOp);
        throw EZeroDivide(RuntimeText::ZeroDivide);
    }
    if (std::isinf(Dividend) && std::isinf(Divisor)) throw EInvalidOp(RuntimeText::InvalidOp);
    return CheckFloat(Dividend / Divisor);
}

double CheckFloat(double Value)
{
    if (std::isnan(Value)) throw EInvalidOp(RuntimeText::InvalidOp);
    if (std::isinf(Value)) throw EOverflow(RuntimeText::Overflow);
    return Value;
}
