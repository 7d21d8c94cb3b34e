// Up-down (spin) buttons bound to a buddy edit.
#pragma once

#include "toolkit/stdctrls.h"

enum class TUDBtnType { btNext, btPrev };
using enum TUDBtnType;
using TUDClickEvent = std::function<void(TObject* Sender, TUDBtnType Button)>;

// A step reads the buddy's number (when it holds an integer), moves by
// Increment within Min..Max and writes the position back into the buddy as
// decimal text (no change event when the text stays the same).
class TUpDown : public TControl {
public:
    explicit TUpDown(TComponent* AOwner);
    void SetAssociate(TEdit* Value);
    int Min() const { return fMin; }
    int Max() const { return fMax; }
    void SetRange(int AMin, int AMax);
    void SetIncrement(int Value) { fIncrement = Value; }
    int Position() const { return fPosition; }
    void SetPosition(int Value);

    // The user's click on the upper (btNext) or lower button, inside the
    // event loop's guard.
    void ClickButton(TUDBtnType Button);
    TUDClickEvent OnClick;

protected:
    void Notification(TComponent* AComponent, TOperation Operation) override;

private:
    TEdit* fAssociate = nullptr;
    int fMin = 0;
    int fMax = 100;
    int fIncrement = 1;
    int fPosition = 0;
};
