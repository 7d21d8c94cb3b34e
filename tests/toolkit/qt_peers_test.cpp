// The Qt peers: the widgets mirror the controls, the user's input on the
// widgets reaches the controls' events.
#include "toolkit/comctrls.h"
#include "toolkit/extctrls.h"
#include "toolkit/menus.h"
#include "toolkit/qt/qtapplication.h"
#include "toolkit/qt/qtpeers.h"
#include "tests/toolkit/qt_fixture.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMenuBar>
#include <QTest>
#include <QToolButton>

namespace {

class QtPeers : public QtFixture {
protected:
    void SetUp() override
    {
        QtFixture::SetUp();
        Form = new TForm(nullptr);
        Form->SetBounds(30, 40, 200, 120);
        Form->SetCaption(u"Fenster");
    }
    void TearDown() override
    {
        delete Form;
        QtFixture::TearDown();
    }
    template <class T>
    T* Add(int L, int T_, int W, int H)
    {
        auto* C = new T(Form);
        C->SetBounds(L, T_, W, H);
        C->SetParent(Form);
        return C;
    }
    TForm* Form = nullptr;
};

TEST_F(QtPeers, WidgetsMirrorTheControls)
{
    auto* Label = Add<TLabel>(5, 6, 0, 0);
    Label->SetCaption(u"Temperatur");
    TFont Bold = Form->Font();
    Bold.Height = 13;
    Bold.Style = {fsBold};
    Bold.Color = clRed;
    Label->SetFont(Bold);
    auto* Edit = Add<TEdit>(10, 30, 80, 21);
    Edit->SetText(u"10");
    Edit->Hide();
    auto* List = Add<TListBox>(100, 10, 90, 60);
    List->AddItem(u"0 700");
    List->AddItem(u"1 701");

    auto* W = static_cast<QMainWindow*>(QtWidgetOf(Form));
    ASSERT_NE(W, nullptr);
    EXPECT_EQ(W->windowTitle(), QStringLiteral("Fenster"));
    EXPECT_EQ(W->centralWidget()->size(), QSize(200, 120));
    EXPECT_EQ(W->pos(), QPoint(30, 40));
    EXPECT_TRUE(W->isHidden());
    auto* L = qobject_cast<QLabel*>(QtWidgetOf(Label));
    ASSERT_NE(L, nullptr);
    EXPECT_EQ(L->text(), QStringLiteral("Temperatur"));
    EXPECT_EQ(L->font().pixelSize(), 13);
    EXPECT_TRUE(L->font().bold());
    EXPECT_EQ(L->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    EXPECT_EQ(L->geometry(), QRect(5, 6, Label->Width(), Label->Height()));
    EXPECT_EQ(L->size(), L->sizeHint());  // the label took the size of its text
    EXPECT_TRUE(QtWidgetOf(Edit)->isHidden());
    auto* Q = qobject_cast<QListWidget*>(QtWidgetOf(List));
    ASSERT_EQ(Q->count(), 2);
    EXPECT_EQ(Q->item(1)->text(), QStringLiteral("1 701"));
    List->Clear();
    EXPECT_EQ(Q->count(), 0);
    Form->Show();
    EXPECT_TRUE(W->isVisible());
}

TEST_F(QtPeers, KeysClicksAndPicksReachTheControls)
{
    auto* Edit = Add<TEdit>(10, 10, 80, 21);
    auto* Spin = Add<TUpDown>(90, 10, 16, 21);
    Spin->SetAssociate(Edit);
    Spin->SetRange(0, 300);
    Spin->SetIncrement(5);
    Spin->SetPosition(10);
    auto* Box = Add<TComboBox>(10, 40, 80, 21);
    Box->SetStyle(csDropDownList);
    Box->AddItem(u"COM1");
    Box->AddItem(u"COM3");
    Box->SetItemIndex(0);
    std::vector<UnicodeString> Changes;
    int KeyUps = 0, Picks = 0;
    Edit->OnChange = [&](TObject*) { Changes.push_back(Edit->Text()); };
    Edit->OnKeyUp = [&](TObject*, std::uint16_t&, TShiftState) { ++KeyUps; };
    Box->OnChange = [&](TObject*) { ++Picks; };
    Form->Show();

    auto* Line = qobject_cast<QLineEdit*>(QtWidgetOf(Edit));
    ASSERT_NE(Line, nullptr);
    EXPECT_EQ(Line->text(), QStringLiteral("10"));
    Line->setFocus();
    Line->selectAll();
    QTest::keyClicks(Line, "25");
    EXPECT_EQ(Edit->Text(), u"25");
    EXPECT_EQ(Line->text(), QStringLiteral("25"));
    EXPECT_EQ(Changes, (std::vector<UnicodeString>{u"2", u"25"}));
    EXPECT_EQ(KeyUps, 2);

    auto Buttons = QtWidgetOf(Spin)->findChildren<QToolButton*>();
    ASSERT_EQ(Buttons.size(), 2);
    Buttons[0]->click();  // up
    EXPECT_EQ(Edit->Text(), u"30");
    EXPECT_EQ(Line->text(), QStringLiteral("30"));

    auto* Combo = qobject_cast<QComboBox*>(QtWidgetOf(Box));
    ASSERT_NE(Combo, nullptr);
    EXPECT_FALSE(Combo->isEditable());
    Box->SetItemIndex(1);  // from the program: mirrored, no change step
    EXPECT_EQ(Combo->currentIndex(), 1);
    EXPECT_EQ(Picks, 0);
    Combo->setFocus();
    QTest::keyClick(Combo, Qt::Key_Up);
    EXPECT_EQ(Box->ItemIndex(), 0);
    EXPECT_EQ(Picks, 1);
}

TEST_F(QtPeers, MenuShortcutsCloseBoxAndImage)
{
    auto* Menu = new TMainMenu(Form);
    auto* File = new TMenuItem(Form);
    File->SetCaption(u"Datei");
    auto* Save = new TMenuItem(Form);
    Save->SetCaption(u"Speichern");
    Save->SetShortCut(ShortCut('S', {ssCtrl}));
    int Saves = 0;
    Save->OnClick = [&](TObject*) { ++Saves; };
    Menu->Items()->Add(File);
    File->Add(Save);
    Form->SetMenu(Menu);
    auto* Image = Add<TImage>(0, 0, 20, 10);
    Form->Show();

    auto* W = static_cast<QMainWindow*>(QtWidgetOf(Form));
    const auto Actions = W->menuBar()->actions();
    ASSERT_EQ(Actions.size(), 1);
    EXPECT_EQ(Actions[0]->text(), QStringLiteral("Datei"));
    ASSERT_EQ(Actions[0]->menu()->actions().size(), 1);
    QAction* A = Actions[0]->menu()->actions()[0];
    EXPECT_EQ(A->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));
    A->trigger();
    EXPECT_EQ(Saves, 1);

    Image->Canvas()->Pen.Color = clRed;
    Image->Canvas()->MoveTo(0, 5);
    Image->Canvas()->LineTo(20, 5);
    TBitmap Shot;
    TPoint Client;
    ASSERT_TRUE(Form->GrabWindow(Shot, Client));
    EXPECT_EQ(Shot.Pixel(Client.X + 10, Client.Y + 5), clRed);
    EXPECT_EQ(Shot.Pixel(Client.X + 10, Client.Y + 2), clWhite);

    // The close box asks the form; a second form only hides.
    auto* Dialog = new TForm(Form);
    int Closes = 0;
    Dialog->OnClose = [&](TObject*, TCloseAction&) { ++Closes; };
    Dialog->Show();
    QTest::keyClick(QtWidgetOf(Dialog), Qt::Key_Escape);  // Esc does not close a form by itself
    EXPECT_EQ(Closes, 0);
    EXPECT_TRUE(Dialog->Visible());
    QtWidgetOf(Dialog)->close();
    EXPECT_EQ(Closes, 1);
    EXPECT_FALSE(Dialog->Visible());
    EXPECT_TRUE(QtWidgetOf(Dialog)->isHidden());
    EXPECT_FALSE(App->Terminated());
    W->close();
    EXPECT_TRUE(App->Terminated());
}

}  // namespace
