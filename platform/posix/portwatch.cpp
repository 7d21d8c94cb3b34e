// Hot-plug of serial ports (see portwatch.h).
#include "platform/posix/portwatch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <map>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

#include "platform/posix/portmap.h"

namespace winapi_posix {

namespace {

// What identifies a port for the comparison: its COM name and its device.
using Snapshot = std::map<std::u16string, std::string>;

Snapshot TakeSnapshot()
{
    Snapshot s;
    for (const PortMapEntry& e : CurrentPortMap()) s[e.ComName] = e.DevicePath;
    return s;
}

bool IsDirectory(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The folder itself, or its nearest existing parent (which sees it created).
std::string ExistingFolder(std::string path)
{
    while (path.size() > 1 && !IsDirectory(path)) {
        const size_t slash = path.find_last_of('/');
        if (slash == std::string::npos) return ".";
        path = slash == 0 ? "/" : path.substr(0, slash);
    }
    return path;
}

}  // namespace

struct PortMapWatcher::State {
    Callback OnChange;
    int Inotify = -1;
    int Wake = -1;
    std::atomic<bool> Stop{false};
    std::map<std::string, int> Watches;  // folder -> watch descriptor (watcher thread only)
    Snapshot Known;
    std::thread Thread;

    // The watchers of this process, woken by LocalPortsChanged.
    static std::mutex ListLock;
    static std::set<State*> List;

    ~State()
    {
        if (Inotify >= 0) close(Inotify);
        if (Wake >= 0) close(Wake);
    }

    void Signal() const
    {
        const uint64_t one = 1;
        // A full counter already wakes the thread.
        [[maybe_unused]] ssize_t n = write(Wake, &one, sizeof one);
    }

    // Watches the sources and the folders of the devices now in the map; drops
    // watches that are no longer needed. Whether the watched folders changed.
    bool ArmWatches()
    {
        const std::map<std::string, int> before = Watches;
        std::map<std::string, uint32_t> wanted;
        constexpr uint32_t kEntries =
            IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
        const std::vector<std::string> sources = PortMapSourceDirs();
        for (size_t i = 0; i < sources.size(); ++i) {
            const std::string folder = ExistingFolder(sources[i]);
            // Files written in place count in the registration folder and the user
            // file's folder (the last two sources) only: in /dev every write to
            // /dev/null would wake the watcher.
            const bool written = folder == sources[i] && i + 2 >= sources.size();
            wanted[folder] |= kEntries | (written ? IN_CLOSE_WRITE : 0u);
        }
        for (const auto& [com, path] : Known) {
            const size_t slash = path.find_last_of('/');
            if (path.empty() || path[0] != '/' || slash == std::string::npos) continue;  // virtual ports
            wanted[ExistingFolder(slash == 0 ? "/" : path.substr(0, slash))] |= kEntries;
        }
        for (auto it = Watches.begin(); it != Watches.end();) {
            if (wanted.count(it->first)) {
                ++it;
                continue;
            }
            inotify_rm_watch(Inotify, it->second);
            it = Watches.erase(it);
        }
        for (const auto& [folder, mask] : wanted) {
            // Adding again refreshes the watch of a folder that was replaced.
            const int wd = inotify_add_watch(Inotify, folder.c_str(), mask);
            if (wd >= 0)
                Watches[folder] = wd;
            else
                Watches.erase(folder);
        }
        return Watches != before;
    }

    // Reads what inotify has; whatever it was, the map is looked at again.
    void Drain() const
    {
        alignas(inotify_event) char buffer[4096];
        while (read(Inotify, buffer, sizeof buffer) > 0) {}
        uint64_t count = 0;
        [[maybe_unused]] ssize_t n = read(Wake, &count, sizeof count);
    }

    // Reports the differences; whether there were any.
    bool Compare()
    {
        Snapshot now = TakeSnapshot();
        if (now == Known) return false;
        for (const auto& [com, path] : Known) {
            auto it = now.find(com);
            if (it == now.end() || it->second != path) OnChange(com, false);
        }
        for (const auto& [com, path] : now) {
            auto it = Known.find(com);
            if (it == Known.end() || it->second != path) OnChange(com, true);
        }
        Known = std::move(now);
        return true;
    }

    void Run()
    {
        while (!Stop.load()) {
            // Compared after arming: a change while the watches were set up counts
            // too. A folder may appear while its parent is being watched: arm
            // until the watched folders stay the same. New devices may live in
            // folders not watched yet: arm again.
            do {
                while (ArmWatches()) {}
            } while (Compare());
            pollfd fds[2] = {{Inotify, POLLIN, 0}, {Wake, POLLIN, 0}};
            while (poll(fds, 2, -1) < 0 && errno == EINTR) {}
            if (Stop.load()) return;
            Drain();
        }
    }
};

std::mutex PortMapWatcher::State::ListLock;
std::set<PortMapWatcher::State*> PortMapWatcher::State::List;

PortMapWatcher::PortMapWatcher(Callback OnChange) : fState(std::make_unique<State>())
{
    fState->OnChange = std::move(OnChange);
    fState->Inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fState->Inotify < 0) throw std::system_error(errno, std::generic_category(), "inotify_init1");
    fState->Wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fState->Wake < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
    fState->Known = TakeSnapshot();
    {
        std::lock_guard<std::mutex> lock(State::ListLock);
        State::List.insert(fState.get());
    }
    try {
        fState->Thread = std::thread([state = fState.get()] { state->Run(); });
    } catch (...) {
        std::lock_guard<std::mutex> lock(State::ListLock);
        State::List.erase(fState.get());
        throw;
    }
}

PortMapWatcher::~PortMapWatcher()
{
    {
        std::lock_guard<std::mutex> lock(State::ListLock);
        State::List.erase(fState.get());
    }
    fState->Stop.store(true);
    fState->Signal();
    fState->Thread.join();
}

void PortMapWatcher::LocalPortsChanged()
{
    std::lock_guard<std::mutex> lock(State::ListLock);
    for (State* s : State::List) s->Signal();
}

}  // namespace winapi_posix
