// The device box attached to serial components whose ports come from a
// private port map (headless: the user's pick raised by code).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <pty.h>
#include <unistd.h>

#include <winapi.h>

#include "comm/nrcomm/nrcomm.h"
#include "comm/nrcommbox/nrcommbox.h"
#include "platform/posix/portmap.h"
#include "tests/discovery/discovery_env.h"
#include "tests/discovery/fake_portmap.h"
#include "tests/support/test_comm.h"
#include "toolkit/forms.h"

namespace {

using TItems = std::vector<std::string>;

TItems Items(const TComboBox& Box)
{
    TItems R;
    for (int i = 0; i < Box.Count(); ++i) R.push_back(ToUtf8(Box.Items().Strings(i)));
    return R;
}

class DeviceBoxTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Ports.Add(u"COM1", u"\\Device\\Serial0");
        Ports.Add(u"COM3", u"\\Device\\Serial2");
    }

    // The user's pick of the entry below the current one, from the keyboard.
    static void PickNext(TnrDeviceBox& Box) { Box.PickItem(Box.ItemIndex() + 1); }

    TFakePortMap Ports;
};

}  // namespace

TEST_F(DeviceBoxTest, IsADropDownListWhoseSelectionFollowsDeviceIndex)
{
    TTestComm Comm;
    Comm.SetComPortNo(3);
    TnrDeviceBox Box(nullptr);
    EXPECT_EQ(Box.Style(), csDropDownList);
    Box.SetnrComm(&Comm);
    EXPECT_EQ(Items(Box), (TItems{"COM1", "COM3"}));
    EXPECT_EQ(Box.ItemIndex(), 1);
    EXPECT_EQ(Box.Text(), u"COM3");
    EXPECT_EQ(Box.ItemDevice(1), Comm.GetDevice(1));

    // A port that is not in the list: everything shown, nothing selected.
    Comm.SetComPortNo(7);
    EXPECT_EQ(Items(Box), (TItems{"COM1", "COM3"}));
    EXPECT_EQ(Box.ItemIndex(), -1);
    EXPECT_EQ(Box.Text(), u"");
}

TEST_F(DeviceBoxTest, APickWritesDeviceIndexAndFiresOnChangeOnce)
{
    TTestComm Comm;
    TnrDeviceBox Box(nullptr);
    Box.SetnrComm(&Comm);
    ASSERT_EQ(Box.ItemIndex(), 0);
    int Changes = 0;
    uint16_t PortSeenByHandler = 0;
    Box.OnChange = [&](TObject* Sender) {
        EXPECT_EQ(Sender, static_cast<TObject*>(&Box));
        PortSeenByHandler = Comm.GetComPortNo();
        ++Changes;
    };
    PickNext(Box);
    EXPECT_EQ(Changes, 1);
    EXPECT_EQ(PortSeenByHandler, 3);  // DeviceIndex is written before OnChange
    EXPECT_EQ(Comm.GetComPortNo(), 3);
    EXPECT_EQ(Box.ItemIndex(), 1);  // kept after the reload that code 3 caused
    EXPECT_EQ(Items(Box), (TItems{"COM1", "COM3"}));

    // Setting the selection from the program is no pick.
    Box.SetItemIndex(0);
    EXPECT_EQ(Changes, 1);
    EXPECT_EQ(Comm.GetComPortNo(), 3);
}

TEST_F(DeviceBoxTest, ReattachingRegistersOnceAndOnlyCodeThreeReloads)
{
    TTestComm Comm;
    const int Before = Comm.NotifyCount();
    TnrDeviceBox Box(nullptr);
    Box.SetnrComm(&Comm);
    Box.Reload();
    Box.SetnrComm(&Comm);
    EXPECT_EQ(Comm.NotifyCount(), Before + 1);

    Box.SetItemIndex(1);
    Box.DeviceNotify(&Comm, 1);
    Box.DeviceNotify(&Comm, 2);
    EXPECT_EQ(Box.ItemIndex(), 1);
    EXPECT_EQ(Box.Count(), 2);
    Box.DeviceNotify(&Comm, 3);
    EXPECT_EQ(Box.ItemIndex(), 0);  // back to the component's port

    Box.SetnrComm(nullptr);
    EXPECT_EQ(Comm.NotifyCount(), Before);
    EXPECT_EQ(Box.Count(), 0);
}

TEST_F(DeviceBoxTest, SwitchingComponentsLeavesTheFirstOneBehind)
{
    auto First = std::make_unique<TTestComm>();
    TTestComm Second;
    Second.SetComPortNo(3);
    const int Before = First->NotifyCount();
    TnrDeviceBox Box(nullptr);
    Box.SetnrComm(First.get());
    Box.SetnrComm(&Second);
    EXPECT_EQ(First->NotifyCount(), Before);
    First->SetComPortNo(1);  // code 3 from the first one no longer reaches the box
    EXPECT_EQ(Box.ItemIndex(), 1);
    First.reset();
    EXPECT_EQ(Box.GetnrComm(), &Second);
    EXPECT_EQ(Box.ItemIndex(), 1);
    EXPECT_EQ(Box.Count(), 2);
}

TEST_F(DeviceBoxTest, SurvivesItsComponentWithEntriesKeptAndNothingSelected)
{
    auto Comm = std::make_unique<TTestComm>();
    TnrDeviceBox Box(nullptr);
    Box.SetnrComm(Comm.get());
    ASSERT_EQ(Box.ItemIndex(), 0);
    int Changes = 0;
    Box.OnChange = [&](TObject*) { ++Changes; };
    Comm.reset();
    EXPECT_EQ(Box.GetnrComm(), nullptr);
    EXPECT_EQ(Items(Box), (TItems{"COM1", "COM3"}));
    EXPECT_EQ(Box.ItemIndex(), -1);
    EXPECT_EQ(Box.ItemDevice(0), nullptr);  // the records went with their component

    PickNext(Box);  // no component: nothing happens
    EXPECT_EQ(Changes, 0);
    MSG Msg{};
    Msg.message = 0x0219;
    Msg.wParam = 0x0007;
    Box.WMDeviceChange(Msg);
    EXPECT_EQ(Items(Box), (TItems{"COM1", "COM3"}));
}

TEST_F(DeviceBoxTest, ABoxDestroyedFirstUnregisters)
{
    TTestComm Comm;
    const int Before = Comm.NotifyCount();
    {
        TnrDeviceBox Box(nullptr);
        Box.SetnrComm(&Comm);
        EXPECT_EQ(Comm.NotifyCount(), Before + 1);
    }
    EXPECT_EQ(Comm.NotifyCount(), Before);
    Comm.SetComPortNo(3);  // would reach a destroyed box otherwise
}

TEST_F(DeviceBoxTest, DeviceChangeMessagesRebuildTheListThroughTheComponent)
{
    TTestComm Comm;
    TnrDeviceBox Box(nullptr);
    Box.SetnrComm(&Comm);
    Ports.Add(u"COM12", u"\\Device\\ttyUSB0");
    MSG Msg{};
    Msg.message = 0x0219;  // WM_DEVICECHANGE
    Msg.wParam = 0x0007;   // DBT_DEVNODES_CHANGED
    Box.WMDeviceChange(Msg);
    EXPECT_EQ(Items(Box), (TItems{"COM1", "COM3", "COM12"}));
    EXPECT_EQ(Box.ItemIndex(), 0);

    Ports.Remove(u"COM1");
    Box.WMDeviceChange(Msg);
    EXPECT_EQ(Items(Box), (TItems{"COM3", "COM12"}));
    EXPECT_EQ(Box.ItemIndex(), -1);  // COM1 is gone
}

TEST(DeviceBoxPty, ListsAPtyRegisteredInThePortMap)
{
    int Master = -1, Slave = -1;
    char SlaveName[256] = {};
    ASSERT_EQ(openpty(&Master, &Slave, SlaveName, nullptr, nullptr), 0);
    const std::u16string Com = winapi_posix::RegisterSharedPort(SlaveName, u"COM42");
    ASSERT_EQ(Com, u"COM42");
    {
        TTestComm Comm;
        TnrDeviceBox Box(nullptr);
        Box.SetnrComm(&Comm);
        const TItems Listed = Items(Box);
        EXPECT_NE(std::find(Listed.begin(), Listed.end(), "COM42"), Listed.end()) << ::testing::PrintToString(Listed);
    }
    winapi_posix::UnregisterSharedPort(Com);
    close(Slave);
    close(Master);
}

int main(int argc, char** argv)
{
    DiscoveryTestEnvironment();  // a private port map, registry and sysfs tree
    THeadlessApplication App;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
