#include "toolkit/qt/portsettingsdialog.h"

#include "toolkit/qt/qtapplication.h"
#include "toolkit/qt/qtcontrols.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QPushButton>
#include <QVBoxLayout>

#ifndef _WIN32
#include "platform/program_glue.h"
#endif

namespace {

const DWORD BaudRates[] = {110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 57600, 115200, 128000, 256000};

enum Flow { FlowNone, FlowXonXoff, FlowHardware };

int FlowOf(const DCB& D)
{
    if (D.fOutX && D.fInX) return FlowXonXoff;
    if (D.fOutxCtsFlow && D.fRtsControl == RTS_CONTROL_HANDSHAKE) return FlowHardware;
    return FlowNone;
}

}  // namespace

TPortSettingsDialog::TPortSettingsDialog(const std::u16string& Port, const DCB& Dcb, QWidget* Parent) : QDialog(Parent)
{
    setWindowTitle(QStringLiteral("Eigenschaften von %1").arg(ToQString(Port)));
    BaudRate = new QComboBox(this);
    for (DWORD b : BaudRates) BaudRate->addItem(QString::number(b), QVariant::fromValue<uint>(b));
    DataBits = new QComboBox(this);
    for (int b = 5; b <= 8; ++b) DataBits->addItem(QString::number(b), b);
    Parity = new QComboBox(this);
    Parity->addItem(QStringLiteral("Keine"), NOPARITY);
    Parity->addItem(QStringLiteral("Ungerade"), ODDPARITY);
    Parity->addItem(QStringLiteral("Gerade"), EVENPARITY);
    Parity->addItem(QStringLiteral("Markierung"), MARKPARITY);
    Parity->addItem(QStringLiteral("Leerzeichen"), SPACEPARITY);
    StopBits = new QComboBox(this);
    StopBits->addItem(QStringLiteral("1"), ONESTOPBIT);
    StopBits->addItem(QStringLiteral("1,5"), ONE5STOPBITS);
    StopBits->addItem(QStringLiteral("2"), TWOSTOPBITS);
    FlowControl = new QComboBox(this);
    FlowControl->addItem(QStringLiteral("Keine"), FlowNone);
    FlowControl->addItem(QStringLiteral("Xon / Xoff"), FlowXonXoff);
    FlowControl->addItem(QStringLiteral("Hardware"), FlowHardware);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Bits pro Sekunde:"), BaudRate);
    form->addRow(QStringLiteral("Datenbits:"), DataBits);
    form->addRow(QStringLiteral("Parität:"), Parity);
    form->addRow(QStringLiteral("Stoppbits:"), StopBits);
    form->addRow(QStringLiteral("Flusssteuerung:"), FlowControl);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Abbrechen"));
    QPushButton* defaults =
        buttons->addButton(QStringLiteral("Standard wiederherstellen"), QDialogButtonBox::ResetRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(defaults, &QPushButton::clicked, this, [this] {
        DCB d{};
        d.BaudRate = 9600;
        d.ByteSize = 8;
        d.Parity = NOPARITY;
        d.StopBits = ONESTOPBIT;
        Show(d);
    });

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    Show(Dcb);
}

void TPortSettingsDialog::Show(const DCB& Dcb)
{
    int i = BaudRate->findData(QVariant::fromValue<uint>(Dcb.BaudRate));
    if (i < 0) {
        // A rate outside the usual list stays selectable as it is.
        BaudRate->addItem(QString::number(Dcb.BaudRate), QVariant::fromValue<uint>(Dcb.BaudRate));
        i = BaudRate->count() - 1;
    }
    BaudRate->setCurrentIndex(i);
    DataBits->setCurrentIndex(std::max(0, DataBits->findData(int(Dcb.ByteSize))));
    Parity->setCurrentIndex(std::max(0, Parity->findData(int(Dcb.Parity))));
    StopBits->setCurrentIndex(std::max(0, StopBits->findData(int(Dcb.StopBits))));
    FlowControl->setCurrentIndex(FlowOf(Dcb));
}

void TPortSettingsDialog::ApplyTo(DCB& Dcb) const
{
    Dcb.BaudRate = BaudRate->currentData().toUInt();
    Dcb.ByteSize = static_cast<BYTE>(DataBits->currentData().toInt());
    Dcb.Parity = static_cast<BYTE>(Parity->currentData().toInt());
    Dcb.fParity = Dcb.Parity != NOPARITY;
    Dcb.StopBits = static_cast<BYTE>(StopBits->currentData().toInt());
    // The flag patterns the system's dialog writes for each choice.
    Dcb.fBinary = 1;
    Dcb.fDtrControl = DTR_CONTROL_ENABLE;
    Dcb.fOutxDsrFlow = 0;
    const int Flow = FlowControl->currentData().toInt();
    Dcb.fOutX = Flow == FlowXonXoff;
    Dcb.fInX = Flow == FlowXonXoff;
    Dcb.fOutxCtsFlow = Flow == FlowHardware;
    Dcb.fRtsControl = Flow == FlowHardware ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
}

bool PortSettingsDialogExecute(const std::u16string& Port, COMMCONFIG* Config, QWidget* Parent)
{
    if (!Config) return false;
    TPortSettingsDialog dialog(Port, Config->dcb, Parent);
    if (dialog.exec() != QDialog::Accepted) return false;
    dialog.ApplyTo(Config->dcb);
    return true;
}

#ifndef _WIN32
void InstallQtDesktopProvider()
{
    platform::DesktopProvider provider;
    provider.ForegroundWindow = [] {
        QWidget* w = QApplication::activeWindow();
        return reinterpret_cast<HWND>(w);
    };
    provider.MessageBox = [](HWND, const std::u16string& Text, const std::u16string& Caption, UINT Type) {
        return Application ? Application->MessageBox(Text, Caption, static_cast<int>(Type)) : IDOK;
    };
    provider.CommConfigDialog = [](const std::u16string& Port, HWND, void* Config) {
        bool accepted = false;
        // The component may ask from any thread; the dialog lives on the GUI thread.
        RunOnMainThread([&] {
            accepted = PortSettingsDialogExecute(Port, static_cast<COMMCONFIG*>(Config), QApplication::activeWindow());
        });
        return accepted;
    };
    platform::SetDesktopProvider(std::move(provider));
}
#endif
