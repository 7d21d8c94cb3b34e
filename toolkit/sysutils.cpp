// Strings, conversions and exceptions.
#include "toolkit/sysutils.h"

#include <winapi.h>

#include "platform/utf8.h"

#include <algorithm>
#include <array>

// ---------------------------------------------------------------------------
// WCHAR strings

UnicodeString StrFromPWChar(const TWinChar* P)
{
    if (!P) return UnicodeString();
    std::size_t Len = 0;
    while (P[Len]) ++Len;
    return StrFromPWChar(P, Len);
}

UnicodeString StrFromPWChar(const TWinChar* P, std::size_t Len)
{
    if (!P) return UnicodeString();
    UnicodeString S(Len, u'\0');
    for (std::size_t I = 0; I < Len; ++I) S[I] = static_cast<char16_t>(P[I]);
    return S;
}

// ---------------------------------------------------------------------------
// UTF-8 <-> UTF-16

Utf8String UnicodeToUtf8(std::u16string_view S) { return platform::ToUtf8(S); }

UnicodeString Utf8ToUnicode(std::string_view S) { return platform::FromUtf8(S); }

// ---------------------------------------------------------------------------
// Windows-1252

namespace {
// 0x80..0x9F; the undefined positions keep their C1 value, as Windows maps them.
constexpr std::array<char16_t, 32> Cp1252High = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                                 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                                 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                                 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char UnicodeCharToAnsi(char16_t C)
{
    if (C < 0x80 || (C >= 0xA0 && C <= 0xFF)) return static_cast<char>(C);
    for (std::size_t I = 0; I < Cp1252High.size(); ++I)
        if (Cp1252High[I] == C) return static_cast<char>(0x80 + I);
    return '?';
}
}  // namespace

AnsiString UnicodeToAnsi(std::u16string_view S)
{
    AnsiString R;
    R.reserve(S.size());
    for (std::size_t I = 0; I < S.size(); ++I) {
        char16_t C = S[I];
        // A surrogate pair is one character: one "?".
        if (C >= 0xD800 && C <= 0xDBFF && I + 1 < S.size() && S[I + 1] >= 0xDC00 && S[I + 1] <= 0xDFFF) ++I;
        R += UnicodeCharToAnsi(C);
    }
    return R;
}

UnicodeString AnsiToUnicode(std::string_view S)
{
    UnicodeString R(S.size(), u'\0');
    for (std::size_t I = 0; I < S.size(); ++I) {
        unsigned char B = static_cast<unsigned char>(S[I]);
        R[I] = (B >= 0x80 && B < 0xA0) ? Cp1252High[B - 0x80] : static_cast<char16_t>(B);
    }
    return R;
}

// ---------------------------------------------------------------------------
// Text helpers

UnicodeString Trim(const UnicodeString& S)
{
    std::size_t B = 0, E = S.size();
    while (B < E && S[B] <= u' ') ++B;
    while (E > B && S[E - 1] <= u' ') --E;
    return S.substr(B, E - B);
}

UnicodeString TrimLeft(const UnicodeString& S)
{
    std::size_t B = 0;
    while (B < S.size() && S[B] <= u' ') ++B;
    return S.substr(B);
}

UnicodeString TrimRight(const UnicodeString& S)
{
    std::size_t E = S.size();
    while (E > 0 && S[E - 1] <= u' ') --E;
    return S.substr(0, E);
}

namespace {
char16_t Latin1Upper(char16_t C)
{
    if (C >= u'a' && C <= u'z') return static_cast<char16_t>(C - 32);
    if ((C >= 0xE0 && C <= 0xFE && C != 0xF7)) return static_cast<char16_t>(C - 32);
    if (C == 0xFF) return 0x178;
    return C;
}
}  // namespace

UnicodeString UpperCase(const UnicodeString& S)
{
    UnicodeString R = S;
    for (auto& C : R)
        if (C >= u'a' && C <= u'z') C = static_cast<char16_t>(C - 32);
    return R;
}

UnicodeString AnsiUpperCase(const UnicodeString& S)
{
    UnicodeString R = S;
    for (auto& C : R) C = Latin1Upper(C);
    return R;
}

int CompareText(const UnicodeString& A, const UnicodeString& B)
{
    std::size_t N = std::min(A.size(), B.size());
    for (std::size_t I = 0; I < N; ++I) {
        char16_t X = Latin1Upper(A[I]), Y = Latin1Upper(B[I]);
        if (X != Y) return X < Y ? -1 : 1;
    }
    return A.size() == B.size() ? 0 : (A.size() < B.size() ? -1 : 1);
}

bool SameText(const UnicodeString& A, const UnicodeString& B) { return A.size() == B.size() && CompareText(A, B) == 0; }

int CompareStr(const UnicodeString& A, const UnicodeString& B)
{
    int R = A.compare(B);
    return R < 0 ? -1 : (R > 0 ? 1 : 0);
}

int Pos(const UnicodeString& Sub, const UnicodeString& S)
{
    if (Sub.empty()) return 0;
    auto P = S.find(Sub);
    return P == UnicodeString::npos ? 0 : static_cast<int>(P) + 1;
}

// ---------------------------------------------------------------------------
// Exceptions

Exception::Exception(UnicodeString Msg) : fMessage(std::move(Msg)), fWhat(UnicodeToUtf8(fMessage)) {}

Exception::~Exception() = default;

void Exception::SetMessage(UnicodeString Msg)
{
    fMessage = std::move(Msg);
    fWhat = UnicodeToUtf8(fMessage);
}

namespace RuntimeText {
const char16_t* const InvalidFloat = u"'%s' ist kein gültiger Gleitkommawert";
const char16_t* const InvalidInteger = u"'%s' ist kein gültiger Integerwert";
const char16_t* const ZeroDivide = u"Gleitkommadivision durch Null";
const char16_t* const InvalidOp = u"Ungültige Gleitkommaoperation";
const char16_t* const Overflow = u"Gleitkommaüberlauf";
const char16_t* const DivByZero = u"Division durch Null";
const char16_t* const ListIndexError = u"Listenindex überschreitet das Maximum (%d)";
const char16_t* const DuplicateString = u"Stringliste gestattet keine Duplikate";
const char16_t* const FOpenError = u"Datei %s kann nicht geöffnet werden. %s";
const char16_t* const FCreateError = u"Datei \"%s\" kann nicht erstellt werden. %s";
const char16_t* const FileAccessDenied = u"Dateizugriff verweigert";
const char16_t* const OutOfMemory = u"Zu wenig Speicherplatz";
const char16_t* const InOutError = u"E/A-Fehler %d";
const char16_t* const AbstractError = u"Abstrakter Fehler";
const char16_t* const InvalidFormat = u"Format '%s' ungültig oder nicht kompatibel mit Argument";
const char16_t* const ThreadCancelled = u"Thread-Anforderung abgebrochen";
const char16_t* const UnknownException = u"Unbekannte Ausnahme";
}  // namespace RuntimeText

UnicodeString EInOutError::MessageFor(int Code)
{
    switch (Code) {
    case 5: return RuntimeText::FileAccessDenied;
    case 8:
    case 112:  // disk full
        return RuntimeText::OutOfMemory;
    default: return Format(RuntimeText::InOutError, {Code});
    }
}

UnicodeString SystemErrorText(std::uint32_t Code)
{
    switch (Code) {
    case ERROR_FILE_NOT_FOUND: return u"Das System kann die angegebene Datei nicht finden";
    case ERROR_PATH_NOT_FOUND: return u"Das System kann den angegebenen Pfad nicht finden";
    case ERROR_ACCESS_DENIED: return u"Zugriff verweigert";
    case ERROR_SHARING_VIOLATION:
        return u"Der Prozess kann nicht auf die Datei zugreifen, da sie von einem anderen Prozess verwendet wird";
    case ERROR_DISK_FULL: return u"Auf dem Datenträger ist nicht genügend Speicherplatz vorhanden";
    case ERROR_INVALID_NAME:
        return u"Die Syntax für den Dateinamen, Verzeichnisnamen oder die Datenträgerbezeichnung ist falsch";
    default: return Format(RuntimeText::InOutError, {static_cast<int>(Code)});
    }
}

EInOutError::EInOutError(int Code) : Exception(MessageFor(Code)), ErrorCode(Code) {}

void AbstractErrorProc() { throw EAbstractError(RuntimeText::AbstractError); }
