// Writes the main window after a capture from the simulated instrument to
// <build>/artifacts/mainwindow.png and checks that the picture shows the plot.
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "comm/nrcomm/nrcomm.h"
#include "comm/nrcommbox/nrcommbox.h"
#include "tests/app/private_ports.h"
#include "toolkit/qt/portsettingsdialog.h"
#include "toolkit/qt/qtapplication.h"
#include "toolkit/qt/qtdesktop.h"
#include "tools/spectrosim/virtual_instrument.h"

#include <gtest/gtest.h>

#include <QApplication>

#include <filesystem>

namespace fs = std::filesystem;

TEST(Screenshot, MainWindowAfterCapture)
{
    std::vector<UnicodeString> boxes;
    static_cast<TQtApplication*>(Application)->MessageBoxHook = [&](const UnicodeString& T, const UnicodeString&, int) {
        boxes.push_back(T);
        return MsgBox::IdOk;
    };
    spectrosim::TVirtualInstrument instrument(u"COM3", {}, /*Paced=*/false);
    ResetAcquisitionState();
    {
        TForm1 form;
        new TForm2(&form);
        form.show();
        const int index = form.nrDeviceBox1->findText(QStringLiteral("COM3"), Qt::MatchContains);
        ASSERT_GE(index, 0);
        form.nrDeviceBox1->setCurrentIndex(index);
        emit form.nrDeviceBox1->activated(index);
        form.TTempTimer(&form);
        ASSERT_TRUE(Application->WaitUntil([&] { return !form.F_Panel->text().isEmpty(); }, std::chrono::seconds(5)));
        form.bSend->click();
        ASSERT_TRUE(Application->WaitUntil([&] { return form.ListBox1->count() >= 128; }, std::chrono::seconds(5)));
        Application->ProcessMessages();

        const QImage shot = form.grab().toImage();
        fs::create_directories(SPECTRO_ARTIFACTS_DIR);
        const QString file = QStringLiteral(SPECTRO_ARTIFACTS_DIR "/mainwindow.png");
        ASSERT_TRUE(shot.save(file, "PNG"));
        // The plot is in the picture: red spectrum pixels inside the image area
        // (the default 10 ms exposure).
        const QPoint origin = form.Image1->mapTo(&form, QPoint(0, 0));
        int red = 0;
        for (int y = 0; y < 88; ++y)
            for (int x = 0; x < 167; ++x)
                if (shot.pixelColor(origin + QPoint(x, y)) == QColor(255, 0, 0))
                    ++red;
        EXPECT_GT(red, 100);
    }
}

int main(int argc, char** argv)
{
    const fs::path root = UsePrivatePorts("spectro-shot-");
    QApplication qt(argc, argv);
    LoadGermanQtTranslations();
    InstallFormFonts();
    TQtApplication app;
    InstallQtDesktopProvider();
    ::testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    fs::remove_all(root);
    return status;
}
