// A port opened by the device-file utilities and an auto-reset event, both
// closed after the test, and overlapped records as the component leaves them.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "comm/utilities/utilities.h"

class TDeviceFileFixture : public ::testing::Test {
protected:
    // For SetUp, once the port exists.
    void OpenPort(const UnicodeString& Name)
    {
        port = OpenDeviceFile(Name);
        ASSERT_NE(port, INVALID_HANDLE_VALUE) << GetLastError();
        event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    }
    void TearDown() override
    {
        CloseHandle(event);
        if (port != INVALID_HANDLE_VALUE) CloseHandle(port);
    }
    // A record between operations: stale status fields, its own event.
    static OVERLAPPED Record(HANDLE withEvent)
    {
        OVERLAPPED ovl;
        std::memset(&ovl, 0xAB, sizeof ovl);
        ovl.hEvent = withEvent;
        return ovl;
    }
    // A read wait that PurgeComm on another thread ends: false, aborted.
    void ExpectPurgeEndsReadWait(OVERLAPPED* ovl)
    {
        char buffer[4];
        std::thread purger([&] {
            Sleep(100);
            PurgeComm(port, PURGE_RXABORT | PURGE_RXCLEAR);
        });
        *ovl = Record(event);
        EXPECT_FALSE(ReadFileWait(port, buffer, 4, ovl));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_OPERATION_ABORTED));
        purger.join();
    }
    HANDLE port = INVALID_HANDLE_VALUE;
    HANDLE event = nullptr;
};
