// The message boxes shown while a test runs, recorded and answered with OK;
// the program's own hook again afterwards.
#pragma once

#include "toolkit/forms.h"

#include <vector>

struct TBoxes {
    TBoxes() : Saved(Application->MessageBoxHook)
    {
        Application->MessageBoxHook = [this](const UnicodeString& T, const UnicodeString&, int) {
            List.push_back(T);
            return MsgBox::IdOk;
        };
    }
    ~TBoxes() { Application->MessageBoxHook = Saved; }
    TBoxes(const TBoxes&) = delete;
    TBoxes& operator=(const TBoxes&) = delete;
    decltype(Application->MessageBoxHook) Saved;
    std::vector<UnicodeString> List;
};
