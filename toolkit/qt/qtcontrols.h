// Component sides for Qt widgets: free notification and property look-up for
// widgets the Qt parent owns; an edit adapter for the terminal; a check box
// with a published "Checked".
#pragma once

#include "toolkit/forms.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QObject>
#include <QPlainTextEdit>
#include <QPointer>
#include <QWidget>

// Runs F on the main thread and waits (directly when already there). From a
// TThread the wait is cancelled by its Terminate, like Synchronize.
void RunOnMainThread(const std::function<void()>& F);

// The component side of a QWidget that is not itself a TComponent: a child
// QObject of the widget, destroyed with it, which then delivers the free
// notifications. Owner is null (the Qt parent owns the widget).
class TQtWidgetControl : public QObject, public TControl {
    Q_OBJECT
public:
    explicit TQtWidgetControl(QWidget* Widget);
    ~TQtWidgetControl() override;
    QWidget* Widget() const { return fWidget; }
    // The component side attached to Widget, or null.
    static TQtWidgetControl* Find(const QWidget* Widget);

private:
    QPointer<QWidget> fWidget;
};

// "Checked" over a QCheckBox / QRadioButton (any checkable QAbstractButton).
class TQtCheckBoxControl : public TQtWidgetControl {
    Q_OBJECT
public:
    explicit TQtCheckBoxControl(QAbstractButton* Button);
    // The button's component side, created on first use.
    static TQtCheckBoxControl* For(QAbstractButton* Button);
    bool Checked() const;
    void SetChecked(bool Value);

private:
    QPointer<QAbstractButton> fButton;
};

// TCustomEdit over a QLineEdit or QPlainTextEdit. Typed characters are taken
// from the widget's key presses and go through CharProc; the default CharProc
// edits the widget. Text changes fire OnChange. Calls from other threads run
// on the main thread (and wait), like sent window messages.
class TQtEditAdapter : public QObject, public TCustomEdit {
    Q_OBJECT
public:
    explicit TQtEditAdapter(QLineEdit* Edit);
    explicit TQtEditAdapter(QPlainTextEdit* Edit);
    ~TQtEditAdapter() override;
    static TQtEditAdapter* For(QLineEdit* Edit);
    static TQtEditAdapter* For(QPlainTextEdit* Edit);

    UnicodeString Text() const override;
    void SetText(const UnicodeString& Value) override;
    bool ReadOnly() const override;
    void SetReadOnly(bool Value) override;
    bool MultiLine() const override { return fMultiLine; }
    int SelStart() const override;
    int SelLength() const override;
    void SetSelection(int Start, int Length) override;
    QWidget* Widget() const;

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override;
    void DoDefaultChar(char16_t Ch) override;
    void DoReplaceSel(const UnicodeString& Text) override;
    void RunInEditThread(const std::function<void()>& F) override;

private:
    void Attach(QWidget* W);
    QPointer<QLineEdit> fLine;
    QPointer<QPlainTextEdit> fPlain;
    bool fMultiLine = false;
};
