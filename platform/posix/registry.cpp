// Registry over a small text file, plus the read-only keys computed from the
// port map and the device tree, ZwQueryKey and GetVersionExW.
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
#include "platform/posix/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>

#include "platform/posix/handles.h"
#include "platform/posix/text.h"
#include "platform/posix/win32_errors.h"
#include "platform/posix/win32_kernel.h"
#include "platform/posix/win32_registry.h"

namespace winapi_posix {

std::vector<std::u16string> SplitKeyPath(const std::u16string& path) {
  std::vector<std::u16string> parts;
  std::u16string part;
  for (char16_t c : path) {
    if (c == u'\\') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

RegValue StringValue(const std::u16string& name, const std::u16string& text) {
  RegValue v;
  v.Name = name;
  v.Type = REG_SZ;
  v.Data.resize((text.size() + 1) * sizeof(char16_t));
  std::memcpy(v.Data.data(), text.c_str(), v.Data.size());
  return v;
}

namespace {

enum class Hive { Machine, User };

struct StoreKey {
  std::u16string path;  // as created, relative to the hive
  std::vector<RegValue> values;
};

// Folded "M\path" / "U\path" -> key. Ancestors are stored explicitly.
using StoreData = std::map<std::u16string, StoreKey>;

enum class LoadStatus { Ok, Corrupt, IoError };

struct Loaded {
  LoadStatus status = LoadStatus::Ok;
  StoreData data;
  int corruptLine = 0;
};

const char kHeader[] = "SPECTRO-REGISTRY 1";

std::u16string HiveTag(Hive h) { return h == Hive::Machine ? u"M" : u"U"; }
const char* HiveName(Hive h) { return h == Hive::Machine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER"; }

std::u16string StoreId(Hive h, const std::u16string& path) {
  return HiveTag(h) + u"\\" + UpperAscii(path);
}

const RegValue* FindValue(const std::vector<RegValue>& values, std::u16string_view name) {
  for (const auto& v : values)
    if (EqualsNoCase(v.Name, name)) return &v;
  return nullptr;
}

// Names in the file are UTF-8 with '%', '"', ']', control bytes, DEL and the
// bytes of lone surrogates (which UTF-8 cannot carry) escaped as %XX, so
// every name the API accepts comes back exactly. The reader accepts only what
// the writer could have produced: a raw control byte or delimiter, invalid
// UTF-8, an escaped NUL (no API name has one) make the store corrupt.
bool NeedsEscape(unsigned char c) { return c < 0x20 || c == '%' || c == '"' || c == ']' || c == 0x7F; }

std::string EncodeName(std::u16string_view name) {
  const std::string bytes = ToUtf8KeepingSurrogates(name);
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    // 0xED then 0xA0..0xBF starts the 3-byte form of a lone surrogate.
    std::size_t escaped = c == 0xED && i + 1 < bytes.size() && static_cast<unsigned char>(bytes[i + 1]) >= 0xA0 ? 3
                          : NeedsEscape(c)                                                                    ? 1
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

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool DecodeName(std::string_view raw, std::u16string* name) {
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

bool ParseStore(const std::string& text, StoreData* data, int* badLine) {
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
      if (line.back() != ']' || !DecodeName(std::string_view(line).substr(1, line.size() - 2), &name)) return false;
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

std::string SerializeStore(const StoreData& data) {
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

FileSignature SignatureOf(const std::string& path) {
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

Loaded ReadStoreFile(const std::string& path) {
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

void ReportCorrupt(const std::string& path, const FileSignature& sig, int line) {
  std::string tag = path + "|" + std::to_string(sig.ino) + "|" + std::to_string(sig.mtimeNs);
  if (g_cache.reportedCorrupt == tag) return;
  g_cache.reportedCorrupt = tag;
  std::fprintf(stderr, "registry: store %s is corrupt (line %d); it is left untouched and not written\n",
               path.c_str(), line);
}

// Current store contents (caller holds g_storeMutex).
const Loaded& CurrentStore() {
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

LONG StoreError(LoadStatus s) {
  return s == LoadStatus::Corrupt ? ERROR_BADDB : ERROR_REGISTRY_IO_FAILED;
}

bool MakeParents(const std::string& path) {
  for (std::size_t pos = 1; (pos = path.find('/', pos)) != std::string::npos; ++pos) {
    std::string dir = path.substr(0, pos);
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return true;
}

// Read-modify-write under an exclusive lock shared with other processes;
// the new contents replace the file by rename, so a crash leaves either the
// old or the new store, never half of one.
LONG ModifyStore(const std::function<LONG(StoreData&)>& change) {
  std::lock_guard lock(g_storeMutex);
  std::string path = RegistryStorePath();
  if (!MakeParents(path)) return ERROR_REGISTRY_IO_FAILED;
  std::string lockPath = path + ".lock";
  int lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lockFd < 0) return ERROR_REGISTRY_IO_FAILED;
  while (::flock(lockFd, LOCK_EX) != 0 && errno == EINTR) {
  }
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

// ---- paths --------------------------------------------------------------

std::u16string Join(const std::vector<std::u16string>& parts, std::size_t from = 0, std::size_t to = SIZE_MAX) {
  std::u16string out;
  for (std::size_t i = from; i < parts.size() && i < to; ++i) {
    if (!out.empty()) out += u'\\';
    out += parts[i];
  }
  return out;
}

bool Is(const std::vector<std::u16string>& parts, std::size_t i, std::u16string_view name) {
  return i < parts.size() && EqualsNoCase(parts[i], name);
}

enum class Area { Store, SerialComm, DeviceMap, Hardware, EnumTree };

// Which part of the machine a path belongs to. HARDWARE is all computed; the
// Enum subtree comes from the device scan; everything else is the store.
Area AreaOf(Hive hive, const std::vector<std::u16string>& parts) {
  if (hive != Hive::Machine || parts.empty()) return Area::Store;
  if (Is(parts, 0, u"HARDWARE")) {
    if (parts.size() == 1) return Area::Hardware;
    if (Is(parts, 1, u"DEVICEMAP")) {
      if (parts.size() == 2) return Area::DeviceMap;
      if (Is(parts, 2, u"SERIALCOMM") && parts.size() == 3) return Area::SerialComm;
    }
    return Area::Hardware;  // below HARDWARE: nothing else exists
  }
  if (Is(parts, 0, u"SYSTEM") && Is(parts, 1, u"CurrentControlSet") && Is(parts, 2, u"Enum")) return Area::EnumTree;
  return Area::Store;
}

// SYSTEM and SYSTEM\CurrentControlSet exist above the computed Enum tree
// even when the store has no entry for them.
bool IsImpliedKey(Hive hive, const std::vector<std::u16string>& parts) {
  if (hive != Hive::Machine || parts.empty() || parts.size() > 2 || !Is(parts, 0, u"SYSTEM")) return false;
  return parts.size() == 1 || Is(parts, 1, u"CurrentControlSet");
}

std::vector<RegValue> SerialCommValues() {
  std::vector<RegValue> values;
  for (const auto& e : PlatformPortMap()) values.push_back(StringValue(e.KernelName, e.ComName));
  return values;
}

// ---- keys ---------------------------------------------------------------

struct RegKey : KernelObject {
  Hive hive = Hive::Machine;
  std::u16string path;  // relative to the hive, display case
  REGSAM access = 0;
  bool computed = false;
  std::vector<RegValue> values;      // snapshot of a computed key
  std::vector<std::u16string> subkeys;  // snapshot of a computed key
};

struct KeyRef {
  Hive hive = Hive::Machine;
  std::u16string path;
  REGSAM access = KEY_ALL_ACCESS;
  std::shared_ptr<RegKey> key;  // null for a predefined root
};

bool ResolveHandle(HKEY h, KeyRef* ref) {
  if (h == HKEY_LOCAL_MACHINE || h == HKEY_CURRENT_USER) {
    ref->hive = h == HKEY_LOCAL_MACHINE ? Hive::Machine : Hive::User;
    ref->path.clear();
    ref->access = KEY_ALL_ACCESS;
    ref->key = nullptr;
    return true;
  }
  auto key = LookupAs<RegKey>(reinterpret_cast<HANDLE>(h));
  if (!key) return false;
  ref->hive = key->hive;
  ref->path = key->path;
  ref->access = key->access;
  ref->key = key;
  return true;
}

// Builds the key object for an existing path, or returns the error.
LONG OpenPath(Hive hive, const std::vector<std::u16string>& parts, REGSAM access, std::shared_ptr<RegKey>* out) {
  auto key = std::make_shared<RegKey>();
  key->hive = hive;
  key->access = access;
  Area area = AreaOf(hive, parts);
  switch (area) {
    case Area::Hardware:
      if (parts.size() != 1) return ERROR_FILE_NOT_FOUND;
      key->computed = true;
      key->path = u"HARDWARE";
      key->subkeys = {u"DEVICEMAP"};
      break;
    case Area::DeviceMap:
      key->computed = true;
      key->path = u"HARDWARE\\DEVICEMAP";
      if (!PlatformPortMap().empty()) key->subkeys = {u"SERIALCOMM"};
      break;
    case Area::SerialComm:
      key->values = SerialCommValues();
      // A machine without serial ports has no SERIALCOMM key at all.
      if (key->values.empty()) return ERROR_FILE_NOT_FOUND;
      key->computed = true;
      key->path = u"HARDWARE\\DEVICEMAP\\SERIALCOMM";
      break;
    case Area::EnumTree: {
      std::u16string rest = Join(parts, 3);
      if (!EnumTreeKey(rest, &key->values, &key->subkeys)) return ERROR_FILE_NOT_FOUND;
      key->computed = true;
      key->path = u"SYSTEM\\CurrentControlSet\\Enum";
      if (!rest.empty()) key->path += u"\\" + rest;
      break;
    }
    case Area::Store: {
      if (parts.empty()) break;  // the hive root
      std::lock_guard lock(g_storeMutex);
      const Loaded& store = CurrentStore();
      if (store.status != LoadStatus::Ok) return StoreError(store.status);
      std::u16string joined = Join(parts);
      auto it = store.data.find(StoreId(hive, joined));
      if (it != store.data.end()) {
        key->path = it->second.path;
      } else if (IsImpliedKey(hive, parts)) {
        key->path = parts.size() == 1 ? u"SYSTEM" : u"SYSTEM\\CurrentControlSet";  // above Enum
      } else {
        return ERROR_FILE_NOT_FOUND;
      }
      break;
    }
  }
  *out = std::move(key);
  return ERROR_SUCCESS;
}

LONG SplitSubKey(const KeyRef& base, LPCWSTR subKey, std::vector<std::u16string>* parts) {
  *parts = SplitKeyPath(base.path);
  if (subKey && *subKey) {
    if (subKey[0] == u'\\') return ERROR_BAD_PATHNAME;
    for (auto& p : SplitKeyPath(subKey)) parts->push_back(p);
  }
  return ERROR_SUCCESS;
}

// Values of a key as they are now (store keys are read afresh).
LONG CurrentValues(const KeyRef& ref, std::vector<RegValue>* values) {
  if (ref.key && ref.key->computed) {
    *values = ref.key->values;
    return ERROR_SUCCESS;
  }
  if (ref.path.empty()) {
    values->clear();
    return ERROR_SUCCESS;
  }
  std::lock_guard lock(g_storeMutex);
  const Loaded& store = CurrentStore();
  if (store.status != LoadStatus::Ok) return StoreError(store.status);
  auto it = store.data.find(StoreId(ref.hive, ref.path));
  if (it == store.data.end()) {
    if (IsImpliedKey(ref.hive, SplitKeyPath(ref.path))) {
      values->clear();
      return ERROR_SUCCESS;
    }
    return ERROR_KEY_DELETED;
  }
  *values = it->second.values;
  return ERROR_SUCCESS;
}

// Copies data out with Windows' size rules.
LONG CopyData(const RegValue& v, LPDWORD type, LPBYTE data, LPDWORD size) {
  if (type) *type = v.Type;
  if (!size) return data ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
  DWORD needed = DWORD(v.Data.size());
  if (data) {
    if (*size < needed) {
      *size = needed;
      return ERROR_MORE_DATA;
    }
    if (needed) std::memcpy(data, v.Data.data(), needed);
  }
  *size = needed;
  return ERROR_SUCCESS;
}

// Copies a name out with its terminator; *chars becomes its length.
LONG CopyName(const std::u16string& name, LPWSTR out, LPDWORD chars) {
  if (*chars < name.size() + 1) return ERROR_MORE_DATA;
  std::memcpy(out, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
  *chars = DWORD(name.size());
  return ERROR_SUCCESS;
}

std::optional<DWORD> g_platformIdOverride;
std::mutex g_hookMutex;
std::function<std::vector<PortMapEntry>()> g_portMapSource;

}  // namespace

std::string RegistryStorePath() {
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

std::vector<PortMapEntry> PlatformPortMap() {
  std::function<std::vector<PortMapEntry>()> source;
  {
    std::lock_guard lock(g_hookMutex);
    source = g_portMapSource;
  }
  if (source) return source();
  return CurrentPortMap();
}

void SetPortMapForTesting(std::function<std::vector<PortMapEntry>()> source) {
  std::lock_guard lock(g_hookMutex);
  g_portMapSource = std::move(source);
}

void SetPlatformIdForTesting(DWORD platformId) {
  std::lock_guard lock(g_hookMutex);
  g_platformIdOverride = platformId;
}

void ResetPlatformIdForTesting() {
  std::lock_guard lock(g_hookMutex);
  g_platformIdOverride.reset();
}

std::u16string CurrentUserSid() {
  // A fixed machine part; the relative id follows the POSIX user like a
  // local account's would.
  return FromUtf8("S-1-5-21-2581409223-1563417498-3189652071-" + std::to_string(1000 + ::getuid()));
}

std::u16string NativeKeyName(HKEY h, bool* ok) {
  KeyRef ref;
  *ok = ResolveHandle(h, &ref);
  if (!*ok) return {};
  std::u16string name = ref.hive == Hive::Machine ? u"\\REGISTRY\\MACHINE" : u"\\REGISTRY\\USER\\" + CurrentUserSid();
  if (!ref.path.empty()) name += u"\\" + ref.path;
  return name;
}

}  // namespace winapi_posix

using namespace winapi_posix;

extern "C" {

LSTATUS WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
  if (!phkResult) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  KeyRef base;
  if (!ResolveHandle(hKey, &base)) return ERROR_INVALID_HANDLE;
  std::vector<std::u16string> parts;
  if (LONG rc = SplitSubKey(base, lpSubKey, &parts); rc != ERROR_SUCCESS) return rc;
  std::shared_ptr<RegKey> key;
  if (LONG rc = OpenPath(base.hive, parts, samDesired, &key); rc != ERROR_SUCCESS) return rc;
  if (key->computed && (samDesired & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY))) return ERROR_ACCESS_DENIED;
  *phkResult = reinterpret_cast<HKEY>(RegisterObject(key));
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD, REGSAM samDesired,
                               LPSECURITY_ATTRIBUTES, PHKEY phkResult, LPDWORD lpdwDisposition) {
  if (!phkResult) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  KeyRef base;
  if (!ResolveHandle(hKey, &base)) return ERROR_INVALID_HANDLE;
  std::vector<std::u16string> parts;
  if (LONG rc = SplitSubKey(base, lpSubKey, &parts); rc != ERROR_SUCCESS) return rc;
  std::shared_ptr<RegKey> key;
  LONG rc = OpenPath(base.hive, parts, samDesired, &key);
  if (rc == ERROR_SUCCESS) {
    if (key->computed && (samDesired & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY))) return ERROR_ACCESS_DENIED;
    if (lpdwDisposition) *lpdwDisposition = REG_OPENED_EXISTING_KEY;
    *phkResult = reinterpret_cast<HKEY>(RegisterObject(key));
    return ERROR_SUCCESS;
  }
  if (rc != ERROR_FILE_NOT_FOUND) return rc;
  if (parts.empty() || AreaOf(base.hive, parts) != Area::Store) return ERROR_ACCESS_DENIED;
  std::u16string path;
  rc = ModifyStore([&](StoreData& data) {
    std::u16string prefix;
    for (const auto& part : parts) {
      prefix = prefix.empty() ? part : prefix + u"\\" + part;
      auto& entry = data[StoreId(base.hive, prefix)];
      if (entry.path.empty()) entry.path = prefix;
      prefix = entry.path;  // keep the case the key was first created with
    }
    path = prefix;
    return LONG(ERROR_SUCCESS);
  });
  if (rc != ERROR_SUCCESS) return rc;
  key = std::make_shared<RegKey>();
  key->hive = base.hive;
  key->path = path;
  key->access = samDesired;
  if (lpdwDisposition) *lpdwDisposition = REG_CREATED_NEW_KEY;
  *phkResult = reinterpret_cast<HKEY>(RegisterObject(key));
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCloseKey(HKEY hKey) {
  if (hKey == HKEY_LOCAL_MACHINE || hKey == HKEY_CURRENT_USER) return ERROR_SUCCESS;
  if (!LookupAs<RegKey>(reinterpret_cast<HANDLE>(hKey))) return ERROR_INVALID_HANDLE;
  return UnregisterObject(reinterpret_cast<HANDLE>(hKey)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LSTATUS WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData,
                                LPDWORD lpcbData) {
  KeyRef ref;
  if (!ResolveHandle(hKey, &ref)) return ERROR_INVALID_HANDLE;
  if (!(ref.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  if (lpData && !lpcbData) return ERROR_INVALID_PARAMETER;
  std::vector<RegValue> values;
  if (LONG rc = CurrentValues(ref, &values); rc != ERROR_SUCCESS) return rc;
  const RegValue* v = FindValue(values, WideView(lpValueName));
  if (!v) return ERROR_FILE_NOT_FOUND;
  return CopyData(*v, lpType, lpData, lpcbData);
}

LSTATUS WINAPI RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName, LPDWORD,
                             LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  KeyRef ref;
  if (!ResolveHandle(hKey, &ref)) return ERROR_INVALID_HANDLE;
  if (!(ref.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  if (!lpValueName || !lpcchValueName || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
  std::vector<RegValue> values;
  if (LONG rc = CurrentValues(ref, &values); rc != ERROR_SUCCESS) return rc;
  if (dwIndex >= values.size()) return ERROR_NO_MORE_ITEMS;
  const RegValue& v = values[dwIndex];
  if (LONG rc = CopyName(v.Name, lpValueName, lpcchValueName); rc != ERROR_SUCCESS) return rc;
  return CopyData(v, lpType, lpData, lpcbData);
}

LSTATUS WINAPI RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD, LPWSTR,
                             LPDWORD, void*) {
  KeyRef ref;
  if (!ResolveHandle(hKey, &ref)) return ERROR_INVALID_HANDLE;
  if (!lpName || !lpcchName) return ERROR_INVALID_PARAMETER;
  std::vector<std::u16string> names;
  if (ref.key && ref.key->computed) {
    names = ref.key->subkeys;
  } else {
    std::lock_guard lock(g_storeMutex);
    const Loaded& store = CurrentStore();
    if (store.status != LoadStatus::Ok) return StoreError(store.status);
    std::u16string prefix = StoreId(ref.hive, ref.path);
    if (!ref.path.empty()) prefix += u"\\";
    for (const auto& [id, key] : store.data) {
      if (id.compare(0, prefix.size(), prefix) != 0) continue;
      std::u16string rest = id.substr(prefix.size());
      if (rest.empty() || rest.find(u'\\') != std::u16string::npos) continue;
      names.push_back(key.path.substr(key.path.size() - rest.size()));
    }
    if (ref.hive == Hive::Machine && ref.path.empty()) names.push_back(u"HARDWARE");
  }
  if (dwIndex >= names.size()) return ERROR_NO_MORE_ITEMS;
  return CopyName(names[dwIndex], lpName, lpcchName);
}

LSTATUS WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                              DWORD cbData) {
  KeyRef ref;
  if (!ResolveHandle(hKey, &ref)) return ERROR_INVALID_HANDLE;
  if (ref.key && ref.key->computed) return ERROR_ACCESS_DENIED;
  if (!(ref.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  if (ref.path.empty()) return ERROR_ACCESS_DENIED;  // no values on the hive roots
  if (!lpData && cbData) return ERROR_NOACCESS;
  RegValue value;
  value.Name = std::u16string(WideView(lpValueName));
  value.Type = dwType;
  if (cbData) value.Data.assign(lpData, lpData + cbData);
  return ModifyStore([&](StoreData& data) {
    auto it = data.find(StoreId(ref.hive, ref.path));
    if (it == data.end()) {
      if (!IsImpliedKey(ref.hive, SplitKeyPath(ref.path))) return LONG(ERROR_KEY_DELETED);
      if (ref.path.find(u'\\') != std::u16string::npos) data[StoreId(ref.hive, u"SYSTEM")].path = u"SYSTEM";
      it = data.emplace(StoreId(ref.hive, ref.path), StoreKey{ref.path, {}}).first;
    }
    auto& values = it->second.values;
    for (auto& v : values) {
      if (EqualsNoCase(v.Name, value.Name)) {
        v.Type = value.Type;
        v.Data = value.Data;
        return LONG(ERROR_SUCCESS);
      }
    }
    values.push_back(value);
    return LONG(ERROR_SUCCESS);
  });
}

LSTATUS WINAPI RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
  KeyRef ref;
  if (!ResolveHandle(hKey, &ref)) return ERROR_INVALID_HANDLE;
  if ((ref.key && ref.key->computed) || !(ref.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  std::u16string name(WideView(lpValueName));
  return ModifyStore([&](StoreData& data) {
    auto it = data.find(StoreId(ref.hive, ref.path));
    if (it == data.end()) return LONG(ref.path.empty() ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED);
    auto& values = it->second.values;
    for (auto v = values.begin(); v != values.end(); ++v) {
      if (EqualsNoCase(v->Name, name)) {
        values.erase(v);
        return LONG(ERROR_SUCCESS);
      }
    }
    return LONG(ERROR_FILE_NOT_FOUND);
  });
}

LSTATUS WINAPI RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) {
  KeyRef base;
  if (!ResolveHandle(hKey, &base)) return ERROR_INVALID_HANDLE;
  if (!lpSubKey || !*lpSubKey) return ERROR_INVALID_PARAMETER;  // Windows refuses to delete the open key itself
  std::vector<std::u16string> parts;
  if (LONG rc = SplitSubKey(base, lpSubKey, &parts); rc != ERROR_SUCCESS) return rc;
  if (parts.empty() || AreaOf(base.hive, parts) != Area::Store) return ERROR_ACCESS_DENIED;
  std::u16string id = StoreId(base.hive, Join(parts));
  return ModifyStore([&](StoreData& data) {
    auto it = data.find(id);
    if (it == data.end()) return LONG(ERROR_FILE_NOT_FOUND);
    std::u16string childPrefix = id + u"\\";
    for (const auto& entry : data)
      if (entry.first.compare(0, childPrefix.size(), childPrefix) == 0) return LONG(ERROR_ACCESS_DENIED);
    data.erase(it);
    return LONG(ERROR_SUCCESS);
  });
}

NTSTATUS NTAPI ZwQueryKey(HANDLE KeyHandle, int KeyInformationClass, PVOID KeyInformation, ULONG Length,
                          PULONG ResultLength) {
  if (KeyInformationClass != 3 /* KeyNameInformation */) return STATUS_INVALID_INFO_CLASS;
  if (!ResultLength) return STATUS_INVALID_PARAMETER;
  bool ok = false;
  std::u16string name = NativeKeyName(reinterpret_cast<HKEY>(KeyHandle), &ok);
  if (!ok) return STATUS_INVALID_HANDLE;
  const ULONG nameBytes = ULONG(name.size() * sizeof(WCHAR));
  const ULONG needed = sizeof(ULONG) + nameBytes;
  *ResultLength = needed;
  if (Length < sizeof(ULONG) || !KeyInformation) return STATUS_BUFFER_TOO_SMALL;
  auto* out = static_cast<BYTE*>(KeyInformation);
  std::memcpy(out, &nameBytes, sizeof nameBytes);
  ULONG room = Length - ULONG(sizeof(ULONG));
  std::memcpy(out + sizeof(ULONG), name.data(), room < nameBytes ? room : nameBytes);
  return room < nameBytes ? STATUS_BUFFER_OVERFLOW : STATUS_SUCCESS;
}

BOOL WINAPI GetVersionExW(LPOSVERSIONINFOW info) {
  if (!info || (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOW) &&
                info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOEXW))) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  DWORD size = info->dwOSVersionInfoSize;
  std::memset(reinterpret_cast<BYTE*>(info) + sizeof(DWORD), 0, size - sizeof(DWORD));
  // What Windows reports to a program without a compatibility manifest.
  info->dwMajorVersion = 6;
  info->dwMinorVersion = 2;
  info->dwBuildNumber = 9200;
  {
    std::lock_guard lock(g_hookMutex);
    info->dwPlatformId = g_platformIdOverride.value_or(VER_PLATFORM_WIN32_NT);
  }
  return TRUE;
}

}  // extern "C"
