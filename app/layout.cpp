#include "app/layout.h"

TButton* PlacedButton(TForm* Form, const char16_t* Name, const UnicodeString& Caption, int Left, int Top, int Width,
                      int Height)
{
    auto* button = PlacedControl<TButton>(Form, Name, Left, Top, Width, Height);
    button->SetCaption(Caption);
    return button;
}

TLabel* AutoSizeLabel(TForm* Form, const char16_t* Name, const UnicodeString& Caption, int Left, int Top)
{
    auto* label = new TLabel(Form);
    label->SetName(Name);
    label->SetBounds(Left, Top, 0, 0);
    label->SetCaption(Caption);
    label->SetParent(Form);
    return label;
}
