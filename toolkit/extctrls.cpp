// TTimer.
#include "toolkit/extctrls.h"

#include <algorithm>

TTimer::TTimer(TComponent* AOwner) : TComponent(AOwner) {}

TTimer::~TTimer() { fHandle.reset(); }

void TTimer::SetInterval(unsigned Value)
{
    fInterval = Value;
    UpdateTimer();
}

void TTimer::SetEnabled(bool Value)
{
    fEnabled = Value;
    UpdateTimer();
}

void TTimer::SetOnTimer(TNotifyEvent Value)
{
    fOnTimer = std::move(Value);
    UpdateTimer();
}

void TTimer::LoadingFinished()
{
    TComponent::LoadingFinished();
    UpdateTimer();
}

void TTimer::UpdateTimer()
{
    fHandle.reset();  // a pending period is replaced
    if (fInterval == 0 || !fEnabled || !fOnTimer || IsLoading() || IsDesigning() || !Application) return;
    fHandle = Application->StartTimer(fInterval, [this] { Timer(); });
}

void TTimer::Timer()
{
    // Copy: the handler may reassign OnTimer or free the timer's owner.
    TNotifyEvent Handler = fOnTimer;
    if (Handler) GuardedCall([&] { Handler(this); });
}

// ---------------------------------------------------------------------------
// TPanel

TPanel::TPanel(TComponent* AOwner) : TWinControl(AOwner) {}

void TPanel::SetBevels(TPanelBevel Inner, TPanelBevel Outer, int BevelWidth, int BorderWidth)
{
    fBevelInner = Inner;
    fBevelOuter = Outer;
    fBevelWidth = BevelWidth;
    fBorderWidth = BorderWidth;
    Changed(TControlChange::Bounds);
}

int TPanel::FrameWidth() const
{
    // Each bevel takes BevelWidth; the border lies inside the outer bevel. A
    // panel without bevels still keeps the bevel spacing free.
    const int Bevels = (fBevelInner != bvNone) + (fBevelOuter != bvNone);
    return fBorderWidth + std::max(Bevels, 1) * fBevelWidth;
}

// ---------------------------------------------------------------------------
// TImage

TImage::TImage(TComponent* AOwner) : TControl(AOwner) {}
TImage::~TImage() = default;

TCanvas* TImage::Canvas()
{
    if (!fCanvas) {
        fPicture.SetSize(Width(), Height(), clWhite);
        fCanvas = std::make_unique<TCanvas>(fPicture);
        fCanvas->OnChange = [this](TObject*) { Changed(TControlChange::Picture); };
    }
    return fCanvas.get();
}

void TImage::SetBounds(int ALeft, int ATop, int AWidth, int AHeight)
{
    TControl::SetBounds(ALeft, ATop, AWidth, AHeight);
    if (!fCanvas || (fPicture.Width() == Width() && fPicture.Height() == Height())) return;
    fPicture.SetSize(Width(), Height(), clWhite);
    Changed(TControlChange::Picture);
}

void TImage::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y)
{
    GuardedCall([&] {
        if (OnMouseDown) OnMouseDown(this, Button, Shift, X, Y);
    });
}

void TImage::MouseMove(TShiftState Shift, int X, int Y)
{
    GuardedCall([&] {
        if (OnMouseMove) OnMouseMove(this, Shift, X, Y);
    });
}

void TImage::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y)
{
    GuardedCall([&] {
        if (OnMouseUp) OnMouseUp(this, Button, Shift, X, Y);
    });
}

// ---------------------------------------------------------------------------
// TLabeledEdit

TBoundLabel::TBoundLabel(TLabeledEdit* Edit) : TLabel(Edit), fEdit(Edit) {}

void TBoundLabel::SetBounds(int ALeft, int ATop, int AWidth, int AHeight)
{
    const bool Resized = AWidth != Width() || AHeight != Height();
    TLabel::SetBounds(ALeft, ATop, AWidth, AHeight);
    if (Resized) fEdit->PlaceLabel();
}

TLabeledEdit::TLabeledEdit(TComponent* AOwner) : TEdit(AOwner), fEditLabel(new TBoundLabel(this))
{
    fEditLabel->SetName(u"SubLabel");
}

void TLabeledEdit::SetLabelPosition(TLabelPosition Value)
{
    fLabelPosition = Value;
    PlaceLabel();
}

void TLabeledEdit::SetParent(TWinControl* AParent)
{
    TEdit::SetParent(AParent);
    fEditLabel->SetParent(AParent);
    PlaceLabel();
}

void TLabeledEdit::SetBounds(int ALeft, int ATop, int AWidth, int AHeight)
{
    TEdit::SetBounds(ALeft, ATop, AWidth, AHeight);
    PlaceLabel();
}

void TLabeledEdit::SetVisible(bool Value)
{
    TEdit::SetVisible(Value);
    fEditLabel->SetVisible(Value);
}

void TLabeledEdit::PlaceLabel()
{
    const int W = fEditLabel->Width(), H = fEditLabel->Height();
    int X = Left(), Y = Top();
    switch (fLabelPosition) {
    case lpAbove: Y = Top() - H - fLabelSpacing; break;
    case lpBelow: Y = Top() + Height() + fLabelSpacing; break;
    case lpLeft:
        X = Left() - W - fLabelSpacing;
        Y = Top() + (Height() - H) / 2;
        break;
    case lpRight:
        X = Left() + Width() + fLabelSpacing;
        Y = Top() + (Height() - H) / 2;
        break;
    }
    fEditLabel->TLabel::SetBounds(X, Y, W, H);
}
