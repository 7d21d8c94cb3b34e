// In-memory edit and check box.
#include "toolkit/stdctrls.h"

#include <algorithm>

TEdit::TEdit(TComponent* AOwner, bool MultiLine) : TCustomEdit(AOwner), fMultiLine(MultiLine) {}

void TEdit::SetText(const UnicodeString& Value)
{
    if (Value == fText) return;
    fText = Value;
    fSelStart = static_cast<int>(fText.size());
    fSelLength = 0;
    if (OnChange) OnChange(this);
}

void TEdit::SetSelection(int Start, int Length)
{
    const int N = static_cast<int>(fText.size());
    fSelStart = std::clamp(Start, 0, N);
    fSelLength = std::clamp(Length, 0, N - fSelStart);
}

void TEdit::DoReplaceSel(const UnicodeString& Text)
{
    if (Text.empty() && fSelLength == 0) return;
    fText.replace(static_cast<std::size_t>(fSelStart), static_cast<std::size_t>(fSelLength), Text);
    fSelStart += static_cast<int>(Text.size());
    fSelLength = 0;
    if (OnChange) OnChange(this);
}

TCheckBox::TCheckBox(TComponent* AOwner) : TControl(AOwner)
{
    PublishBool(u"Checked", [this] { return fChecked; }, [this](bool V) { SetChecked(V); });
}

void TCheckBox::SetChecked(bool Value)
{
    if (Value == fChecked) return;
    fChecked = Value;
    if (OnClick) OnClick(this);
}
