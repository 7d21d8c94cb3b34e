// TTimer.
#include "toolkit/extctrls.h"

TTimer::TTimer(TComponent* AOwner) : TComponent(AOwner) {}

TTimer::~TTimer()
{
    fHandle.reset();
}

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
