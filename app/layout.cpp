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

TLabeledEdit* LeftLabeledEdit(TForm* Form, const char16_t* Name, const UnicodeString& Caption, int Left, int Top,
                              int Width, const UnicodeString& Text)
{
    auto* e = PlacedControl<TLabeledEdit>(Form, Name, Left, Top, Width, 21);
    e->SetLabelPosition(lpLeft);
    e->EditLabel()->SetCaption(Caption);
    e->SetText(Text);
    return e;
}

void SetUpWindow(TForm* Form, const UnicodeString& Caption, int Left, int Top, int Width, int Height)
{
    Form->SetCaption(Caption);
    Form->SetIcon(u"spectrometer");
    Form->SetFont(TFont{u"MS Sans Serif", 11});
    Form->SetBounds(Left, Top, Width, Height);
}
