// The serial component on the real Win32 API (Wine here), on COM50: a kernel
// pty whose master the test's peer holds. tests/wine_differences.h says where
// Wine's serial driver differs on a pty and what these tests state instead.
#include <gtest/gtest.h>
#include <winapi.h>
#include <tlhelp32.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "comm/nrcomm/nrcomm.h"
#include "tests/wine/pty_peer.h"
#include "tests/wine_differences.h"
#include "toolkit/forms.h"

using namespace std::chrono_literals;

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

DWORD ProcessHandleCount()
{
    DWORD n = 0;
    GetProcessHandleCount(GetCurrentProcess(), &n);
    return n;
}

// Waits until the count has dropped to at most Expected: a thread of the
// system that served a port request may still be on its way out.
template <typename Count>
auto Settled(Count Now, decltype(Now()) Expected)
{
    auto n = Now();
    for (int i = 0; i < 200 && n > Expected; ++i) {
        Sleep(10);
        n = Now();
    }
    return n;
}

std::string Pattern(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + 7 + i / 251) & 0xFF);
    return s;
}

class WineSerialPort : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(peer.Start(50), "");
        mainThread = GetCurrentThreadId();
        threadsBefore = ProcessThreadCount();
        handlesBefore = ProcessHandleCount();
        comm.SetComPortNo(50);
        comm.SetBaudRate(9600);
        comm.SetByteSize(8);
        comm.SetParity(pNone);
        comm.SetStopBits(sbOne);
        // Trace states stay empty: a Wine pty has no modem lines to wait for.
        comm.NotifyAdd(TnrNotifyEvent::Bind(this, &WineSerialPort::DeviceNotify));
        comm.SetOnAfterReceive([this](TObject*, const uint8_t* Buffer, uint32_t Count) {
            std::lock_guard<std::mutex> lk(lock);
            received.append(reinterpret_cast<const char*>(Buffer), Count);
            if (GetCurrentThreadId() != mainThread) ++offMain;
        });
        comm.SetOnClose([this](TObject*) {
            ++closed;
            if (GetCurrentThreadId() != mainThread) ++offMain;
        });
    }
    void DeviceNotify(TObject*, int Code)
    {
        if (Code == NOTIFY_DEVICE_CLOSED) ++closeNotices;
    }
    std::string Received()
    {
        std::lock_guard<std::mutex> lk(lock);
        return received;
    }
    bool WaitReceived(size_t Count, std::chrono::milliseconds Timeout)
    {
        return Application->WaitUntil([&] { return Received().size() >= Count; }, Timeout);
    }
    // Closed, no thread and no handle of the port left.
    void ExpectNothingLeft()
    {
        EXPECT_FALSE(comm.GetActive());
        EXPECT_EQ(comm.GetHandle(), INVALID_HANDLE_VALUE);
        EXPECT_EQ(Settled(ProcessThreadCount, threadsBefore), threadsBefore) << "a thread of the port is left";
        EXPECT_EQ(Settled(ProcessHandleCount, handlesBefore), handlesBefore) << "a handle of the port is left";
    }

    THeadlessApplication app;
    TPtyPeer peer;
    TnrComm comm{nullptr};
    DWORD mainThread = 0;
    int threadsBefore = 0;
    DWORD handlesBefore = 0;
    std::mutex lock;
    std::string received;
    std::atomic<int> closed{0};
    std::atomic<int> closeNotices{0};
    std::atomic<int> offMain{0};
};

}  // namespace

TEST_F(WineSerialPort, OpensAt9600N81SendsItsBytesReceivesPiecesInOrderAndClosesClean)
{
    comm.SetActive(true);
    ASSERT_TRUE(comm.GetActive());
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(comm.GetHandle(), &dcb));
    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);

    comm.SendString("t\r\n");
    EXPECT_EQ(peer.Read(16, 500), "t\r\n") << "exactly the string's bytes";

    for (const char* piece : {"12", "3.", "45\r", "\n"}) {
        ASSERT_TRUE(peer.Write(piece));
        Sleep(30);
    }
    EXPECT_TRUE(WaitReceived(8, 5000ms));
    EXPECT_EQ(Received(), "123.45\r\n");
    EXPECT_EQ(offMain.load(), 0) << "OnAfterReceive runs on the main thread";

    comm.SetActive(false);
    EXPECT_EQ(closed.load(), 1);
    ExpectNothingLeft();
}

TEST_F(WineSerialPort, AMebibyteArrivesCompleteAndInOrder)
{
    comm.SetBaudRate(115200);
    comm.SetActive(true);
    ASSERT_TRUE(comm.GetActive());
    const size_t n = 1 << 20;
    const std::string data = Pattern(n);
    ASSERT_TRUE(peer.Write(data));
    ASSERT_TRUE(WaitReceived(n, 30000ms)) << Received().size() << " of " << n;
    EXPECT_TRUE(Received() == data) << "bytes lost, doubled or out of order";
    EXPECT_EQ(comm.GetTotalReceived(), n);
    EXPECT_EQ(offMain.load(), 0);
    comm.SetActive(false);
    ExpectNothingLeft();
}

TEST_F(WineSerialPort, OpenAndCloseDuringTrafficLeaveNothingBehind)
{
    // Every close ends the comm-event thread with a wait in flight; the wait
    // must be done before the thread's record is gone.
    for (int i = 0; i < 20; ++i) {
        comm.SetActive(true);
        ASSERT_TRUE(comm.GetActive()) << "cycle " << i;
        peer.Write("xy");
        Sleep(i % 4 * 5);
        comm.SetActive(false);
    }
    EXPECT_EQ(closed.load(), 20);
    ExpectNothingLeft();
}

TEST_F(WineSerialPort, AnUnpluggedPortIsReportedClosedOnTheMainThread)
{
    comm.SetActive(true);
    ASSERT_TRUE(comm.GetActive());
    ASSERT_TRUE(peer.Write("hello"));
    ASSERT_TRUE(WaitReceived(5, 5000ms));

    ASSERT_TRUE(peer.HangUp());
    EXPECT_TRUE(Application->WaitUntil([&] { return closed.load() > 0; }, 5000ms)) << "the lost port was not reported";
    EXPECT_EQ(closed.load(), 1);
    EXPECT_EQ(closeNotices.load(), 1);
    EXPECT_EQ(offMain.load(), 0) << "OnClose of a lost port runs where received bytes arrive";
    ExpectNothingLeft();
}

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

TEST(WineSerial, TheDeviceListNamesThePrefixsPortsInAscendingOrder)
{
    // COM50 ... COM59 are the prefix's ports (scripts/wine-run).
    for (TnrEnumPorts mode : {epQuickAll, epFullInfo}) {
        SCOPED_TRACE(mode == epQuickAll ? "quick list" : "full scan");
        TnrComm comm(nullptr);
        comm.SetEnumPorts(mode);
        TStringList entries;
        comm.GetDeviceList(&entries);
        ASSERT_EQ(entries.Count(), comm.GetDeviceCount());
        int found = 0;
        for (int i = 0; i < comm.GetDeviceCount(); ++i) {
            const TnrDevice* d = comm.GetDevice(i);
            if (i > 0) {
                EXPECT_LT(comm.GetDevice(i - 1)->Data, d->Data) << "ascending by port number";
            }
            EXPECT_EQ(entries.Strings(i), d->NameFriendly);
            if (d->Data < 50 || d->Data > 59) continue;
            ++found;
            const UnicodeString name = u"COM" + IntToStr(d->Data);
            EXPECT_EQ(d->NameDeviceDos, name);
            EXPECT_EQ(d->NamePDO.rfind(u"\\Device\\", 0), 0u) << ToUtf8(d->NamePDO);
            if (mode == epFullInfo && wine_differences::PortsClassListsThePorts())
                EXPECT_EQ(d->NameFriendly.rfind(name + u" (", 0), 0u) << "the scan's description";
            else
                EXPECT_EQ(d->NameFriendly, name);
        }
        EXPECT_EQ(found, 10);
    }
}
