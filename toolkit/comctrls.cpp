// TUpDown.
#include "toolkit/comctrls.h"

#include <algorithm>

TUpDown::TUpDown(TComponent* AOwner) : TControl(AOwner) {}

void TUpDown::SetAssociate(TEdit* Value)
{
    if (fAssociate) RemoveFreeNotification(fAssociate);
    fAssociate = Value;
    if (fAssociate) FreeNotification(fAssociate);
}

void TUpDown::Notification(TComponent* AComponent, TOperation Operation)
{
    TControl::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == fAssociate) fAssociate = nullptr;
}

void TUpDown::SetRange(int AMin, int AMax)
{
    fMin = AMin;
    fMax = AMax;
    fPosition = std::clamp(fPosition, fMin, fMax);
    Changed(TControlChange::Range);
}

void TUpDown::SetPosition(int Value)
{
    fPosition = std::clamp(Value, fMin, fMax);
    Changed(TControlChange::Range);
    if (fAssociate) fAssociate->SetText(IntToStr(fPosition));
}

void TUpDown::ClickButton(TUDBtnType Button)
{
    GuardedCall([&] {
        // Like the system's up-down control: the buddy's text is the current
        // position when it holds an integer.
        int Current = fPosition;
        if (fAssociate && TryStrToInt(fAssociate->Text(), Current)) fPosition = std::clamp(Current, fMin, fMax);
        SetPosition(fPosition + (Button == btNext ? fIncrement : -fIncrement));
        if (OnClick) OnClick(this, Button);
    });
}
