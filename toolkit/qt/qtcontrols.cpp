// Component sides and adapters for Qt widgets.
#include "toolkit/qt/qtcontrols.h"
#include "toolkit/qt/qtapplication.h"
#include "toolkit/qt/qtguard.h"

#include <QKeyEvent>
#include <QTextCursor>

void RunOnMainThread(const std::function<void()>& F)
{
    // Synchronize runs F directly when called on the main thread.
    TThread::Synchronize(TThread::CurrentThread(), F);
}

namespace {
template <class T>
T* FindChildSide(const QWidget* Widget)
{
    if (!Widget) return nullptr;
    for (QObject* C : Widget->children())
        if (auto* S = dynamic_cast<T*>(C)) return S;
    return nullptr;
}

// The widget's component side, created on first use.
template <class T, class W>
T* SideFor(W* Widget)
{
    if (!Widget) return nullptr;
    if (auto* S = FindChildSide<T>(Widget)) return S;
    return new T(Widget);
}
}  // namespace

// ---------------------------------------------------------------------------
// TQtWidgetControl

TQtWidgetControl::TQtWidgetControl(QWidget* Widget) : QObject(Widget), TControl(nullptr), fWidget(Widget)
{
    if (Widget) SetName(FromQString(Widget->objectName()));
}

TQtWidgetControl::~TQtWidgetControl() = default;

TQtWidgetControl* TQtWidgetControl::Find(const QWidget* Widget) { return FindChildSide<TQtWidgetControl>(Widget); }

// ---------------------------------------------------------------------------
// TQtCheckBoxControl

TQtCheckBoxControl::TQtCheckBoxControl(QAbstractButton* Button) : TQtWidgetControl(Button), fButton(Button)
{
    PublishBool(
        u"Checked", [this] { return Checked(); }, [this](bool V) { SetChecked(V); });
}

TQtCheckBoxControl* TQtCheckBoxControl::For(QAbstractButton* Button) { return SideFor<TQtCheckBoxControl>(Button); }

bool TQtCheckBoxControl::Checked() const
{
    bool V = false;
    RunOnMainThread([&] { V = fButton && fButton->isChecked(); });
    return V;
}

void TQtCheckBoxControl::SetChecked(bool Value)
{
    RunOnMainThread([&] {
        if (fButton) fButton->setChecked(Value);
    });
}

// ---------------------------------------------------------------------------
// TQtEditAdapter

TQtEditAdapter::TQtEditAdapter(QLineEdit* Edit) : QObject(Edit), TCustomEdit(nullptr), fLine(Edit)
{
    Attach(Edit);
    QObject::connect(Edit, &QLineEdit::textChanged, this, Guarded([this] {
                         if (OnChange) OnChange(this);
                     }));
}

TQtEditAdapter::TQtEditAdapter(QPlainTextEdit* Edit)
    : QObject(Edit), TCustomEdit(nullptr), fPlain(Edit), fMultiLine(true)
{
    Attach(Edit);
    QObject::connect(Edit, &QPlainTextEdit::textChanged, this, Guarded([this] {
                         if (OnChange) OnChange(this);
                     }));
}

TQtEditAdapter::~TQtEditAdapter() = default;

void TQtEditAdapter::Attach(QWidget* W)
{
    SetName(FromQString(W->objectName()));
    W->installEventFilter(this);
}

TQtEditAdapter* TQtEditAdapter::For(QLineEdit* Edit) { return SideFor<TQtEditAdapter>(Edit); }

TQtEditAdapter* TQtEditAdapter::For(QPlainTextEdit* Edit) { return SideFor<TQtEditAdapter>(Edit); }

QWidget* TQtEditAdapter::Widget() const
{
    if (fLine) return fLine;
    return fPlain;
}

bool TQtEditAdapter::eventFilter(QObject* Watched, QEvent* Event)
{
    if (Event->type() != QEvent::KeyPress || Watched != Widget()) return QObject::eventFilter(Watched, Event);
    auto* Key = static_cast<QKeyEvent*>(Event);
    const QString T = Key->text();
    if (T.isEmpty()) return false;  // navigation keys: the widget's own
    // Control combinations (copy, paste, select all) stay the widget's; the
    // characters an edit takes as typed go through CharProc.
    for (QChar C : T) {
        const char16_t U = C.unicode();
        if ((U < 32 && U != 8 && U != 9 && U != 13) || U == 0x7F) return false;  // 0x7F: Delete
    }
    GuardedCall([&] {
        for (QChar C : T) PerformChar(C.unicode());
    });
    return true;
}

void TQtEditAdapter::DoDefaultChar(char16_t Ch)
{
    if (ReadOnly()) return;
    if (fLine) {
        if (Ch == 8)
            fLine->backspace();
        else if (Ch >= 32)
            fLine->insert(QString(QChar(Ch)));
        return;
    }
    if (!fPlain) return;
    QTextCursor Cur = fPlain->textCursor();
    if (Ch == 8) {
        if (Cur.hasSelection())
            Cur.removeSelectedText();
        else
            Cur.deletePreviousChar();
    } else if (Ch == 13) {
        Cur.insertText(QStringLiteral("\n"));
    } else if (Ch == 9 || Ch >= 32) {
        Cur.insertText(QString(QChar(Ch)));
    }
    fPlain->setTextCursor(Cur);
}

void TQtEditAdapter::DoReplaceSel(const UnicodeString& Text)
{
    if (fLine) {
        fLine->insert(ToQString(Text));
        return;
    }
    if (!fPlain) return;
    // The document's line break is "\n": CR LF becomes one, a lone CR none.
    QString Q = ToQString(Text);
    Q.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    Q.remove(QChar(u'\r'));
    QTextCursor Cur = fPlain->textCursor();
    Cur.insertText(Q);
    fPlain->setTextCursor(Cur);
}

void TQtEditAdapter::RunInEditThread(const std::function<void()>& F) { RunOnMainThread(F); }

UnicodeString TQtEditAdapter::Text() const
{
    UnicodeString R;
    RunOnMainThread([&] {
        if (fLine)
            R = FromQString(fLine->text());
        else if (fPlain)
            R = FromQString(fPlain->toPlainText());
    });
    return R;
}

void TQtEditAdapter::SetText(const UnicodeString& Value)
{
    RunOnMainThread([&] {
        if (fLine) {
            fLine->setText(ToQString(Value));
        } else if (fPlain) {
            QString Q = ToQString(Value);
            Q.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
            fPlain->setPlainText(Q);
            fPlain->moveCursor(QTextCursor::End);
        }
    });
}

bool TQtEditAdapter::ReadOnly() const
{
    bool R = false;
    RunOnMainThread([&] { R = fLine ? fLine->isReadOnly() : (fPlain && fPlain->isReadOnly()); });
    return R;
}

void TQtEditAdapter::SetReadOnly(bool Value)
{
    RunOnMainThread([&] {
        if (fLine)
            fLine->setReadOnly(Value);
        else if (fPlain)
            fPlain->setReadOnly(Value);
    });
}

int TQtEditAdapter::SelStart() const
{
    int R = 0;
    RunOnMainThread([&] {
        if (fLine)
            R = fLine->hasSelectedText() ? fLine->selectionStart() : fLine->cursorPosition();
        else if (fPlain)
            R = fPlain->textCursor().selectionStart();
    });
    return R;
}

int TQtEditAdapter::SelLength() const
{
    int R = 0;
    RunOnMainThread([&] {
        if (fLine)
            R = fLine->hasSelectedText() ? static_cast<int>(fLine->selectedText().size()) : 0;
        else if (fPlain)
            R = fPlain->textCursor().selectionEnd() - fPlain->textCursor().selectionStart();
    });
    return R;
}

void TQtEditAdapter::SetSelection(int Start, int Length)
{
    RunOnMainThread([&] {
        if (fLine) {
            fLine->setSelection(Start, Length);
            if (Length == 0) fLine->setCursorPosition(Start);
        } else if (fPlain) {
            QTextCursor Cur = fPlain->textCursor();
            const int N = fPlain->document()->characterCount() - 1;
            Cur.setPosition(std::clamp(Start, 0, N));
            Cur.setPosition(std::clamp(Start + Length, 0, N), QTextCursor::KeepAnchor);
            fPlain->setTextCursor(Cur);
        }
    });
}
