// Hot-plug of serial ports: watches the port map's sources and reports the COM
// names that appear in or disappear from the map.
//
// One thread per watcher blocks in poll() on an inotify descriptor and an
// eventfd; nothing is looked at on a timer. Watched: the sysfs tty class, the
// device root (/dev: nodes of USB adapters come and go there), the folder of
// every device in the map (/dev/pts: a pty goes when its master closes), the
// registration folder and the folder of the user file. A folder that does not
// exist yet is watched through its nearest existing parent. After each batch of
// events the map is computed afresh and compared with the previous one.
// In-process virtual ports wake the watchers directly.
//
// Limits: sysfs itself sends no inotify events, so a real adapter is seen
// through its /dev node; its removal is reported when the node goes, which the
// kernel does before it removes the sysfs entry, so the map computed at that
// moment can still hold it (then it is reported with the next change).
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace winapi_posix {

class PortMapWatcher {
public:
    // Runs on the watcher's thread, once per COM name that entered (Arrived) or
    // left the map; a name whose device changed leaves and enters again.
    using Callback = std::function<void(const std::u16string& ComName, bool Arrived)>;

    // Takes the current map as the starting point, then starts the thread.
    // Throws std::system_error when inotify, the eventfd or the thread cannot be had.
    explicit PortMapWatcher(Callback OnChange);
    // Stops and joins the thread; no callback runs after it returns. Must not
    // be called from the callback.
    ~PortMapWatcher();
    PortMapWatcher(const PortMapWatcher&) = delete;
    PortMapWatcher& operator=(const PortMapWatcher&) = delete;

    // Makes every watcher of this process compute the map again.
    static void LocalPortsChanged();

private:
    struct State;
    std::unique_ptr<State> fState;
};

}  // namespace winapi_posix
