// Standard controls: label, button, edit, check box, list box, combo box.
#pragma once

#include "toolkit/forms.h"

// A text; the label takes the size of its text.
class TLabel : public TControl {
public:
    explicit TLabel(TComponent* AOwner);
    // Sizes the label to its text (native measure when a peer exists).
    void AdjustSize();

protected:
    void PeerCreated() override;
    void FontChanged() override;
    void CaptionChanged() override;
};

class TButton : public TControl {
public:
    explicit TButton(TComponent* AOwner);
    // The user's press of the button: OnClick inside the event loop's guard.
    void Click();
    TNotifyEvent OnClick;
};

// An edit field. Setting Text to the text it has raises no OnChange.
class TEdit : public TCustomEdit {
public:
    explicit TEdit(TComponent* AOwner, bool MultiLine = false);

    UnicodeString Text() const override { return fText; }
    void SetText(const UnicodeString& Value) override;
    bool ReadOnly() const override { return fReadOnly; }
    void SetReadOnly(bool Value) override;
    bool MultiLine() const override { return fMultiLine; }
    int SelStart() const override { return fSelStart; }
    int SelLength() const override { return fSelLength; }
    void SetSelection(int Start, int Length) override;
    void SelectAll() { SetSelection(0, static_cast<int>(fText.size())); }

    // The native field was edited (paste, delete key): takes its text and
    // caret and raises OnChange inside the event loop's guard.
    void EditedByUser(const UnicodeString& Value, int CaretPos);
    // Keys as the user types them: each character goes through CharProc (key
    // press) and then raises OnKeyUp (key release), each inside the guard.
    void TypeText(const UnicodeString& Keys);

protected:
    void DoReplaceSel(const UnicodeString& Text) override;
    void RunInEditThread(const std::function<void()>& F) override;

private:
    void TextChanged();
    UnicodeString fText;
    int fSelStart = 0;
    int fSelLength = 0;
    bool fReadOnly = false;
    bool fMultiLine = false;
};

class TCheckBox : public TControl {
public:
    explicit TCheckBox(TComponent* AOwner);
    bool Checked() const { return fChecked; }
    void SetChecked(bool Value);
    TNotifyEvent OnClick;

private:
    bool fChecked = false;
};

// A list of text lines, each ItemHeight pixels high.
class TListBox : public TControl {
public:
    explicit TListBox(TComponent* AOwner);
    const TStringList& Items() const { return fItems; }
    int Count() const { return fItems.Count(); }
    int AddItem(const UnicodeString& S);
    void Clear();
    int ItemHeight() const { return fItemHeight; }
    void SetItemHeight(int Value);

private:
    TStringList fItems;
    int fItemHeight = 13;
};

enum class TComboBoxStyle { csDropDown, csDropDownList };
using enum TComboBoxStyle;

// A drop-down list whose items carry an object each. ItemIndex -1 selects
// nothing; Text is the selected item's text.
class TComboBox : public TControl {
public:
    explicit TComboBox(TComponent* AOwner);
    TComboBoxStyle Style() const { return fStyle; }
    void SetStyle(TComboBoxStyle Value);
    const TStringList& Items() const { return fItems; }
    int Count() const { return fItems.Count(); }
    int AddItem(const UnicodeString& S, TObject* Object = nullptr);
    void SetItemObject(int Index, TObject* Object) { fItems.SetObjects(Index, Object); }
    void Clear();
    int ItemIndex() const { return fItemIndex; }
    void SetItemIndex(int Value);
    UnicodeString Text() const;

    // The user's pick of an entry: selects it and runs the change step inside
    // the event loop's guard. A selection set by code runs no change step.
    void PickItem(int Index);
    TNotifyEvent OnChange;

protected:
    // The change step after the user's pick: fires OnChange.
    virtual void Change();

private:
    TComboBoxStyle fStyle = csDropDown;
    TStringList fItems;
    int fItemIndex = -1;
};
