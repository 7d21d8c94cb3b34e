// In-memory controls: an edit and a check box without a screen, for tests and
// for code that needs a control but no GUI.
#pragma once

#include "toolkit/forms.h"

class TEdit : public TCustomEdit {
public:
    explicit TEdit(TComponent* AOwner, bool MultiLine = false);

    UnicodeString Text() const override { return fText; }
    void SetText(const UnicodeString& Value) override;
    bool ReadOnly() const override { return fReadOnly; }
    void SetReadOnly(bool Value) override { fReadOnly = Value; }
    bool MultiLine() const override { return fMultiLine; }
    int SelStart() const override { return fSelStart; }
    int SelLength() const override { return fSelLength; }
    void SetSelection(int Start, int Length) override;

protected:
    void DoReplaceSel(const UnicodeString& Text) override;

private:
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
