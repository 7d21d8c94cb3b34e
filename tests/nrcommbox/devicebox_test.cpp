// The device box attached to serial components whose ports come from a
// private port map (Qt offscreen).
#include <gtest/gtest.h>

#include <QApplication>
#include <QSignalSpy>
#include <QTest>

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

QStringList Items(const QComboBox& Box)
{
    QStringList R;
    for (int i = 0; i < Box.count(); ++i)
        R << Box.itemText(i);
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
    static void PickNext(TnrDeviceBox& Box) { QTest::keyClick(&Box, Qt::Key_Down); }

    TFakePortMap Ports;
};

}  // namespace

TEST_F(DeviceBoxTest, IsADropDownListWhoseSelectionFollowsDeviceIndex)
{
    TTestComm Comm;
    Comm.SetComPortNo(3);
    TnrDeviceBox Box(nullptr);
    EXPECT_FALSE(Box.isEditable());
    Box.SetnrComm(&Comm);
    EXPECT_EQ(Items(Box), (QStringList{"COM1", "COM3"}));
    EXPECT_EQ(Box.currentIndex(), 1);
    EXPECT_EQ(Box.currentText(), "COM3");
    EXPECT_EQ(Box.ItemDevice(1), Comm.GetDevice(1));

    // A port that is not in the list: everything shown, nothing selected.
    Comm.SetComPortNo(7);
    EXPECT_EQ(Items(Box), (QStringList{"COM1", "COM3"}));
    EXPECT_EQ(Box.currentIndex(), -1);
    EXPECT_EQ(Box.currentText(), "");
}

TEST_F(DeviceBoxTest, APickWritesDeviceIndexAndFiresOnChangeOnce)
{
    TTestComm Comm;
    TnrDeviceBox Box(nullptr);
    Box.SetnrComm(&Comm);
    ASSERT_EQ(Box.currentIndex(), 0);
    int Changes = 0;
    uint16_t PortSeenByHandler = 0;
    Box.OnChange = [&](TObject* Sender) {
        EXPECT_EQ(Sender, static_cast<TObject*>(&Box));
        PortSeenByHandler = Comm.GetComPortNo();
        ++Changes;
    };
    QSignalSpy Spy(&Box, &TnrDeviceBox::deviceChanged);
    PickNext(Box);
    EXPECT_EQ(Changes, 1);
    EXPECT_EQ(Spy.count(), 1);
    EXPECT_EQ(PortSeenByHandler, 3);  // DeviceIndex is written before OnChange
    EXPECT_EQ(Comm.GetComPortNo(), 3);
    EXPECT_EQ(Box.currentIndex(), 1);  // kept after the reload that code 3 caused
    EXPECT_EQ(Items(Box), (QStringList{"COM1", "COM3"}));

    // Setting the selection from the program is no pick.
    Box.setCurrentIndex(0);
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

    Box.setCurrentIndex(1);
    Box.DeviceNotify(&Comm, 1);
    Box.DeviceNotify(&Comm, 2);
    EXPECT_EQ(Box.currentIndex(), 1);
    EXPECT_EQ(Box.count(), 2);
    Box.DeviceNotify(&Comm, 3);
    EXPECT_EQ(Box.currentIndex(), 0);  // back to the component's port

    Box.SetnrComm(nullptr);
    EXPECT_EQ(Comm.NotifyCount(), Before);
    EXPECT_EQ(Box.count(), 0);
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
    EXPECT_EQ(Box.currentIndex(), 1);
    First.reset();
    EXPECT_EQ(Box.GetnrComm(), &Second);
    EXPECT_EQ(Box.currentIndex(), 1);
    EXPECT_EQ(Box.count(), 2);
}

TEST_F(DeviceBoxTest, SurvivesItsComponentWithEntriesKeptAndNothingSelected)
{
    auto Comm = std::make_unique<TTestComm>();
    TnrDeviceBox Box(nullptr);
    Box.SetnrComm(Comm.get());
    ASSERT_EQ(Box.currentIndex(), 0);
    int Changes = 0;
    Box.OnChange = [&](TObject*) { ++Changes; };
    Comm.reset();
    EXPECT_EQ(Box.GetnrComm(), nullptr);
    EXPECT_EQ(Items(Box), (QStringList{"COM1", "COM3"}));
    EXPECT_EQ(Box.currentIndex(), -1);
    EXPECT_EQ(Box.ItemDevice(0), nullptr);  // the records went with their component

    PickNext(Box);  // no component: nothing happens
    EXPECT_EQ(Changes, 0);
    MSG Msg{};
    Msg.message = 0x0219;
    Msg.wParam = 0x0007;
    Box.WMDeviceChange(Msg);
    EXPECT_EQ(Items(Box), (QStringList{"COM1", "COM3"}));
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
    EXPECT_EQ(Items(Box), (QStringList{"COM1", "COM3", "COM12"}));
    EXPECT_EQ(Box.currentIndex(), 0);

    Ports.Remove(u"COM1");
    Box.WMDeviceChange(Msg);
    EXPECT_EQ(Items(Box), (QStringList{"COM3", "COM12"}));
    EXPECT_EQ(Box.currentIndex(), -1);  // COM1 is gone
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
        EXPECT_TRUE(Items(Box).contains("COM42")) << Items(Box).join(",").toStdString();
    }
    winapi_posix::UnregisterSharedPort(Com);
    close(Slave);
    close(Master);
}

int main(int argc, char** argv)
{
    DiscoveryTestEnvironment();  // a private port map, registry and sysfs tree
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication QtApp(argc, argv);
    THeadlessApplication App;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
