// Qt peers of the toolkit's controls.
#include "toolkit/qt/qtpeers.h"

#include "toolkit/comctrls.h"
#include "toolkit/extctrls.h"
#include "toolkit/menus.h"
#include "toolkit/peerbase.h"
#include "toolkit/qt/qtapplication.h"
#include "toolkit/qt/qtdesktop.h"
#include "toolkit/stdctrls.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontMetrics>
#include <QIcon>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QResizeEvent>
#include <QStyledItemDelegate>
#include <QToolButton>

QFont ToQFont(const TFont& Font)
{
    QFont F(ToQString(Font.Name));
    F.setPixelSize(Font.Height);
    F.setBold(Font.Style.Contains(fsBold));
    F.setItalic(Font.Style.Contains(fsItalic));
    F.setUnderline(Font.Style.Contains(fsUnderline));
    return F;
}

QColor ToQColor(TColor Color)
{
    const TColor C = ColorToRGB(Color);
    return QColor(GetRValue(C), GetGValue(C), GetBValue(C));
}

void InstallQtGraphics()
{
    // The desktop's palette for the caption text colour (panels use it as background).
    SetSystemColorResolver([](int Index) {
        if (Index != 19) return ClassicSystemColor(Index);
        const QColor C = InactiveCaptionTextColor();
        return static_cast<TColor>(RGB(C.red(), C.green(), C.blue()));
    });
    SetTextMeasurer([](const UnicodeString& Text, const TFont& Font) {
        const QFontMetrics M(ToQFont(Font));
        return TPoint{M.horizontalAdvance(ToQString(Text)), M.height()};
    });
    SetTextRenderer([](TBitmap& Bitmap, int X, int Y, const UnicodeString& Text, const TFont& Font) {
        // Draws on an image over the bitmap's own pixels.
        QImage Image(reinterpret_cast<uchar*>(Bitmap.Scanline(0)), Bitmap.Width(), Bitmap.Height(), Bitmap.Width() * 4,
                     QImage::Format_RGB32);
        QPainter P(&Image);
        P.setFont(ToQFont(Font));
        P.setPen(ToQColor(Font.Color));
        P.drawText(X, Y + QFontMetrics(P.font()).ascent(), ToQString(Text));
    });
}

namespace {

class TQtPeer : public QObject, public TPeerBase {
public:
    TQtPeer(TControl& Control, QWidget* Widget) : TPeerBase(Control), fWidget(Widget)
    {
        Widget->setProperty("toolkitPeer", QVariant::fromValue(static_cast<void*>(this)));
    }
    ~TQtPeer() override
    {
        if (fWidget) {
            fWidget->disconnect();
            delete fWidget.data();
        }
    }
    bool HasNative() const override { return fWidget; }
    void Repaint() override
    {
        if (fWidget) fWidget->repaint();
    }
    void SetFocus() override
    {
        if (fWidget) fWidget->setFocus();
    }
    bool NaturalSize(TPoint& Size) const override
    {
        if (!fWidget) return false;
        const QSize S = fWidget->sizeHint();
        Size = {S.width(), S.height()};
        return true;
    }
    QWidget* Widget() const { return fWidget; }
    // Where the children's widgets go.
    virtual QWidget* Container() const { return fWidget; }

protected:
    void SetGeometry() override
    {
        fWidget->setGeometry(fControl.Left(), fControl.Top(), fControl.Width(), fControl.Height());
    }
    void SetVisible() override { fWidget->setVisible(fControl.Visible()); }
    void SetEnabled() override { fWidget->setEnabled(fControl.Enabled()); }
    void ApplyFont() override
    {
        // A control that follows its parent keeps Qt's inheritance.
        if (fControl.ParentFont()) return;
        const TFont F = fControl.Font();
        fWidget->setFont(ToQFont(F));
        if (F.Color != clWindowText) {
            QPalette P = fWidget->palette();
            P.setColor(QPalette::WindowText, ToQColor(F.Color));
            P.setColor(QPalette::Text, ToQColor(F.Color));
            fWidget->setPalette(P);
        }
    }
    void ApplyColor() override
    {
        if (fControl.ParentColor() || fControl.Color() == clDefault) return;
        QPalette P = fWidget->palette();
        P.setColor(QPalette::Window, ToQColor(fControl.Color()));
        fWidget->setPalette(P);
        fWidget->setAutoFillBackground(true);
    }

    QPointer<QWidget> fWidget;
};

QWidget* ParentWidget(TControl& Control)
{
    if (!Control.Parent()) return nullptr;
    auto* P = dynamic_cast<TQtPeer*>(Control.Parent()->Peer());
    return P ? P->Container() : nullptr;
}

// --- form --------------------------------------------------------------------

QKeySequence ToQKeySequence(TShortCut S)
{
    if (S == scNone) return QKeySequence();
    int Key = S & 0xFF;
    if (Key >= 0x70 && Key <= 0x87)
        Key = Qt::Key_F1 + (Key - 0x70);
    else if (Key == vkEscape)
        Key = Qt::Key_Escape;
    int Mods = 0;
    if (S & scCtrl) Mods |= Qt::CTRL;
    if (S & scAlt) Mods |= Qt::ALT;
    if (S & scShift) Mods |= Qt::SHIFT;
    return QKeySequence(Mods | Key);
}

class TQtWindow : public QMainWindow {
public:
    TQtWindow(TForm& Form, QWidget* Parent) : QMainWindow(Parent), fForm(Form) {}

protected:
    void closeEvent(QCloseEvent* Event) override
    {
        // The form decides: Close hides it (or ends the program).
        Event->ignore();
        UserAction([this] { fForm.Close(); });
    }
    void keyPressEvent(QKeyEvent* Event) override
    {
        if (Event->key() == Qt::Key_Escape && fForm.CloseOnEscape) {
            UserAction([this] { fForm.Close(); });
            return;
        }
        QMainWindow::keyPressEvent(Event);
    }

private:
    TForm& fForm;
};

// A form's client area; tells its size when the window was resized.
class TQtClient : public QWidget {
public:
    TQtClient(QWidget* Parent, std::function<void(QSize)> OnResized) : QWidget(Parent), fOnResized(std::move(OnResized))
    {
    }

protected:
    void resizeEvent(QResizeEvent* Event) override
    {
        QWidget::resizeEvent(Event);
        fOnResized(Event->size());
    }

private:
    std::function<void(QSize)> fOnResized;
};

class TFormPeer : public TQtPeer {
public:
    using ControlType = TForm;
    explicit TFormPeer(TForm& Form) : TQtPeer(Form, new TQtWindow(Form, OwnerWindow(Form))), fForm(Form)
    {
        fClient = new TQtClient(fWidget, [this](QSize S) { Resized(S); });
        static_cast<QMainWindow*>(fWidget.data())->setCentralWidget(fClient);
    }
    QWidget* Container() const override { return fClient; }
    bool Grab(TBitmap& Picture, TPoint& ClientOrigin) override
    {
        if (!fWidget) return false;
        const QImage Shot = fWidget->grab().toImage().convertToFormat(QImage::Format_RGB32);
        Picture.SetSize(Shot.width(), Shot.height());
        for (int Y = 0; Y < Shot.height(); ++Y) {
            const auto* Line = reinterpret_cast<const std::uint32_t*>(Shot.constScanLine(Y));
            for (int X = 0; X < Shot.width(); ++X) Picture.Scanline(Y)[X] = Line[X] & 0xFFFFFF;
        }
        const QPoint O = fClient->mapTo(fWidget, QPoint(0, 0));
        ClientOrigin = {O.x(), O.y()};
        return true;
    }

protected:
    static QWidget* OwnerWindow(TForm& Form)
    {
        auto* Owner = dynamic_cast<TForm*>(Form.Owner());
        auto* P = Owner ? dynamic_cast<TQtPeer*>(Owner->Peer()) : nullptr;
        return P ? P->Widget() : nullptr;
    }
    void SetGeometry() override
    {
        if (fReporting) return;  // the window has that size already
        if (fForm.BorderStyle() == bsSizeable) {
            fClient->setMinimumSize(fForm.Constraints().MinWidth, fForm.Constraints().MinHeight);
            fClient->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
            auto* W = static_cast<QMainWindow*>(fWidget.data());
            const int Bar = W->menuWidget() ? W->menuWidget()->sizeHint().height() : 0;
            fWidget->resize(fForm.ClientWidth(), fForm.ClientHeight() + Bar);
        } else {
            fClient->setFixedSize(fForm.ClientWidth(), fForm.ClientHeight());
        }
        fWidget->move(fForm.Left(), fForm.Top());
    }
    // The user resized a sizeable window (events of a hidden one are the
    // window being set up).
    void Resized(QSize Client)
    {
        if (fForm.BorderStyle() != bsSizeable || !fWidget || !fWidget->isVisible()) return;
        fReporting = true;
        UserAction([&] { fForm.SetClientSize(Client.width(), Client.height()); });
        fReporting = false;
    }
    void SetVisible() override
    {
        if (!fForm.Visible()) {
            fWidget->hide();
            return;
        }
        fWidget->show();
        fWidget->raise();
        fWidget->activateWindow();
    }
    void Mirror(TControlChange What, int) override
    {
        auto* W = static_cast<QMainWindow*>(fWidget.data());
        if (What == TControlChange::Caption)
            W->setWindowTitle(ToQString(fForm.Caption()));
        else if (What == TControlChange::Icon && !fForm.Icon().empty())
            W->setWindowIcon(QIcon(QStringLiteral(":/") + ToQString(fForm.Icon()) + QStringLiteral(".png")));
        else if (What == TControlChange::Menu)
            BuildMenu(W);
        else if (What == TControlChange::BorderStyle)
            SetGeometry();
    }
    void BuildMenu(QMainWindow* W)
    {
        TMainMenu* Menu = fForm.Menu();
        if (!Menu) {
            if (W->menuWidget()) W->menuBar()->clear();
            return;
        }
        QMenuBar* Bar = W->menuBar();
        Bar->clear();
        for (int I = 0; I < Menu->Items()->Count(); ++I) {
            TMenuItem* Top = Menu->Items()->Items(I);
            if (Top->Count() == 0) {
                AddAction(Bar, Top);
                continue;
            }
            QMenu* Sub = Bar->addMenu(ToQString(Top->Caption()));
            for (int K = 0; K < Top->Count(); ++K) AddAction(Sub, Top->Items(K));
        }
    }
    template <class Q>
    void AddAction(Q* Where, TMenuItem* Item)
    {
        QAction* A = Where->addAction(ToQString(Item->Caption()));
        A->setShortcut(ToQKeySequence(Item->ShortCut()));
        A->setEnabled(Item->Enabled());
        QObject::connect(A, &QAction::triggered, this, [Item] { Item->Click(); });
    }

private:
    TForm& fForm;
    QWidget* fClient;
    bool fReporting = false;
};

// --- simple controls -----------------------------------------------------------

class TLabelPeer : public TQtPeer {
public:
    using ControlType = TLabel;
    explicit TLabelPeer(TControl& C) : TQtPeer(C, new QLabel(ParentWidget(C))) {}

protected:
    void Mirror(TControlChange What, int) override
    {
        if (What == TControlChange::Caption)
            static_cast<QLabel*>(fWidget.data())->setText(ToQString(fControl.Caption()));
    }
};

class TPanelPeer : public TQtPeer {
public:
    using ControlType = TPanel;
    explicit TPanelPeer(TPanel& P) : TQtPeer(P, new QLabel(ParentWidget(P))), fPanel(P)
    {
        auto* L = static_cast<QLabel*>(fWidget.data());
        L->setAlignment(Qt::AlignCenter);
    }

protected:
    void Mirror(TControlChange What, int) override
    {
        if (What == TControlChange::Caption) static_cast<QLabel*>(fWidget.data())->setText(ToQString(fPanel.Caption()));
    }
    void SetGeometry() override
    {
        TQtPeer::SetGeometry();
        const int M = fPanel.FrameWidth();
        fWidget->setContentsMargins(M, M, M, M);
    }

private:
    TPanel& fPanel;
};

class TButtonPeer : public TQtPeer {
public:
    using ControlType = TButton;
    explicit TButtonPeer(TButton& B) : TQtPeer(B, new QPushButton(ParentWidget(B)))
    {
        auto* P = static_cast<QPushButton*>(fWidget.data());
        P->setAutoDefault(false);  // Enter in a field presses no button by itself
        QObject::connect(P, &QPushButton::clicked, this, [&B] { B.Click(); });
    }

protected:
    void Mirror(TControlChange What, int) override
    {
        if (What == TControlChange::Caption)
            static_cast<QPushButton*>(fWidget.data())->setText(ToQString(fControl.Caption()));
    }
};

class TCheckBoxPeer : public TQtPeer {
public:
    using ControlType = TCheckBox;
    explicit TCheckBoxPeer(TCheckBox& B) : TQtPeer(B, new QCheckBox(ParentWidget(B))), fBox(B)
    {
        QObject::connect(static_cast<QCheckBox*>(fWidget.data()), &QCheckBox::clicked, this,
                         [this](bool On) { UserAction([&] { fBox.SetChecked(On); }); });
    }

protected:
    void Mirror(TControlChange What, int) override
    {
        auto* W = static_cast<QCheckBox*>(fWidget.data());
        if (What == TControlChange::Caption) {
            W->setText(ToQString(fBox.Caption()));
            W->setChecked(fBox.Checked());
        }
    }

private:
    TCheckBox& fBox;
};

// --- edit ------------------------------------------------------------------------

class TEditPeer : public TQtPeer {
public:
    using ControlType = TEdit;
    explicit TEditPeer(TEdit& E) : TQtPeer(E, new QLineEdit(ParentWidget(E))), fEdit(E)
    {
        auto* L = Line();
        L->installEventFilter(this);
        // Edits that did not come through a typed character (paste, delete).
        QObject::connect(L, &QLineEdit::textEdited, this,
                         [this](const QString& T) { fEdit.EditedByUser(FromQString(T), Line()->cursorPosition()); });
    }

protected:
    QLineEdit* Line() const { return static_cast<QLineEdit*>(fWidget.data()); }
    void Mirror(TControlChange What, int) override
    {
        QLineEdit* L = Line();
        if (What == TControlChange::ReadOnly) L->setReadOnly(fEdit.ReadOnly());
        if (What != TControlChange::Caption && What != TControlChange::Selection) return;
        const QString T = ToQString(fEdit.Text());
        if (L->text() != T) L->setText(T);
        if (fEdit.SelLength() > 0)
            L->setSelection(fEdit.SelStart(), fEdit.SelLength());
        else
            L->setCursorPosition(fEdit.SelStart());
    }
    bool eventFilter(QObject* Watched, QEvent* Event) override
    {
        if (Watched != fWidget) return QObject::eventFilter(Watched, Event);
        if (Event->type() == QEvent::KeyRelease) {
            // Held keys repeat presses but are released once.
            auto* Key = static_cast<QKeyEvent*>(Event);
            if (!Key->isAutoRepeat()) fEdit.PerformKeyUp(KeyCode(Key));
            return false;
        }
        if (Event->type() != QEvent::KeyPress) return false;
        auto* Key = static_cast<QKeyEvent*>(Event);
        const QString T = Key->text();
        if (T.isEmpty()) return false;  // navigation keys: the widget's own
        // Control combinations (copy, paste, select all) and Delete stay the
        // widget's; the characters an edit takes as typed go through CharProc.
        for (QChar C : T) {
            const char16_t U = C.unicode();
            if ((U < 32 && U != 8 && U != 9 && U != 13) || U == 0x7F) return false;
        }
        // The user may have moved the caret or selected with the mouse.
        QLineEdit* L = Line();
        if (L->hasSelectedText())
            fEdit.SetSelection(L->selectionStart(), static_cast<int>(L->selectedText().size()));
        else
            fEdit.SetSelection(L->cursorPosition(), 0);
        for (QChar C : T) UserAction([&] { fEdit.PerformChar(C.unicode()); });
        return true;
    }
    static std::uint16_t KeyCode(const QKeyEvent* Key)
    {
        const int K = Key->key();
        if ((K >= Qt::Key_0 && K <= Qt::Key_9) || (K >= Qt::Key_A && K <= Qt::Key_Z))
            return static_cast<std::uint16_t>(K);
        if (K == Qt::Key_Backspace) return 8;
        if (K == Qt::Key_Return || K == Qt::Key_Enter) return 13;
        return static_cast<std::uint16_t>(K & 0xFF);
    }

private:
    TEdit& fEdit;
};

// --- lists -------------------------------------------------------------------------

// List items of a fixed height, like an owner list box's ItemHeight.
class TFixedHeightDelegate : public QStyledItemDelegate {
public:
    TFixedHeightDelegate(const TListBox& List, QObject* Parent) : QStyledItemDelegate(Parent), fList(List) {}
    QSize sizeHint(const QStyleOptionViewItem& Option, const QModelIndex& Index) const override
    {
        return QSize(QStyledItemDelegate::sizeHint(Option, Index).width(), fList.ItemHeight());
    }

private:
    const TListBox& fList;
};

class TListBoxPeer : public TQtPeer {
public:
    using ControlType = TListBox;
    explicit TListBoxPeer(TListBox& L) : TQtPeer(L, new QListWidget(ParentWidget(L))), fList(L)
    {
        auto* W = static_cast<QListWidget*>(fWidget.data());
        W->setUniformItemSizes(true);
        W->setItemDelegate(new TFixedHeightDelegate(L, W));
    }

protected:
    void Mirror(TControlChange What, int Index) override
    {
        auto* W = static_cast<QListWidget*>(fWidget.data());
        if (What == TControlChange::ItemAdded && Index == W->count()) {
            W->addItem(ToQString(fList.Items().Strings(Index)));
        } else if (What == TControlChange::Items || What == TControlChange::ItemAdded) {
            W->clear();
            for (int I = 0; I < fList.Count(); ++I) W->addItem(ToQString(fList.Items().Strings(I)));
        }
    }

private:
    TListBox& fList;
};

class TComboBoxPeer : public TQtPeer {
public:
    using ControlType = TComboBox;
    explicit TComboBoxPeer(TComboBox& C) : TQtPeer(C, new QComboBox(ParentWidget(C))), fCombo(C)
    {
        // activated: only the user's pick, never a selection set by the program.
        QObject::connect(static_cast<QComboBox*>(fWidget.data()), &QComboBox::activated, this,
                         [this](int Index) { fCombo.PickItem(Index); });
    }

protected:
    void Mirror(TControlChange What, int Index) override
    {
        auto* W = static_cast<QComboBox*>(fWidget.data());
        const QSignalBlocker Block(W);
        if (What == TControlChange::ItemAdded && Index == W->count()) {
            W->addItem(ToQString(fCombo.Items().Strings(Index)));
        } else if (What == TControlChange::Items || What == TControlChange::ItemAdded) {
            W->setEditable(fCombo.Style() == csDropDown);
            W->clear();
            for (int I = 0; I < fCombo.Count(); ++I) W->addItem(ToQString(fCombo.Items().Strings(I)));
        }
        if (W->currentIndex() != fCombo.ItemIndex()) W->setCurrentIndex(fCombo.ItemIndex());
    }

private:
    TComboBox& fCombo;
};

// --- image ---------------------------------------------------------------------------

class TImageWidget : public QWidget {
public:
    TImageWidget(TImage& Image, QWidget* Parent) : QWidget(Parent), fImage(Image) { setMouseTracking(true); }

protected:
    static TShiftState Shift(const QMouseEvent* E)
    {
        TShiftState S;
        if (E->modifiers() & Qt::ShiftModifier) S << ssShift;
        if (E->modifiers() & Qt::ControlModifier) S << ssCtrl;
        if (E->modifiers() & Qt::AltModifier) S << ssAlt;
        return S;
    }
    static TMouseButton Button(const QMouseEvent* E)
    {
        return E->button() == Qt::RightButton ? mbRight : E->button() == Qt::MiddleButton ? mbMiddle : mbLeft;
    }
    void mousePressEvent(QMouseEvent* E) override
    {
        const QPoint P = E->position().toPoint();
        fImage.MouseDown(Button(E), Shift(E), P.x(), P.y());
    }
    void mouseMoveEvent(QMouseEvent* E) override
    {
        const QPoint P = E->position().toPoint();
        fImage.MouseMove(Shift(E), P.x(), P.y());
    }
    void mouseReleaseEvent(QMouseEvent* E) override
    {
        const QPoint P = E->position().toPoint();
        fImage.MouseUp(Button(E), Shift(E), P.x(), P.y());
    }
    void paintEvent(QPaintEvent*) override
    {
        if (!fImage.HasPicture()) return;
        const TBitmap& B = fImage.Picture();
        QImage Shown(B.Width(), B.Height(), QImage::Format_RGB32);
        for (int Y = 0; Y < B.Height(); ++Y) {
            auto* Line = reinterpret_cast<std::uint32_t*>(Shown.scanLine(Y));
            for (int X = 0; X < B.Width(); ++X) Line[X] = 0xFF000000u | B.Scanline(Y)[X];
        }
        QPainter(this).drawImage(0, 0, Shown);
    }

private:
    TImage& fImage;
};

class TImagePeer : public TQtPeer {
public:
    using ControlType = TImage;
    explicit TImagePeer(TImage& I) : TQtPeer(I, new TImageWidget(I, ParentWidget(I))) {}

protected:
    void Mirror(TControlChange What, int) override
    {
        if (What == TControlChange::Picture) fWidget->update();
    }
};

// --- up-down ---------------------------------------------------------------------------

class TUpDownPeer : public TQtPeer {
public:
    using ControlType = TUpDown;
    explicit TUpDownPeer(TUpDown& U) : TQtPeer(U, new QWidget(ParentWidget(U)))
    {
        fUp = new QToolButton(fWidget);
        fUp->setArrowType(Qt::UpArrow);
        fDown = new QToolButton(fWidget);
        fDown->setArrowType(Qt::DownArrow);
        for (QToolButton* B : {fUp, fDown}) {
            B->setAutoRepeat(true);
            B->setFocusPolicy(Qt::NoFocus);
        }
        QObject::connect(fUp, &QToolButton::clicked, this, [&U] { U.ClickButton(btNext); });
        QObject::connect(fDown, &QToolButton::clicked, this, [&U] { U.ClickButton(btPrev); });
    }

protected:
    void SetGeometry() override
    {
        TQtPeer::SetGeometry();
        const int W = fControl.Width(), H = fControl.Height(), Upper = (H + 1) / 2;
        fUp->setGeometry(0, 0, W, Upper);
        fDown->setGeometry(0, Upper, W, H - Upper);
    }

private:
    QToolButton* fUp;
    QToolButton* fDown;
};

}  // namespace

std::unique_ptr<TControlPeer> TQtPeerFactory::CreatePeer(TControl& Control)
{
    return CreatePeerOf<TFormPeer, TPanelPeer, TLabelPeer, TButtonPeer, TEditPeer, TCheckBoxPeer, TListBoxPeer,
                        TComboBoxPeer, TImagePeer, TUpDownPeer>(Control);
}

QWidget* QtWidgetOf(const TControl* Control)
{
    auto* P = Control ? dynamic_cast<TQtPeer*>(Control->Peer()) : nullptr;
    return P ? P->Widget() : nullptr;
}
