// The serial component without a device: defaults, the DCB as the store of
// the line settings, port identity, streamed properties.
#include <gtest/gtest.h>

#include "tests/comm_core/helpers.h"

namespace {
class SerialComm : public ::testing::Test {
protected:
    THeadlessApplication app;
    TTestComm com;
};
}  // namespace

TEST_F(SerialComm, ConstructionDefaults)
{
    EXPECT_EQ(com.GetComPortNo(), 1);
    EXPECT_EQ(com.GetComPort(), cpCOM1);
    EXPECT_EQ(com.GetComName(), u"COM1");
    EXPECT_EQ(com.GetDeviceIndex(), -1);
    EXPECT_EQ(com.GetBaudRate(), 19200u);
    EXPECT_EQ(com.GetByteSize(), 8);
    EXPECT_EQ(com.GetParity(), pNone);
    EXPECT_EQ(com.GetStopBits(), sbOne);
    EXPECT_EQ(com.GetStreamProtocol(), spHardware);
    EXPECT_EQ(com.GetEventChar(), u'\0');
    EXPECT_EQ(com.GetBufferInSize(), 8192);
    EXPECT_EQ(com.GetBufferOutSize(), 8192);
    EXPECT_TRUE(com.GetTraceStates().Empty());
    EXPECT_TRUE(com.GetUseMainThread());
    EXPECT_FALSE(com.GetRS485Mode());
    EXPECT_EQ(com.GetEnumPorts(), epQuickAll);
    EXPECT_EQ(com.GetTerminalUsage(), tuNone);
    EXPECT_FALSE(com.GetTerminalEcho());
    EXPECT_FALSE(com.GetActive());
    EXPECT_EQ(com.GetHandle(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(com.GetTimeOuts()->WriteTotalTimeoutMultiplier, 100u);
    EXPECT_EQ(com.GetTimeOuts()->ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(com.LogPrefix(), u"nrComm: ");
    EXPECT_EQ(com.Config().dwSize, 52u);
    EXPECT_EQ(com.Dcb().DCBlength, 28u);
    EXPECT_EQ(GetDcbFlags(com.Dcb()) & 0x3315, DCB_FLAGS_HARDWARE);
    EXPECT_EQ(com.Dcb().XonChar, 0x11);
    EXPECT_EQ(com.Dcb().XoffChar, 0x13);
    EXPECT_EQ(com.Dcb().XonLim, 2048);
    EXPECT_EQ(com.Dcb().XoffLim, 2048);
    struct Generic : TnrCustomComm {
        Generic() : TnrCustomComm(nullptr) {}
        int32_t GetDeviceIndex() override { return -1; }
        void DeviceListLoad() override {}
    } generic;
    EXPECT_EQ(generic.GetComName(), u"Unknown");
}

TEST_F(SerialComm, ApplyCommStateBuildsTheFlagsWord)
{
    struct Case {
        DWORD before;
        TStreamProtocol protocol;
        bool rs485;
        DWORD after;
    };
    const Case cases[] = {
        {0x0000, spNone, false, 0x1011},    {0x0000, spHardware, false, 0x2015}, {0x0000, spXonXoff, false, 0x1311},
        {0x0000, spNone, true, 0x3011},     {0x0000, spHardware, true, 0x3011},  {0xFFFFFFFF, spNone, false, 0x5CFB},
        {0x4CEA, spXonXoff, false, 0x5FFB}, {0x3315, spNone, false, 0x1011},
    };
    for (const Case& c : cases) {
        SetDcbFlags(com.Dcb(), c.before);
        com.SetRS485Mode(c.rs485);
        com.SetStreamProtocol(c.protocol);  // each writer applies the DCB
        EXPECT_EQ(GetDcbFlags(com.Dcb()), c.after) << std::hex << c.before << " protocol " << int(c.protocol);
    }
}

TEST_F(SerialComm, ReadCommConfigDerivesProtocolAndRS485FromTheFlags)
{
    struct Case {
        DWORD flags;
        TStreamProtocol protocol;
        bool rs485;
    };
    const Case cases[] = {{0x3011, spNone, true},  {0x1311, spXonXoff, false}, {0x2015, spHardware, false},
                          {0x1011, spNone, false}, {0x3315, spXonXoff, true},  {0x0000, spNone, false}};
    for (const Case& c : cases) {
        SetDcbFlags(com.Dcb(), c.flags);
        com.ReadCommConfig();
        EXPECT_EQ(com.GetStreamProtocol(), c.protocol) << std::hex << c.flags;
        EXPECT_EQ(com.GetRS485Mode(), c.rs485) << std::hex << c.flags;
        EXPECT_EQ(GetDcbFlags(com.Dcb()), c.flags);  // nothing written
    }
}

TEST_F(SerialComm, LineSettingsLiveInTheDcb)
{
    com.SetParity(pMark);
    EXPECT_EQ(com.Dcb().Parity, 3);
    EXPECT_EQ(com.Dcb().fParity, 1u);
    com.SetParity(pNone);
    EXPECT_EQ(com.Dcb().Parity, 0);
    EXPECT_EQ(com.Dcb().fParity, 0u);
    com.SetStopBits(sbTwo);
    EXPECT_EQ(com.Dcb().StopBits, 2);
    com.SetBaudRate(115200);
    EXPECT_EQ(com.Dcb().BaudRate, 115200u);

    for (uint8_t bad : {0, 3, 9, 255}) {
        com.SetByteSize(5);
        com.SetByteSize(bad);
        EXPECT_EQ(com.GetByteSize(), 8) << int(bad);
    }
    for (uint8_t good : {4, 5, 7, 8}) {
        com.SetByteSize(good);
        EXPECT_EQ(com.Dcb().ByteSize, good);
    }

    com.SetEventChar(u'\u0141');  // only the low byte is kept
    EXPECT_EQ(static_cast<uint8_t>(com.Dcb().EvtChar), 0x41);
    EXPECT_EQ(com.GetEventChar(), u'A');
    com.SetEventChar(u'\u00FC');
    EXPECT_EQ(com.GetEventChar(), u'\u00FC');
}

TEST_F(SerialComm, PortNumberDrivesComPortComNameAndDeviceIndex)
{
    TNotifyRecorder rec;
    com.NotifyAdd(rec.Event());
    com.SetComPortNo(12);
    EXPECT_EQ(com.GetComPort(), cpCOMxx);
    EXPECT_EQ(com.GetComName(), u"COM12");
    com.SetComPort(cpCOMxx);  // ignored
    EXPECT_EQ(com.GetComPortNo(), 12);
    com.SetComPort(cpCOM3);
    EXPECT_EQ(com.GetComPortNo(), 3);
    com.SetComPort(static_cast<TComPort>(200));  // not a value of the type
    EXPECT_EQ(com.GetComPortNo(), 3);
    com.SetComPortNo(0);
    EXPECT_EQ(com.GetComPort(), cpCOMxx);
    EXPECT_EQ(rec.Codes, (std::vector<int>{3, 3, 3}));

    for (int32_t data : {1, 3, 4097}) {
        auto* dev = new TnrDevice();
        dev->Data = data;
        dev->NameFriendly = u"port " + IntToStr(data);
        dev->PortName = data == 4097 ? u"CNCA0" : u"COM" + IntToStr(data);
        com.InsertDevice(dev);
    }
    EXPECT_EQ(com.GetDeviceIndex(), -1);  // port 0 is not listed
    com.SetComPortNo(3);
    EXPECT_EQ(com.GetDeviceIndex(), 1);
    rec.Codes.clear();
    com.SetDeviceIndex(5);
    com.SetDeviceIndex(-1);
    EXPECT_EQ(com.GetComPortNo(), 3);
    EXPECT_TRUE(rec.Codes.empty());
    com.SetDeviceIndex(2);
    EXPECT_EQ(com.GetComPortNo(), 4097);
    EXPECT_EQ(com.GetComName(), u"CNCA0");  // the device's port name
    EXPECT_EQ(rec.Codes, std::vector<int>{3});
}

TEST_F(SerialComm, UpdateReloadsTheListAndAnnouncesIt)
{
    TNotifyRecorder rec;
    com.NotifyAdd(rec.Event());
    int freed = 0;
    struct Dev : TnrDevice {
        int* f;
        explicit Dev(int* p) : f(p) { Data = 1; }
        ~Dev() override { ++*f; }
    };
    com.AddDevice(new Dev(&freed));
    com.Update();
    EXPECT_EQ(freed, 1);
    EXPECT_EQ(rec.Codes, std::vector<int>{3});
}

TEST_F(SerialComm, StreamedPropertiesInTheirOrder)
{
    const auto& names = TnrComm::PublishedProperties();
    ASSERT_EQ(names.size(), 33u);
    EXPECT_EQ(names.front(), u"Log");
    EXPECT_EQ(names[1], u"OnFatalError");
    EXPECT_EQ(names[2], u"Active");
    EXPECT_EQ(names[10], u"ModemSignals");
    EXPECT_EQ(names.back(), u"OnClose");

    // The main window's settings, streamed while loading.
    const std::vector<std::pair<std::u16string, std::u16string>> stream = {
        {u"Active", u"False"},       {u"BaudRate", u"9600"},
        {u"Parity", u"pNone"},       {u"StopBits", u"sbOne"},
        {u"ByteSize", u"8"},         {u"ComPortNo", u"1"},
        {u"ComPort", u"cpCOM1"},     {u"TraceStates", u"[tsRxChar]"},
        {u"EventChar", u"#0"},       {u"StreamProtocol", u"spNone"},
        {u"BufferInSize", u"4096"},  {u"BufferOutSize", u"4096"},
        {u"TimeoutRead", u"0"},      {u"TimeoutWrite", u"100"},
        {u"RS485Mode", u"False"},    {u"EnumPorts", u"epQuickAll"},
        {u"UseMainThread", u"True"}, {u"TerminalUsage", u"tuNone"},
        {u"TerminalEcho", u"True"}};
    com.BeginLoading();
    for (const auto& [name, value] : stream) EXPECT_TRUE(com.ReadProperty(name, value)) << ToUtf8(name);
    com.EndLoading();
    for (const auto& [name, value] : stream) EXPECT_EQ(com.WriteProperty(name), value) << ToUtf8(name);
    EXPECT_EQ(com.GetBaudRate(), 9600u);
    EXPECT_EQ(com.GetTraceStates(), TTraceStates{tsRxChar});
    EXPECT_EQ(GetDcbFlags(com.Dcb()) & 0x3315, DCB_FLAGS_NONE);

    EXPECT_TRUE(com.ReadProperty(u"TraceStates", u"[tsCTS, tsEvent2]"));
    EXPECT_EQ(com.WriteProperty(u"TraceStates"), u"[tsCTS,tsEvent2]");
    EXPECT_TRUE(com.ReadProperty(u"TraceStates", u"[]"));
    EXPECT_TRUE(com.GetTraceStates().Empty());
    EXPECT_EQ(com.WriteProperty(u"ModemSignals"), u"[]");
    // Texts that do not fit, read-only, reference and unknown properties.
    for (const auto& [name, value] :
         std::vector<std::pair<std::u16string, std::u16string>>{{u"BaudRate", u"-1"},
                                                                {u"BaudRate", u"x"},
                                                                {u"ComPortNo", u"65536"},
                                                                {u"Parity", u"pWrong"},
                                                                {u"TraceStates", u"tsRxChar"},
                                                                {u"TraceStates", u"[tsRxChar,,tsCTS]"},
                                                                {u"Active", u"yes"},
                                                                {u"ModemSignals", u"[]"},
                                                                {u"Log", u"x"},
                                                                {u"OnClose", u"h"},
                                                                {u"Nope", u"1"}})
        EXPECT_FALSE(com.ReadProperty(name, value)) << ToUtf8(name) << "=" << ToUtf8(value);
    EXPECT_EQ(com.GetBaudRate(), 9600u);
    EXPECT_EQ(com.GetComPortNo(), 1);
}
