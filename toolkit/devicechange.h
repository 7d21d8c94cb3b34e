// Device-change broadcasts (WM_DEVICECHANGE) for a window, on the main thread.
#pragma once

#include <winapi.h>

#include <functional>
#include <memory>

// While it exists, OnDeviceChange receives on the main thread a
// WM_DEVICECHANGE message for every serial port that arrives
// (DBT_DEVICEARRIVAL) or leaves (DBT_DEVICEREMOVECOMPLETE); lParam points to a
// DEV_BROADCAST_PORT_W with the port's name, valid during the call.
// Windows: a hidden top-level window receives the system's broadcasts (the
// main thread must pump its messages, as every GUI event loop does).
// Linux: the port map's watcher (platform/posix/portwatch.h).
// Create and destroy it on the main thread; no call comes after destruction.
class TDeviceChangeWatch {
public:
    using THandler = std::function<void(const MSG& Msg)>;
    // Throws when the system offers no way to watch (the reason as text).
    explicit TDeviceChangeWatch(THandler OnDeviceChange);
    ~TDeviceChangeWatch();
    TDeviceChangeWatch(const TDeviceChangeWatch&) = delete;
    TDeviceChangeWatch& operator=(const TDeviceChangeWatch&) = delete;

    struct TImpl;

private:
    std::unique_ptr<TImpl> fImpl;
};
