#include "toolkit/peerbase.h"

void TPeerBase::MirrorAll()
{
    for (TControlChange C :
         {TControlChange::Font, TControlChange::Color, TControlChange::Caption, TControlChange::Items,
          TControlChange::ItemIndex, TControlChange::Enabled, TControlChange::Range, TControlChange::Menu,
          TControlChange::Icon, TControlChange::ReadOnly, TControlChange::BorderStyle, TControlChange::Bounds,
          TControlChange::Visible})
        Changed(C, -1);
}

void TPeerBase::Changed(TControlChange What, int Index)
{
    if (!HasNative()) return;
    switch (What) {
    case TControlChange::Bounds: SetGeometry(); break;
    case TControlChange::Visible: SetVisible(); break;
    case TControlChange::Enabled: SetEnabled(); break;
    case TControlChange::Font: ApplyFont(); break;
    case TControlChange::Color: ApplyColor(); break;
    default: Mirror(What, Index); break;
    }
}
