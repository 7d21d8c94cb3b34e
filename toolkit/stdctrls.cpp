// Label, button, edit, check box, list box, combo box.
#include "toolkit/stdctrls.h"

#include <algorithm>

// ---------------------------------------------------------------------------
// TLabel

TLabel::TLabel(TComponent* AOwner) : TControl(AOwner) {}

void TLabel::AdjustSize()
{
    TPoint Size;
    if (!Peer() || !Peer()->NaturalSize(Size)) Size = MeasureText(Caption(), Font());
    SetBounds(Left(), Top(), Size.X, Size.Y);
}

void TLabel::PeerCreated() { AdjustSize(); }

void TLabel::FontChanged()
{
    TControl::FontChanged();
    AdjustSize();
}

void TLabel::CaptionChanged()
{
    TControl::CaptionChanged();
    AdjustSize();
}

// ---------------------------------------------------------------------------
// TButton

TButton::TButton(TComponent* AOwner) : TControl(AOwner) {}

void TButton::Click()
{
    if (!Enabled()) return;
    TNotifyEvent Handler = OnClick;
    if (Handler) GuardedCall([&] { Handler(this); });
}

// ---------------------------------------------------------------------------
// TEdit

TEdit::TEdit(TComponent* AOwner, bool MultiLine) : TCustomEdit(AOwner), fMultiLine(MultiLine) {}

void TEdit::TextChanged()
{
    Changed(TControlChange::Caption);
    if (OnChange) OnChange(this);
}

void TEdit::SetText(const UnicodeString& Value)
{
    if (Value == fText) return;
    fText = Value;
    fSelStart = static_cast<int>(fText.size());
    fSelLength = 0;
    TextChanged();
}

void TEdit::SetReadOnly(bool Value)
{
    if (Value == fReadOnly) return;
    fReadOnly = Value;
    Changed(TControlChange::ReadOnly);
}

void TEdit::SetSelection(int Start, int Length)
{
    const int N = static_cast<int>(fText.size());
    fSelStart = std::clamp(Start, 0, N);
    fSelLength = std::clamp(Length, 0, N - fSelStart);
    Changed(TControlChange::Selection);
}

void TEdit::DoReplaceSel(const UnicodeString& Text)
{
    if (Text.empty() && fSelLength == 0) return;
    fText.replace(static_cast<std::size_t>(fSelStart), static_cast<std::size_t>(fSelLength), Text);
    fSelStart += static_cast<int>(Text.size());
    fSelLength = 0;
    TextChanged();
}

void TEdit::RunInEditThread(const std::function<void()>& F)
{
    // A native field lives on the main thread; an edit without one is plain memory.
    if (Peer() && !IsMainThread())
        TThread::Synchronize(TThread::CurrentThread(), F);
    else
        F();
}

void TEdit::EditedByUser(const UnicodeString& Value, int CaretPos)
{
    if (Value == fText) return;
    fText = Value;
    fSelStart = std::clamp(CaretPos, 0, static_cast<int>(fText.size()));
    fSelLength = 0;
    GuardedCall([&] { TextChanged(); });
}

void TEdit::TypeText(const UnicodeString& Keys)
{
    for (char16_t Ch : Keys) {
        GuardedCall([&] { PerformChar(Ch); });
        // The key code of a character key is its upper-case letter or digit.
        const std::uint16_t Key = (Ch >= u'a' && Ch <= u'z') ? static_cast<std::uint16_t>(Ch - 32) : Ch;
        PerformKeyUp(Key);
    }
}

// ---------------------------------------------------------------------------
// TCheckBox

TCheckBox::TCheckBox(TComponent* AOwner) : TControl(AOwner)
{
    PublishBool(
        u"Checked", [this] { return fChecked; }, [this](bool V) { SetChecked(V); });
}

void TCheckBox::SetChecked(bool Value)
{
    if (Value == fChecked) return;
    fChecked = Value;
    Changed(TControlChange::Caption);
    if (OnClick) OnClick(this);
}

// ---------------------------------------------------------------------------
// TListBox

TListBox::TListBox(TComponent* AOwner) : TControl(AOwner) {}

int TListBox::AddItem(const UnicodeString& S)
{
    const int Index = fItems.Add(S);
    Changed(TControlChange::ItemAdded, Index);
    return Index;
}

void TListBox::Clear()
{
    if (fItems.Count() == 0) return;
    fItems.Clear();
    Changed(TControlChange::Items);
}

void TListBox::SetItemHeight(int Value)
{
    if (Value == fItemHeight) return;
    fItemHeight = Value;
    Changed(TControlChange::Items);
}

// ---------------------------------------------------------------------------
// TComboBox

TComboBox::TComboBox(TComponent* AOwner) : TControl(AOwner) {}

void TComboBox::SetStyle(TComboBoxStyle Value)
{
    fStyle = Value;
    Changed(TControlChange::Items);
}

int TComboBox::AddItem(const UnicodeString& S, TObject* Object)
{
    const int Index = fItems.AddObject(S, Object);
    Changed(TControlChange::ItemAdded, Index);
    return Index;
}

void TComboBox::Clear()
{
    fItems.Clear();
    fItemIndex = -1;
    Changed(TControlChange::Items);
}

void TComboBox::SetItemIndex(int Value)
{
    if (Value < -1 || Value >= fItems.Count()) Value = -1;
    if (Value == fItemIndex) return;
    fItemIndex = Value;
    Changed(TControlChange::ItemIndex);
}

UnicodeString TComboBox::Text() const { return fItemIndex >= 0 ? fItems.Strings(fItemIndex) : UnicodeString(); }

void TComboBox::PickItem(int Index)
{
    if (Index < 0 || Index >= fItems.Count()) return;
    SetItemIndex(Index);
    GuardedCall([this] { Change(); });
}

void TComboBox::Change()
{
    if (OnChange) OnChange(this);
}
