// Component model: ownership, free notification, loading, controls, edits, timers.
#include "toolkit/extctrls.h"
#include "toolkit/stdctrls.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Records destructions and notifications into a shared log.
class TProbe : public TComponent {
public:
    TProbe(TComponent* AOwner, std::string Id, std::vector<std::string>& Log)
        : TComponent(AOwner), fId(std::move(Id)), fLog(Log)
    {
        SetName(Utf8ToUnicode(fId));
    }
    ~TProbe() override { fLog.push_back("~" + fId); }
    TComponent* Link = nullptr;
    void LinkTo(TComponent* C)
    {
        Link = C;
        if (C) C->FreeNotification(this);
    }
    int Loaded = 0;

protected:
    void Notification(TComponent* AComponent, TOperation Operation) override
    {
        TComponent::Notification(AComponent, Operation);
        if (Operation == opRemove) {
            fLog.push_back(fId + " told " + UnicodeToUtf8(AComponent->Name()) + " gone");
            if (AComponent == Link) Link = nullptr;
        }
    }
    void LoadingFinished() override
    {
        TComponent::LoadingFinished();
        ++Loaded;
        fLog.push_back(fId + " loaded");
    }

private:
    std::string fId;
    std::vector<std::string>& fLog;
};

TEST(Component, OwnerDestroysOwnedComponentsLastCreatedFirst)
{
    std::vector<std::string> Log;
    auto* Form = new TProbe(nullptr, "form", Log);
    new TProbe(Form, "a", Log);
    auto* B = new TProbe(Form, "b", Log);
    new TProbe(B, "b1", Log);
    new TProbe(Form, "c", Log);
    EXPECT_EQ(Form->ComponentCount(), 3);
    EXPECT_EQ(Form->FindComponent(u"B"), B);
    EXPECT_EQ(B->ComponentIndex(), 1);
    delete Form;
    // The form's own destructor body runs first, then the owned ones go.
    EXPECT_EQ(Log, (std::vector<std::string>{"~form", "~c", "~b", "~b1", "~a"}));
}

TEST(Component, DeletingAnOwnedComponentTellsTheOwnerAndItsSiblings)
{
    std::vector<std::string> Log;
    TProbe Form(nullptr, "form", Log);
    auto* A = new TProbe(&Form, "a", Log);
    auto* B = new TProbe(&Form, "b", Log);
    A->Link = B;  // siblings need no free-notification link
    delete B;
    EXPECT_EQ(A->Link, nullptr);
    EXPECT_EQ(Form.ComponentCount(), 1);
    EXPECT_EQ(Log, (std::vector<std::string>{"~b", "a told b gone", "form told b gone"}));
}

TEST(Component, FreeNotificationWorksBothWaysAndCanBeRemoved)
{
    std::vector<std::string> Log;
    auto* Comm = new TProbe(nullptr, "comm", Log);
    auto* Monitor = new TProbe(nullptr, "monitor", Log);
    auto* Processor = new TProbe(nullptr, "processor", Log);
    Comm->LinkTo(Monitor);
    Processor->LinkTo(Comm);
    Comm->FreeNotification(Monitor);  // twice: one link
    EXPECT_EQ(Monitor->FreeNotifyCount(), 1);
    delete Monitor;
    EXPECT_EQ(Comm->Link, nullptr);
    EXPECT_EQ(Comm->FreeNotifyCount(), 1);  // only the processor is left
    delete Comm;
    EXPECT_EQ(Processor->Link, nullptr);
    EXPECT_EQ(Processor->FreeNotifyCount(), 0);
    delete Processor;

    Log.clear();
    auto* X = new TProbe(nullptr, "x", Log);
    auto* Y = new TProbe(nullptr, "y", Log);
    Y->LinkTo(X);
    X->RemoveFreeNotification(Y);
    EXPECT_EQ(X->FreeNotifyCount(), 0);
    EXPECT_EQ(Y->FreeNotifyCount(), 0);
    delete X;
    EXPECT_EQ(Y->Link, X);  // no longer told
    delete Y;
    EXPECT_EQ(Log, (std::vector<std::string>{"~x", "~y"}));
}

TEST(Component, NotificationsReachPartnersWhileTheOwnerIsDestroyed)
{
    // A monitor on another form outlives the form whose component it watches.
    std::vector<std::string> Log;
    TProbe Other(nullptr, "other", Log);
    auto* Form = new TProbe(nullptr, "form", Log);
    auto* Comm = new TProbe(Form, "comm", Log);
    Other.LinkTo(Comm);
    delete Form;
    EXPECT_EQ(Other.Link, nullptr);
    EXPECT_EQ(Other.FreeNotifyCount(), 0);
}

TEST(Component, LoadingStateEndsWithLoadingFinishedOwnedFirst)
{
    std::vector<std::string> Log;
    TProbe Form(nullptr, "form", Log);
    auto* A = new TProbe(&Form, "a", Log);
    auto* B = new TProbe(&Form, "b", Log);
    Form.BeginLoading();
    EXPECT_TRUE(A->IsLoading());
    auto* Late = new TProbe(&Form, "late", Log);  // joins the load
    EXPECT_TRUE(Late->IsLoading());
    Form.EndLoading();
    EXPECT_FALSE(Form.IsLoading());
    EXPECT_FALSE(B->IsLoading());
    EXPECT_EQ(Log, (std::vector<std::string>{"a loaded", "b loaded", "late loaded", "form loaded"}));
    Form.EndLoading();  // not loading any more: nothing
    EXPECT_EQ(A->Loaded, 1);
    Form.SetDesigning(true);
    EXPECT_TRUE(B->IsDesigning());
    EXPECT_TRUE(B->ComponentState().Contains(csDesigning));
}

TEST(Component, ClassNameIsTheBareClassName)
{
    std::vector<std::string> Log;
    TProbe P(nullptr, "p", Log);
    EXPECT_EQ(P.ClassName(), u"TProbe");
    TStringList L;
    EXPECT_EQ(L.ClassName(), u"TStringList");
}

TEST(Control, CheckedIsFoundByNameOnlyWhereItIsPublished)
{
    TCheckBox Box(nullptr);
    TEdit Edit(nullptr);
    bool V = false;
    EXPECT_TRUE(SetCheckedProperty(&Box, true));
    EXPECT_TRUE(Box.Checked());
    EXPECT_TRUE(Box.GetBoolProperty(u"checked", V));
    EXPECT_TRUE(V);
    EXPECT_FALSE(SetCheckedProperty(&Edit, true));  // an edit has no "Checked"
    EXPECT_FALSE(Edit.GetBoolProperty(u"Checked", V));
    EXPECT_FALSE(Box.SetBoolProperty(u"Visible", true));
    EXPECT_FALSE(SetCheckedProperty(nullptr, true));
}

TEST(Edit, TypedCharactersGoThroughTheInstalledCharProc)
{
    TEdit Edit(nullptr);
    Edit.SetText(u"ab");
    std::u16string Seen;
    bool Echo = false;
    // A terminal: saves the edit's procedure and passes characters on only
    // when echo is on.
    TCustomEdit::TCharProc Saved = Edit.CharProc();
    Edit.SetCharProc([&](char16_t C) {
        Seen += C;
        if (Echo) Saved(C);
    });
    Edit.PerformChar(u'x');
    EXPECT_EQ(Edit.Text(), u"ab");
    Echo = true;
    Edit.PerformAnsiChar(0x80);  // Windows-1252 euro sign
    EXPECT_EQ(Edit.Text(), u"ab€");
    EXPECT_EQ(Seen, u"x€");
    Edit.SetCharProc(Saved);
    Edit.PerformChar(u'y');
    EXPECT_EQ(Seen, u"x€");
    EXPECT_EQ(Edit.Text(), u"ab€y");
}

TEST(Edit, ReplaceSelInsertsAtTheCaretAndDefaultCharProcEdits)
{
    TEdit Edit(nullptr, true);
    int Changes = 0;
    Edit.OnChange = [&](TObject*) { ++Changes; };
    Edit.SetText(u"1234");
    Edit.SetSelection(1, 2);
    Edit.ReplaceSelAnsi("ab");  // replaces "23"
    EXPECT_EQ(Edit.Text(), u"1ab4");
    EXPECT_EQ(Edit.SelStart(), 3);
    Edit.PerformChar(8);  // backspace deletes before the caret
    EXPECT_EQ(Edit.Text(), u"1a4");
    Edit.PerformChar(13);
    EXPECT_EQ(Edit.Text(), u"1a\r\n4");
    Edit.PerformChar(8);  // a line break goes at once
    EXPECT_EQ(Edit.Text(), u"1a4");
    Edit.PerformChar(1);  // other control characters do nothing
    EXPECT_EQ(Edit.Text(), u"1a4");
    Edit.SetReadOnly(true);
    Edit.PerformChar(u'z');  // typing into a read-only edit does nothing ...
    Edit.ReplaceSel(u"Q");   // ... but text can still be put in
    EXPECT_EQ(Edit.Text(), u"1aQ4");
    EXPECT_EQ(Changes, 6);
    TEdit Single(nullptr);
    Single.PerformChar(13);
    EXPECT_EQ(Single.Text(), u"");
}

TEST(Timer, FiresOnThePumpOnlyWhileEnabledWithAHandler)
{
    THeadlessApplication App;
    TTimer T(nullptr);
    T.SetInterval(5);
    EXPECT_FALSE(T.Running());  // no handler: the runtime's timer does not run
    int Fired = 0;
    T.SetOnTimer([&](TObject* Sender) {
        EXPECT_EQ(Sender, &T);
        if (++Fired == 3) T.SetEnabled(false);
    });
    EXPECT_TRUE(T.Running());
    EXPECT_TRUE(App.WaitUntil([&] { return Fired == 3; }, std::chrono::seconds(5)));
    EXPECT_FALSE(T.Running());
    App.WaitUntil([] { return false; }, std::chrono::milliseconds(30));
    EXPECT_EQ(Fired, 3);
}

TEST(Timer, AOneShotPatternAndAnErrorInTheHandlerIsShown)
{
    THeadlessApplication App;
    auto* Form = new TComponent(nullptr);
    auto* T = new TTimer(Form);
    T->SetInterval(60000);
    int Fired = 0;
    T->SetOnTimer([&](TObject*) {
        T->SetEnabled(false);
        ++Fired;
        throw EConvertError(u"'' ist kein gültiger Gleitkommawert");
    });
    T->SetInterval(10);  // a pending run is replaced
    EXPECT_TRUE(App.WaitUntil([&] { return Fired == 1; }, std::chrono::seconds(5)));
    auto Boxes = App.MessageBoxCalls();
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, u"'' ist kein gültiger Gleitkommawert.");
    EXPECT_EQ(Boxes[0].Flags, MsgBox::Ok | MsgBox::IconError);
    delete Form;  // the owner frees the timer while it is stopped
}

TEST(Timer, StartsOnlyAfterLoading)
{
    THeadlessApplication App;
    TComponent Form(nullptr);
    Form.BeginLoading();
    auto* T = new TTimer(&Form);
    T->SetInterval(1);
    T->SetOnTimer([](TObject*) {});
    EXPECT_FALSE(T->Running());
    Form.EndLoading();
    EXPECT_TRUE(T->Running());
}

TEST(Application, ShowExceptionAddsTheRuntimesFullStop)
{
    THeadlessApplication App;
    App.ShowException(Exception(u"Listenindex überschreitet das Maximum (1)"));
    App.ShowException(Exception(u"Fertig."));
    App.ShowException(Exception(u"abc"));
    App.HandleException(EAbort(u"silent"));
    App.HandleException(std::runtime_error("plain"));
    auto Boxes = App.MessageBoxCalls();
    ASSERT_EQ(Boxes.size(), 4u);
    EXPECT_EQ(Boxes[0].Text, u"Listenindex überschreitet das Maximum (1)");  // ")" sorts before "."
    EXPECT_EQ(Boxes[1].Text, u"Fertig.");
    EXPECT_EQ(Boxes[2].Text, u"abc.");
    EXPECT_EQ(Boxes[3].Text, u"plain.");
    EXPECT_EQ(Boxes[2].Caption, App.Title);
}

TEST(Application, MessageBoxAnswersAreConfigurable)
{
    THeadlessApplication App;
    App.QueueMessageBoxAnswer(MsgBox::IdNo);
    App.SetMessageBoxAnswer(MsgBox::IdCancel);
    EXPECT_EQ(App.MessageBox(u"q", u"c", MsgBox::YesNo), MsgBox::IdNo);
    EXPECT_EQ(App.MessageBox(u"q", u"c", MsgBox::OkCancel), MsgBox::IdCancel);
    EXPECT_EQ(App.MessageBoxCalls().size(), 2u);
    EXPECT_EQ(Application, &App);
}

}  // namespace
