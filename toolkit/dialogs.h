// The save-file and open-file dialogs.
#pragma once

#include "toolkit/forms.h"

// Shows the backend's file dialog with FileName proposed; the chosen path
// becomes FileName. No filter, no default extension and no overwrite prompt
// unless set; FileName is remembered between uses.
class TFileDialog : public TComponent {
public:
    // False when the user cancelled (FileName stays).
    bool Execute();
    UnicodeString FileName;
    // Replaces the dialog (tests, automation): returns the chosen path in
    // FileName, false for a cancel.
    std::function<bool(UnicodeString& FileName)> ExecuteHook;

protected:
    TFileDialog(TComponent* AOwner, bool Open) : TComponent(AOwner), fOpen(Open) {}

private:
    bool fOpen;
};

class TSaveDialog : public TFileDialog {
public:
    explicit TSaveDialog(TComponent* AOwner) : TFileDialog(AOwner, false) {}
};

// An existing file must be picked.
class TOpenDialog : public TFileDialog {
public:
    explicit TOpenDialog(TComponent* AOwner) : TFileDialog(AOwner, true) {}
};
