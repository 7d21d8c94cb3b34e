// TSaveDialog, TOpenDialog.
#include "toolkit/dialogs.h"

TSaveDialog::TSaveDialog(TComponent* AOwner) : TComponent(AOwner) {}

namespace {
bool RunFileDialog(UnicodeString& FileName, const std::function<bool(UnicodeString&)>& Hook, bool Open)
{
    UnicodeString Chosen = FileName;
    const bool Ok = Hook ? Hook(Chosen)
                         : (Application && (Open ? Application->PromptForOpenFileName(Chosen)
                                                 : Application->PromptForSaveFileName(Chosen)));
    if (!Ok) return false;
    FileName = Chosen;
    return true;
}
}  // namespace

bool TSaveDialog::Execute()
{
    return RunFileDialog(FileName, ExecuteHook, false);
}

TOpenDialog::TOpenDialog(TComponent* AOwner) : TComponent(AOwner) {}

bool TOpenDialog::Execute()
{
    return RunFileDialog(FileName, ExecuteHook, true);
}
