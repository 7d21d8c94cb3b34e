// Placing the forms' controls at their designed bounds.
#pragma once

#include "toolkit/extctrls.h"
#include "toolkit/forms.h"
#include "toolkit/stdctrls.h"

// A control of the kind T with owner and parent Form, placed at its bounds.
template <class T>
T* PlacedControl(TForm* Form, const char16_t* Name, int Left, int Top, int Width, int Height)
{
    auto* Control = new T(Form);
    Control->SetName(Name);
    Control->SetBounds(Left, Top, Width, Height);
    Control->SetParent(Form);
    return Control;
}
// A label placed at its top-left corner, sized to its text.
TLabel* AutoSizeLabel(TForm* Form, const char16_t* Name, const UnicodeString& Caption, int Left, int Top);
TButton* PlacedButton(TForm* Form, const char16_t* Name, const UnicodeString& Caption, int Left, int Top, int Width,
                      int Height);
// An edit with its label at its left and its first text.
TLabeledEdit* LeftLabeledEdit(TForm* Form, const char16_t* Name, const UnicodeString& Caption, int Left, int Top,
                              int Width, const UnicodeString& Text);
// A window of the program: its caption, the program's icon, the forms' font
// and its designed bounds.
void SetUpWindow(TForm* Form, const UnicodeString& Caption, int Left, int Top, int Width, int Height);
