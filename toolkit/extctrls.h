// TTimer: a timer that fires on the main thread.
#pragma once

#include "toolkit/forms.h"

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
