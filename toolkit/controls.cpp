// TControl, TWinControl and the peer factory.
#include "toolkit/controls.h"
#include "toolkit/forms.h"

#include <algorithm>

namespace {
TPeerFactory* InstalledFactory = nullptr;
}

TPeerFactory* PeerFactory() { return InstalledFactory; }

TPeerFactory* SetPeerFactory(TPeerFactory* Factory)
{
    TPeerFactory* Previous = InstalledFactory;
    InstalledFactory = Factory;
    return Previous;
}

// ---------------------------------------------------------------------------
// TControl

TControl::TControl(TComponent* AOwner) : TComponent(AOwner) {}

TControl::~TControl()
{
    fPeer.reset();
    if (fParent) {
        auto& C = fParent->fControls;
        C.erase(std::remove(C.begin(), C.end(), this), C.end());
    }
}

void TControl::PublishBool(const UnicodeString& Name, std::function<bool()> Getter, std::function<void(bool)> Setter)
{
    fBoolProperties.push_back(TBoolProperty{Name, std::move(Getter), std::move(Setter)});
}

const TControl::TBoolProperty* TControl::FindBool(const UnicodeString& Name) const
{
    for (auto& P : fBoolProperties)
        if (SameText(P.Name, Name)) return &P;
    return nullptr;
}

bool TControl::GetBoolProperty(const UnicodeString& Name, bool& Value) const
{
    const TBoolProperty* P = FindBool(Name);
    if (!P || !P->Getter) return false;
    Value = P->Getter();
    return true;
}

bool TControl::SetBoolProperty(const UnicodeString& Name, bool Value)
{
    const TBoolProperty* P = FindBool(Name);
    if (!P || !P->Setter) return false;
    P->Setter(Value);
    return true;
}

bool SetCheckedProperty(TControl* Control, bool Value)
{
    return Control && Control->SetBoolProperty(u"Checked", Value);
}

void TControl::Changed(TControlChange What, int Index)
{
    if (fPeer) fPeer->Changed(What, Index);
}

void TControl::CreatePeer()
{
    if (!fPeer) {
        TPeerFactory* Factory = PeerFactory();
        if (!Factory) return;
        fPeer = Factory->CreatePeer(*this);
        if (!fPeer) return;
        PeerCreated();
    }
    if (auto* W = dynamic_cast<TWinControl*>(this))
        for (TControl* C : W->fControls) C->CreatePeer();
}

void TControl::DestroyPeer()
{
    if (auto* W = dynamic_cast<TWinControl*>(this))
        for (TControl* C : W->fControls) C->DestroyPeer();
    fPeer.reset();
}

void TControl::SetParent(TWinControl* AParent)
{
    if (AParent == fParent) return;
    if (fParent) {
        DestroyPeer();
        auto& C = fParent->fControls;
        C.erase(std::remove(C.begin(), C.end(), this), C.end());
    }
    fParent = AParent;
    if (fParent) {
        fParent->fControls.push_back(this);
        if (fParent->Peer()) CreatePeer();
    }
}

void TControl::SetBounds(int ALeft, int ATop, int AWidth, int AHeight)
{
    if (ALeft == fLeft && ATop == fTop && AWidth == fWidth && AHeight == fHeight) return;
    fLeft = ALeft;
    fTop = ATop;
    fWidth = std::max(0, AWidth);
    fHeight = std::max(0, AHeight);
    Changed(TControlChange::Bounds);
}

void TControl::SetVisible(bool Value)
{
    if (Value == fVisible) return;
    fVisible = Value;
    Changed(TControlChange::Visible);
}

void TControl::SetEnabled(bool Value)
{
    if (Value == fEnabled) return;
    fEnabled = Value;
    Changed(TControlChange::Enabled);
}

void TControl::SetCaption(const UnicodeString& Value)
{
    if (Value == fCaption) return;
    fCaption = Value;
    CaptionChanged();
}

void TControl::CaptionChanged() { Changed(TControlChange::Caption); }

TFont TControl::Font() const
{
    if (fParentFont && fParent) return fParent->Font();
    return fFont;
}

void TControl::SetFont(const TFont& Value)
{
    if (!fParentFont && Value == fFont) return;
    fFont = Value;
    fParentFont = false;
    FontChanged();
}

void TControl::FontChanged()
{
    Changed(TControlChange::Font);
    if (auto* W = dynamic_cast<TWinControl*>(this))
        for (TControl* C : W->fControls)
            if (C->fParentFont) C->FontChanged();
}

TColor TControl::Color() const
{
    if (fParentColor) return fParent ? fParent->Color() : clDefault;
    return fColor;
}

void TControl::SetColor(TColor Value)
{
    if (!fParentColor && Value == fColor) return;
    fColor = Value;
    fParentColor = false;
    ColorChanged();
}

void TControl::ColorChanged()
{
    Changed(TControlChange::Color);
    if (auto* W = dynamic_cast<TWinControl*>(this))
        for (TControl* C : W->fControls)
            if (C->fParentColor) C->ColorChanged();
}

void TControl::PerformKeyUp(std::uint16_t Key, TShiftState Shift)
{
    GuardedCall([&] { KeyUp(Key, Shift); });
}

void TControl::KeyUp(std::uint16_t& Key, TShiftState Shift)
{
    if (OnKeyUp) OnKeyUp(this, Key, Shift);
}

void TControl::Repaint()
{
    if (fPeer) fPeer->Repaint();
}

void TControl::SetFocus()
{
    if (fPeer) fPeer->SetFocus();
}

// ---------------------------------------------------------------------------
// TWinControl

TWinControl::TWinControl(TComponent* AOwner) : TControl(AOwner) {}

TWinControl::~TWinControl()
{
    // Children that outlive their container lose their native side with it.
    DestroyPeer();
    for (TControl* C : fControls) C->fParent = nullptr;
    fControls.clear();
}
