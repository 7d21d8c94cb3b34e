// The serial component's device list: the quick list from the port map, and
// the Plug-and-Play scans over a fake sysfs tree in the full modes.
#include <gtest/gtest.h>

#include <filesystem>

#include <winapi.h>

#include "comm/discovery/discovery.h"
#include "comm/nrcomm/nrcomm.h"
#include "comm/utilities/utilities.h"
#include "platform/posix/modules.h"
#include "platform/posix/portmap.h"
#include "tests/discovery/discovery_env.h"
#include "tests/discovery/fake_portmap.h"
#include "tests/discovery/fake_sysfs.h"
#include "toolkit/classes.h"

namespace {

using Strings = std::vector<std::string>;

class DeviceListTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DiscoveryTestEnvironment();
        Sysfs.Clear();
        winapi_posix::ResetModuleHooksForTesting();
        SetupApiUnload();
    }
    void TearDown() override
    {
        Sysfs.Clear();
        winapi_posix::ResetModuleHooksForTesting();
        SetupApiUnload();
    }

    // Display names of the loaded list with their keys.
    static Strings Names(TnrComm& Comm)
    {
        TStringList L;
        Comm.GetDeviceList(&L);
        Strings R;
        for (int i = 0; i < Comm.CountDevices(); ++i) {
            const TnrDevice* D = Comm.GetDevice(i);
            EXPECT_EQ(L.Objects(i), D);
            EXPECT_EQ(D->GetIndex(), i);
            EXPECT_EQ(D->GetParent(), &Comm);
            R.push_back(ToUtf8(D->NameFriendly) + "#" + std::to_string(D->Data));
        }
        return R;
    }

    THeadlessApplication App;
    TFakeSysfs Sysfs{FakeSysfsRoot()};
};

}  // namespace

TEST_F(DeviceListTest, QuickListTakesOnlyThePortMap)
{
    TFakePortMap Ports;
    Ports.Add(u"COM3", u"\\Device\\Serial2");
    Ports.Add(u"COM1", u"\\Device\\Serial0");
    Sysfs.AddUsbSerial("ttyUSB0", "FTDI", "USB Serial Port", "ftdi_sio");  // scans are not run
    TnrComm Comm(nullptr);
    ASSERT_EQ(Comm.GetEnumPorts(), epQuickAll);
    EXPECT_EQ(Names(Comm), (Strings{"COM1#1", "COM3#3"}));
    const TnrDevice* D = Comm.GetDevice(1);
    EXPECT_EQ(D->NameDeviceDos, u"COM3");
    EXPECT_EQ(D->PortName, u"COM3");
    EXPECT_EQ(D->NamePDO, u"\\Device\\Serial2");
    EXPECT_EQ(D->Description, u"");
    EXPECT_EQ(D->Service, u"");
    EXPECT_EQ(D->Driver, u"");
    EXPECT_EQ(D->RegKey, u"");
    EXPECT_EQ(D->InstanceId, u"");
    EXPECT_EQ(D->DevInst, 0u);
}

TEST_F(DeviceListTest, ASecondLoadAddsNothing)
{
    TFakePortMap Ports;
    Ports.Add(u"COM1", u"\\Device\\Serial0");
    Ports.Add(u"COM2", u"\\Device\\Serial1");
    TnrComm Comm(nullptr);
    EXPECT_EQ(Names(Comm), (Strings{"COM1#1", "COM2#2"}));
    const TnrDevice* First = Comm.GetDevice(0);
    Comm.DeviceListLoad();
    EXPECT_EQ(Names(Comm), (Strings{"COM1#1", "COM2#2"}));
    EXPECT_EQ(Comm.GetDevice(0), First);
}

TEST_F(DeviceListTest, WithoutSetupApiTheFullModesGiveTheQuickList)
{
    TFakePortMap Ports;
    Ports.Add(u"COM1", u"\\Device\\Serial0");
    Ports.Add(u"COM4", u"\\Device\\Serial3");
    Sysfs.AddUsbSerial("ttyUSB0", "FTDI", "USB Serial Port", "ftdi_sio");
    winapi_posix::SetModuleMissingForTesting(u"SetupAPI.dll", true);
    for (TnrEnumPorts Mode : {epFullInfo, epFullPresent}) {
        TnrComm Comm(nullptr);
        Comm.SetEnumPorts(Mode);
        EXPECT_EQ(Names(Comm), (Strings{"COM1#1", "COM4#4"}));
    }
    EXPECT_FALSE(SetupApiLoad());
}

TEST_F(DeviceListTest, RequiredEntryPointsDecideTheBindingAndAFailedBindingIsRetried)
{
    winapi_posix::SetEntryPointMissingForTesting(u"SetupAPI.dll", "SetupDiRemoveDevice", true);
    winapi_posix::SetEntryPointMissingForTesting(u"SetupAPI.dll", "SetupDiOpenDeviceInfoW", true);
    EXPECT_TRUE(SetupApiLoad());  // optional ones may be missing
    SetupApiUnload();

    winapi_posix::SetEntryPointMissingForTesting(u"SetupAPI.dll", "SetupDiGetINFClassW", true);
    EXPECT_FALSE(SetupApiLoad());  // required though never called
    winapi_posix::SetEntryPointMissingForTesting(u"SetupAPI.dll", "SetupDiGetINFClassW", false);
    EXPECT_TRUE(SetupApiLoad());
}

TEST_F(DeviceListTest, ConfigurationManagerComesFromSetupApiUnlessItLacksLocateDevNode)
{
    // SetupAPI has CM_Locate_DevNodeW: every CM function must come from there.
    winapi_posix::SetEntryPointMissingForTesting(u"SetupAPI.dll", "CM_Get_Child", true);
    EXPECT_FALSE(SetupApiLoad());
    // Without it, cfgmgr32.dll supplies them all.
    winapi_posix::SetEntryPointMissingForTesting(u"SetupAPI.dll", "CM_Locate_DevNodeW", true);
    EXPECT_TRUE(SetupApiLoad());
    SetupApiUnload();
    winapi_posix::SetModuleMissingForTesting(u"cfgmgr32.dll", true);
    EXPECT_FALSE(SetupApiLoad());
}

// --- full modes over the fake sysfs tree ------------------------------------

TEST_F(DeviceListTest, FullInfoDecoratesAScannedUsbAdapterWithWhatTheScanFound)
{
    Sysfs.AddUsbSerial("ttyUSB0", "FTDI", "USB Serial Port", "ftdi_sio");
    TnrComm Comm(nullptr);
    Comm.SetEnumPorts(epFullInfo);
    const Strings Listed = Names(Comm);
    ASSERT_EQ(Listed.size(), 1u) << ::testing::PrintToString(Listed);
    const TnrDevice* D = Comm.GetDevice(0);
    const UnicodeString Com = D->NameDeviceDos;
    ASSERT_EQ(Pos(u"COM", Com), 1) << ToUtf8(Com);
    EXPECT_EQ(D->NameFriendly, Com + u" (USB Serial Port)");
    EXPECT_EQ(D->Description, u"USB Serial Port");
    EXPECT_EQ(D->Manufacturer, u"FTDI");
    EXPECT_EQ(D->Service, u"ftdi_sio");
    EXPECT_FALSE(D->Driver.empty());
    EXPECT_EQ(D->PortName, Com);
    ASSERT_FALSE(D->RegKey.empty());
    // The key is the device's hardware key below HKLM: it names the port.
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, D->RegKey, u"PortName"), Com);
    // Scan-only details are not copied into the list.
    EXPECT_EQ(D->InstanceId, u"");
    EXPECT_EQ(D->NameSymbolic, u"");
}

TEST_F(DeviceListTest, ScansFindInstanceIdsKeysAndInterfacesOfThePortsClass)
{
    Sysfs.AddUsbSerial("ttyUSB0", "FTDI", "USB Serial Port", "ftdi_sio", "0403", "6001", "FT1234");
    TStringList Scans;
    const GUID Ports = DeviceScans[3].Guid;
    EnumClassDevices(Ports, true, smClassScan, &Scans);
    ASSERT_EQ(Scans.Count(), 1);
    auto* Class = static_cast<TnrDevice*>(Scans.Objects(0));
    EXPECT_EQ(Scans.Strings(0), Class->Driver);
    EXPECT_EQ(Class->InstanceId, u"USB\\VID_0403&PID_6001\\FT1234");
    EXPECT_NE(Class->DevInst, 0u);
    EXPECT_EQ(Class->GuidClass, Ports);
    EXPECT_FALSE(Class->NameSymbolic.empty());
    EXPECT_EQ(Pos(u"COM", Class->PortName), 1);

    EnumClassDevices(DeviceScans[1].Guid, true, smInterfaceScan, &Scans);  // COM port interface
    ASSERT_EQ(Scans.Count(), 2);
    auto* Interface = static_cast<TnrDevice*>(Scans.Objects(1));
    EXPECT_EQ(Interface->Driver, Class->Driver);
    EXPECT_EQ(Interface->PortName, u"");
    EXPECT_FALSE(Interface->NameSymbolic.empty());
    EXPECT_EQ(Interface->InstanceId, u"");
    for (int i = 0; i < Scans.Count(); ++i) delete static_cast<TnrDevice*>(Scans.Objects(i));
}

TEST_F(DeviceListTest, OnePortFoundByManyScansIsOneEntryAndLptIsNeverListed)
{
    Sysfs.AddUsbSerial("ttyUSB0", "FTDI", "USB Serial Port", "ftdi_sio");
    Sysfs.AddUsbSerial("ttyACM0", "Arduino", "Uno", "cdc_acm", "2341", "0043", "85735");
    for (TnrEnumPorts Mode : {epFullInfo, epFullPresent}) {
        TnrComm Comm(nullptr);
        Comm.SetEnumPorts(Mode);
        const Strings Listed = Names(Comm);
        EXPECT_EQ(Listed.size(), 2u) << ::testing::PrintToString(Listed);
        for (const auto& S : Listed) EXPECT_EQ(S.find("LPT"), std::string::npos) << S;
    }
}

TEST_F(DeviceListTest, DevicesVanishingBeforeTheScanAreSkipped)
{
    Sysfs.AddUsbSerial("ttyUSB0", "FTDI", "USB Serial Port", "ftdi_sio");
    Sysfs.AddUsbSerial("ttyUSB1", "Prolific", "USB-Serial Controller", "pl2303");
    TnrComm Comm(nullptr);
    Comm.SetEnumPorts(epFullInfo);
    // The device folders go, the class links stay behind (dangling).
    std::filesystem::remove_all(FakeSysfsRoot() + "/devices");
    const Strings Listed = Names(Comm);
    for (const auto& S : Listed) EXPECT_EQ(S.find("("), std::string::npos) << S;
}

// --- the two passes over synthetic scan records -----------------------------

namespace {

struct TScanSpec {
    const char16_t* PortName;
    const char16_t* Description = u"";
    const char16_t* Driver = u"";
};

TnrDevice* ScanRecord(const TScanSpec& S)
{
    auto* D = new TnrDevice();
    D->PortName = S.PortName;
    D->Description = S.Description;
    D->Driver = S.Driver;
    D->Service = u"svc:" + UnicodeString(S.PortName);
    D->Manufacturer = u"mfg:" + UnicodeString(S.PortName);
    D->RegKey = u"SYSTEM\\Enum\\" + UnicodeString(S.Driver);
    D->InstanceId = u"not copied";
    D->NameSymbolic = u"not copied";
    return D;
}

void FillScans(TStringList& Scans, std::initializer_list<TScanSpec> Specs)
{
    for (const auto& S : Specs) {
        TnrDevice* D = ScanRecord(S);
        Scans.AddObject(D->Driver, D);
    }
}

void FillPorts(TStringList& Ports, std::initializer_list<std::pair<const char16_t*, int>> Entries)
{
    for (const auto& [Text, Number] : Entries) Ports.AddInteger(Text, Number);
}

Strings Listed(TnrComm& Comm)
{
    Strings R;
    for (int i = 0; i < Comm.CountDevices(); ++i)
        R.push_back(ToUtf8(Comm.GetDevice(i)->NameFriendly) + "#" + std::to_string(Comm.GetDevice(i)->Data));
    return R;
}

}  // namespace

TEST_F(DeviceListTest, MergeDecoratesMatchedPortsAndAddsScanOnlyPortsBehindTheComPorts)
{
    TStringList Ports, Scans;
    FillPorts(Ports, {{u"COM3=\\Device\\Serial2", 3}, {u"COM10=\\Device\\VCP0", 10}});
    FillScans(Scans, {
                         {u"CNCA0", u"com0com - serial port emulator", u"drv-cnca0"},
                         {u"", u"Modem (COM7)", u"drv-iface"},  // an interface record has no port name
                         {u" COM10 ", u"Communications Port (COM10)", u"drv-com10"},
                         {u"LPT1", u"Printer Port", u"drv-lpt1"},
                         {u"com3", u"USB Serial Port", u"drv-com3"},
                         {u"COM7", u"", u"drv-com7"},
                         {u"CNCB0", u"", u"drv-cncb0"},
                         {u"COM7", u"Second record of COM7", u"drv-com7b"},
                     });
    TnrComm Comm(nullptr);
    DeviceListMerge(&Comm, Ports, Scans, epFullInfo);
    EXPECT_EQ(Scans.Count(), 0);
    EXPECT_EQ(Listed(Comm), (Strings{"COM3 (USB Serial Port)#3", "COM7#7", "COM10 (Communications Port (COM10))#10",
                                     "CNCA0 (com0com - serial port emulator)#4097", "CNCB0#4098"}));

    const TnrDevice* Com3 = Comm.GetDevice(0);
    EXPECT_EQ(Com3->NameDeviceDos, u"COM3");
    EXPECT_EQ(Com3->NamePDO, u"\\Device\\Serial2");
    EXPECT_EQ(Com3->PortName, u"com3");  // the scan's name
    EXPECT_EQ(Com3->Description, u"USB Serial Port");
    EXPECT_EQ(Com3->Service, u"svc:com3");
    EXPECT_EQ(Com3->Manufacturer, u"mfg:com3");
    EXPECT_EQ(Com3->Driver, u"drv-com3");
    EXPECT_EQ(Com3->RegKey, u"SYSTEM\\Enum\\drv-com3");
    EXPECT_EQ(Com3->InstanceId, u"");
    EXPECT_EQ(Com3->NameSymbolic, u"");

    // Matched through its description; its port name is trimmed.
    EXPECT_EQ(Comm.GetDevice(2)->PortName, u"COM10");
    EXPECT_EQ(Comm.GetDevice(2)->Driver, u"drv-com10");
    const TnrDevice* Cnca = Comm.GetDevice(3);
    EXPECT_EQ(Cnca->NameDeviceDos, u"CNCA0");
    EXPECT_EQ(Cnca->PortName, u"CNCA0");
    EXPECT_EQ(Cnca->NamePDO, u"");
    // The first COM7 record wins; the second is refused (and freed).
    EXPECT_EQ(Comm.GetDevice(1)->Driver, u"drv-com7");
}

TEST_F(DeviceListTest, PresentModeDropsMappedPortsWhileUnmatchedScanRecordsRemain)
{
    {
        TStringList Ports, Scans;
        FillPorts(Ports, {{u"COM1=\\Device\\Serial0", 1}, {u"COM2=\\Device\\Serial1", 2}, {u"COM5=", 5}});
        FillScans(Scans, {{u"COM2", u"Present port"}, {u"CNCA0"}});
        TnrComm Comm(nullptr);
        DeviceListMerge(&Comm, Ports, Scans, epFullPresent);
        EXPECT_EQ(Listed(Comm), (Strings{"COM2 (Present port)#2", "CNCA0#4097"}));
    }
    {
        // Once every scan record is matched there is nothing to compare: the rest is added.
        TStringList Ports, Scans;
        FillPorts(Ports, {{u"COM1=\\Device\\Serial0", 1}, {u"COM2=\\Device\\Serial1", 2}});
        FillScans(Scans, {{u"COM1"}});
        TnrComm Comm(nullptr);
        DeviceListMerge(&Comm, Ports, Scans, epFullPresent);
        EXPECT_EQ(Listed(Comm), (Strings{"COM1#1", "COM2#2"}));
    }
    {
        TStringList Ports, Scans;
        FillPorts(Ports, {{u"COM1=\\Device\\Serial0", 1}, {u"COM4=\\Device\\Serial3", 4}});
        TnrComm Comm(nullptr);
        DeviceListMerge(&Comm, Ports, Scans, epFullPresent);
        EXPECT_EQ(Listed(Comm), (Strings{"COM1#1", "COM4#4"}));
    }
}

TEST_F(DeviceListTest, ScanOnlyComNamesWithoutANumberGetKeyZero)
{
    TStringList Ports, Scans;
    FillScans(Scans, {{u"COMX"}, {u"COM"}, {u"LPT2"}});
    TnrComm Comm(nullptr);
    DeviceListMerge(&Comm, Ports, Scans, epFullInfo);
    // Both have key 0: the second is refused.
    EXPECT_EQ(Listed(Comm), (Strings{"COMX#0"}));
}
