// The port settings dialog that CommConfigDialogW shows on the desktop:
// baud rate, data bits, parity, stop bits and flow control of a COMMCONFIG,
// edited in place when the user confirms.
#pragma once

#include <winapi.h>

#include <QDialog>
#include <string>

class QComboBox;

class TPortSettingsDialog : public QDialog {
    Q_OBJECT
public:
    TPortSettingsDialog(const std::u16string& Port, const DCB& Dcb, QWidget* Parent = nullptr);
    // The dialog's values written into Dcb (other fields stay as they are).
    void ApplyTo(DCB& Dcb) const;

    QComboBox* BaudRate;
    QComboBox* DataBits;
    QComboBox* Parity;
    QComboBox* StopBits;
    QComboBox* FlowControl;

private:
    void Show(const DCB& Dcb);
};

// Shows the dialog modally for Port; on OK writes the values into the
// COMMCONFIG's DCB and returns true, on cancel changes nothing.
bool PortSettingsDialogExecute(const std::u16string& Port, COMMCONFIG* Config, QWidget* Parent);

#ifndef _WIN32
// Installs the desktop provider of the platform layer: the foreground window,
// message boxes through the Application dispatcher and the dialog above for
// CommConfigDialogW. Call once after the TQtApplication exists.
void InstallQtDesktopProvider();
#endif
