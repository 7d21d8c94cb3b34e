// The main menu of a form and its items.
#pragma once

#include "toolkit/classes.h"
#include "toolkit/controls.h"

#include <cstdint>
#include <vector>

// A key with modifiers: the virtual key code plus scShift / scCtrl / scAlt.
using TShortCut = std::uint16_t;
constexpr TShortCut scShift = 0x2000, scCtrl = 0x4000, scAlt = 0x8000, scNone = 0;
constexpr TShortCut ShortCut(std::uint16_t Key, TShiftState Shift)
{
    return static_cast<TShortCut>(Key | (Shift.Contains(ssShift) ? scShift : 0) |
                                  (Shift.Contains(ssCtrl) ? scCtrl : 0) | (Shift.Contains(ssAlt) ? scAlt : 0));
}
// Virtual key codes used in shortcuts.
constexpr std::uint16_t vkEscape = 0x1B, vkF4 = 0x73;
// "Strg+S", "Alt+F4" (the system's German key names).
UnicodeString ShortCutToText(TShortCut Value);

class TMainMenu;

// A menu entry: a command (OnClick) or, with items of its own, a submenu.
class TMenuItem : public TComponent {
public:
    explicit TMenuItem(TComponent* AOwner);
    ~TMenuItem() override;

    const UnicodeString& Caption() const { return fCaption; }
    void SetCaption(const UnicodeString& Value);
    TShortCut ShortCut() const { return fShortCut; }
    void SetShortCut(TShortCut Value);
    bool Enabled() const { return fEnabled; }
    void SetEnabled(bool Value);

    int Count() const { return static_cast<int>(fItems.size()); }
    TMenuItem* Items(int Index) const { return fItems.at(static_cast<std::size_t>(Index)); }
    void Add(TMenuItem* Item);
    void Remove(TMenuItem* Item);
    TMenuItem* Parent() const { return fParent; }

    // The user's choice of the item: OnClick inside the event loop's guard.
    void Click();
    TNotifyEvent OnClick;

private:
    friend class TMainMenu;
    void Changed();
    TMainMenu* Menu() const;
    UnicodeString fCaption;
    TShortCut fShortCut = scNone;
    bool fEnabled = true;
    std::vector<TMenuItem*> fItems;
    TMenuItem* fParent = nullptr;
    TMainMenu* fMenu = nullptr;  // set on the root item
};

// The menu bar of a form: the top-level entries are the items of Items().
class TMainMenu : public TComponent {
public:
    explicit TMainMenu(TComponent* AOwner);
    ~TMainMenu() override;
    TMenuItem* Items() const { return fItems; }
    // The item whose shortcut is Key, or null.
    TMenuItem* FindShortCut(TShortCut Key) const;

private:
    friend class TMenuItem;
    friend class TForm;
    void Changed();
    TMenuItem* fItems;
    class TForm* fForm = nullptr;
};
