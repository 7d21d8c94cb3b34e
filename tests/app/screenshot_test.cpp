// Writes the main window after a capture from the simulated instrument to
// <build>/artifacts/mainwindow.png and checks that the picture shows the plot.
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "comm/nrcomm/nrcomm.h"
#include "comm/nrcommbox/nrcommbox.h"
#include "tests/app/private_ports.h"
#include "toolkit/qt/portsettingsdialog.h"
#include "toolkit/qt/qtapplication.h"
#include "tools/spectrosim/virtual_instrument.h"

#include <gtest/gtest.h>

#include <QApplication>

#include <filesystem>

namespace fs = std::filesystem;

TEST(Screenshot, MainWindowAfterCapture)
{
    std::vector<UnicodeString> boxes;
    Application->MessageBoxHook = [&](const UnicodeString& T, const UnicodeString&, int) {
        boxes.push_back(T);
        return MsgBox::IdOk;
    };
    spectrosim::TVirtualInstrument instrument(u"COM3", {}, /*Paced=*/false);
    ResetAcquisitionState();
    {
        TForm1 form;
        new TForm2(&form);
        form.Show();
        const int index = form.nrDeviceBox1->Items().IndexOf(u"COM3");
        ASSERT_GE(index, 0);
        form.nrDeviceBox1->PickItem(index);
        form.TTempTimer(&form);
        ASSERT_TRUE(Application->WaitUntil([&] { return !form.F_Panel->Caption().empty(); }, std::chrono::seconds(5)));
        form.bSend->Click();
        ASSERT_TRUE(Application->WaitUntil([&] { return form.ListBox1->Count() >= 128; }, std::chrono::seconds(5)));
        Application->ProcessMessages();

        TBitmap shot;
        TPoint client;
        ASSERT_TRUE(form.GrabWindow(shot, client));
        fs::create_directories(SPECTRO_ARTIFACTS_DIR);
        ASSERT_TRUE(shot.SaveToPngFile(u"" SPECTRO_ARTIFACTS_DIR "/mainwindow.png"));
        // The plot is in the picture: red spectrum pixels inside the image area
        // (the default 10 ms exposure).
        const int left = client.X + form.Image1->Left(), top = client.Y + form.Image1->Top();
        int red = 0;
        for (int y = 0; y < 88; ++y)
            for (int x = 0; x < 167; ++x)
                if (shot.Pixel(left + x, top + y) == RGB(255, 0, 0))
                    ++red;
        EXPECT_GT(red, 100);
    }
}

int main(int argc, char** argv)
{
    const fs::path root = UsePrivatePorts("spectro-shot-");
    QApplication qt(argc, argv);
    TQtApplication app;
    InstallQtDesktopProvider();
    ::testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    fs::remove_all(root);
    return status;
}
