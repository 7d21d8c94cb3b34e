// Transmit, direct reads, line control, purging and the two waits of the
// serial component, against the peer end of a virtual port.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "tests/comm_threads/comm_test_support.h"
#include "toolkit/stdctrls.h"

using namespace commtest;
using winapi_posix::VirtualPort;

namespace {

class Operations : public ::testing::Test {
protected:
    void SetUp() override
    {
        comm = new TTestComm(nullptr);
        SetupOn(*comm, port);
        rec.Attach(*comm);
        comm->SetLog(&log);
    }
    void TearDown() override { delete comm; }
    void Open()
    {
        comm->SetActive(true);
        ASSERT_TRUE(comm->GetActive());
        rec.Clear();
        log.Reset();
    }
    std::vector<std::string> DebugLines()
    {
        std::vector<std::string> out;
        for (auto& l : log.Texts())
            if (l.rfind("nrComm: Try", 0) == 0 || l.rfind("nrComm: ...", 0) == 0) out.push_back(l);
        return out;
    }

    THeadlessApplication app;
    VirtualPort port;
    TRecordingLog log;
    TTestComm* comm = nullptr;
    TRecorder rec;
};

}  // namespace

TEST_F(Operations, OnAClosedPortEverythingIsEmptyAndNothingIsLogged)
{
    uint8_t buf[8] = {};
    comm->SendString("abc");
    comm->SendChar(u'a');
    comm->SendData(buf, 8);
    comm->SetStateRTS(true);
    EXPECT_EQ(comm->GetReadyForRead(), 0u);
    EXPECT_EQ(comm->GetNotYetSend(), 0u);
    EXPECT_TRUE(comm->GetModemSignals().Empty());
    EXPECT_EQ(comm->ReadString(), "");
    EXPECT_EQ(comm->ReadMax(buf, 8), 0);
    EXPECT_FALSE(comm->WaitForBytes(0, 0));
    EXPECT_FALSE(comm->WaitForSignal(msCTS, 0));
    EXPECT_EQ(comm->GetTotalSent(), 0u);
    EXPECT_TRUE(DebugLines().empty());
    EXPECT_TRUE(rec.OfKind("trace").empty());
}

TEST_F(Operations, SendStringWaitsLogsAndCounts)
{
    Open();
    comm->SendString("t\r\n");
    EXPECT_EQ(port.ReadExactly(3, 1000), "t\r\n");
    EXPECT_EQ(comm->GetTotalSent(), 3u);
    comm->SendString("");
    auto lines = DebugLines();
    ASSERT_EQ(lines.size(), 1u) << "an empty string is not sent nor logged";
    EXPECT_EQ(lines[0], "nrComm: Try to send string t\r\n ...");
    EXPECT_EQ(comm->GetTotalSent(), 3u);
}

TEST_F(Operations, SendCharSendsTheLowByteAndLogsItInPaddedHex)
{
    Open();
    comm->SendChar(u'\u0141');
    comm->SendChar(u'\r');
    EXPECT_EQ(port.ReadExactly(2, 1000), std::string("\x41\x0D", 2));
    auto lines = DebugLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "nrComm: Try to send char 41h ...");
    EXPECT_EQ(lines[1], "nrComm: Try to send char  Dh ...");
    EXPECT_EQ(comm->GetTotalSent(), 2u);
    comm->SendAheadChar(u'z');
    EXPECT_EQ(port.ReadExactly(1, 1000), "z");
    EXPECT_EQ(DebugLines().size(), 2u) << "SendAheadChar writes no log line";
    EXPECT_EQ(comm->GetTotalSent(), 3u);
}

TEST_F(Operations, SendDataReturnsBeforeTheWriteCompletes)
{
    Open();
    std::vector<uint8_t> block(3000);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 7);
    port.SetTransmitStalled(true);
    comm->SendData(block.data(), static_cast<uint32_t>(block.size()));
    EXPECT_GT(comm->GetNotYetSend(), 0u) << "still queued when SendData returned";
    EXPECT_EQ(comm->GetTotalSent(), 3000u);
    port.SetTransmitStalled(false);
    comm->FlushOutputBuffer();
    const std::string got = port.ReadExactly(block.size(), 2000);
    EXPECT_TRUE(got == std::string(block.begin(), block.end()));

    comm->SendData(block.data(), 0);
    auto lines = DebugLines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "nrComm: Try to send the data with 3000 length ...");
    EXPECT_EQ(lines[1], "nrComm: ... the data transmittion is OK!");
    EXPECT_EQ(lines[2], "nrComm: Try to send the data with 0 length ...");
    EXPECT_EQ(lines[3], "nrComm: ... the data transmittion is OK!");
    EXPECT_EQ(comm->GetTotalSent(), 3000u);
}

TEST_F(Operations, DirectReadsTakeWhatIsQueued)
{
    comm->SetOnAfterReceive(nullptr);
    comm->SetTraceStates({});
    Open();
    uint8_t buf[32] = {};
    port.Write("abcd");
    ASSERT_TRUE(comm->WaitForBytes(4, 2000));
    EXPECT_EQ(comm->ReadMax(buf, 10), 4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 4), "abcd");

    port.Write("0123456789ABCDEFGHIJ");
    ASSERT_TRUE(comm->WaitForBytes(20, 2000));
    EXPECT_EQ(comm->ReadMax(buf, 10), 10);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 10), "0123456789");
    EXPECT_EQ(comm->ReadMax(buf, -1), 0);
    EXPECT_EQ(comm->GetReadyForRead(), 10u);
    EXPECT_EQ(comm->ReadString(), "ABCDEFGHIJ");
    EXPECT_EQ(comm->ReadString(), "");

    port.Write("xyz");
    ASSERT_TRUE(comm->WaitForBytes(3, 2000));
    comm->ReadAll(buf);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 3), "xyz");
}

TEST_F(Operations, WaitForBytesTimesOutAndRestoresTraceStates)
{
    comm->SetTraceStates({tsRxChar, tsCTS});
    Open();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(comm->WaitForBytes(5, 60));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 60ms);
    EXPECT_TRUE(comm->GetTraceStates() == TTraceStates({tsRxChar, tsCTS}));
    DWORD mask = 0;
    ASSERT_TRUE(GetCommMask(comm->GetHandle(), &mask));
    EXPECT_EQ(mask, 0x0009u);
    EXPECT_TRUE(comm->WaitForBytes(0, 0));

    // Without a consumer the bytes that arrive during the wait stay queued
    // for Read, although the wait lets the comm events run on this thread.
    comm->SetOnAfterReceive(nullptr);
    std::thread peer([&] {
        std::this_thread::sleep_for(30ms);
        port.Write("12345");
    });
    EXPECT_TRUE(comm->WaitForBytes(5, 3000));
    peer.join();
    EXPECT_EQ(comm->ReadString(), "12345");
    EXPECT_TRUE(comm->GetTraceStates() == TTraceStates({tsRxChar, tsCTS}));
}

TEST_F(Operations, LineControlDrivesThePeerLinesAndReportsTraceStates)
{
    Open();
    comm->SetStateDTR(false);
    EXPECT_FALSE(port.HostDTR());
    comm->SetStateDTR(true);
    EXPECT_TRUE(port.HostDTR());
    comm->SetStateRTS(false);
    EXPECT_FALSE(port.HostRTS());
    comm->SetStateRTS(true);
    EXPECT_TRUE(port.HostRTS());
    comm->SetStateBreak(true);
    EXPECT_TRUE(port.HostBreak());
    comm->SetStateBreak(false);
    EXPECT_FALSE(port.HostBreak());
    comm->SetStateX(true);

    auto trace = rec.OfKind("trace");
    ASSERT_EQ(trace.size(), 4u) << "DTR and RTS changes only";
    EXPECT_EQ(trace[0].A, TTraceStates({tsDSR}).ToBits());
    EXPECT_EQ(trace[1].A, TTraceStates({tsDSR}).ToBits());
    EXPECT_EQ(trace[2].A, TTraceStates({tsCTS}).ToBits());
    EXPECT_EQ(trace[3].A, TTraceStates({tsCTS}).ToBits());
}

TEST_F(Operations, ModemSignalsAndWaitForSignalFollowThePeer)
{
    Open();
    port.SetCTS(false);
    port.SetDSR(false);
    port.SetRLSD(false);
    port.SetRing(false);
    EXPECT_TRUE(comm->GetModemSignals().Empty());
    EXPECT_FALSE(comm->WaitForSignal(msDSR, 0));
    port.SetDSR(true);
    EXPECT_TRUE(comm->WaitForSignal(msDSR, 0)) << "examined once even with no time";
    port.SetCTS(true);
    port.SetRing(true);
    port.SetRLSD(true);
    EXPECT_TRUE(comm->GetModemSignals() == TModemSignals({msCTS, msDSR, msRing, msRLSD}));

    port.SetCTS(false);
    std::thread peer([&] {
        std::this_thread::sleep_for(30ms);
        port.SetCTS(true);
    });
    EXPECT_TRUE(comm->WaitForSignal(msCTS, 3000));
    peer.join();
    EXPECT_FALSE(comm->WaitForSignal(static_cast<TModemSignal>(7), 20));
}

TEST_F(Operations, MonitorsMirrorTheStatusLinesAndRingStaysOn)
{
    TCheckBox cts(nullptr), dsr(nullptr), ring(nullptr);
    comm->SetMonitorCTS(&cts);
    comm->SetMonitorDSR(&dsr);
    comm->SetMonitorRing(&ring);
    Open();
    port.SetCTS(true);
    port.SetDSR(false);
    comm->DoTraceState(comm, TTraceStates({tsRing}));
    EXPECT_TRUE(cts.Checked());
    EXPECT_FALSE(dsr.Checked());
    EXPECT_TRUE(ring.Checked());
    comm->SetActive(false);
    EXPECT_FALSE(cts.Checked()) << "the close refreshes the monitors from the closed port";
    EXPECT_TRUE(ring.Checked());
    comm->SetMonitorCTS(nullptr);
    comm->SetMonitorDSR(nullptr);
    comm->SetMonitorRing(nullptr);
}

TEST_F(Operations, PurgesEmptyTheQueues)
{
    comm->SetOnAfterReceive(nullptr);
    comm->SetTraceStates({});
    Open();
    port.Write("abcde");
    ASSERT_TRUE(comm->WaitForBytes(5, 2000));
    comm->ClearDeviceInput();
    EXPECT_EQ(comm->GetReadyForRead(), 0u);

    std::vector<uint8_t> block(500, 0x55);
    port.SetTransmitStalled(true);
    comm->SendData(block.data(), 500);
    EXPECT_GT(comm->GetNotYetSend(), 0u);
    comm->ClearDeviceOutput();
    EXPECT_EQ(comm->GetNotYetSend(), 0u);

    comm->SendData(block.data(), 500);
    port.Write("fg");
    ASSERT_TRUE(comm->WaitForBytes(2, 2000));
    comm->ClearDeviceBuffers();
    EXPECT_EQ(comm->GetNotYetSend(), 0u);
    EXPECT_EQ(comm->GetReadyForRead(), 0u);
    port.SetTransmitStalled(false);
    EXPECT_EQ(port.ReadAvailable(), "") << "purged output never leaves";
}

TEST_F(Operations, TimeoutsAreStoredWhileClosedAndAppliedAtOpen)
{
    comm->SetTimeoutRead(7);
    comm->SetTimeoutWrite(9);
    Open();
    COMMTIMEOUTS t{};
    ASSERT_TRUE(GetCommTimeouts(comm->GetHandle(), &t));
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 7u);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 9u);
    COMMTIMEOUTS whole{1, 2, 3, 4, 5};
    comm->SetTimeOuts(&whole);
    ASSERT_TRUE(GetCommTimeouts(comm->GetHandle(), &t));
    EXPECT_EQ(t.ReadIntervalTimeout, 1u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 5u);
    EXPECT_EQ(comm->GetTimeoutWrite(), 4u);
}

TEST_F(Operations, AFailedSendGoesToOnCommErrorAndEmulatedRS485DropsRTS)
{
    comm->EmulateRS485();
    comm->SetRS485Mode(true);
    Open();
    // Under emulation a good send leaves RTS up until the output has drained.
    std::vector<bool> rts;
    std::mutex rtsMutex;
    port.SetLineCallback([&](bool, bool r) {
        std::lock_guard<std::mutex> lk(rtsMutex);
        rts.push_back(r);
    });
    comm->SendString("ok");
    ASSERT_EQ(port.ReadExactly(2, 1000), "ok");
    ASSERT_TRUE(WaitMain([&] { return !port.HostRTS(); }));
    {
        std::lock_guard<std::mutex> lk(rtsMutex);
        ASSERT_FALSE(rts.empty());
        EXPECT_TRUE(std::find(rts.begin(), rts.end(), true) != rts.end()) << "raised for the send";
    }

    // Inside a handler the comm-event thread cannot close the removed port
    // yet, so the send meets the removed device itself.
    bool sent = false;
    comm->SetOnAfterReceive([&](TObject*, const uint8_t*, uint32_t) {
        if (sent) return;
        sent = true;
        port.Remove();
        comm->SendString("x");
    });
    port.Write("a");
    ASSERT_TRUE(WaitMain([&] { return !rec.OfKind("commerror").empty(); }));
    auto err = rec.OfKind("commerror")[0];
    EXPECT_EQ(err.A, 0u);
    EXPECT_EQ(err.B, static_cast<uint32_t>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(comm->GetTotalSent(), 2u);
    bool communicationErrorLogged = false;
    for (auto& l : log.Texts())
        if (l == "nrComm: Communication Error 0:5") communicationErrorLogged = true;
    EXPECT_TRUE(communicationErrorLogged);
    port.SetLineCallback(nullptr);
}
