// TFileDialog.
#include "toolkit/dialogs.h"

bool TFileDialog::Execute()
{
    UnicodeString Chosen = FileName;
    const bool Ok = ExecuteHook ? ExecuteHook(Chosen)
                                : (Application && (fOpen ? Application->PromptForOpenFileName(Chosen)
                                                         : Application->PromptForSaveFileName(Chosen)));
    if (!Ok) return false;
    FileName = Chosen;
    return true;
}
