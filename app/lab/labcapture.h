// Captures for the lab windows: a window asks for one capture with the main
// window's command line and gets its counts and exposure when it is complete,
// or the reason when it fails (the port lost, no complete answer, another run
// took over).
#pragma once

#include "app/spectrum/spectrumanalysis.h"

#include <cstdint>
#include <functional>
#include <memory>

class TTimerHandle;

class TLabCapture {
public:
    TLabCapture();
    ~TLabCapture();
    TLabCapture(const TLabCapture&) = delete;
    TLabCapture& operator=(const TLabCapture&) = delete;

    std::function<void(const TCounts& Raw, std::int32_t ExposureUs)> OnCapture;
    std::function<void(const UnicodeString& Why)> OnFailed;

    // Sends the command now (the spectrum window's own runs end first);
    // raises what sending raises.
    void Request();
    // Sends it after Ms milliseconds.
    void RequestLater(unsigned Ms);
    // Nothing more is asked for; a capture under way is not handed over.
    void Cancel();
    bool Waiting() const { return fWaiting || fLater; }

    // The main window's capture is complete (Counts holds it): handed to the
    // one that asked.
    static void CompleteAll();
    // The port is gone: every request fails.
    static void PortLostAll();
    // Someone else captures (a calibration scan, the spectrum window's runs).
    static void CancelAll();

private:
    void Fail(const UnicodeString& Why);
    bool fWaiting = false;
    std::unique_ptr<TTimerHandle> fLater;
    std::unique_ptr<TTimerHandle> fWatchdog;
};
