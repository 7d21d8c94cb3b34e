// Registry reads, the COM port-name list and native key names.
#include "comm/utilities/utilities.h"

#include "toolkit/classes.h"

#include <cstring>
#include <vector>

namespace {

const UnicodeString SerialCommKey = u"HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr DWORD EnumNameChars = 260;  // value-name buffer of RegEnumValueW, in characters
constexpr DWORD EnumDataBytes = 260;  // data buffer of RegEnumValueW, in bytes

bool IsWin9xPlatform()
{
    OSVERSIONINFOW Info;
    std::memset(&Info, 0, sizeof(Info));
    Info.dwOSVersionInfoSize = sizeof(Info);
#ifdef __GNUC__
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
    const BOOL Ok = GetVersionExW(&Info);
#ifdef __GNUC__
#pragma GCC diagnostic pop
#endif
    return Ok && Info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
}

void EnumFromSerialComm(TStringList* List, bool WithValues)
{
    HKEY Key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, PWChar(SerialCommKey), 0, KEY_QUERY_VALUE, &Key) != ERROR_SUCCESS) return;
    WCHAR Name[EnumNameChars];
    BYTE Data[EnumDataBytes + sizeof(WCHAR)];
    for (DWORD Index = 0;; ++Index) {
        DWORD NameLen = EnumNameChars;
        DWORD DataLen = EnumDataBytes;
        if (RegEnumValueW(Key, Index, Name, &NameLen, nullptr, nullptr, Data, &DataLen) != ERROR_SUCCESS) break;
        if (NameLen > EnumNameChars) NameLen = EnumNameChars;
        if (DataLen > EnumDataBytes) DataLen = EnumDataBytes;
        // The data is text up to its first zero, never read beyond what was returned.
        const std::size_t Chars = DataLen / sizeof(WCHAR);
        std::vector<WCHAR> Text(Chars);
        std::memcpy(Text.data(), Data, Chars * sizeof(WCHAR));
        const UnicodeString Port = Trim(UpperCase(TextUpToZero(Text.data(), Chars)));
        if (Pos(u"COM", Port) != 1) continue;
        // Bare entries have no name; their duplicates are caught by AddPortSorted.
        if (List->IndexOfName(Port) >= 0) continue;
        int Number = 0;
        if (!DecimalToInt(Port.substr(3), Number)) continue;
        const UnicodeString Entry = WithValues ? Port + u"=" + TextUpToZero(Name, NameLen) : Port;
        AddPortSorted(Entry, Number, List);
    }
    RegCloseKey(Key);
}

void EnumFromSpooler(TStringList* List)
{
    DWORD Needed = 0;
    DWORD Returned = 0;
    if (EnumPortsW(nullptr, 1, nullptr, 0, &Needed, &Returned) || GetLastError() != ERROR_INSUFFICIENT_BUFFER) return;
    if (Needed == 0) return;
    std::vector<BYTE> Buffer(Needed);
    Returned = 0;
    if (!EnumPortsW(nullptr, 1, Buffer.data(), Needed, &Needed, &Returned)) return;
    const auto* Ports = reinterpret_cast<const PORT_INFO_1W*>(Buffer.data());
    for (DWORD i = 0; i < Returned; ++i) {
        UnicodeString Name = StrFromPWChar(Ports[i].pName);
        if (Pos(u"COM", Name) != 1) continue;
        const auto Colon = Name.find(u':');
        if (Colon != UnicodeString::npos) Name.erase(Colon, 1);
        Name = Trim(Name);
        int Number = 0;
        if (!DecimalToInt(Name.substr(3), Number)) continue;
        // The spooler knows no device names: always name=, whatever the caller asked.
        AddPortSorted(Name + u"=", Number, List);
    }
}

}  // namespace

bool DecimalToInt(const UnicodeString& S, int& Value)
{
    if (S.empty()) return false;
    long long V = 0;
    for (char16_t C : S) {
        if (C < u'0' || C > u'9') return false;
        V = V * 10 + (C - u'0');
        if (V > 0x7FFFFFFF) return false;
    }
    Value = static_cast<int>(V);
    return true;
}

void EnumComPortNames(TStringList* List, bool WithValues)
{
    if (!List) return;
    List->Clear();
    if (IsWin9xPlatform())
        EnumFromSpooler(List);
    else
        EnumFromSerialComm(List, WithValues);
}

void AddPortSorted(const UnicodeString& Entry, int Number, TStringList* List)
{
    if (!List || List->IndexOf(Entry) >= 0) return;
    int At = List->Count();
    for (int i = 0; i < List->Count(); ++i) {
        if (PortNumberOfEntry(List, i) > Number) {
            At = i;
            break;
        }
    }
    List->Insert(At, Entry);
    List->SetIntegers(At, Number);
}

int PortNumberOfEntry(const TStringList* List, int Index) { return static_cast<int>(List->Integers(Index)); }

void GetRegKeyName(HKEY Key, HKEY* Root, UnicodeString& Name)
{
    Name.clear();
    if (reinterpret_cast<HANDLE>(Key) == INVALID_HANDLE_VALUE) return;
    HMODULE NtDll = LoadLibraryW(PWChar(u"ntdll.dll"));
    if (!NtDll) return;
    const auto Query = reinterpret_cast<ZwQueryKeyProc>(reinterpret_cast<void*>(GetProcAddress(NtDll, "ZwQueryKey")));
    if (Query) {
        ULONG Needed = 0;
        Query(reinterpret_cast<HANDLE>(Key), KeyNameInformation, nullptr, 0, &Needed);
        if (Needed > 0) {
            const ULONG Size = Needed + 2;
            auto* Info = static_cast<BYTE*>(LocalAlloc(LMEM_ZEROINIT, Size));
            if (Info) {
                if (Query(reinterpret_cast<HANDLE>(Key), KeyNameInformation, Info, Size, &Needed) >= 0) {
                    // The name starts behind the 32-bit length; the two extra
                    // zeroed bytes end it even when the record has no terminator.
                    const std::size_t MaxChars = (Size - 4) / sizeof(WCHAR);
                    std::vector<WCHAR> Text(MaxChars);
                    std::memcpy(Text.data(), Info + 4, MaxChars * sizeof(WCHAR));
                    Name = TextUpToZero(Text.data(), MaxChars);
                }
                LocalFree(Info);
            }
        }
    }
    FreeLibrary(NtDll);
    if (!Root || Name.empty()) return;
    if (Pos(u"\\MACHINE\\", Name) == 10) {
        *Root = HKEY_LOCAL_MACHINE;
        Name.erase(0, 18);
    } else if (Pos(u"\\USER\\", Name) == 10) {
        *Root = HKEY_CURRENT_USER;
        Name.erase(0, 15);
        // Drop the user's security identifier: the rest is relative to the
        // current user's root.
        const auto Slash = Name.find(u'\\');
        if (Slash != UnicodeString::npos) Name.erase(0, Slash + 1);
    } else {
        *Root = nullptr;
    }
}

UnicodeString ReadRegString(HKEY Root, const UnicodeString& SubKey, const UnicodeString& ValueName)
{
    UnicodeString Result;
    HKEY Key = nullptr;
    if (RegOpenKeyExW(Root, PWChar(SubKey), 0, KEY_READ, &Key) != ERROR_SUCCESS) return Result;
    DWORD Type = 0;
    DWORD Size = 0;
    if (RegQueryValueExW(Key, PWChar(ValueName), nullptr, &Type, nullptr, &Size) != ERROR_SUCCESS) {
        RegCloseKey(Key);
        return Result;
    }
    // size + 1 characters: room for the data and a terminator whatever the type.
    std::vector<WCHAR> Buffer(static_cast<std::size_t>(Size) + 1, 0);
    DWORD Read = Size;
    if (RegQueryValueExW(Key, PWChar(ValueName), nullptr, &Type, reinterpret_cast<BYTE*>(Buffer.data()), &Read) ==
        ERROR_SUCCESS) {
        if (Read > Size) Read = Size;
        std::size_t Chars = Read / sizeof(WCHAR);
        if (Type == REG_SZ && Chars > 0 && Buffer[Chars - 1] == 0) --Chars;
        Result = StrFromPWChar(Buffer.data(), Chars);
    }
    RegCloseKey(Key);
    return Result;
}

UnicodeString TextUpToZero(const WCHAR* P, std::size_t Max)
{
    std::size_t Len = 0;
    while (Len < Max && P[Len] != 0) ++Len;
    return StrFromPWChar(P, Len);
}

UnicodeString JoinMultiString(const WCHAR* Buffer, int Count, const UnicodeString& Separator)
{
    UnicodeString Result;
    if (!Buffer || Count < 2) return Result;
    for (int i = 0; i <= Count - 2; ++i) {
        if (Buffer[i] != 0)
            Result += static_cast<char16_t>(Buffer[i]);
        else if (i == Count - 2)
            break;
        else
            Result += Separator;
    }
    return Result;
}

AnsiString WideEntryName(const AnsiString& Name)
{
    AnsiString Result = Name;
    if (!Result.empty()) Result.back() = 'W';
    return Result;
}
