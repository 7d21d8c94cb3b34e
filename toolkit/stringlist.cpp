// TStringList and file helpers.
#include "toolkit/classes.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <thread>

#include "platform/win32_errno.h"

namespace {
// Deletes the objects of entries taken out of an owning list.
template <class TItems>
void FreeObjects(const TItems& Items)
{
    for (auto& It : Items) delete It.Obj;
}
}  // namespace

TStringList::~TStringList()
{
    if (fOwnsObjects) FreeObjects(fItems);
}

void TStringList::CheckIndex(int Index) const
{
    if (Index < 0 || Index >= Count()) throw EStringListError(Format(RuntimeText::ListIndexError, {Index}));
}

void TStringList::Changed()
{
    if (OnChange) OnChange(this);
}

const UnicodeString& TStringList::Strings(int Index) const
{
    CheckIndex(Index);
    return fItems[static_cast<std::size_t>(Index)].Str;
}

void TStringList::SetStrings(int Index, const UnicodeString& S)
{
    CheckIndex(Index);
    fItems[static_cast<std::size_t>(Index)].Str = S;
    Changed();
}

TObject* TStringList::Objects(int Index) const
{
    CheckIndex(Index);
    return fItems[static_cast<std::size_t>(Index)].Obj;
}

void TStringList::SetObjects(int Index, TObject* Object)
{
    CheckIndex(Index);
    fItems[static_cast<std::size_t>(Index)].Obj = Object;
    Changed();
}

std::intptr_t TStringList::Integers(int Index) const { return reinterpret_cast<std::intptr_t>(Objects(Index)); }

void TStringList::SetIntegers(int Index, std::intptr_t Value) { SetObjects(Index, reinterpret_cast<TObject*>(Value)); }

int TStringList::Add(const UnicodeString& S) { return AddObject(S, nullptr); }

int TStringList::AddObject(const UnicodeString& S, TObject* Object)
{
    int Index = Count();
    if (fSorted) {
        if (Find(S, Index)) {
            switch (fDuplicates) {
            case dupIgnore: return Index;
            case dupError: throw EStringListError(RuntimeText::DuplicateString);
            case dupAccept: break;
            }
        }
    }
    InsertItem(Index, S, Object);
    return Index;
}

int TStringList::AddInteger(const UnicodeString& S, std::intptr_t Value)
{
    return AddObject(S, reinterpret_cast<TObject*>(Value));
}

void TStringList::Insert(int Index, const UnicodeString& S) { InsertObject(Index, S, nullptr); }

void TStringList::InsertObject(int Index, const UnicodeString& S, TObject* Object)
{
    if (fSorted) throw EStringListError(u"Operation für sortierte Liste nicht zulässig");
    // Inserting at Count appends; anything past it is a bad index.
    if (Index < 0 || Index > Count()) throw EStringListError(Format(RuntimeText::ListIndexError, {Index}));
    InsertItem(Index, S, Object);
}

void TStringList::InsertItem(int Index, const UnicodeString& S, TObject* Object)
{
    fItems.insert(fItems.begin() + Index, TItem{S, Object});
    Changed();
}

void TStringList::Delete(int Index)
{
    CheckIndex(Index);
    TObject* Obj = fItems[static_cast<std::size_t>(Index)].Obj;
    fItems.erase(fItems.begin() + Index);
    if (fOwnsObjects) delete Obj;
    Changed();
}

void TStringList::Clear()
{
    if (fItems.empty()) return;
    std::vector<TItem> Old;
    Old.swap(fItems);
    if (fOwnsObjects) FreeObjects(Old);
    Changed();
}

void TStringList::Move(int CurIndex, int NewIndex)
{
    if (CurIndex == NewIndex) return;
    CheckIndex(CurIndex);
    CheckIndex(NewIndex);
    TItem It = std::move(fItems[static_cast<std::size_t>(CurIndex)]);
    fItems.erase(fItems.begin() + CurIndex);
    fItems.insert(fItems.begin() + NewIndex, std::move(It));
    Changed();
}

int TStringList::CompareStrings(const UnicodeString& A, const UnicodeString& B) const
{
    return fCaseSensitive ? CompareStr(A, B) : CompareText(A, B);
}

int TStringList::IndexOf(const UnicodeString& S) const
{
    if (fSorted) {
        int Index = 0;
        return Find(S, Index) ? Index : -1;
    }
    for (int I = 0; I < Count(); ++I)
        if (CompareStrings(fItems[static_cast<std::size_t>(I)].Str, S) == 0) return I;
    return -1;
}

int TStringList::IndexOfObject(const TObject* Object) const
{
    for (int I = 0; I < Count(); ++I)
        if (fItems[static_cast<std::size_t>(I)].Obj == Object) return I;
    return -1;
}

UnicodeString TStringList::Names(int Index) const
{
    const UnicodeString& S = Strings(Index);
    auto P = S.find(u'=');
    return P == UnicodeString::npos ? UnicodeString() : S.substr(0, P);
}

UnicodeString TStringList::ValueFromIndex(int Index) const
{
    const UnicodeString& S = Strings(Index);
    auto P = S.find(u'=');
    return P == UnicodeString::npos ? UnicodeString() : S.substr(P + 1);
}

int TStringList::IndexOfName(const UnicodeString& Name) const
{
    for (int I = 0; I < Count(); ++I) {
        const UnicodeString& S = fItems[static_cast<std::size_t>(I)].Str;
        auto P = S.find(u'=');
        if (P != UnicodeString::npos && CompareStrings(S.substr(0, P), Name) == 0) return I;
    }
    return -1;
}

UnicodeString TStringList::Values(const UnicodeString& Name) const
{
    int I = IndexOfName(Name);
    return I < 0 ? UnicodeString() : ValueFromIndex(I);
}

void TStringList::SetValues(const UnicodeString& Name, const UnicodeString& Value)
{
    int I = IndexOfName(Name);
    if (Value.empty()) {
        if (I >= 0) Delete(I);
        return;
    }
    if (I < 0)
        Add(Name + u"=" + Value);
    else
        SetStrings(I, Name + u"=" + Value);
}

void TStringList::SetSorted(bool Value)
{
    if (Value == fSorted) return;
    if (Value) Sort();
    fSorted = Value;
}

void TStringList::SetCaseSensitive(bool Value)
{
    if (Value == fCaseSensitive) return;
    fCaseSensitive = Value;
    if (fSorted) Sort();
}

void TStringList::Sort()
{
    std::stable_sort(fItems.begin(), fItems.end(),
                     [this](const TItem& A, const TItem& B) { return CompareStrings(A.Str, B.Str) < 0; });
    Changed();
}

bool TStringList::Find(const UnicodeString& S, int& Index) const
{
    int L = 0, H = Count() - 1;
    bool Found = false;
    while (L <= H) {
        int M = (L + H) / 2;
        int C = CompareStrings(fItems[static_cast<std::size_t>(M)].Str, S);
        if (C < 0) {
            L = M + 1;
        } else {
            H = M - 1;
            if (C == 0) {
                Found = true;
                if (fDuplicates != dupAccept) L = M;
            }
        }
    }
    Index = L;
    return Found;
}

UnicodeString TStringList::Text() const
{
    UnicodeString R;
    for (const auto& It : fItems) {
        R += It.Str;
        R += u"\r\n";
    }
    return R;
}

void TStringList::SetText(const UnicodeString& S)
{
    std::vector<TItem> Old;
    Old.swap(fItems);
    if (fOwnsObjects) FreeObjects(Old);
    std::size_t I = 0;
    while (I < S.size()) {
        std::size_t B = I;
        while (I < S.size() && S[I] != u'\r' && S[I] != u'\n') ++I;
        fItems.push_back(TItem{S.substr(B, I - B), nullptr});
        if (I < S.size() && S[I] == u'\r') ++I;
        if (I < S.size() && S[I] == u'\n') ++I;
    }
    if (fSorted) Sort();
    Changed();
}

UnicodeString TStringList::CommaText() const
{
    UnicodeString R;
    for (int I = 0; I < Count(); ++I) {
        const UnicodeString& S = fItems[static_cast<std::size_t>(I)].Str;
        if (I) R += u',';
        bool Quote = S.empty() || S.find_first_of(u" ,\"") != UnicodeString::npos ||
                     std::any_of(S.begin(), S.end(), [](char16_t C) { return C < u' '; });
        if (!Quote) {
            R += S;
            continue;
        }
        R += u'"';
        for (char16_t C : S) {
            if (C == u'"') R += u'"';
            R += C;
        }
        R += u'"';
    }
    return R;
}

void TStringList::SetCommaText(const UnicodeString& S)
{
    Clear();
    std::size_t I = 0, N = S.size();
    auto SkipBlanks = [&] {
        while (I < N && S[I] > 0 && S[I] <= u' ') ++I;
    };
    SkipBlanks();
    while (I < N) {
        UnicodeString Item;
        if (S[I] == u'"') {
            ++I;
            while (I < N) {
                if (S[I] == u'"') {
                    if (I + 1 < N && S[I + 1] == u'"') {
                        Item += u'"';
                        I += 2;
                        continue;
                    }
                    ++I;
                    break;
                }
                Item += S[I++];
            }
        } else {
            while (I < N && S[I] > u' ' && S[I] != u',') Item += S[I++];
        }
        Add(Item);
        SkipBlanks();
        if (I < N && S[I] == u',') {
            ++I;
            SkipBlanks();
            if (I >= N) Add(UnicodeString());
        }
    }
}

// ---------------------------------------------------------------------------
// Files

namespace {

std::filesystem::path ToPath(const UnicodeString& FileName)
{
#ifdef _WIN32
    return std::filesystem::path(std::wstring(FileName.begin(), FileName.end()));
#else
    return std::filesystem::path(UnicodeToUtf8(FileName));
#endif
}

// Why a file could not be opened, in the system's words. errno after a failed
// open is not portable enough to rely on alone, so the path is inspected too.
UnicodeString OpenFailureReason(const std::filesystem::path& P, int Err, bool ForWriting)
{
    std::error_code Ec;
    const auto Parent = P.parent_path();
    const bool NoFolder = !Parent.empty() && !std::filesystem::exists(Parent, Ec);
    if (!ForWriting && !std::filesystem::exists(P, Ec)) return FileErrorReason(NoFolder ? ENOTDIR : ENOENT);
    if (ForWriting && NoFolder) return FileErrorReason(ENOTDIR);
    if (std::filesystem::is_directory(P, Ec)) return FileErrorReason(EACCES);
    return FileErrorReason(Err ? Err : EACCES);
}

}  // namespace

UnicodeString FileErrorReason(int ErrnoValue)
{
    // Where the file functions of Windows report a code of their own.
    switch (ErrnoValue) {
    case EBUSY: return SystemErrorText(ERROR_SHARING_VIOLATION);
    case EFBIG: return SystemErrorText(ERROR_DISK_FULL);
    case ENAMETOOLONG:
    case EINVAL: return SystemErrorText(ERROR_INVALID_NAME);
    default: return SystemErrorText(platform::ErrorFromErrno(ErrnoValue));
    }
}

std::string ReadFileBytes(const UnicodeString& FileName)
{
    auto P = ToPath(FileName);
    errno = 0;
    std::ifstream In(P, std::ios::binary);
    if (!In || std::filesystem::is_directory(P)) {
        int Err = errno;
        throw EFOpenError(Format(RuntimeText::FOpenError, {FileName, OpenFailureReason(P, Err, false)}));
    }
    std::string Bytes((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
    if (In.bad()) throw EInOutError(100);  // the runtime's read error
    return Bytes;
}

namespace {

// A name for a temporary file beside Target that no other writer picks.
std::filesystem::path TemporaryBeside(const std::filesystem::path& Target)
{
    static std::atomic<unsigned> Counter{0};
    const auto Stamp = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
    const auto Unique = Stamp ^ (std::hash<std::thread::id>()(std::this_thread::get_id()) << 1) ^ Counter++;
    char Suffix[24];
    std::snprintf(Suffix, sizeof Suffix, ".%016llx", Unique);
    auto Name = Target.filename();
    Name += Suffix;
    Name += ".tmp";
    return Target.parent_path() / Name;
}

}  // namespace

void WriteFileBytes(const UnicodeString& FileName, std::string_view Bytes)
{
    auto P = ToPath(FileName);
    auto CreateError = [&](int Err) {
        return EFCreateError(Format(RuntimeText::FCreateError, {FileName, OpenFailureReason(P, Err, true)}));
    };
    std::error_code Ec;
    // A link is followed: the file it names is replaced, the link stays.
    if (std::filesystem::is_symlink(P, Ec))
        if (auto Target = std::filesystem::canonical(P, Ec); !Ec) P = Target;
    // An existing file must be writable in place, as a file opened for
    // writing would have to be, even though it is replaced by rename.
    const bool Existed = std::filesystem::exists(P, Ec);
    if (Existed) {
        errno = 0;
        std::ofstream Probe(P, std::ios::binary | std::ios::app);
        if (!Probe || std::filesystem::is_directory(P, Ec)) throw CreateError(errno);
    }
    // The bytes go to a temporary file first, which replaces the old one only
    // once all of them are written: a failed write (disk full, quota, I/O
    // error) leaves the old content as it was.
    const auto Temporary = TemporaryBeside(P);
    errno = 0;
    std::ofstream Out(Temporary, std::ios::binary | std::ios::trunc);
    if (!Out) throw CreateError(errno);
    Out.write(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
    Out.flush();
    if (Out) Out.close();
    int Err = errno;
    if (Out) {
        if (Existed) std::filesystem::permissions(Temporary, std::filesystem::status(P, Ec).permissions(), Ec);
        std::filesystem::rename(Temporary, P, Ec);
        if (!Ec) return;
        Err = Ec.default_error_condition().value();
    }
    std::filesystem::remove(Temporary, Ec);
    throw CreateError(Err);
}

void TStringList::LoadFromFile(const UnicodeString& FileName)
{
    std::string B = ReadFileBytes(FileName);
    UnicodeString Text;
    if (B.size() >= 3 && static_cast<unsigned char>(B[0]) == 0xEF && static_cast<unsigned char>(B[1]) == 0xBB &&
        static_cast<unsigned char>(B[2]) == 0xBF) {
        Text = Utf8ToUnicode(std::string_view(B).substr(3));
    } else if (B.size() >= 2 &&
               ((static_cast<unsigned char>(B[0]) == 0xFF && static_cast<unsigned char>(B[1]) == 0xFE) ||
                (static_cast<unsigned char>(B[0]) == 0xFE && static_cast<unsigned char>(B[1]) == 0xFF))) {
        // UTF-16; the byte-order mark says which byte of a unit comes first.
        const std::size_t Low = static_cast<unsigned char>(B[0]) == 0xFF ? 0 : 1;
        for (std::size_t I = 2; I + 1 < B.size(); I += 2)
            Text += static_cast<char16_t>(static_cast<unsigned char>(B[I + Low]) |
                                          (static_cast<unsigned char>(B[I + 1 - Low]) << 8));
    } else {
        Text = AnsiToUnicode(B);
    }
    SetText(Text);
}

void TStringList::SaveToFile(const UnicodeString& FileName) const { WriteFileBytes(FileName, UnicodeToAnsi(Text())); }

UnicodeString ExtractFilePath(const UnicodeString& FileName)
{
    auto P = FileName.find_last_of(u"/\\:");
    return P == UnicodeString::npos ? UnicodeString() : FileName.substr(0, P + 1);
}

UnicodeString ExtractFileName(const UnicodeString& FileName)
{
    auto P = FileName.find_last_of(u"/\\:");
    return P == UnicodeString::npos ? FileName : FileName.substr(P + 1);
}

bool FileExists(const UnicodeString& FileName)
{
    std::error_code Ec;
    return std::filesystem::is_regular_file(ToPath(FileName), Ec);
}
