// What the native backends' peers share: the hand-over of a control's changes
// to the native side, and the choice of the peer class by the control's class.
#pragma once

#include "toolkit/controls.h"
#include "toolkit/forms.h"

#include <memory>
#include <utility>

// Runs a user action of a control from a native event, inside the event
// loop's guard.
template <class F>
void UserAction(F&& Action)
{
    GuardedCall(std::forward<F>(Action));
}

// A peer with a native widget or window. A peer class names the control
// class it serves as ControlType.
class TPeerBase : public TControlPeer {
public:
    explicit TPeerBase(TControl& Control) : fControl(Control) {}
    // Whether the native side exists (it may fail to be made, or be gone).
    virtual bool HasNative() const = 0;
    // Mirrors the whole state (after construction).
    void MirrorAll();
    void Changed(TControlChange What, int Index) override;

protected:
    virtual void SetGeometry() = 0;
    virtual void SetVisible() = 0;
    virtual void SetEnabled() = 0;
    virtual void ApplyFont() = 0;
    virtual void ApplyColor() = 0;
    // The other changes, each peer those of its own control.
    virtual void Mirror(TControlChange What, int Index)
    {
        (void)What;
        (void)Index;
    }

    TControl& fControl;
};

// Makes a P when Control is a P::ControlType; whether it did.
template <class P>
bool TryCreatePeer(TControl& Control, std::unique_ptr<TPeerBase>& Peer)
{
    if (auto* C = dynamic_cast<typename P::ControlType*>(&Control)) Peer = std::make_unique<P>(*C);
    return Peer != nullptr;
}

// The peer of Control: a FormPeer for a form; for a control inside a window
// with a peer, the first of Peers whose ControlType it is. Null when there is
// none, or its native side could not be made; mirrored otherwise.
template <class FormPeer, class... Peers>
std::unique_ptr<TControlPeer> CreatePeerOf(TControl& Control)
{
    std::unique_ptr<TPeerBase> Peer;
    if (!TryCreatePeer<FormPeer>(Control, Peer)) {
        if (!Control.Parent() || !Control.Parent()->Peer()) return nullptr;
        (TryCreatePeer<Peers>(Control, Peer) || ...);
    }
    if (!Peer || !Peer->HasNative()) return nullptr;
    Peer->MirrorAll();
    return Peer;
}
