// The save-file and open-file dialogs.
#pragma once

#include "toolkit/forms.h"

// Shows the backend's save-file dialog with FileName proposed; the chosen path
// becomes FileName. No filter, no default extension and no overwrite prompt
// unless set; FileName is remembered between uses.
class TSaveDialog : public TComponent {
public:
    explicit TSaveDialog(TComponent* AOwner);
    // False when the user cancelled (FileName stays).
    bool Execute();
    UnicodeString FileName;
    // Replaces the dialog (tests, automation): returns the chosen path in
    // FileName, false for a cancel.
    std::function<bool(UnicodeString& FileName)> ExecuteHook;
};

// Shows the backend's open-file dialog (an existing file must be picked); the
// chosen path becomes FileName.
class TOpenDialog : public TComponent {
public:
    explicit TOpenDialog(TComponent* AOwner);
    // False when the user cancelled (FileName stays).
    bool Execute();
    UnicodeString FileName;
    // Replaces the dialog (tests, automation), as for TSaveDialog.
    std::function<bool(UnicodeString& FileName)> ExecuteHook;
};
