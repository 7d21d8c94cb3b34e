// The registry store, its computed keys, ZwQueryKey, GetVersionExW, EnumPortsW.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <winapi.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "platform/posix/handles.h"
#include "platform_fixture.h"

namespace {

class Registry : public PlatformFixture {};

std::u16string KeyName(HKEY key)
{
    ULONG needed = 0;
    ZwQueryKey(key, KeyNameInformation, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed + 2, 0);
    if (ZwQueryKey(key, KeyNameInformation, buffer.data(), needed + 2, &needed) != STATUS_SUCCESS) return u"?";
    ULONG bytes;
    std::memcpy(&bytes, buffer.data(), 4);
    return std::u16string(reinterpret_cast<const char16_t*>(buffer.data() + 4), bytes / 2);
}

std::vector<std::pair<std::u16string, std::u16string>> EnumStrings(HKEY key)
{
    std::vector<std::pair<std::u16string, std::u16string>> out;
    for (DWORD i = 0;; ++i) {
        WCHAR name[260];
        BYTE data[260];
        DWORD nameLen = 260, dataLen = 260, type = 0;
        if (RegEnumValueW(key, i, name, &nameLen, nullptr, &type, data, &dataLen) != ERROR_SUCCESS) break;
        EXPECT_EQ(type, DWORD(REG_SZ));
        out.emplace_back(std::u16string(name, nameLen),
                         std::u16string(reinterpret_cast<char16_t*>(data), dataLen / 2 - 1));
    }
    return out;
}

TEST_F(Registry, ValuesRoundTripThroughTheStoreFile)
{
    const std::size_t handles = winapi_posix::OpenHandleCount();
    HKEY key = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Spectro\\Port", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, DWORD(REG_CREATED_NEW_KEY));
    BYTE blob[49];
    for (int i = 0; i < 49; ++i) blob[i] = BYTE(i * 7);
    ASSERT_EQ(RegSetValueExW(key, u"Settings", 0, REG_BINARY, blob, sizeof blob), ERROR_SUCCESS);
    const char16_t text[] = u"COM3 \"quoted\" %20 ]";
    ASSERT_EQ(RegSetValueExW(key, u"Name=\"odd\"", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text),
              ERROR_SUCCESS);
    RegCloseKey(key);

    // The file is the only memory: drop it and nothing is there.
    std::string saved = ReadFile(store_);
    ASSERT_FALSE(saved.empty());
    std::filesystem::remove(store_);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Spectro\\Port", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    WriteFile(store_, saved);

    // Paths and value names are case-insensitive.
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"SOFTWARE\\spectro\\PORT", 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD type = 0, size = 0;
    ASSERT_EQ(RegQueryValueExW(key, u"settings", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_BINARY));
    EXPECT_EQ(size, 49u);
    BYTE back[49] = {};
    DWORD small = 10;
    EXPECT_EQ(RegQueryValueExW(key, u"Settings", nullptr, nullptr, back, &small), ERROR_MORE_DATA);
    EXPECT_EQ(small, 49u);
    ASSERT_EQ(RegQueryValueExW(key, u"Settings", nullptr, nullptr, back, &size), ERROR_SUCCESS);
    EXPECT_EQ(std::memcmp(back, blob, 49), 0);

    WCHAR name[64];
    BYTE data[64];
    DWORD nameLen = 64, dataLen = 64;
    ASSERT_EQ(RegEnumValueW(key, 1, name, &nameLen, nullptr, &type, data, &dataLen), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(name, nameLen), u"Name=\"odd\"");
    EXPECT_EQ(dataLen, DWORD(sizeof text));
    EXPECT_EQ(std::memcmp(data, text, sizeof text), 0);
    nameLen = 3;
    EXPECT_EQ(RegEnumValueW(key, 0, name, &nameLen, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    nameLen = 64;
    EXPECT_EQ(RegEnumValueW(key, 2, name, &nameLen, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);

    // Opened read-only: writes are refused.
    EXPECT_EQ(RegSetValueExW(key, u"Settings", 0, REG_BINARY, blob, 1), ERROR_ACCESS_DENIED);
    RegCloseKey(key);

    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Spectro\\Port", 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueW(key, u"Settings"), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExW(key, u"Settings", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValueW(key, u"Settings"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(winapi_posix::OpenHandleCount(), handles);

    // The keys above the computed device tree exist without the store and take values.
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet", 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    DWORD seven = 7, mark = 0;
    EXPECT_EQ(RegSetValueExW(key, u"Mark", 0, REG_DWORD, reinterpret_cast<BYTE*>(&seven), 4), ERROR_SUCCESS);
    size = 4;
    EXPECT_EQ(RegQueryValueExW(key, u"Mark", nullptr, &type, reinterpret_cast<BYTE*>(&mark), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_DWORD));
    EXPECT_EQ(mark, 7u);
    RegCloseKey(key);
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Enum", 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);

    // Subkeys are listed with the case they were created with.
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"software\\spectro", 0, KEY_READ, &key), ERROR_SUCCESS);
    nameLen = 4;
    EXPECT_EQ(RegEnumKeyExW(key, 0, name, &nameLen, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    nameLen = 5;
    ASSERT_EQ(RegEnumKeyExW(key, 0, name, &nameLen, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(nameLen, 4u);
    EXPECT_EQ(std::u16string(name), u"Port");
    nameLen = 64;
    EXPECT_EQ(RegEnumKeyExW(key, 1, name, &nameLen, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
    RegCloseKey(key);

    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"\\Software", 0, KEY_READ, &key), ERROR_BAD_PATHNAME);
    EXPECT_EQ(RegOpenKeyExW(reinterpret_cast<HKEY>(0x777), u"x", 0, KEY_READ, &key), ERROR_INVALID_HANDLE);
}

TEST_F(Registry, WritesReplaceTheFileAtomically)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Spectro", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    DWORD one = 1;
    ASSERT_EQ(RegSetValueExW(key, u"A", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), 4), ERROR_SUCCESS);
    // A reader holding the old file keeps a complete old store: the new one
    // arrives by rename, never by rewriting in place.
    std::string old = ReadFile(store_);
    std::string link = root_ + "/old-store";
    ASSERT_EQ(::link(store_.c_str(), link.c_str()), 0);
    ASSERT_EQ(RegSetValueExW(key, u"B", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), 4), ERROR_SUCCESS);
    EXPECT_EQ(ReadFile(link), old);
    EXPECT_NE(ReadFile(store_), old);

    // Concurrent writers lose nothing; no temporary file is left behind.
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([key, t] {
            for (int i = 0; i < 10; ++i) {
                std::u16string name =
                    u"v" + std::u16string(1, char16_t(u'a' + t)) + std::u16string(1, char16_t(u'0' + i));
                DWORD v = DWORD(i);
                EXPECT_EQ(RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4),
                          ERROR_SUCCESS);
            }
        });
    for (auto& w : writers) w.join();
    DWORD count = 0;
    for (;; ++count) {
        WCHAR name[16];
        DWORD len = 16;
        if (RegEnumValueW(key, count, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    }
    EXPECT_EQ(count, 42u);
    int files = 0;
    for (auto& f : std::filesystem::directory_iterator(std::filesystem::path(store_).parent_path()))
        if (f.path().filename().string().find(".tmp") != std::string::npos) ++files;
    EXPECT_EQ(files, 0);
    RegCloseKey(key);
}

TEST_F(Registry, CorruptStoreIsReportedAndNeverOverwritten)
{
    const std::string garbage = "SPECTRO-REGISTRY 1\n[HKEY_CURRENT_USER\\Software\\X]\n\"v\"=1:0g\n";
    WriteFile(store_, garbage);
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Y", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_BADDB);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\X", 0, KEY_READ, &key), ERROR_BADDB);
    EXPECT_EQ(ReadFile(store_), garbage);

    // Not a store at all (another program's file): same.
    WriteFile(store_, "hello\n");
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Y", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_BADDB);
    EXPECT_EQ(ReadFile(store_), "hello\n");

    // The computed keys do not depend on the store.
    SetPorts({Port(u"COM1", u"\\Device\\Serial0")});
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &key),
              ERROR_SUCCESS);
    RegCloseKey(key);

    // Repaired by hand: usable again.
    std::filesystem::remove(store_);
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Y", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

TEST_F(Registry, NamesComeBackExactlyAfterOtherWrites)
{
    const std::vector<std::u16string> names = {u"lone\xD800",
                                               u"lone\xD801",
                                               u"low\xDC01x",
                                               u"pair\U0001F600",
                                               u"ctl\x01\x1F\x7F",
                                               u"br]ack\"et%41",
                                               u"Gr\u00FC\u00DF"
                                               u"e"};
    HKEY parent = nullptr, key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Names", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &parent,
                              nullptr),
              ERROR_SUCCESS);
    for (const auto& name : names) {
        ASSERT_EQ(RegCreateKeyExW(parent, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(key);
        DWORD one = 1;
        ASSERT_EQ(RegSetValueExW(parent, name.c_str(), 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), 4), ERROR_SUCCESS);
    }
    // An unrelated write rewrites the whole store.
    ASSERT_EQ(
        RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Other", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
        ERROR_SUCCESS);
    RegCloseKey(key);

    std::vector<std::u16string> listed;
    for (DWORD i = 0;; ++i) {
        WCHAR name[64];
        DWORD len = 64;
        if (RegEnumKeyExW(parent, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        listed.emplace_back(name, len);
        EXPECT_EQ(RegOpenKeyExW(parent, listed.back().c_str(), 0, KEY_READ, &key), ERROR_SUCCESS) << i;
        RegCloseKey(key);
    }
    std::vector<std::u16string> expected = names;
    std::sort(listed.begin(), listed.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(listed, expected);
    for (DWORD i = 0; i < names.size(); ++i) {
        WCHAR name[64];
        DWORD len = 64;
        ASSERT_EQ(RegEnumValueW(parent, i, name, &len, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
        EXPECT_EQ(std::u16string(name, len), names[i]);
    }
    RegCloseKey(parent);
}

TEST_F(Registry, NamesTheWriterNeverWritesMakeTheStoreCorrupt)
{
    const std::string head = "SPECTRO-REGISTRY 1\n[HKEY_CURRENT_USER\\Software]\n";
    const std::vector<std::string> bad = {
        "[HKEY_CURRENT_USER\\Software\\a\x01"
        "b]",                                                          // raw control byte
        std::string("[HKEY_CURRENT_USER\\Software\\a") + '\0' + "b]",  // raw NUL
        "[HKEY_CURRENT_USER\\Software\\a]b]",                          // raw "]"
        "[HKEY_CURRENT_USER\\Software\\a%00b]",                        // NUL, escaped
        "[HKEY_CURRENT_USER\\Software\\\xC1\x81]",                     // overlong "A"
        "[HKEY_CURRENT_USER\\Software\\\xED\xA0\x80]",                 // surrogate, raw
        "[HKEY_CURRENT_USER\\Software\\%ED%A0%BD%ED%B8%80]",           // a pair as two 3-byte forms
        "[HKEY_CURRENT_USER\\Software\\\xF4\x90\x80\x80]",             // above U+10FFFF
        "[HKEY_CURRENT_USER\\Software\\\xE2\x82]",                     // cut sequence
        "[HKEY_CURRENT_USER\\Software\\\\x]",                          // empty part
        "[HKEY_CURRENT_USER\\Software\\]",                             // empty last part
        "[HKEY_CURRENT_USER\\SOFTWARE]",                               // the same key twice
        "\"v\x01\"=4:01000000",                                        // raw control byte in a value name
        "\"a\"b\"=4:01000000",                                         // raw quote in a value name
        "\"v\"=4:01000000\n\"V\"=4:02000000",                          // the same value twice
    };
    HKEY key = nullptr;
    for (const auto& line : bad) {
        WriteFile(store_, head + line + "\n");
        EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software", 0, KEY_READ, &key), ERROR_BADDB) << line;
        EXPECT_EQ(
            RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_BADDB)
            << line;
        EXPECT_EQ(ReadFile(store_), head + line + "\n");
    }
    // What the writer does write reads back: an escaped lone surrogate.
    WriteFile(store_, head + "[HKEY_CURRENT_USER\\Software\\%ED%A0%80]\n");
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\\xD800", 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
}

TEST_F(Registry, SerialCommIsComputedFromThePortMapAtEachOpen)
{
    HKEY key = nullptr;
    // No ports: no key.
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &key),
              ERROR_FILE_NOT_FOUND);

    SetPorts({Port(u"COM1", u"\\Device\\Serial0"), Port(u"COM10", u"\\Device\\ttyUSB0")});
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &key),
              ERROR_SUCCESS);
    auto values = EnumStrings(key);
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[0], std::make_pair(std::u16string(u"\\Device\\Serial0"), std::u16string(u"COM1")));
    EXPECT_EQ(values[1], std::make_pair(std::u16string(u"\\Device\\ttyUSB0"), std::u16string(u"COM10")));
    // A 4-byte data buffer cannot hold "COM10" + NUL.
    WCHAR name[260];
    BYTE data[4];
    DWORD nameLen = 260, dataLen = 4;
    EXPECT_EQ(RegEnumValueW(key, 1, name, &nameLen, nullptr, nullptr, data, &dataLen), ERROR_MORE_DATA);

    // Read-only, whatever the caller asks for.
    EXPECT_EQ(RegSetValueExW(key, u"x", 0, REG_SZ, data, 2), ERROR_ACCESS_DENIED);
    RegCloseKey(key);
    HKEY writable = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_ALL_ACCESS, &writable),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"HARDWARE\\DEVICEMAP\\Other", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &writable, nullptr),
              ERROR_ACCESS_DENIED);

    // A port that appears later is there at the next open.
    SetPorts({Port(u"COM1", u"\\Device\\Serial0"), Port(u"COM5", u"\\Device\\pts3")});
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"HARDWARE\\DEVICEMAP", 0, KEY_READ, &key), ERROR_SUCCESS);
    HKEY sub = nullptr;
    ASSERT_EQ(RegOpenKeyExW(key, u"serialcomm", 0, KEY_READ, &sub), ERROR_SUCCESS);
    EXPECT_EQ(EnumStrings(sub)[1].second, u"COM5");
    EXPECT_EQ(KeyName(sub), u"\\REGISTRY\\MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM");
    RegCloseKey(sub);
    RegCloseKey(key);
    EXPECT_EQ(std::filesystem::exists(store_), false);  // nothing of this touched the store
}

TEST_F(Registry, NativeKeyNames)
{
    EXPECT_EQ(KeyName(HKEY_LOCAL_MACHINE), u"\\REGISTRY\\MACHINE");
    const std::u16string user = u"\\REGISTRY\\USER\\" + winapi_posix::CurrentUserSid();
    EXPECT_EQ(KeyName(HKEY_CURRENT_USER), user);
    EXPECT_EQ(winapi_posix::CurrentUserSid().rfind(u"S-1-5-21-", 0), 0u);

    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\MixedCase", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"software\\mixedcase", 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(KeyName(key), user + u"\\Software\\MixedCase");  // the case it was created with

    // Size rules: a short buffer reports the full size and copies what fits.
    ULONG needed = 0;
    EXPECT_EQ(ZwQueryKey(key, KeyNameInformation, nullptr, 0, &needed), STATUS_BUFFER_TOO_SMALL);
    const std::u16string full = user + u"\\Software\\MixedCase";
    EXPECT_EQ(needed, ULONG(4 + full.size() * 2));
    std::vector<BYTE> part(10);
    EXPECT_EQ(ZwQueryKey(key, KeyNameInformation, part.data(), 10, &needed), STATUS_BUFFER_OVERFLOW);
    EXPECT_EQ(std::memcmp(part.data() + 4, u"\\RE", 6), 0);
    EXPECT_EQ(ZwQueryKey(key, 0, part.data(), 10, &needed), STATUS_INVALID_INFO_CLASS);
    RegCloseKey(key);
    EXPECT_EQ(ZwQueryKey(key, KeyNameInformation, part.data(), 10, &needed), STATUS_INVALID_HANDLE);
}

TEST_F(Registry, PlatformIdAndSpoolerPorts)
{
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    ASSERT_TRUE(GetVersionExW(&info));
    EXPECT_EQ(info.dwPlatformId, DWORD(VER_PLATFORM_WIN32_NT));
    winapi_posix::SetPlatformIdForTesting(VER_PLATFORM_WIN32_WINDOWS);
    ASSERT_TRUE(GetVersionExW(&info));
    EXPECT_EQ(info.dwPlatformId, DWORD(VER_PLATFORM_WIN32_WINDOWS));
    info.dwOSVersionInfoSize = 12;
    EXPECT_FALSE(GetVersionExW(&info));

    SetPorts({Port(u"COM1", u"\\Device\\Serial0"), Port(u"COM12", u"\\Device\\ttyACM0")});
    DWORD needed = 0, count = 99;
    EXPECT_FALSE(EnumPortsW(nullptr, 1, nullptr, 0, &needed, &count));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(count, 0u);
    ASSERT_GT(needed, 0u);
    std::vector<BYTE> buffer(needed);
    EXPECT_FALSE(EnumPortsW(nullptr, 1, buffer.data(), needed - 1, &needed, &count));
    ASSERT_TRUE(EnumPortsW(nullptr, 1, buffer.data(), needed, &needed, &count));
    ASSERT_EQ(count, 4u);
    auto* ports = reinterpret_cast<PORT_INFO_1W*>(buffer.data());
    std::vector<std::u16string> names;
    for (DWORD i = 0; i < count; ++i) {
        // Strings live inside the caller's buffer.
        EXPECT_GE(reinterpret_cast<BYTE*>(ports[i].pName), buffer.data());
        EXPECT_LT(reinterpret_cast<BYTE*>(ports[i].pName), buffer.data() + needed);
        names.push_back(ports[i].pName);
    }
    EXPECT_EQ(names, (std::vector<std::u16string>{u"COM1:", u"COM12:", u"LPT1:", u"FILE:"}));
    EXPECT_FALSE(EnumPortsW(nullptr, 2, buffer.data(), needed, &needed, &count));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_LEVEL));
}

}  // namespace
