// The registry's store file.
//
// File format (UTF-8, one item a line):
//   SPECTRO-REGISTRY 1
//   [HKEY_CURRENT_USER\Software\Example]
//   "Name"=<type>:<hex bytes>
// Names escape '%', '"', ']', control characters and lone surrogates as %XX
// and come back exactly as they were created. Anything else in the file
// (raw control bytes or delimiters in a name, invalid UTF-8, an empty key
// name part, a key or value twice) makes it corrupt: it is then reported once
// and never written.
#include "platform/posix/registry_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>

#include "platform/posix/text.h"
#include "platform/posix/win32_errors.h"

namespace winapi_posix {

namespace {

enum class LoadStatus { Ok, Corrupt, IoError };

struct Loaded {
    LoadStatus status = LoadStatus::Ok;
    StoreData data;
    int corruptLine = 0;
};

const char kHeader[] = "SPECTRO-REGISTRY 1";

std::u16string HiveTag(Hive h) { return h == Hive::Machine ? u"M" : u"U"; }
const char* HiveName(Hive h) { return h == Hive::Machine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER"; }

// Names in the file are UTF-8 with '%', '"', ']', control bytes, DEL and the
// bytes of lone surrogates (which UTF-8 cannot carry) escaped as %XX, so
// every name the API accepts comes back exactly. The reader accepts only what
// the writer could have produced: a raw control byte or delimiter, invalid
// UTF-8, an escaped NUL (no API name has one) make the store corrupt.
bool NeedsEscape(unsigned char c) { return c < 0x20 || c == '%' || c == '"' || c == ']' || c == 0x7F; }

std::string EncodeName(std::u16string_view name)
{
    const std::string bytes = ToUtf8KeepingSurrogates(name);
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        // 0xED then 0xA0..0xBF starts the 3-byte form of a lone surrogate.
        std::size_t escaped = c == 0xED && i + 1 < bytes.size() && static_cast<unsigned char>(bytes[i + 1]) >= 0xA0 ? 3
                              : NeedsEscape(c)                                                                      ? 1
                                                                                                                    : 0;
        if (escaped == 0) {
            out += char(c);
            continue;
        }
        for (std::size_t k = 0; k < escaped; ++k) {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", static_cast<unsigned char>(bytes[i + k]));
            out += buf;
        }
        i += escaped - 1;
    }
    return out;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool DecodeName(std::string_view raw, std::u16string* name)
{
    std::u16string ignored;
    if (!FromUtf8Exact(raw, false, &ignored)) return false;
    std::string bytes;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const auto c = static_cast<unsigned char>(raw[i]);
        if (c != '%') {
            if (NeedsEscape(c)) return false;
            bytes += char(c);
            continue;
        }
        if (i + 2 >= raw.size()) return false;
        int hi = HexDigit(raw[i + 1]), lo = HexDigit(raw[i + 2]);
        if (hi < 0 || lo < 0) return false;
        bytes += char(hi * 16 + lo);
        i += 2;
    }
    return FromUtf8Exact(bytes, true, name) && name->find(u'\0') == std::u16string::npos;
}

bool ParseStore(const std::string& text, StoreData* data, int* badLine)
{
    std::istringstream in(text);
    std::string line;
    int lineNo = 0;
    StoreKey* current = nullptr;
    bool header = false;
    while (std::getline(in, line)) {
        ++lineNo;
        *badLine = lineNo;
        if (!header) {
            if (line != kHeader) return false;
            header = true;
            continue;
        }
        if (line.empty()) continue;
        if (line.front() == '[') {
            std::u16string name;
            if (line.back() != ']' || !DecodeName(std::string_view(line).substr(1, line.size() - 2), &name))
                return false;
            Hive hive;
            auto slash = name.find(u'\\');
            std::u16string rootName = name.substr(0, slash);
            if (rootName == u"HKEY_LOCAL_MACHINE")
                hive = Hive::Machine;
            else if (rootName == u"HKEY_CURRENT_USER")
                hive = Hive::User;
            else
                return false;
            if (slash == std::u16string::npos) return false;
            std::u16string path = name.substr(slash + 1);
            // Every part named: a key listed by its parent can be opened by that name.
            if (path.empty() || path.front() == u'\\' || path.back() == u'\\' ||
                path.find(u"\\\\") != std::u16string::npos)
                return false;
            auto [it, added] = data->try_emplace(StoreId(hive, path));
            if (!added) return false;  // the same key twice
            it->second.path = path;
            current = &it->second;
            continue;
        }
        if (line.front() != '"' || !current) return false;
        auto close = line.find('"', 1);
        if (close == std::string::npos || line.compare(close, 2, "\"=") != 0) return false;
        RegValue v;
        if (!DecodeName(std::string_view(line).substr(1, close - 1), &v.Name)) return false;
        if (FindValue(current->values, v.Name)) return false;  // the same value twice
        std::string rest = line.substr(close + 2);
        auto colon = rest.find(':');
        if (colon == std::string::npos || colon == 0) return false;
        unsigned long type = 0;
        for (std::size_t i = 0; i < colon; ++i) {
            if (rest[i] < '0' || rest[i] > '9') return false;
            type = type * 10 + unsigned(rest[i] - '0');
            if (type > 0xFFFFFFFFul) return false;
        }
        v.Type = DWORD(type);
        std::string hex = rest.substr(colon + 1);
        if (hex.size() % 2) return false;
        for (std::size_t i = 0; i < hex.size(); i += 2) {
            int hi = HexDigit(hex[i]), lo = HexDigit(hex[i + 1]);
            if (hi < 0 || lo < 0) return false;
            v.Data.push_back(BYTE(hi * 16 + lo));
        }
        current->values.push_back(std::move(v));
    }
    *badLine = 0;
    return header || lineNo == 0;
}

std::string SerializeStore(const StoreData& data)
{
    std::string out = std::string(kHeader) + "\n";
    for (Hive hive : {Hive::Machine, Hive::User}) {
        for (const auto& [id, key] : data) {
            if (id.substr(0, 1) != HiveTag(hive)) continue;
            out += "\n[" + std::string(HiveName(hive)) + "\\" + EncodeName(key.path) + "]\n";
            for (const auto& v : key.values) {
                out += "\"" + EncodeName(v.Name) + "\"=" + std::to_string(v.Type) + ":";
                static const char digits[] = "0123456789abcdef";
                for (BYTE b : v.Data) {
                    out += digits[b >> 4];
                    out += digits[b & 15];
                }
                out += "\n";
            }
        }
    }
    return out;
}

struct FileSignature {
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    long long mtimeNs = 0;
    bool operator==(const FileSignature&) const = default;
};

FileSignature SignatureOf(const std::string& path)
{
    FileSignature sig;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return sig;
    sig.exists = true;
    sig.dev = st.st_dev;
    sig.ino = st.st_ino;
    sig.size = st.st_size;
    sig.mtimeNs = (long long)st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
    return sig;
}

std::mutex g_storeMutex;
struct Cache {
    std::string path;
    FileSignature signature;
    Loaded loaded;
    bool valid = false;
    std::string reportedCorrupt;  // "path|signature" last reported
} g_cache;

Loaded ReadStoreFile(const std::string& path)
{
    Loaded result;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (errno == ENOENT) return result;  // no store yet: empty
        result.status = LoadStatus::IoError;
        return result;
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) {
        result.status = LoadStatus::IoError;
        return result;
    }
    if (!ParseStore(buffer.str(), &result.data, &result.corruptLine)) {
        result.status = LoadStatus::Corrupt;
        result.data.clear();
    }
    return result;
}

void ReportCorrupt(const std::string& path, const FileSignature& sig, int line)
{
    std::string tag = path + "|" + std::to_string(sig.ino) + "|" + std::to_string(sig.mtimeNs);
    if (g_cache.reportedCorrupt == tag) return;
    g_cache.reportedCorrupt = tag;
    std::fprintf(stderr, "registry: store %s is corrupt (line %d); it is left untouched and not written\n",
                 path.c_str(), line);
}

// Current store contents (caller holds g_storeMutex).
const Loaded& CurrentStore()
{
    std::string path = RegistryStorePath();
    FileSignature sig = SignatureOf(path);
    if (!g_cache.valid || g_cache.path != path || !(g_cache.signature == sig)) {
        g_cache.loaded = ReadStoreFile(path);
        g_cache.path = path;
        g_cache.signature = sig;
        g_cache.valid = true;
    }
    if (g_cache.loaded.status == LoadStatus::Corrupt) ReportCorrupt(path, sig, g_cache.loaded.corruptLine);
    return g_cache.loaded;
}

LONG StoreError(LoadStatus s) { return s == LoadStatus::Corrupt ? ERROR_BADDB : ERROR_REGISTRY_IO_FAILED; }

bool MakeParents(const std::string& path)
{
    for (std::size_t pos = 1; (pos = path.find('/', pos)) != std::string::npos; ++pos) {
        std::string dir = path.substr(0, pos);
        if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return true;
}

}  // namespace

std::string RegistryStorePath()
{
    if (const char* env = std::getenv("SPECTRO_REGISTRY"); env && *env) return env;
    std::string base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
        base = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = std::string(home) + "/.config";
    else
        base = "/tmp/spectrometer-" + std::to_string(::getuid());
    return base + "/spectrometer/registry";
}

std::u16string StoreId(Hive h, const std::u16string& path) { return HiveTag(h) + u"\\" + UpperAscii(path); }

const RegValue* FindValue(const std::vector<RegValue>& values, std::u16string_view name)
{
    for (const auto& v : values)
        if (EqualsNoCase(v.Name, name)) return &v;
    return nullptr;
}

LONG ReadStore(const std::function<LONG(const StoreData&)>& read)
{
    std::lock_guard lock(g_storeMutex);
    const Loaded& store = CurrentStore();
    if (store.status != LoadStatus::Ok) return StoreError(store.status);
    return read(store.data);
}

// Read-modify-write under an exclusive lock shared with other processes;
// the new contents replace the file by rename, so a crash leaves either the
// old or the new store, never half of one.
LONG ModifyStore(const std::function<LONG(StoreData&)>& change)
{
    std::lock_guard lock(g_storeMutex);
    std::string path = RegistryStorePath();
    if (!MakeParents(path)) return ERROR_REGISTRY_IO_FAILED;
    std::string lockPath = path + ".lock";
    int lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lockFd < 0) return ERROR_REGISTRY_IO_FAILED;
    while (::flock(lockFd, LOCK_EX) != 0 && errno == EINTR) {}
    struct Unlock {
        int fd;
        ~Unlock() { ::close(fd); }
    } unlock{lockFd};

    g_cache.valid = false;
    Loaded loaded = CurrentStore();
    if (loaded.status != LoadStatus::Ok) return StoreError(loaded.status);
    StoreData data = loaded.data;
    LONG rc = change(data);
    if (rc != ERROR_SUCCESS) return rc;

    std::string text = SerializeStore(data);
    std::string tmp = path + ".tmp." + std::to_string(::getpid());
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return ERROR_REGISTRY_IO_FAILED;
    bool ok = true;
    for (std::size_t done = 0; ok && done < text.size();) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            ok = false;
        else
            done += std::size_t(n);
    }
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (!ok || ::rename(tmp.c_str(), path.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return ERROR_REGISTRY_IO_FAILED;
    }
    std::string dir = path.substr(0, path.find_last_of('/') + 1);
    if (int dfd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    g_cache.valid = false;
    return ERROR_SUCCESS;
}

}  // namespace winapi_posix
