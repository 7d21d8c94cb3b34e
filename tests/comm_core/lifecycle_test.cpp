// Opening, configuring and closing the serial component on virtual ports.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "comm/utilities/utilities.h"
#include "platform/posix/desktop.h"
#include "platform/posix/handles.h"
#include "platform/posix/virtual_port.h"
#include "tests/comm_core/helpers.h"
#include "toolkit/stdctrls.h"

using winapi_posix::OpenHandleCount;
using winapi_posix::VirtualPort;

namespace {

// Only the ports a test creates: no sysfs devices, no other process's ports.
const bool kPrivatePortMap = [] {
    const auto dir = std::filesystem::temp_directory_path() / ("comm_core_ports_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir / "sys");
    std::filesystem::create_directories(dir / "ports.d");
    setenv("SPECTRO_SYSFS_ROOT", (dir / "sys").c_str(), 1);
    setenv("SPECTRO_PORTMAP_DIR", (dir / "ports.d").c_str(), 1);
    unsetenv("SPECTRO_PORTS");
    return true;
}();

class Lifecycle : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(kPrivatePortMap);
        winapi_posix::ClearRecordedMessageBoxes();
        handlesBefore = OpenHandleCount();
    }
    void TearDown() override { winapi_posix::ResetDesktopProvider(); }

    // Records trace states, notification codes and fatal errors in order.
    void Watch(TnrComm& com)
    {
        com.SetOnTraceState(
            [this](TObject*, TTraceStates s) { events.push_back("trace:" + std::to_string(s.ToBits())); });
        com.SetOnFatalError([this](TObject*, uint32_t code, uint32_t detail, const UnicodeString& msg, bool&) {
            events.push_back("fatal:" + std::to_string(code) + "," + std::to_string(detail));
            fatalMessage = msg;
        });
        com.SetOnClose([this](TObject*) { events.push_back("close"); });
        com.NotifyAdd(rec.Event());
    }

    THeadlessApplication app;
    std::size_t handlesBefore = 0;
    std::vector<std::string> events;
    UnicodeString fatalMessage;
    TNotifyRecorder rec;
};

UnicodeString SystemText(DWORD code)
{
    SetLastError(code);
    return LastErrorText();
}

}  // namespace

TEST_F(Lifecycle, AMissingPortReachesTheFatalErrorAndRaises)
{
    {
        TTestComm com;
        Watch(com);
        com.SetComPortNo(7);
        const UnicodeString expected = u"Device \"COM7\" Open Error !!!\r" + SystemText(ERROR_FILE_NOT_FOUND);
        try {
            com.SetActive(true);
            ADD_FAILURE() << "no exception";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), expected);
        }
        EXPECT_EQ(fatalMessage, expected);
        EXPECT_EQ(com.GetLastErrorString(), expected);
        EXPECT_EQ(events, (std::vector<std::string>{"trace:4", "fatal:1,0"}));  // the close comes first
        EXPECT_FALSE(com.GetActive());
        EXPECT_FALSE(com.HasReceiveBuffer());
    }
    EXPECT_EQ(OpenHandleCount(), handlesBefore);
}

TEST_F(Lifecycle, OpenAppliesTheSettingsAndCloseAnnouncesIt)
{
    VirtualPort port(u"COM21");
    TRecordingLog log;
    {
        TTestComm com;
        com.SetComPortNo(21);
        com.SetLog(&log);
        com.SetBaudRate(9600);  // closed: waits in the DCB
        com.SetByteSize(7);
        com.SetParity(pEven);
        com.SetStreamProtocol(spNone);
        com.SetBufferInSize(16000);
        Watch(com);
        rec.Codes.clear();

        com.SetActive(true);
        ASSERT_TRUE(com.GetActive());
        EXPECT_TRUE(port.HostOpen());
        EXPECT_EQ(events, std::vector<std::string>{"trace:4"});
        EXPECT_EQ(rec.Codes, std::vector<int>{2});
        EXPECT_EQ(port.HostSettings(), (winapi_posix::VirtualLineSettings{9600, 7, EVENPARITY, ONESTOPBIT}));
        EXPECT_TRUE(port.HostDTR());
        EXPECT_TRUE(port.HostRTS());
        EXPECT_EQ(com.ReceiveBufferSize(), 16000u);
        EXPECT_EQ(com.GetTotalSent(), 0u);
        ASSERT_FALSE(log.Lines().empty());
        EXPECT_EQ(log.Lines()[0].Text, u"nrComm: The port COM21 is opened succesfully");
        EXPECT_EQ(log.Lines()[0].Level, dlSimple);

        com.SetBaudRate(4800);  // open: applied at once
        EXPECT_EQ(port.HostSettings().BaudRate, 4800u);
        com.SetActive(true);  // already open: nothing
        EXPECT_EQ(rec.Codes, std::vector<int>{2});

        events.clear();
        log.Reset();
        com.SetActive(false);
        EXPECT_FALSE(com.GetActive());
        EXPECT_FALSE(port.HostOpen());
        EXPECT_FALSE(com.HasReceiveBuffer());
        EXPECT_EQ(events, (std::vector<std::string>{"close", "trace:4"}));
        EXPECT_EQ(rec.Codes, (std::vector<int>{2, 1}));
        ASSERT_EQ(log.Lines().size(), 1u);
        EXPECT_EQ(log.Lines()[0].Text, u"nrComm: The port is closed succesfully");

        // A close of a closed port still refreshes the trace state.
        events.clear();
        com.DoClose();
        EXPECT_EQ(events, std::vector<std::string>{"trace:4"});
        EXPECT_EQ(rec.Codes.size(), 2u);
    }
    EXPECT_EQ(OpenHandleCount(), handlesBefore);
}

TEST_F(Lifecycle, APortHeldElsewhereFailsWithoutLeakingAHandle)
{
    VirtualPort port(u"COM22");
    {
        TTestComm first, second;
        first.SetComPortNo(22);
        second.SetComPortNo(22);
        first.SetActive(true);
        ASSERT_TRUE(first.GetActive());
        Watch(second);
        EXPECT_THROW(second.SetActive(true), Exception);
        EXPECT_FALSE(second.GetActive());
        EXPECT_EQ(fatalMessage, u"Device \"COM22\" Open Error !!!\r" + SystemText(ERROR_ACCESS_DENIED));
        EXPECT_TRUE(first.GetActive());
    }
    EXPECT_EQ(OpenHandleCount(), handlesBefore);
}

TEST_F(Lifecycle, ChangingThePortReopensOnTheNewNumber)
{
    VirtualPort a(u"COM12"), b(u"COM23");
    TTestComm com;
    com.SetComPortNo(23);
    com.SetActive(true);
    ASSERT_TRUE(b.HostOpen());
    com.SetComPortNo(12);  // the path is "\\?\COM12"
    EXPECT_TRUE(com.GetActive());
    EXPECT_FALSE(b.HostOpen());
    EXPECT_TRUE(a.HostOpen());
    EXPECT_EQ(com.GetComName(), u"COM12");
    EXPECT_THROW(com.SetComPort(cpCOM2), Exception);  // no such port: closed, then the open fails
    EXPECT_FALSE(a.HostOpen());
    EXPECT_FALSE(com.GetActive());
    EXPECT_EQ(com.GetComPortNo(), 2);
}

TEST_F(Lifecycle, DestroyingAnOpenComponentDeliversRemovalNoticesAndClosesEverything)
{
    VirtualPort port(u"COM24");
    auto proc = std::make_unique<TnrCustomDataProcessor>(nullptr);
    TEdit edit(nullptr);
    TCheckBox monitor(nullptr);
    {
        TTestComm com;
        com.SetComPortNo(24);
        com.SetDataProcessor(proc.get());
        com.SetTerminal(&edit);
        com.SetTerminalUsage(tuSend);
        com.SetMonitorCTS(&monitor);
        com.SetActive(true);
        ASSERT_TRUE(port.HostOpen());
        Watch(com);
        rec.Codes.clear();
    }
    EXPECT_FALSE(port.HostOpen());
    EXPECT_EQ(proc->GetDevice(), nullptr);
    EXPECT_EQ(rec.Codes, std::vector<int>{1});
    EXPECT_EQ(events, std::vector<std::string>{"close"});  // no trace state from the destructor
    edit.PerformChar(u'k');                                // the edit has its own character handling back
    EXPECT_EQ(edit.Text(), u"k");
    EXPECT_EQ(OpenHandleCount(), handlesBefore);
}

TEST_F(Lifecycle, LoadingFinishedWithAFailingPortShowsTheBoxOnce)
{
    TTestComm com;
    com.BeginLoading();
    EXPECT_TRUE(com.ReadProperty(u"ComPortNo", u"7"));
    EXPECT_TRUE(com.ReadProperty(u"Active", u"True"));
    EXPECT_TRUE(com.GetActive());
    com.EndLoading();
    const auto boxes = winapi_posix::RecordedMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    // The exception's text: which port and why.
    EXPECT_EQ(boxes[0].Text.rfind(u"Device \"COM7\" Open Error !!!\r", 0), 0u) << ToUtf8(boxes[0].Text);
    EXPECT_GT(boxes[0].Text.size(), UnicodeString(u"Device \"COM7\" Open Error !!!\r").size());
    EXPECT_EQ(boxes[0].Caption, u"Error");
    EXPECT_FALSE(com.GetActive());
}

TEST_F(Lifecycle, AnAdoptedHandleIsOpenedAndOwned)
{
    VirtualPort port(u"COM25");
    {
        TTestComm com;
        com.SetComPortNo(9);  // not present
        com.SetExtHandle(nullptr);
        com.SetExtHandle(INVALID_HANDLE_VALUE);
        EXPECT_FALSE(com.GetActive());
        HANDLE h = OpenDeviceFile(u"COM25");
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        com.SetExtHandle(h);
        EXPECT_TRUE(com.GetActive());
        EXPECT_EQ(com.GetHandle(), h);
        com.SetActive(false);
        EXPECT_EQ(winapi_posix::LookupObject(h), nullptr);  // closed with the port
        EXPECT_THROW(com.SetActive(true), Exception);       // the selection is used again
    }
    EXPECT_EQ(OpenHandleCount(), handlesBefore);
}

TEST_F(Lifecycle, ConfigDialogAppliesAcceptedSettingsOnly)
{
    VirtualPort port(u"COM26");
    TTestComm com;
    com.SetComPortNo(26);
    com.SetStreamProtocol(spNone);
    com.SetActive(true);
    std::u16string dialogPort;
    bool accept = false;
    winapi_posix::DesktopProvider provider;
    provider.CommConfigDialog = [&](const std::u16string& name, HWND, void* cfg) {
        dialogPort = name;
        auto* cc = static_cast<COMMCONFIG*>(cfg);
        cc->dcb.BaudRate = 4800;
        SetDcbFlags(cc->dcb, DCB_FLAGS_XONXOFF);
        return accept;
    };
    winapi_posix::SetDesktopProvider(provider);

    const uint32_t baud = com.GetBaudRate();
    com.ConfigDialog();  // cancelled
    EXPECT_EQ(dialogPort, u"COM26");
    EXPECT_EQ(port.HostSettings().BaudRate, baud);
    EXPECT_EQ(com.GetStreamProtocol(), spNone);

    accept = true;
    com.ConfigDialog();
    EXPECT_EQ(port.HostSettings().BaudRate, 4800u);
    EXPECT_EQ(com.GetBaudRate(), 4800u);
    EXPECT_EQ(com.GetStreamProtocol(), spXonXoff);
}

TEST_F(Lifecycle, CommunicationErrorsAreLoggedAndReported)
{
    VirtualPort port(u"COM27");
    TTestComm com;
    TRecordingLog log;
    com.SetComPortNo(27);
    com.SetActive(true);
    com.SetLog(&log);
    std::vector<uint32_t> seen;
    com.SetOnCommError([&](TObject* Com, uint32_t code, uint32_t sys, TComStateFlags state, bool& flush) {
        EXPECT_EQ(Com, &com);
        EXPECT_FALSE(flush);
        seen = {code, sys, state.ToBits()};
        flush = true;
    });
    com.DoCommError(CE_FRAME, 0, TComStateFlags{fCtlHold});
    EXPECT_EQ(seen, (std::vector<uint32_t>{CE_FRAME, 0, 1}));
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(log.Lines()[0].Text, u"nrComm: Communication Error 8:0");
    EXPECT_EQ(log.Lines()[0].Level, dlDetail);
    EXPECT_TRUE(com.GetActive());  // errors never close the port
}
