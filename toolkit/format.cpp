// The runtime's Format.
#include "toolkit/sysutils.h"

#include <span>

namespace {

[[noreturn]] void FormatError(const UnicodeString& Fmt)
{
    // Built by hand: Format itself must not recurse into an error.
    UnicodeString Msg = RuntimeText::InvalidFormat;
    auto P = Msg.find(u"%s");
    Msg.replace(P, 2, Fmt);
    throw EConvertError(Msg);
}

UnicodeString Pad(UnicodeString S, int Width, bool Left)
{
    if (Width > static_cast<int>(S.size())) {
        UnicodeString Fill(static_cast<std::size_t>(Width) - S.size(), u' ');
        S = Left ? S + Fill : Fill + S;
    }
    return S;
}

// Digits with at least Prec digits (zero-filled), sign in front.
UnicodeString WithMinDigits(UnicodeString Digits, bool Negative, int Prec)
{
    if (Prec > static_cast<int>(Digits.size())) Digits.insert(0, static_cast<std::size_t>(Prec) - Digits.size(), u'0');
    return Negative ? u"-" + Digits : Digits;
}

// Both overloads format over the arguments in place (no copy).
UnicodeString FormatArgs(const UnicodeString& Fmt, std::span<const TFormatArg> Args)
{
    UnicodeString R;
    std::size_t ArgIndex = 0;
    std::size_t I = 0, N = Fmt.size();
    auto NextArg = [&]() -> const TFormatArg& {
        if (ArgIndex >= Args.size()) FormatError(Fmt);
        return Args[ArgIndex++];
    };
    // Widths and precisions beyond this are refused, whether written or from '*'.
    constexpr int MaxWidth = 100000;
    auto ReadNumber = [&](int& Out) -> bool {
        if (I < N && Fmt[I] == u'*') {
            const TFormatArg& A = NextArg();
            if (A.Kind() == TFormatArg::TKind::Int) {
                if (A.AsInt() > MaxWidth) FormatError(Fmt);
                Out = A.AsInt() < 0 ? -1 : static_cast<int>(A.AsInt());  // negative: none
            } else if (A.Kind() == TFormatArg::TKind::UInt) {
                if (A.AsUInt() > static_cast<unsigned long long>(MaxWidth)) FormatError(Fmt);
                Out = static_cast<int>(A.AsUInt());
            } else {
                FormatError(Fmt);
            }
            ++I;
            return true;
        }
        bool Any = false;
        Out = 0;
        while (I < N && Fmt[I] >= u'0' && Fmt[I] <= u'9') {
            Out = Out * 10 + (Fmt[I] - u'0');
            if (Out > MaxWidth) FormatError(Fmt);
            ++I;
            Any = true;
        }
        return Any;
    };
    while (I < N) {
        char16_t C = Fmt[I++];
        if (C != u'%') {
            R += C;
            continue;
        }
        if (I < N && Fmt[I] == u'%') {
            R += u'%';
            ++I;
            continue;
        }
        // [index:][-][width][.prec]type
        int Width = -1, Prec = -1;
        bool Left = false;
        int Num = 0;
        std::size_t Save = I;
        if (I < N && Fmt[I] != u'*' && ReadNumber(Num) && I < N && Fmt[I] == u':') {
            ArgIndex = static_cast<std::size_t>(Num);
            ++I;
        } else {
            I = Save;
        }
        if (I < N && Fmt[I] == u'-') {
            Left = true;
            ++I;
        }
        if (ReadNumber(Num)) Width = Num;
        if (I < N && Fmt[I] == u'.') {
            ++I;
            if (!ReadNumber(Num)) Num = 0;
            Prec = Num;
        }
        if (I >= N) FormatError(Fmt);
        char16_t Type = Fmt[I++];
        if (Type >= u'A' && Type <= u'Z') Type = static_cast<char16_t>(Type + 32);
        const TFormatArg& A = NextArg();
        using K = TFormatArg::TKind;
        UnicodeString Out;
        switch (Type) {
        case u'd':
            if (A.Kind() == K::Int)
                Out = WithMinDigits(UIntToStr(A.AsInt() < 0 ? 0ull - static_cast<unsigned long long>(A.AsInt())
                                                            : static_cast<unsigned long long>(A.AsInt())),
                                    A.AsInt() < 0, Prec);
            else if (A.Kind() == K::UInt)
                Out = WithMinDigits(UIntToStr(A.AsUInt()), false, Prec);
            else
                FormatError(Fmt);
            break;
        case u'u':
        case u'x': {
            unsigned long long V;
            if (A.Kind() == K::Int) {
                // Negative values as the two's complement of the argument's size.
                V = static_cast<unsigned long long>(A.AsInt());
                if (A.Bits() == 32) V &= 0xFFFFFFFFull;
            } else if (A.Kind() == K::UInt) {
                V = A.AsUInt();
            } else {
                FormatError(Fmt);
            }
            Out = WithMinDigits(Type == u'u' ? UIntToStr(V) : IntToHex(V, 0), false, Prec);
            break;
        }
        case u'e':
        case u'f':
        case u'g':
        case u'n': {
            double V;
            if (A.Kind() == K::Float)
                V = A.AsFloat();
            else
                FormatError(Fmt);
            if (Type == u'e')
                Out = FloatToStrF(V, ffExponent, Prec < 0 ? 15 : Prec, 3);
            else if (Type == u'f')
                Out = FloatToStrF(V, ffFixed, 18, Prec < 0 ? 2 : Prec);
            else if (Type == u'n')
                Out = FloatToStrF(V, ffNumber, 18, Prec < 0 ? 2 : Prec);
            else
                Out = FloatToStrF(V, ffGeneral, Prec < 0 ? 15 : Prec, 0);
            break;
        }
        case u's':
            if (A.Kind() != K::Str) FormatError(Fmt);
            Out = A.AsStr();
            if (Prec >= 0 && static_cast<std::size_t>(Prec) < Out.size()) Out.resize(static_cast<std::size_t>(Prec));
            break;
        case u'p':
            if (A.Kind() != K::Ptr) FormatError(Fmt);
            Out = IntToHex(A.AsUInt(), static_cast<int>(sizeof(void*) * 2));
            break;
        default: FormatError(Fmt);
        }
        R += Pad(std::move(Out), Width, Left);
    }
    return R;
}

}  // namespace

UnicodeString Format(const UnicodeString& Fmt, std::initializer_list<TFormatArg> Args)
{
    return FormatArgs(Fmt, std::span<const TFormatArg>(Args.begin(), Args.size()));
}

UnicodeString Format(const UnicodeString& Fmt, const std::vector<TFormatArg>& Args) { return FormatArgs(Fmt, Args); }
