// Strings, exceptions and number conversions of the runtime.
//
// Every number <-> text conversion of the system goes through this unit. None of
// it uses the C library's locale-dependent functions (strtod, printf, iostreams):
// Qt calls setlocale(LC_ALL, "") at start, which would switch those to a decimal
// comma under a German locale. The only decimal separator that counts is
// FormatSettings.DecimalSeparator.
#pragma once

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

// ---------------------------------------------------------------------------
// Strings

// UTF-16, as the Win32 "W" functions take it.
using UnicodeString = std::u16string;
// 8-bit text in the ANSI code page, which is Windows-1252 on every platform.
using AnsiString = std::string;
// UTF-8 (Qt, file names on POSIX, gtest output).
using Utf8String = std::string;

// The Win32 character type: wchar_t on Windows, char16_t in platform/ on POSIX.
// Both are 16-bit, so a UnicodeString's buffer can be handed to the API as is.
#ifdef _WIN32
using TWinChar = wchar_t;
#else
using TWinChar = char16_t;
#endif

// The string as a NUL-terminated WCHAR pointer for calls into the Win32 API;
// valid as long as the string lives unchanged.
inline const TWinChar* PWChar(const UnicodeString& S) { return reinterpret_cast<const TWinChar*>(S.c_str()); }
// A string from a NUL-terminated WCHAR pointer (null gives "").
UnicodeString StrFromPWChar(const TWinChar* P);
// A string from Len WCHARs (NULs included).
UnicodeString StrFromPWChar(const TWinChar* P, std::size_t Len);

// UTF-16 <-> UTF-8. Invalid sequences become U+FFFD.
Utf8String UnicodeToUtf8(std::u16string_view S);
UnicodeString Utf8ToUnicode(std::string_view S);
// UTF-16 <-> Windows-1252. Characters that 1252 cannot hold become "?". The five
// undefined bytes (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 controls of the
// same value, as Windows does, so every byte survives a round trip.
AnsiString UnicodeToAnsi(std::u16string_view S);
UnicodeString AnsiToUnicode(std::string_view S);
// Shorthands for the conversions the program needs most.
inline UnicodeString U(std::string_view Utf8) { return Utf8ToUnicode(Utf8); }
inline Utf8String ToUtf8(std::u16string_view S) { return UnicodeToUtf8(S); }

// Text helpers (on UTF-16 code units; the case mapping covers ASCII and Latin-1).
UnicodeString Trim(const UnicodeString& S);  // drops leading/trailing chars <= U+0020
UnicodeString TrimLeft(const UnicodeString& S);
UnicodeString TrimRight(const UnicodeString& S);
UnicodeString UpperCase(const UnicodeString& S);      // ASCII only, like the runtime's UpperCase
UnicodeString AnsiUpperCase(const UnicodeString& S);  // ASCII + Latin-1
// Case-insensitive comparison (Latin-1 aware); <0, 0, >0.
int CompareText(const UnicodeString& A, const UnicodeString& B);
bool SameText(const UnicodeString& A, const UnicodeString& B);
int CompareStr(const UnicodeString& A, const UnicodeString& B);
// 1-based position of Sub in S, 0 when absent (the runtime's Pos).
int Pos(const UnicodeString& Sub, const UnicodeString& S);

// ---------------------------------------------------------------------------
// Exceptions

class Exception : public std::exception {
public:
    explicit Exception(UnicodeString Msg);
    ~Exception() override;
    const UnicodeString& Message() const { return fMessage; }
    void SetMessage(UnicodeString Msg);
    // The message as UTF-8 (for std::exception users, e.g. gtest).
    const char* what() const noexcept override { return fWhat.c_str(); }

private:
    UnicodeString fMessage;
    std::string fWhat;
};

#define TOOLKIT_DECLARE_EXCEPTION(Name, Base)                      \
    class Name : public Base {                                     \
    public:                                                        \
        explicit Name(UnicodeString Msg) : Base(std::move(Msg)) {} \
    }

// Silent exception: the event loop does not show it.
TOOLKIT_DECLARE_EXCEPTION(EAbort, Exception);
TOOLKIT_DECLARE_EXCEPTION(EConvertError, Exception);
TOOLKIT_DECLARE_EXCEPTION(EListError, Exception);
TOOLKIT_DECLARE_EXCEPTION(EStringListError, EListError);
TOOLKIT_DECLARE_EXCEPTION(EMathError, Exception);
TOOLKIT_DECLARE_EXCEPTION(EZeroDivide, EMathError);
TOOLKIT_DECLARE_EXCEPTION(EInvalidOp, EMathError);
TOOLKIT_DECLARE_EXCEPTION(EOverflow, EMathError);
TOOLKIT_DECLARE_EXCEPTION(EIntError, Exception);
TOOLKIT_DECLARE_EXCEPTION(EDivByZero, EIntError);
TOOLKIT_DECLARE_EXCEPTION(EStreamError, Exception);
TOOLKIT_DECLARE_EXCEPTION(EFileStreamError, EStreamError);
TOOLKIT_DECLARE_EXCEPTION(EFOpenError, EFileStreamError);
TOOLKIT_DECLARE_EXCEPTION(EFCreateError, EFileStreamError);
TOOLKIT_DECLARE_EXCEPTION(EAbstractError, Exception);
TOOLKIT_DECLARE_EXCEPTION(EThread, Exception);
TOOLKIT_DECLARE_EXCEPTION(EComponentError, Exception);
TOOLKIT_DECLARE_EXCEPTION(EInvalidOperation, Exception);
TOOLKIT_DECLARE_EXCEPTION(EOSError, Exception);

// The system's German text for a Win32 error code of the file functions
// (without the final full stop); "E/A-Fehler <code>" for others.
UnicodeString SystemErrorText(std::uint32_t Code);

// File I/O error with the runtime's error code (5 = access denied, 8 = out of
// memory, others "E/A-Fehler %d").
class EInOutError : public Exception {
public:
    explicit EInOutError(int Code);
    EInOutError(int Code, UnicodeString Msg) : Exception(std::move(Msg)), ErrorCode(Code) {}
    int ErrorCode;
    static UnicodeString MessageFor(int Code);
};

// The runtime's message texts.
namespace RuntimeText {
extern const char16_t* const InvalidFloat;      // "'%s' ist kein gültiger Gleitkommawert"
extern const char16_t* const InvalidInteger;    // "'%s' ist kein gültiger Integerwert"
extern const char16_t* const ZeroDivide;        // "Gleitkommadivision durch Null"
extern const char16_t* const InvalidOp;         // "Ungültige Gleitkommaoperation"
extern const char16_t* const Overflow;          // "Gleitkommaüberlauf"
extern const char16_t* const DivByZero;         // "Division durch Null"
extern const char16_t* const ListIndexError;    // "Listenindex überschreitet das Maximum (%d)"
extern const char16_t* const DuplicateString;   // "Stringliste gestattet keine Duplikate"
extern const char16_t* const FOpenError;        // "Datei %s kann nicht geöffnet werden. %s"
extern const char16_t* const FCreateError;      // "Datei \"%s\" kann nicht erstellt werden. %s"
extern const char16_t* const FileAccessDenied;  // "Dateizugriff verweigert"
extern const char16_t* const OutOfMemory;       // "Zu wenig Speicherplatz"
extern const char16_t* const InOutError;        // "E/A-Fehler %d"
extern const char16_t* const AbstractError;     // "Abstrakter Fehler"
extern const char16_t* const InvalidFormat;     // "Format '%s' ungültig oder nicht kompatibel mit Argument"
extern const char16_t* const ThreadCancelled;   // "Thread-Anforderung abgebrochen"
extern const char16_t* const UnknownException;  // "Unbekannte Ausnahme" (a raised non-std value)
}  // namespace RuntimeText

// Raises EAbstractError: the body of an operation that a descendant must supply.
[[noreturn]] void AbstractErrorProc();

// ---------------------------------------------------------------------------
// Format

// One argument of Format (the runtime's "array of const").
class TFormatArg {
public:
    enum class TKind { Int, UInt, Float, Str, Ptr };
    TFormatArg(int V) : fKind(TKind::Int), fInt(V), fBits(32) {}
    TFormatArg(long V) : fKind(TKind::Int), fInt(V), fBits(sizeof(long) * 8) {}
    TFormatArg(long long V) : fKind(TKind::Int), fInt(V), fBits(64) {}
    TFormatArg(unsigned V) : fKind(TKind::UInt), fUInt(V), fBits(32) {}
    TFormatArg(unsigned long V) : fKind(TKind::UInt), fUInt(V), fBits(sizeof(long) * 8) {}
    TFormatArg(unsigned long long V) : fKind(TKind::UInt), fUInt(V), fBits(64) {}
    TFormatArg(double V) : fKind(TKind::Float), fFloat(V) {}
    TFormatArg(const UnicodeString& V) : fKind(TKind::Str), fStr(V) {}
    TFormatArg(const char16_t* V) : fKind(TKind::Str), fStr(V ? V : u"") {}
    TFormatArg(const void* V) : fKind(TKind::Ptr), fUInt(reinterpret_cast<std::uintptr_t>(V)) {}
    // std::string is taken as AnsiString (Windows-1252); a char literal as UTF-8
    // source text.
    TFormatArg(const AnsiString& V) : fKind(TKind::Str), fStr(AnsiToUnicode(V)) {}
    TFormatArg(const char* V) : fKind(TKind::Str), fStr(Utf8ToUnicode(V ? V : "")) {}
    TFormatArg(bool V) : fKind(TKind::Int), fInt(V ? 1 : 0), fBits(32) {}

    TKind Kind() const { return fKind; }
    long long AsInt() const { return fInt; }
    unsigned long long AsUInt() const { return fUInt; }
    double AsFloat() const { return fFloat; }
    const UnicodeString& AsStr() const { return fStr; }
    int Bits() const { return fBits; }

private:
    TKind fKind;
    long long fInt = 0;
    unsigned long long fUInt = 0;
    double fFloat = 0;
    UnicodeString fStr;
    int fBits = 64;
};

// The runtime's Format: %[index:][-][width][.prec]type with type
// d (decimal), u (unsigned), x/X (hex; the runtime writes both in upper case),
// s (string), g (general, 15 digits), f (fixed, 2 decimals), e (scientific),
// n (fixed with thousands separators), p (pointer) and %% for "%". Width pads
// with blanks (left-justified with "-"); precision pads d/u/x with zeros.
// A mismatch between format and argument raises EConvertError.
UnicodeString Format(const UnicodeString& Fmt, std::initializer_list<TFormatArg> Args);
UnicodeString Format(const UnicodeString& Fmt, const std::vector<TFormatArg>& Args);

// ---------------------------------------------------------------------------
// Numbers

struct TFormatSettings {
    char16_t DecimalSeparator = u'.';
    char16_t ThousandSeparator = u',';
};
// Process-wide; initialised from the environment's locale (LC_ALL, LC_NUMERIC,
// LANG: a German, French, ... locale gives ","), set to "." by the program at
// start. Set it from the main thread before threads start converting numbers.
extern TFormatSettings FormatSettings;
// Re-reads the locale environment (what the initialisation does).
void InitFormatSettingsFromLocale();

enum class TFloatFormat { ffGeneral, ffExponent, ffFixed, ffNumber };
using enum TFloatFormat;

// The runtime's FloatToStrF. ffGeneral: shortest of fixed and scientific with
// at most Precision significant digits, trailing zeros dropped; scientific when
// the number has more than Precision digits before the decimal point or its
// magnitude is below 0.00001; the exponent is written "E15", "E-5", with at
// least Digits digits ("E-005" for Digits = 3).
// ffExponent: "d.dddE+ddd" with Precision digits and at least Digits exponent
// digits. ffFixed: Digits decimals; ffNumber: as ffFixed with thousands
// separators. Precision is clamped to 1..18.
UnicodeString FloatToStrF(double Value, TFloatFormat Format, int Precision, int Digits);
// The same with an explicit separator (threads that must not read the global).
UnicodeString FloatToStrF(double Value, TFloatFormat Format, int Precision, int Digits,
                          const TFormatSettings& Settings);
// General format with 15 significant digits.
UnicodeString FloatToStr(double Value);
UnicodeString FloatToStr(double Value, const TFormatSettings& Settings);

// The runtime's Extended: the x87 80-bit format (64-bit significand) with GCC
// and Clang on x86 (Linux, mingw-w64). Elsewhere long double is what the
// compiler makes of it: MSVC and 32-bit ARM give the 64-bit double, so a value
// computed as Extended is rounded to 53 bits and its 15th digit may differ;
// 64-bit ARM Linux gives 128-bit quad precision, which agrees with the 80-bit
// result except where the 80-bit rounding itself decides the last digit.
using Extended = long double;
// The same formats for an Extended value, rounded once from its own digits
// (narrowing it to double first would round twice).
UnicodeString FloatToStrF(Extended Value, TFloatFormat Format, int Precision, int Digits);
UnicodeString FloatToStr(Extended Value);
// Integers take the double path (otherwise ambiguous between the two).
template <class T, std::enable_if_t<std::is_integral_v<T>, int> = 0>
UnicodeString FloatToStrF(T Value, TFloatFormat Format, int Precision, int Digits)
{
    return FloatToStrF(static_cast<double>(Value), Format, Precision, Digits);
}
template <class T, std::enable_if_t<std::is_integral_v<T>, int> = 0>
UnicodeString FloatToStr(T Value)
{
    return FloatToStr(static_cast<double>(Value));
}

// The offending text as a conversion message quotes it: whole up to 200
// characters, else its first 200 and "…" (a reply line can be any length).
UnicodeString TextForMessage(const UnicodeString& S);

// Parses a decimal number as the runtime does: leading and trailing blanks,
// optional sign, digits with FormatSettings.DecimalSeparator, optional exponent
// ("E", "e", signed). Raises EConvertError "'%s' ist kein gültiger Gleitkommawert"
// (the text as TextForMessage gives it).
double StrToFloat(const UnicodeString& S);
double StrToFloat(const UnicodeString& S, const TFormatSettings& Settings);
bool TryStrToFloat(const UnicodeString& S, double& Value);
bool TryStrToFloat(const UnicodeString& S, double& Value, const TFormatSettings& Settings);
double StrToFloatDef(const UnicodeString& S, double Default);

UnicodeString IntToStr(long long Value);
UnicodeString UIntToStr(unsigned long long Value);
UnicodeString IntToHex(unsigned long long Value, int Digits);
// Parses a 32-bit signed integer: blanks around, sign, decimal digits or
// hexadecimal with "$" / "0x" prefix. Raises EConvertError
// "'%s' ist kein gültiger Integerwert" (also on overflow).
int StrToInt(const UnicodeString& S);
int StrToIntDef(const UnicodeString& S, int Default);
bool TryStrToInt(const UnicodeString& S, int& Value);
long long StrToInt64(const UnicodeString& S);
bool TryStrToInt64(const UnicodeString& S, long long& Value);

// Float division with the runtime's float exceptions: x/0 raises EZeroDivide
// "Gleitkommadivision durch Null", 0/0 (and any NaN operand) raises EInvalidOp
// "Ungültige Gleitkommaoperation". The C++ "/" would give inf/NaN silently.
double FloatDivide(double Dividend, double Divisor);
// Raises EInvalidOp / EOverflow when a computed value is NaN / infinite, as
// the runtime's FPU exceptions would have.
double CheckFloat(double Value);

// ---------------------------------------------------------------------------
// Sets over small enumerations (the runtime's "set of TEnum"); members must
// have underlying values 0..63.
template <class E>
class TSet {
public:
    constexpr TSet() = default;
    constexpr TSet(std::initializer_list<E> Members)
    {
        for (E M : Members) fBits |= Bit(M);
    }
    static constexpr TSet FromBits(std::uint64_t Bits)
    {
        TSet S;
        S.fBits = Bits;
        return S;
    }
    constexpr std::uint64_t Bits() const { return fBits; }
    constexpr bool Contains(E M) const { return (fBits & Bit(M)) != 0; }
    constexpr bool Empty() const { return fBits == 0; }
    constexpr TSet& operator<<(E M)
    {
        fBits |= Bit(M);
        return *this;
    }  // Include
    constexpr TSet& operator>>(E M)
    {
        fBits &= ~Bit(M);
        return *this;
    }  // Exclude
    constexpr TSet& Include(E M) { return *this << M; }
    constexpr TSet& Exclude(E M) { return *this >> M; }
    constexpr TSet operator+(TSet O) const { return FromBits(fBits | O.fBits); }
    constexpr TSet operator-(TSet O) const { return FromBits(fBits & ~O.fBits); }
    constexpr TSet operator*(TSet O) const { return FromBits(fBits & O.fBits); }
    constexpr TSet& operator+=(TSet O)
    {
        fBits |= O.fBits;
        return *this;
    }
    constexpr TSet& operator-=(TSet O)
    {
        fBits &= ~O.fBits;
        return *this;
    }
    constexpr TSet& operator*=(TSet O)
    {
        fBits &= O.fBits;
        return *this;
    }
    constexpr bool operator==(const TSet&) const = default;
    // A <= B: every member of A is in B.
    constexpr bool operator<=(TSet O) const { return (fBits & ~O.fBits) == 0; }

private:
    static constexpr std::uint64_t Bit(E M) { return std::uint64_t(1) << static_cast<unsigned>(M); }
    std::uint64_t fBits = 0;
};
