// Visual controls in the component model.
//
// A control keeps all of its state (bounds, caption, font, colour, items, ...)
// in the toolkit object. A backend attaches a peer to each control whose
// parent chain ends in a form: the peer mirrors the state onto a native widget
// (Qt, Win32) and turns the user's input back into the control's user actions
// (Click, PickItem, PerformChar, ...). Without a backend (headless) there are
// no peers: every property is readable and the user actions are called by code.
#pragma once

#include "toolkit/classes.h"
#include "toolkit/graphics.h"

#include <functional>
#include <memory>
#include <vector>

class TControl;
class TWinControl;

// What changed in a control, for its peer.
enum class TControlChange {
    Bounds,
    Visible,
    Enabled,
    Caption,
    Font,
    Color,
    ReadOnly,
    Selection,
    Items,      // the items were replaced or cleared
    ItemAdded,  // one item was appended (Index)
    ItemIndex,
    Picture,
    Range,
    Menu,
    Icon,
    BorderStyle  // a form's border style or size constraints
};

// The native side of a control.
class TControlPeer {
public:
    virtual ~TControlPeer() = default;
    // Mirrors the control's changed state; Index names the item of ItemAdded.
    virtual void Changed(TControlChange What, int Index) = 0;
    // Paints now (a canvas whose picture a modal box is about to cover).
    virtual void Repaint() {}
    // The size the native widget wants for its content (auto-sized labels);
    // false when the backend has no opinion.
    virtual bool NaturalSize(TPoint& Size) const
    {
        (void)Size;
        return false;
    }
    virtual void SetFocus() {}
    // The window's picture as the screen shows it (client area and menu bar);
    // ClientOrigin: where the client area's top-left lies in it.
    virtual bool Grab(TBitmap& Picture, TPoint& ClientOrigin)
    {
        (void)Picture;
        (void)ClientOrigin;
        return false;
    }
};

// Creates the peers of a backend; installed by its application object.
class TPeerFactory {
public:
    virtual ~TPeerFactory() = default;
    virtual std::unique_ptr<TControlPeer> CreatePeer(TControl& Control) = 0;
};
// The installed factory; null headless.
TPeerFactory* PeerFactory();
TPeerFactory* SetPeerFactory(TPeerFactory* Factory);  // returns the previous one

enum class TShiftStateFlag { ssShift, ssAlt, ssCtrl };
using enum TShiftStateFlag;
using TShiftState = TSet<TShiftStateFlag>;
using TKeyEvent = std::function<void(TObject* Sender, std::uint16_t& Key, TShiftState Shift)>;

// A visual control. Besides the component side it publishes Boolean
// properties that can be looked up by name at run time (a check box publishes
// "Checked"); names compare case-insensitively.
class TControl : public TComponent {
public:
    explicit TControl(TComponent* AOwner);
    ~TControl() override;

    // False when the control has no such property (Value is left unchanged).
    bool GetBoolProperty(const UnicodeString& Name, bool& Value) const;
    // False when the control has no such property (nothing changes).
    bool SetBoolProperty(const UnicodeString& Name, bool Value);

    // The container the control sits in; setting it attaches a peer when the
    // container has one.
    TWinControl* Parent() const { return fParent; }
    virtual void SetParent(TWinControl* AParent);

    int Left() const { return fLeft; }
    int Top() const { return fTop; }
    int Width() const { return fWidth; }
    int Height() const { return fHeight; }
    TRect BoundsRect() const { return {fLeft, fTop, fLeft + fWidth, fTop + fHeight}; }
    virtual void SetBounds(int ALeft, int ATop, int AWidth, int AHeight);
    void SetLeft(int V) { SetBounds(V, fTop, fWidth, fHeight); }
    void SetTop(int V) { SetBounds(fLeft, V, fWidth, fHeight); }

    bool Visible() const { return fVisible; }
    virtual void SetVisible(bool Value);
    void Show() { SetVisible(true); }
    void Hide() { SetVisible(false); }
    bool Enabled() const { return fEnabled; }
    void SetEnabled(bool Value);

    // Caption of labels, buttons, panels, forms.
    const UnicodeString& Caption() const { return fCaption; }
    void SetCaption(const UnicodeString& Value);

    // The font in effect: the parent's while ParentFont is set.
    TFont Font() const;
    void SetFont(const TFont& Value);  // clears ParentFont
    bool ParentFont() const { return fParentFont; }
    // The colour in effect: clDefault while ParentColor is set and no parent
    // has one (the backend's own colour).
    TColor Color() const;
    void SetColor(TColor Value);  // clears ParentColor
    bool ParentColor() const { return fParentColor; }

    // Key release while the control has the focus (inside the event loop's guard).
    void PerformKeyUp(std::uint16_t Key, TShiftState Shift = {});
    TKeyEvent OnKeyUp;

    TControlPeer* Peer() const { return fPeer.get(); }
    // The peer paints now.
    void Repaint();
    void SetFocus();

protected:
    void PublishBool(const UnicodeString& Name, std::function<bool()> Getter, std::function<void(bool)> Setter);
    // Tells the peer (when there is one).
    void Changed(TControlChange What, int Index = -1);
    // Creates the peer (and the children's) when a backend is installed.
    void CreatePeer();
    void DestroyPeer();
    // Called after the peer was created (e.g. to size to the native content).
    virtual void PeerCreated() {}
    virtual void KeyUp(std::uint16_t& Key, TShiftState Shift);
    // The font in effect changed (own or parent's); passes it on to the
    // children that follow it.
    virtual void FontChanged();
    virtual void CaptionChanged();
    void ColorChanged();

private:
    friend class TWinControl;
    struct TBoolProperty {
        UnicodeString Name;
        std::function<bool()> Getter;
        std::function<void(bool)> Setter;
    };
    const TBoolProperty* FindBool(const UnicodeString& Name) const;
    std::vector<TBoolProperty> fBoolProperties;
    TWinControl* fParent = nullptr;
    int fLeft = 0, fTop = 0, fWidth = 0, fHeight = 0;
    bool fVisible = true;
    bool fEnabled = true;
    UnicodeString fCaption;
    TFont fFont;
    bool fParentFont = true;
    TColor fColor = clDefault;
    bool fParentColor = true;
    std::unique_ptr<TControlPeer> fPeer;
};

// Sets the published Boolean property "Checked" of Control when it has one;
// returns whether it had.
bool SetCheckedProperty(TControl* Control, bool Value);

// A control that holds other controls.
class TWinControl : public TControl {
public:
    explicit TWinControl(TComponent* AOwner);
    ~TWinControl() override;
    int ControlCount() const { return static_cast<int>(fControls.size()); }
    TControl* Controls(int Index) const { return fControls.at(static_cast<std::size_t>(Index)); }

private:
    friend class TControl;
    std::vector<TControl*> fControls;
};
