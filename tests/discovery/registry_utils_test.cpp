// Port-name list, registry reads and key names over a private registry store
// and a private port map.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include <winapi.h>

#include "comm/utilities/utilities.h"
#include "platform/posix/portmap.h"
#include "platform/posix/version.h"
#include "tests/discovery/discovery_env.h"
#include "tests/discovery/fake_portmap.h"
#include "toolkit/classes.h"

namespace {

std::vector<std::string> Entries(const TStringList& L)
{
    std::vector<std::string> R;
    for (int i = 0; i < L.Count(); ++i)
        R.push_back(ToUtf8(L.Strings(i)) + "#" + std::to_string(PortNumberOfEntry(&L, i)));
    return R;
}

using Strings = std::vector<std::string>;

}  // namespace

TEST(JoinMultiString, InnerZerosBecomeSeparatorsAndTheEndIsNotRead)
{
    const char16_t Two[] = {u'A', 0, u'B', 0, 0};
    EXPECT_EQ(JoinMultiString(reinterpret_cast<const WCHAR*>(Two), 5, u";"), u"A;B");
    const char16_t One[] = {u'A', u'B', 0, 0};
    EXPECT_EQ(JoinMultiString(reinterpret_cast<const WCHAR*>(One), 4, u";"), u"AB");
    const char16_t EmptyElement[] = {u'A', 0, 0, u'B', 0, 0};
    EXPECT_EQ(JoinMultiString(reinterpret_cast<const WCHAR*>(EmptyElement), 6, u", "), u"A, , B");
    // The last character is never read: a missing final zero changes nothing.
    const char16_t NoFinalZero[] = {u'A', 0, u'B', 0, u'X'};
    EXPECT_EQ(JoinMultiString(reinterpret_cast<const WCHAR*>(NoFinalZero), 5, u";"), u"A;B");
    EXPECT_EQ(JoinMultiString(reinterpret_cast<const WCHAR*>(Two), 1, u";"), u"");
    EXPECT_EQ(JoinMultiString(reinterpret_cast<const WCHAR*>(Two), 2, u";"), u"A");
    EXPECT_EQ(JoinMultiString(reinterpret_cast<const WCHAR*>(One), 2, u";"), u"A");
    EXPECT_EQ(JoinMultiString(nullptr, 5, u";"), u"");
}

TEST(WideEntryName, ReplacesTheLastCharacterOnACopy)
{
    const AnsiString Name = "SetupDiGetClassDevsA";
    EXPECT_EQ(WideEntryName(Name), "SetupDiGetClassDevsW");
    EXPECT_EQ(Name, "SetupDiGetClassDevsA");
    EXPECT_EQ(WideEntryName("X"), "W");
    EXPECT_EQ(WideEntryName(""), "");
}

TEST(AddPortSorted, KeepsNumericOrderStableForEqualNumbersAndRefusesSameText)
{
    TStringList L;
    AddPortSorted(u"COM10", 10, &L);
    AddPortSorted(u"COM2", 2, &L);
    AddPortSorted(u"COM1", 1, &L);
    AddPortSorted(u"COM3", 3, &L);
    AddPortSorted(u"COM03", 3, &L);  // same number, other text: behind the earlier one
    AddPortSorted(u"com2", 2, &L);   // same text for the list's comparison
    EXPECT_EQ(Entries(L), (Strings{"COM1#1", "COM2#2", "COM3#3", "COM03#3", "COM10#10"}));
}

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override { DiscoveryTestEnvironment(); }
};

TEST_F(RegistryTest, SerialCommListsNumericOrderWithDeviceNames)
{
    TFakePortMap Ports;
    Ports.Add(u"COM1", u"\\Device\\Serial0");
    Ports.Add(u"COM10", u"\\Device\\VCP0");
    Ports.Add(u"COM2", u"\\Device\\Serial1");
    TStringList L;
    L.Add(u"stale");
    EnumComPortNames(&L, true);
    EXPECT_EQ(Entries(L), (Strings{"COM1=\\Device\\Serial0#1", "COM2=\\Device\\Serial1#2", "COM10=\\Device\\VCP0#10"}));
    EnumComPortNames(&L, false);
    EXPECT_EQ(Entries(L), (Strings{"COM1#1", "COM2#2", "COM10#10"}));
}

TEST_F(RegistryTest, SerialCommDataIsUpperCasedTrimmedAndFiltered)
{
    TFakePortMap Ports;
    Ports.Add(u" com4 ", u"\\Device\\Serial3");
    Ports.Add(u"CNCA0", u"\\Device\\com0com10");
    Ports.Add(u"COMX", u"\\Device\\Serial9");
    Ports.Add(u"COM", u"\\Device\\Serial8");
    Ports.Add(u"xCOM5", u"\\Device\\Serial5");
    TStringList L;
    EnumComPortNames(&L, true);
    EXPECT_EQ(Entries(L), (Strings{"COM4=\\Device\\Serial3#4"}));
}

TEST_F(RegistryTest, ADuplicatePortNameIsListedOnce)
{
    TFakePortMap Ports;
    Ports.Add(u"COM4", u"\\Device\\Serial3");
    Ports.Add(u"com4 ", u"\\Device\\VCP4");
    Ports.Add(u"COM04", u"\\Device\\VCP5");  // another text for the same number
    TStringList L;
    EnumComPortNames(&L, true);
    EXPECT_EQ(Entries(L), (Strings{"COM4=\\Device\\Serial3#4", "COM04=\\Device\\VCP5#4"}));
    EnumComPortNames(&L, false);
    EXPECT_EQ(Entries(L), (Strings{"COM4#4", "COM04#4"}));
}

TEST_F(RegistryTest, The9xFamilyTakesThePortsOfTheSpooler)
{
    TFakePortMap Ports;
    Ports.Add(u"COM10", u"\\Device\\VCP0");
    Ports.Add(u"COM1", u"\\Device\\Serial0");
    winapi_posix::SetPlatformIdForTesting(VER_PLATFORM_WIN32_WINDOWS);
    TStringList WithValues, Bare;
    EnumComPortNames(&WithValues, true);
    EnumComPortNames(&Bare, false);
    winapi_posix::ResetPlatformIdForTesting();
    EXPECT_EQ(Entries(WithValues), (Strings{"COM1=#1", "COM10=#10"}));
    EXPECT_EQ(Entries(Bare), (Strings{"COM1=#1", "COM10=#10"}));
}

TEST_F(RegistryTest, WithoutSerialPortsTheListIsEmpty)
{
    TStringList L;
    L.Add(u"COM1");
    EnumComPortNames(&L, true);
    EXPECT_EQ(L.Count(), 0);
}

TEST_F(RegistryTest, RegSzReadsWithAndWithoutTerminatorAndOtherTypesRaw)
{
    HKEY Key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, PWChar(u"Software\\DiscoveryTest"), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &Key, nullptr),
              ERROR_SUCCESS);
    const char16_t WithZero[] = u"COM3";
    const char16_t NoZero[] = {u'C', u'O', u'M', u'3'};
    const char16_t Multi[] = {u'A', 0, u'B', 0, 0};
    const DWORD Dword = 0x00420041;
    ASSERT_EQ(RegSetValueExW(Key, PWChar(u"WithZero"), 0, REG_SZ, reinterpret_cast<const BYTE*>(WithZero), 10), 0);
    ASSERT_EQ(RegSetValueExW(Key, PWChar(u"NoZero"), 0, REG_SZ, reinterpret_cast<const BYTE*>(NoZero), 8), 0);
    ASSERT_EQ(RegSetValueExW(Key, PWChar(u"Odd"), 0, REG_SZ, reinterpret_cast<const BYTE*>(WithZero), 7), 0);
    ASSERT_EQ(RegSetValueExW(Key, PWChar(u"Multi"), 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(Multi), 10), 0);
    ASSERT_EQ(RegSetValueExW(Key, PWChar(u"Dword"), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&Dword), 4), 0);
    ASSERT_EQ(RegSetValueExW(Key, PWChar(u"Empty"), 0, REG_SZ, nullptr, 0), 0);
    RegCloseKey(Key);

    const UnicodeString Sub = u"Software\\DiscoveryTest";
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, Sub, u"WithZero"), u"COM3");
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, Sub, u"NoZero"), u"COM3");
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, Sub, u"Odd"), u"COM");  // the odd byte is dropped
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, Sub, u"Multi"), UnicodeString(Multi, 5));
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, Sub, u"Dword"), u"AB");
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, Sub, u"Empty"), u"");
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, Sub, u"Missing"), u"");
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, u"Software\\NoSuchKey", u"WithZero"), u"");
}

TEST_F(RegistryTest, KeyNamesLoseTheirRootAndTheUserSid)
{
    HKEY Machine = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, PWChar(u"SOFTWARE\\DiscoveryTest\\Dev"), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &Machine, nullptr),
              ERROR_SUCCESS);
    HKEY Root = reinterpret_cast<HKEY>(0x1234);
    UnicodeString Name = u"old";
    GetRegKeyName(Machine, &Root, Name);
    EXPECT_EQ(Root, HKEY_LOCAL_MACHINE);
    EXPECT_TRUE(SameText(Name, u"SOFTWARE\\DiscoveryTest\\Dev")) << ToUtf8(Name);
    GetRegKeyName(Machine, nullptr, Name);
    EXPECT_TRUE(SameText(Name, u"\\REGISTRY\\MACHINE\\SOFTWARE\\DiscoveryTest\\Dev")) << ToUtf8(Name);
    RegCloseKey(Machine);

    HKEY User = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, PWChar(u"Software\\DiscoveryTest"), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &User, nullptr),
              ERROR_SUCCESS);
    UnicodeString Native;
    GetRegKeyName(User, nullptr, Native);
    ASSERT_EQ(Pos(u"\\REGISTRY\\USER\\", Native), 1) << ToUtf8(Native);
    Root = nullptr;
    GetRegKeyName(User, &Root, Name);
    EXPECT_EQ(Root, HKEY_CURRENT_USER);
    EXPECT_TRUE(SameText(Name, u"Software\\DiscoveryTest")) << ToUtf8(Name);
    RegCloseKey(User);

    // The hive's own root: the security identifier is all that is left.
    HKEY Hive = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, PWChar(u""), 0, KEY_READ, &Hive), ERROR_SUCCESS);
    GetRegKeyName(Hive, &Root, Name);
    EXPECT_EQ(Root, HKEY_CURRENT_USER);
    const UnicodeString Sid = Native.substr(15, Native.find(u'\\', 15) - 15);
    EXPECT_FALSE(Sid.empty());
    EXPECT_EQ(Name, Sid);
    RegCloseKey(Hive);
}

TEST_F(RegistryTest, KeyNameOfAnInvalidHandleIsEmptyAndLeavesRoot)
{
    HKEY Root = HKEY_CURRENT_USER;
    UnicodeString Name = u"old";
    GetRegKeyName(reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE), &Root, Name);
    EXPECT_EQ(Name, u"");
    EXPECT_EQ(Root, HKEY_CURRENT_USER);
    GetRegKeyName(reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x7777)), &Root, Name);
    EXPECT_EQ(Name, u"");
    EXPECT_EQ(Root, HKEY_CURRENT_USER);
}
