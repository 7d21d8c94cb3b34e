// The toolkit's controls without a backend: state, change events, user actions.
#include "toolkit/comctrls.h"
#include "toolkit/dialogs.h"
#include "toolkit/extctrls.h"
#include "toolkit/menus.h"
#include "toolkit/stdctrls.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

class Controls : public ::testing::Test {
protected:
    void SetUp() override
    {
        App.MessageBoxHook = [this](const UnicodeString& Text, const UnicodeString&, int) {
            Boxes.push_back(Text);
            return MsgBox::IdOk;
        };
    }
    THeadlessApplication App;
    std::vector<UnicodeString> Boxes;
};

TEST(Canvas, RectangleAndLinesFollowTheWin32Rules)
{
    TBitmap B;
    B.SetSize(10, 6, clBlue);
    TCanvas C(B);
    int Changes = 0;
    C.OnChange = [&](TObject*) { ++Changes; };
    C.Brush.Color = clWhite;
    C.Pen.Color = clBlack;
    C.Rectangle(0, 0, 10, 6);  // the frame takes columns 0 and 9, rows 0 and 5
    EXPECT_EQ(B.Pixel(9, 3), clBlack);
    EXPECT_EQ(B.Pixel(4, 5), clBlack);
    EXPECT_EQ(B.Pixel(8, 4), clWhite);
    C.Pen.Color = clRed;
    C.MoveTo(1, 1);
    C.LineTo(5, 1);  // the end point stays as it was
    EXPECT_EQ(B.Pixel(1, 1), clRed);
    EXPECT_EQ(B.Pixel(4, 1), clRed);
    EXPECT_EQ(B.Pixel(5, 1), clWhite);
    EXPECT_EQ(C.PenPos(), (TPoint{5, 1}));
    C.MoveTo(3, -4);
    C.LineTo(3, 20);  // clipped, no write outside
    EXPECT_EQ(B.Pixel(3, 0), clRed);
    EXPECT_EQ(B.Pixel(3, 5), clRed);
    EXPECT_EQ(Changes, 3);
}

TEST(Canvas, PngFileHoldsThePixels)
{
    TBitmap B;
    B.SetSize(3, 2, clWhite);
    B.SetPixel(2, 1, RGB(10, 20, 30));
    const auto File = std::filesystem::temp_directory_path() / "toolkit-canvas.png";
    ASSERT_TRUE(B.SaveToPngFile(Utf8ToUnicode(File.string())));
    std::string Png;
    {
        std::ifstream In(File, std::ios::binary);  // closed before the remove (Windows)
        Png.assign(std::istreambuf_iterator<char>(In), {});
    }
    std::filesystem::remove(File);
    ASSERT_EQ(Png.substr(0, 8), "\x89PNG\r\n\x1a\n");
    EXPECT_EQ(Png.substr(12, 4), "IHDR");
    EXPECT_EQ(Png.substr(16, 8), std::string("\0\0\0\3\0\0\0\2", 8));
    // Deflated image data and the end; the pixels are read back by an
    // independent reader (png_readback).
    EXPECT_NE(Png.find("IDAT"), std::string::npos);
    EXPECT_EQ(Png.substr(Png.size() - 8, 4), "IEND");
}

TEST_F(Controls, EditRaisesChangeOnlyForANewTextAndTypesThroughTheGuard)
{
    TEdit E(nullptr);
    int Changes = 0, KeyUps = 0;
    E.OnChange = [&](TObject*) {
        ++Changes;
        if (E.Text() == u"1x") throw EConvertError(u"'1x' ist kein gültiger Gleitkommawert");
    };
    E.OnKeyUp = [&](TObject*, std::uint16_t& Key, TShiftState) {
        ++KeyUps;
        EXPECT_TRUE(Key == 'X' || Key == '2' || Key == 8);  // 8: the backspace key
    };
    E.SetText(u"1");
    E.SetText(u"1");
    EXPECT_EQ(Changes, 1);
    E.TypeText(u"x2");  // the failing change is shown, the next key still arrives
    EXPECT_EQ(E.Text(), u"1x2");
    EXPECT_EQ(Changes, 3);
    EXPECT_EQ(KeyUps, 2);
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0], u"'1x' ist kein gültiger Gleitkommawert.");
    E.SelectAll();
    E.TypeText(u"\b");
    EXPECT_EQ(E.Text(), u"");
}

TEST_F(Controls, ComboBoxChangeStepRunsOnlyForThePick)
{
    TComboBox Box(nullptr);
    Box.AddItem(u"COM1");
    Box.AddItem(u"COM3");
    int Changes = 0;
    Box.OnChange = [&](TObject*) { ++Changes; };
    Box.SetItemIndex(1);
    EXPECT_EQ(Box.Text(), u"COM3");
    EXPECT_EQ(Changes, 0);
    Box.PickItem(0);
    Box.PickItem(0);  // picking the selected entry again is a pick too
    Box.PickItem(5);
    EXPECT_EQ(Changes, 2);
    EXPECT_EQ(Box.ItemIndex(), 0);
    Box.SetItemIndex(7);
    EXPECT_EQ(Box.ItemIndex(), -1);
    EXPECT_EQ(Box.Text(), u"");
}

TEST_F(Controls, UpDownStepsFromTheBuddysNumberWithinItsRange)
{
    TEdit Buddy(nullptr);
    TUpDown Spin(nullptr);
    Spin.SetAssociate(&Buddy);
    Spin.SetRange(0, 20);
    Spin.SetIncrement(5);
    Spin.SetPosition(10);
    EXPECT_EQ(Buddy.Text(), u"10");
    Buddy.SetText(u"18");
    Spin.ClickButton(btNext);
    EXPECT_EQ(Buddy.Text(), u"20");
    Buddy.SetText(u"abc");  // no number: steps from the position
    Spin.ClickButton(btPrev);
    EXPECT_EQ(Spin.Position(), 15);
    EXPECT_EQ(Buddy.Text(), u"15");
}

TEST_F(Controls, FormsFontsLabelsAndMenus)
{
    auto* Main = new TForm(nullptr);
    EXPECT_EQ(App.MainForm, Main);
    EXPECT_FALSE(Main->Visible());
    auto* Dialog = new TForm(Main);
    TFont Tahoma;
    Tahoma.Name = u"Tahoma";
    Dialog->SetFont(Tahoma);
    auto* Edit = new TLabeledEdit(Dialog);
    Edit->SetParent(Dialog);
    Edit->SetBounds(40, 50, 60, 21);
    Edit->EditLabel()->SetCaption(u"Belichtung:");
    EXPECT_EQ(Edit->EditLabel()->Font().Name, u"Tahoma");  // follows the form
    const TLabel& L = *Edit->EditLabel();
    EXPECT_GT(L.Width(), 0);
    EXPECT_EQ(L.Left(), 40);
    EXPECT_EQ(L.Top() + L.Height() + 3, 50);
    TFont Big = Tahoma;
    Big.Height = 20;
    Dialog->SetFont(Big);
    EXPECT_EQ(L.Top() + L.Height() + 3, 50);  // re-measured and placed again
    EXPECT_EQ(L.Height(), 22);

    int Hides = 0, Closes = 0;
    Dialog->OnHide = [&](TObject*) { ++Hides; };
    Dialog->OnClose = [&](TObject*, TCloseAction& Action) {
        if (++Closes == 1) Action = caNone;
    };
    Dialog->Show();
    Dialog->Close();  // refused by the handler
    EXPECT_TRUE(Dialog->Visible());
    Dialog->Close();
    EXPECT_FALSE(Dialog->Visible());
    EXPECT_EQ(Hides, 1);
    EXPECT_FALSE(App.Terminated());

    auto* Menu = new TMainMenu(Main);
    auto* File = new TMenuItem(Main);
    auto* Save = new TMenuItem(Main);
    Menu->Items()->Add(File);
    File->Add(Save);
    Save->SetShortCut(ShortCut('S', {ssCtrl}));
    Main->SetMenu(Menu);
    EXPECT_EQ(Menu->FindShortCut(scCtrl | 'S'), Save);
    EXPECT_EQ(Menu->FindShortCut(scAlt | 'S'), nullptr);
    EXPECT_EQ(ShortCutToText(ShortCut(vkF4, {ssAlt})), u"Alt+F4");
    Save->OnClick = [](TObject*) { throw Exception(u"voll"); };
    Save->Click();
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0], u"voll.");
    delete Menu;
    EXPECT_EQ(Main->Menu(), nullptr);

    Main->Close();  // the main form ends the program
    EXPECT_TRUE(App.Terminated());
    delete Main;
    EXPECT_EQ(App.MainForm, nullptr);
}

// An armed cancel takes the next print or file dialog only (its title
// reported, nothing printed); a disarmed one takes none.
TEST_F(Controls, ArmedDialogCancelTakesOneDialog)
{
    std::vector<UnicodeString> cancelled;
    const auto report = [&](const UnicodeString& Title) { cancelled.push_back(Title); };
    int drawn = 0;
    const TPageDrawer draw = [&](TPageCanvas&) { ++drawn; };
    ASSERT_TRUE(App.ArmDialogCancel(report));
    EXPECT_FALSE(App.PrintPage(u"Seite", draw));
    EXPECT_FALSE(App.PrintedPage);
    EXPECT_TRUE(App.PrintPage(u"Seite", draw));
    EXPECT_EQ(drawn, 1);
    ASSERT_TRUE(App.ArmDialogCancel(report));
    TSaveDialog save(nullptr);
    EXPECT_FALSE(save.Execute());
    ASSERT_TRUE(App.ArmDialogCancel(report));
    App.DisarmDialogCancel();
    EXPECT_TRUE(App.PrintPage(u"Seite", draw));
    EXPECT_EQ(drawn, 2);
    EXPECT_EQ(cancelled, (std::vector<UnicodeString>{u"Drucken", u"Speichern unter"}));
}

}  // namespace
