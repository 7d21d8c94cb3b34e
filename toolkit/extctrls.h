// Timer, panel, image with a canvas, labeled edit.
#pragma once

#include "toolkit/forms.h"
#include "toolkit/stdctrls.h"

#include <memory>

// Fires OnTimer every Interval ms on the main thread while Enabled, Interval is
// not 0 and OnTimer is assigned (like the runtime's timer, which runs only then).
// Setting Interval, Enabled or OnTimer restarts the period. The timer runs on
// the installed Application (headless: when the main thread pumps; Qt: a
// QTimer); without an Application it does not run. Main thread only.
class TTimer : public TComponent {
public:
    explicit TTimer(TComponent* AOwner);
    ~TTimer() override;

    unsigned Interval() const { return fInterval; }
    void SetInterval(unsigned Value);
    bool Enabled() const { return fEnabled; }
    void SetEnabled(bool Value);
    const TNotifyEvent& OnTimer() const { return fOnTimer; }
    void SetOnTimer(TNotifyEvent Value);
    // Whether a period is running now.
    bool Running() const { return fHandle != nullptr; }

protected:
    void LoadingFinished() override;
    // Calls OnTimer (inside the event loop's exception guard).
    virtual void Timer();

private:
    void UpdateTimer();
    unsigned fInterval = 1000;
    bool fEnabled = true;
    TNotifyEvent fOnTimer;
    std::unique_ptr<TTimerHandle> fHandle;
};

enum class TPanelBevel { bvNone, bvLowered, bvRaised };
using enum TPanelBevel;

// A container with a centred caption, bevels and a border.
class TPanel : public TWinControl {
public:
    explicit TPanel(TComponent* AOwner);
    int BevelWidth() const { return fBevelWidth; }
    int BorderWidth() const { return fBorderWidth; }
    void SetBevels(TPanelBevel Inner, TPanelBevel Outer, int BevelWidth, int BorderWidth);
    // Space between the panel's edge and its caption area.
    int FrameWidth() const;

private:
    TPanelBevel fBevelInner = bvNone;
    TPanelBevel fBevelOuter = bvRaised;
    int fBevelWidth = 1;
    int fBorderWidth = 0;
};

enum class TMouseButton { mbLeft, mbRight, mbMiddle };
using enum TMouseButton;
using TMouseEvent = std::function<void(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;
using TMouseMoveEvent = std::function<void(TObject* Sender, TShiftState Shift, int X, int Y)>;

// An image: a bitmap of the control's size that the canvas draws on and that
// keeps the last drawing until the next one replaces it.
class TImage : public TControl {
public:
    explicit TImage(TComponent* AOwner);
    ~TImage() override;
    // The canvas of the picture; the picture is created blank (white) at the
    // control's size on first use, and made blank at the new size when the
    // control is resized.
    TCanvas* Canvas();
    void SetBounds(int ALeft, int ATop, int AWidth, int AHeight) override;
    const TBitmap& Picture() const { return fPicture; }
    bool HasPicture() const { return !fPicture.Empty(); }

    // The user's mouse over the image (X, Y in the picture's pixels): each
    // raises its event inside the event loop's guard. Moves are reported with
    // and without a button held.
    void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
    void MouseMove(TShiftState Shift, int X, int Y);
    void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y);
    TMouseEvent OnMouseDown;
    TMouseMoveEvent OnMouseMove;
    TMouseEvent OnMouseUp;

private:
    TBitmap fPicture;
    std::unique_ptr<TCanvas> fCanvas;
};

enum class TLabelPosition { lpAbove, lpBelow, lpLeft, lpRight };
using enum TLabelPosition;

class TLabeledEdit;

// The label of a labeled edit; it follows the edit.
class TBoundLabel : public TLabel {
public:
    explicit TBoundLabel(TLabeledEdit* Edit);
    void SetBounds(int ALeft, int ATop, int AWidth, int AHeight) override;

private:
    TLabeledEdit* fEdit;
};

// An edit with a label beside it (above by default, 3 pixels apart).
class TLabeledEdit : public TEdit {
public:
    explicit TLabeledEdit(TComponent* AOwner);
    TBoundLabel* EditLabel() const { return fEditLabel; }
    void SetLabelPosition(TLabelPosition Value);

    void SetParent(TWinControl* AParent) override;
    void SetBounds(int ALeft, int ATop, int AWidth, int AHeight) override;
    void SetVisible(bool Value) override;
    // Puts the label at its place beside the edit.
    void PlaceLabel();

private:
    TBoundLabel* fEditLabel;
    TLabelPosition fLabelPosition = lpAbove;
    const int fLabelSpacing = 3;
};
