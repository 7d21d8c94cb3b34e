// The serial component's settings in the registry, its connection test and
// the Plug and Play identification over a virtual port whose peer behaves
// like an external Plug and Play device.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "comm/nrcomm/nrcomm.h"
#include "platform/posix/virtual_port.h"
#include "tests/comm_processor/test_helpers.h"

namespace {

using namespace std::chrono_literals;
using winapi_posix::VirtualLineSettings;
using winapi_posix::VirtualPort;
using Clock = std::chrono::steady_clock;

// A private registry store and port map for this process, set before anything
// reads them.
const bool kPrivateStores = [] {
    static char dir[] = "/tmp/nrserialconfig-XXXXXX";
    if (!mkdtemp(dir)) std::abort();
    setenv("SPECTRO_REGISTRY", (std::string(dir) + "/registry").c_str(), 1);
    setenv("SPECTRO_PORTMAP_DIR", (std::string(dir) + "/portmap").c_str(), 1);
    return true;
}();

const UnicodeString kKey = u"Software\\SpectroTest\\Port";
const UnicodeString kName = u"Settings";

uint16_t PortNumber(const VirtualPort& Port)
{
    return static_cast<uint16_t>(std::stoi(UnicodeToUtf8(Port.ComName()).substr(3)));
}

struct TFatal {
    uint32_t Code = 0, Detail = 0;
    std::string Msg;
};

class SerialConfigTest : public ::testing::Test {
protected:
    SerialConfigTest()
    {
        comm.SetLog(&log);
        comm.SetOnFatalError(
            [this](TObject*, uint32_t Code, uint32_t Detail, const UnicodeString& Msg, bool& RaiseException) {
                fatals.push_back({Code, Detail, UnicodeToUtf8(Msg)});
                RaiseException = raiseFatal;
            });
    }
    ~SerialConfigTest() override
    {
        comm.SetActive(false);
        comm.SetLog(nullptr);
    }

    bool Logged(const std::string& Text) const
    {
        for (const auto& t : log.Texts())
            if (t == Text) return true;
        return false;
    }

    static void WriteRaw(DWORD Type, const void* Data, DWORD Size)
    {
        HKEY key = nullptr;
        ASSERT_EQ(
            RegCreateKeyExW(HKEY_CURRENT_USER, PWChar(kKey), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key, PWChar(kName), 0, Type, static_cast<const BYTE*>(Data), Size), ERROR_SUCCESS);
        RegCloseKey(key);
    }
    static std::string ReadRaw(DWORD& Type)
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, PWChar(kKey), 0, KEY_READ, &key) != ERROR_SUCCESS) return "";
        BYTE data[128] = {};
        DWORD size = sizeof(data);
        Type = REG_NONE;
        const LSTATUS rc = RegQueryValueExW(key, PWChar(kName), nullptr, &Type, data, &size);
        RegCloseKey(key);
        return rc == ERROR_SUCCESS ? std::string(reinterpret_cast<char*>(data), size) : "";
    }

    THeadlessApplication app;
    TRecordingLog log{nullptr};
    TnrComm comm{nullptr};
    std::vector<TFatal> fatals;
    bool raiseFatal = false;
};

// ---------------------------------------------------------------------------
// Settings in the registry

TEST_F(SerialConfigTest, SaveWritesTheLowPortByteAndTheDcbAsA49ByteBinaryValue)
{
    comm.SetComPortNo(4097);
    comm.SetBaudRate(4800);
    comm.SetParity(pEven);
    comm.SetStopBits(sbTwo);
    comm.SetByteSize(7);
    comm.SaveConfig(HKEY_CURRENT_USER, kKey, kName);
    EXPECT_TRUE(fatals.empty());
    EXPECT_TRUE(Logged("nrComm: Configuration was saved"));

    DWORD type = 0;
    const std::string raw = ReadRaw(type);
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    ASSERT_EQ(raw.size(), 49u);
    EXPECT_EQ(static_cast<uint8_t>(raw[0]), 1);  // 4097 = 0x1001
    EXPECT_EQ(static_cast<uint8_t>(raw[1]), 0);
    EXPECT_EQ(std::memcmp(raw.data() + 2, &comm.GetDCB(), 28), 0);
    EXPECT_EQ(raw.substr(30), std::string(19, '\0'));
}

TEST_F(SerialConfigTest, LoadTakesLineSettingsButKeepsTheCurrentFlowControl)
{
    TnrComm source(nullptr);
    source.SetComPortNo(4097);
    source.SetBaudRate(57600);
    source.SetParity(pOdd);
    source.SetStopBits(sbTwo);
    source.SetByteSize(6);
    source.SetStreamProtocol(spXonXoff);
    source.SaveConfig(HKEY_CURRENT_USER, kKey, kName);

    comm.SetComPortNo(3);
    comm.SetStreamProtocol(spHardware);
    comm.LoadConfig(HKEY_CURRENT_USER, kKey, kName);
    EXPECT_TRUE(fatals.empty());
    EXPECT_TRUE(Logged("nrComm: Configuration was loaded"));
    EXPECT_EQ(comm.GetComPortNo(), 1);
    EXPECT_EQ(comm.GetBaudRate(), 57600u);
    EXPECT_EQ(comm.GetParity(), pOdd);
    EXPECT_EQ(comm.GetStopBits(), sbTwo);
    EXPECT_EQ(comm.GetByteSize(), 6);
    EXPECT_EQ(comm.GetStreamProtocol(), spHardware);
    EXPECT_EQ(GetDcbFlags(comm.GetDCB()) & 0x3335u, DCB_FLAGS_HARDWARE);  // no XON/XOFF from the value
    EXPECT_EQ(comm.GetDCB().XonChar, 0x11);
    EXPECT_EQ(comm.GetDCB().DCBlength, 28u);
}

TEST_F(SerialConfigTest, LoadIgnoresValuesOfAnotherSizeAndReportsTextValues)
{
    comm.SetBaudRate(9600);
    comm.SetComPortNo(5);
    std::string bytes(50, '\0');
    bytes[0] = 2;
    for (DWORD size : {48u, 50u, 0u}) {
        WriteRaw(REG_BINARY, bytes.data(), size);
        log.Reset();
        comm.LoadConfig(HKEY_CURRENT_USER, kKey, kName);
        EXPECT_EQ(comm.GetComPortNo(), 5) << size;
        EXPECT_EQ(comm.GetBaudRate(), 9600u) << size;
        EXPECT_TRUE(Logged("nrComm: Configuration was loaded")) << size;
    }
    EXPECT_TRUE(fatals.empty());

    // A missing value changes nothing either.
    comm.LoadConfig(HKEY_CURRENT_USER, kKey, u"NoSuchValue");
    EXPECT_TRUE(fatals.empty());

    // 49 bytes of text are no settings record.
    for (DWORD type : {static_cast<DWORD>(REG_SZ), static_cast<DWORD>(REG_EXPAND_SZ)}) {
        fatals.clear();
        log.Reset();
        WriteRaw(type, bytes.data(), 49);
        comm.LoadConfig(HKEY_CURRENT_USER, kKey, kName);
        ASSERT_EQ(fatals.size(), 1u) << type;
        EXPECT_EQ(fatals[0].Code, 1u);
        EXPECT_EQ(fatals[0].Detail, 0u);
        EXPECT_EQ(fatals[0].Msg, "Error on load config information from registry");
        EXPECT_FALSE(Logged("nrComm: Configuration was loaded"));
        EXPECT_EQ(comm.GetComPortNo(), 5);
    }

    raiseFatal = true;
    try {
        comm.LoadConfig(HKEY_CURRENT_USER, kKey, kName);
        ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), u"Error on load config information from registry");
    }
}

TEST_F(SerialConfigTest, SaveToAKeyThatCannotBeOpenedIsAFatalError)
{
    const HKEY bogus = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x7654321));
    comm.SaveConfig(bogus, kKey, kName);
    ASSERT_EQ(fatals.size(), 1u);
    EXPECT_EQ(fatals[0].Msg, "Error on save config information from registry");
    EXPECT_FALSE(Logged("nrComm: Configuration was saved"));
    EXPECT_TRUE(Logged("Fatal Error: 1, 0, Error on save config information from registry"));
}

// ---------------------------------------------------------------------------
// A Plug and Play device on the far end of a virtual port

// Raises DSR while the host's DTR is on (unless told not to) and, once the
// host has cycled DTR/RTS at 1200 7N1, sends its answer (none when empty) on
// the given cycle. The callback's state outlives the peer: a line change
// already on its way may still be delivered after the peer has gone.
class TPnpPeer {
public:
    TPnpPeer(VirtualPort& Port, std::string Answer, int AnswerOnCycle = 1, bool RaisesDSR = true)
        : fPort(Port), fState(std::make_shared<TState>())
    {
        fState->Port = &Port;
        fState->Answer = std::move(Answer);
        fState->AnswerOnCycle = AnswerOnCycle;
        fState->RaisesDSR = RaisesDSR;
        fPort.SetLineCallback([state = fState](bool dtr, bool rts) { state->OnLines(dtr, rts); });
    }
    ~TPnpPeer()
    {
        fPort.SetLineCallback(nullptr);
        std::lock_guard<std::mutex> lock(fState->Mutex);
        fState->Port = nullptr;
    }

    int Cycles() const { return fState->Cycles.load(); }

private:
    struct TState {
        void OnLines(bool dtr, bool rts)
        {
            std::lock_guard<std::mutex> lock(Mutex);
            if (!Port) return;
            if (RaisesDSR) Port->SetDSR(dtr);
            if (!dtr) {
                Cycled = true;  // DTR dropped: a new identification cycle begins
                return;
            }
            if (!Cycled || !rts) return;
            Cycled = false;
            const VirtualLineSettings s = Port->HostSettings();
            if (s.BaudRate != 1200 || s.ByteSize != 7 || s.Parity != 0 || s.StopBits != 0) return;
            if (++Cycles == AnswerOnCycle && !Answer.empty()) Port->Write(Answer);
        }
        std::mutex Mutex;
        VirtualPort* Port = nullptr;
        std::string Answer;
        int AnswerOnCycle = 1;
        bool RaisesDSR = true;
        bool Cycled = false;
        std::atomic<int> Cycles{0};
    };

    VirtualPort& fPort;
    std::shared_ptr<TState> fState;
};

const std::string kId = "(\x01$SPC0100\\\\MODEM\\SPECTRO)";

struct TNotices {
    std::vector<int> Codes;
    void OnNotify(TObject*, int Code) { Codes.push_back(Code); }
};

class PnpTest : public SerialConfigTest {
protected:
    PnpTest()
    {
        comm.SetComPortNo(PortNumber(port));
        comm.SetBaudRate(9600);
        comm.SetStreamProtocol(spNone);
        comm.SetTraceStates({tsRxChar});
        comm.NotifyAdd(TnrNotifyEvent::Bind(&notices, &TNotices::OnNotify));
    }
    ~PnpTest() override
    {
        comm.SetActive(false);  // before the port goes
        comm.NotifyDelete(TnrNotifyEvent::Bind(&notices, &TNotices::OnNotify));
    }

    VirtualPort port;
    TNotices notices;
};

TEST_F(PnpTest, IdentificationIsReadExactlyAndAClosedPortEndsClosed)
{
    TPnpPeer peer(port, kId + "trailing bytes");
    const auto start = Clock::now();
    const UnicodeString id = comm.GetPNPDeviceString();
    EXPECT_EQ(UnicodeToUtf8(id), kId);       // up to and with the end marker
    EXPECT_GE(Clock::now() - start, 380ms);  // two pauses before the first byte
    EXPECT_EQ(peer.Cycles(), 1);
    EXPECT_TRUE(fatals.empty());
    EXPECT_FALSE(comm.GetActive());
    EXPECT_EQ(comm.GetBaudRate(), 9600u);
    EXPECT_EQ(comm.GetByteSize(), 8);
    EXPECT_EQ(comm.GetTraceStates(), TTraceStates({tsRxChar}));
    EXPECT_EQ(notices.Codes.back(), NOTIFY_DEVICE_CLOSED);
}

TEST_F(PnpTest, AnOpenPortIsClosedAndReopenedWithItsOwnSettings)
{
    TPnpPeer peer(port, kId);
    comm.SetActive(true);
    ASSERT_TRUE(comm.GetActive());
    notices.Codes.clear();
    EXPECT_EQ(UnicodeToUtf8(comm.GetPNPDeviceString()), kId);
    EXPECT_TRUE(comm.GetActive());
    ASSERT_GE(notices.Codes.size(), 2u);
    EXPECT_EQ(notices.Codes[notices.Codes.size() - 2], NOTIFY_DEVICE_CLOSED);
    EXPECT_EQ(notices.Codes.back(), NOTIFY_DEVICE_OPENED);
    const VirtualLineSettings s = port.HostSettings();
    EXPECT_EQ(s.BaudRate, 9600u);
    EXPECT_EQ(s.ByteSize, 8);
    EXPECT_EQ(comm.GetTraceStates(), TTraceStates({tsRxChar}));
}

TEST_F(PnpTest, SixBitFormAndAnAnswerToTheSecondCycleAreRead)
{
    const std::string sixBit =
        "\x08"
        "1#3\x09";
    {
        TPnpPeer peer(port, sixBit + "more");
        EXPECT_EQ(UnicodeToUtf8(comm.GetPNPDeviceString()), sixBit);
    }
    {
        TPnpPeer peer(port, kId, /*AnswerOnCycle=*/2);
        EXPECT_EQ(UnicodeToUtf8(comm.GetPNPDeviceString()), kId);
        EXPECT_EQ(peer.Cycles(), 2);
    }
}

TEST_F(PnpTest, NoBeginMarkerOrNoAnswerGivesTheEmptyString)
{
    {
        TPnpPeer peer(port, "M3");  // a serial mouse, no identification
        EXPECT_EQ(comm.GetPNPDeviceString(), u"");
        EXPECT_EQ(peer.Cycles(), 1);
    }
    {
        TPnpPeer peer(port, "");
        const auto start = Clock::now();
        EXPECT_EQ(comm.GetPNPDeviceString(), u"");
        const auto elapsed = Clock::now() - start;
        EXPECT_EQ(peer.Cycles(), 2);
        EXPECT_GE(elapsed, 950ms);  // three pauses and two waits
        EXPECT_LT(elapsed, 2500ms);
    }
    EXPECT_TRUE(fatals.empty());
    EXPECT_FALSE(comm.GetActive());
}

TEST_F(PnpTest, AnIdentificationWithoutEndMarkerEndsAtSilenceOrAtTheLengthBound)
{
    {
        TPnpPeer peer(port, "(SPC01");
        EXPECT_EQ(UnicodeToUtf8(comm.GetPNPDeviceString()), "(SPC01");
    }
    {
        TPnpPeer peer(port, "(" + std::string(5000, 'A'));
        const UnicodeString id = comm.GetPNPDeviceString();
        EXPECT_EQ(id.size(), 256u);
        EXPECT_EQ(id.front(), u'(');
        EXPECT_EQ(id.back(), u'A');
    }
    EXPECT_FALSE(comm.GetActive());
}

TEST_F(PnpTest, WithoutDsrTheIdentificationAndTheConnectionTestFail)
{
    TPnpPeer peer(port, kId, 1, /*RaisesDSR=*/false);
    EXPECT_EQ(comm.GetPNPDeviceString(), u"");
    ASSERT_EQ(fatals.size(), 1u);
    EXPECT_EQ(fatals[0].Msg, "Device Connect Initialization Error");
    EXPECT_EQ(fatals[0].Code, 1u);
    EXPECT_TRUE(comm.GetActive());  // left open on this path
    EXPECT_EQ(peer.Cycles(), 0);

    raiseFatal = true;
    EXPECT_THROW(comm.InitDeviceConnect(), Exception);
    EXPECT_FALSE(Logged("nrComm: The device connection was succesful tested"));
}

TEST_F(PnpTest, ConnectionTestSucceedsWhenDsrFollowsDtr)
{
    TPnpPeer peer(port, "");
    comm.InitDeviceConnect();  // closed: nothing happens
    EXPECT_TRUE(log.Lines().empty());
    comm.SetActive(true);
    std::vector<TTraceStates> traces;
    comm.SetOnTraceState([&](TObject*, TTraceStates Event) { traces.push_back(Event); });
    comm.InitDeviceConnect();
    EXPECT_TRUE(fatals.empty());
    EXPECT_TRUE(Logged("nrComm: The device connection was succesful tested"));
    EXPECT_TRUE(port.HostDTR());
    EXPECT_TRUE(port.HostRTS());
    const std::vector<TTraceStates> expected = {{tsDSR}, {tsCTS}, {tsCTS}};
    EXPECT_EQ(traces, expected);
    comm.SetOnTraceState(nullptr);
}

}  // namespace
