// The serial component on the real Win32 API (Wine here). Only the open path
// runs against the prefix's ports: tests/wine_differences.h says why the
// receive and close paths are not run on a Wine pty.
#include <gtest/gtest.h>
#include <winapi.h>
#include <tlhelp32.h>

#include "comm/nrcomm/nrcomm.h"
#include "toolkit/forms.h"

namespace {

int ProcessThreadCount()
{
    int n = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++n;
    CloseHandle(snapshot);
    return n;
}

}  // namespace

TEST(WineSerial, AMissingPortIsAFatalErrorWithTheSystemsReasonAndStaysClosed)
{
    THeadlessApplication app;
    TnrComm comm(nullptr);
    comm.SetComPortNo(48);  // not mapped in the prefix
    const int threadsBefore = ProcessThreadCount();
    UnicodeString message;
    int fatal = 0;
    comm.SetOnFatalError([&](TObject*, uint32_t, uint32_t, const UnicodeString& Text, bool& Raise) {
        ++fatal;
        message = Text;
        Raise = false;
    });
    comm.SetActive(true);
    EXPECT_FALSE(comm.GetActive());
    EXPECT_EQ(comm.GetHandle(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(fatal, 1);
    const UnicodeString head = u"Device \"COM48\" Open Error !!!\r";
    EXPECT_EQ(message.rfind(head, 0), 0u) << ToUtf8(message);
    EXPECT_GT(message.size(), head.size()) << "the system's reason follows";
    EXPECT_EQ(ProcessThreadCount(), threadsBefore) << "no thread started";
}
