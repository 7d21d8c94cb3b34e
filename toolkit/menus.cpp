// TMenuItem and TMainMenu.
#include "toolkit/menus.h"

#include "toolkit/forms.h"

#include <algorithm>

UnicodeString ShortCutToText(TShortCut Value)
{
    UnicodeString S;
    if (Value & scShift) S += u"Umschalt+";
    if (Value & scCtrl) S += u"Strg+";
    if (Value & scAlt) S += u"Alt+";
    const std::uint16_t Key = Value & 0xFF;
    if (Key >= 0x70 && Key <= 0x87) {
        S += u'F';
        S += IntToStr(Key - 0x6F);
    } else if (Key == vkEscape)
        S += u"Esc";
    else if ((Key >= '0' && Key <= '9') || (Key >= 'A' && Key <= 'Z'))
        S += static_cast<char16_t>(Key);
    return S;
}

TMenuItem::TMenuItem(TComponent* AOwner) : TComponent(AOwner) {}

TMenuItem::~TMenuItem()
{
    for (TMenuItem* I : fItems) I->fParent = nullptr;
    if (fParent) fParent->Remove(this);
}

TMainMenu* TMenuItem::Menu() const
{
    const TMenuItem* I = this;
    while (I->fParent) I = I->fParent;
    return I->fMenu;
}

void TMenuItem::Changed()
{
    if (TMainMenu* M = Menu()) M->Changed();
}

void TMenuItem::SetCaption(const UnicodeString& Value)
{
    if (Value == fCaption) return;
    fCaption = Value;
    Changed();
}

void TMenuItem::SetShortCut(TShortCut Value)
{
    if (Value == fShortCut) return;
    fShortCut = Value;
    Changed();
}

void TMenuItem::SetEnabled(bool Value)
{
    if (Value == fEnabled) return;
    fEnabled = Value;
    Changed();
}

void TMenuItem::Add(TMenuItem* Item)
{
    if (Item->fParent) Item->fParent->Remove(Item);
    Item->fParent = this;
    fItems.push_back(Item);
    Changed();
}

void TMenuItem::Remove(TMenuItem* Item)
{
    auto It = std::find(fItems.begin(), fItems.end(), Item);
    if (It == fItems.end()) return;
    fItems.erase(It);
    Item->fParent = nullptr;
    Changed();
}

void TMenuItem::Click()
{
    if (!fEnabled) return;
    TNotifyEvent Handler = OnClick;  // the handler may free the item
    if (Handler) GuardedCall([&] { Handler(this); });
}

TMainMenu::TMainMenu(TComponent* AOwner) : TComponent(AOwner), fItems(new TMenuItem(nullptr)) { fItems->fMenu = this; }

TMainMenu::~TMainMenu()
{
    if (fForm) fForm->SetMenu(nullptr);
    delete fItems;
}

void TMainMenu::Changed()
{
    if (fForm) fForm->MenuChanged();
}

namespace {
TMenuItem* FindIn(TMenuItem* Item, TShortCut Key)
{
    for (int I = 0; I < Item->Count(); ++I) {
        TMenuItem* C = Item->Items(I);
        if (C->ShortCut() == Key) return C;
        if (TMenuItem* Found = FindIn(C, Key)) return Found;
    }
    return nullptr;
}
}  // namespace

TMenuItem* TMainMenu::FindShortCut(TShortCut Key) const { return Key == scNone ? nullptr : FindIn(fItems, Key); }
