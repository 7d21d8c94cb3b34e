// TSaveDialog.
#include "toolkit/dialogs.h"

TSaveDialog::TSaveDialog(TComponent* AOwner) : TComponent(AOwner) {}

bool TSaveDialog::Execute()
{
    UnicodeString Chosen = FileName;
    const bool Ok = ExecuteHook ? ExecuteHook(Chosen) : (Application && Application->PromptForSaveFileName(Chosen));
    if (!Ok) return false;
    FileName = Chosen;
    return true;
}
