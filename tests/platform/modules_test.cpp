// Modules, entry points and the system texts of FormatMessageW.
#include <gtest/gtest.h>
#include <winapi.h>

#include <string>

#include "platform/posix/handles.h"
#include "platform/posix/modules.h"

namespace {

std::u16string Text(DWORD code, DWORD flags = 0x3300)
{
    WCHAR* buffer = nullptr;
    SetLastError(0);
    DWORD n = FormatMessageW(flags, nullptr, code, 0, reinterpret_cast<WCHAR*>(&buffer), 0, nullptr);
    std::u16string text = n ? std::u16string(buffer, n) : u"";
    if (buffer) {
        EXPECT_EQ(LocalFree(buffer), nullptr);
    }
    return text;
}

TEST(FormatMessage, EveryCodeThisLayerProducesHasItsWindowsText)
{
    const struct {
        DWORD code;
        const char16_t* text;
    } expected[] = {
        {0, u"The operation completed successfully.\r\n"},
        {2, u"The system cannot find the file specified.\r\n"},
        {5, u"Access is denied.\r\n"},
        {6, u"The handle is invalid.\r\n"},
        {21, u"The device is not ready.\r\n"},
        {31, u"A device attached to the system is not functioning.\r\n"},
        {87, u"The parameter is incorrect.\r\n"},
        {122, u"The data area passed to a system call is too small.\r\n"},
        {259, u"No more data is available.\r\n"},
        {995, u"The I/O operation has been aborted because of either a thread exit or an application request.\r\n"},
        {996, u"Overlapped I/O event is not in a signaled state.\r\n"},
        {997, u"Overlapped I/O operation is in progress.\r\n"},
        {1167, u"The device is not connected.\r\n"},
        {1223, u"The operation was canceled by the user.\r\n"},
        {1444, u"Invalid thread identifier.\r\n"},
        {1460, u"This operation returned because the timeout period expired.\r\n"},
    };
    for (const auto& e : expected) EXPECT_EQ(Text(e.code), e.text) << e.code;

    // Whatever the errno table maps to has a text.
    for (int err = 1; err < 134; ++err) {
        DWORD code = winapi_posix::ErrorFromErrno(err);
        EXPECT_FALSE(Text(code).empty()) << "errno " << err << " -> " << code;
    }
}

TEST(FormatMessage, UnknownCodesAndCallerBuffers)
{
    EXPECT_EQ(Text(0x12345678), u"");
    EXPECT_EQ(GetLastError(), DWORD(ERROR_MR_MID_NOT_FOUND));

    WCHAR small[8];
    EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 5, 0, small, 8, nullptr), 0u);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    WCHAR big[64];
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 5, 0, big, 64, nullptr);
    EXPECT_EQ(std::u16string(big, n), u"Access is denied.\r\n");
    EXPECT_EQ(big[n], 0);
}

class Modules : public ::testing::Test {
protected:
    void TearDown() override { winapi_posix::ResetModuleHooksForTesting(); }
};

TEST_F(Modules, SystemModulesAreMappedAndLibrariesLoadByName)
{
    HMODULE ntdll = GetModuleHandleW(u"ntdll.dll");
    ASSERT_NE(ntdll, nullptr);
    EXPECT_EQ(GetModuleHandleW(u"KERNEL32"), GetModuleHandleW(u"kernel32.dll"));
    EXPECT_NE(GetProcAddress(ntdll, "ZwQueryKey"), nullptr);
    EXPECT_EQ(GetProcAddress(ntdll, "zwquerykey"), nullptr);  // export names are case-sensitive
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PROC_NOT_FOUND));

    // SetupAPI is not mapped until loaded, and unmapped again when freed.
    EXPECT_EQ(GetModuleHandleW(u"setupapi.dll"), nullptr);
    HMODULE setupapi = LoadLibraryW(u"SetupAPI.dll");
    ASSERT_NE(setupapi, nullptr);
    EXPECT_EQ(LoadLibraryW(u"setupapi"), setupapi);
    EXPECT_TRUE(FreeLibrary(setupapi));
    EXPECT_EQ(GetModuleHandleW(u"SETUPAPI.DLL"), setupapi);  // still loaded once
    EXPECT_TRUE(FreeLibrary(setupapi));
    EXPECT_EQ(GetModuleHandleW(u"SetupAPI.dll"), nullptr);
    EXPECT_EQ(GetProcAddress(setupapi, "SetupDiGetClassDevsW"), nullptr);

    EXPECT_EQ(LoadLibraryW(u"nosuch.dll"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
}

TEST_F(Modules, EveryEntryPointTheDiscoveryBindsExists)
{
    HMODULE setupapi = LoadLibraryW(u"SetupAPI.dll");
    HMODULE cfgmgr = LoadLibraryW(u"cfgmgr32.dll");
    ASSERT_NE(setupapi, nullptr);
    ASSERT_NE(cfgmgr, nullptr);
    for (const char* name : {"SetupDiGetClassDevsW", "SetupDiDestroyDeviceInfoList", "SetupDiEnumDeviceInfo",
                             "SetupDiGetDeviceRegistryPropertyW", "SetupDiOpenDevRegKey", "SetupDiEnumDeviceInterfaces",
                             "SetupDiGetDeviceInterfaceDetailW", "SetupDiCreateDeviceInfoList",
                             "SetupDiCreateDeviceInfoW", "SetupDiGetINFClassW", "SetupDiSetDeviceRegistryPropertyW",
                             "SetupDiCallClassInstaller", "SetupDiGetDeviceInstanceIdW", "SetupDiRemoveDevice",
                             "SetupDiUnremoveDevice", "SetupDiOpenDeviceInfoW", "SetupDiSetClassInstallParamsW"})
        EXPECT_NE(GetProcAddress(setupapi, name), nullptr) << name;
    for (const char* name :
         {"CM_Locate_DevNodeW", "CM_Get_DevNode_Registry_PropertyW", "CM_Get_Parent", "CM_Get_Device_ID_List_SizeW",
          "CM_Get_Device_ID_ListW", "CM_Get_Child", "CM_Get_Sibling", "CM_Request_Device_EjectW"}) {
        EXPECT_NE(GetProcAddress(cfgmgr, name), nullptr) << name;
        EXPECT_EQ(GetProcAddress(cfgmgr, name), GetProcAddress(setupapi, name)) << name;
    }
    // The ANSI names are not exported; callers bind the wide ones.
    EXPECT_EQ(GetProcAddress(setupapi, "SetupDiGetClassDevsA"), nullptr);
    FreeLibrary(setupapi);
    FreeLibrary(cfgmgr);
}

TEST_F(Modules, TestHooksHideLibrariesAndEntryPoints)
{
    winapi_posix::SetModuleMissingForTesting(u"SetupAPI.dll", true);
    EXPECT_EQ(LoadLibraryW(u"setupapi.dll"), nullptr);
    winapi_posix::SetModuleMissingForTesting(u"SetupAPI.dll", false);
    winapi_posix::SetEntryPointMissingForTesting(u"kernel32.dll", "CancelIo", true);
    EXPECT_EQ(GetProcAddress(GetModuleHandleW(u"kernel32.dll"), "CancelIo"), nullptr);
    winapi_posix::SetEntryPointMissingForTesting(u"setupapi.dll", "CM_Locate_DevNodeW", true);
    HMODULE setupapi = LoadLibraryW(u"SetupAPI.dll");
    EXPECT_EQ(GetProcAddress(setupapi, "CM_Locate_DevNodeW"), nullptr);
    HMODULE cfgmgr = LoadLibraryW(u"cfgmgr32.dll");
    EXPECT_NE(GetProcAddress(cfgmgr, "CM_Locate_DevNodeW"), nullptr);
    FreeLibrary(setupapi);
    FreeLibrary(cfgmgr);
}

TEST(Ole, CoInitializeCountsPerThread)
{
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    CoUninitialize();
}

}  // namespace
