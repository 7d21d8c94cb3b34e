// Shared pieces of the serial driver tests: a private port-map environment,
// kernel ptys and small wrappers around the Win32 calls.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <winapi.h>

namespace serial_test {

using Clock = std::chrono::steady_clock;

inline long MsSince(Clock::time_point start)
{
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// Points every port-map source below root: sysfs, registrations, user file;
// no SPECTRO_PORTS.
inline void UsePortMapRoot(const std::string& root, const std::string& devRoot)
{
    setenv("SPECTRO_SYSFS_ROOT", (root + "/sys").c_str(), 1);
    setenv("SPECTRO_DEV_ROOT", devRoot.c_str(), 1);
    setenv("SPECTRO_PORTMAP_DIR", (root + "/ports.d").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    unsetenv("SPECTRO_PORTS");
}

// Keeps the machine's own serial ports, user file and registrations out of
// the tests.
class PrivatePortMap : public ::testing::Environment {
public:
    void SetUp() override
    {
        char pattern[] = "/tmp/serial-test-XXXXXX";
        dir_ = mkdtemp(pattern);
        UsePortMapRoot(dir_, dir_ + "/dev");
    }
    void TearDown() override
    {
        std::string command = "rm -rf '" + dir_ + "'";
        if (system(command.c_str()) != 0) ADD_FAILURE() << "could not remove " << dir_;
    }
    static const std::string& Dir() { return dir_; }

private:
    static inline std::string dir_;
};

// A kernel pty; the test holds the master end.
struct Pty {
    int master = -1;
    int slave = -1;
    std::string path;

    Pty()
    {
        char name[128];
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
            ADD_FAILURE() << "openpty failed";
            return;
        }
        path = name;
        // No termios on the master: its termios calls act on the slave, which
        // the driver sets up itself.
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    }
    ~Pty()
    {
        CloseMaster();
        if (slave >= 0) close(slave);
    }
    void CloseMaster()
    {
        if (master >= 0) close(master);
        master = -1;
    }
    void Send(const std::string& bytes) const
    {
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = write(master, bytes.data() + done, bytes.size() - done);
            if (n > 0)
                done += static_cast<size_t>(n);
            else {
                pollfd p{master, POLLOUT, 0};
                poll(&p, 1, 100);
            }
        }
    }
    // Up to `count` bytes, waiting at most timeoutMs in total.
    std::string Receive(size_t count, int timeoutMs) const
    {
        std::string out;
        auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (out.size() < count) {
            int left = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
            if (left <= 0) break;
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, left) <= 0) break;
            char buffer[4096];
            ssize_t n = read(master, buffer, std::min(sizeof buffer, count - out.size()));
            if (n <= 0) break;
            out.append(buffer, static_cast<size_t>(n));
        }
        return out;
    }
};

// Maps comName onto the pty through SPECTRO_PORTS (adds to what is there).
inline void MapPort(const std::string& comName, const std::string& path)
{
    const char* old = getenv("SPECTRO_PORTS");
    std::string value = old && *old ? std::string(old) + ";" : std::string();
    value += comName + "=" + path;
    setenv("SPECTRO_PORTS", value.c_str(), 1);
}

inline std::u16string U16(const std::string& s) { return std::u16string(s.begin(), s.end()); }
inline std::string Narrow(const std::u16string& s) { return std::string(s.begin(), s.end()); }

inline HANDLE OpenPort(const std::string& comName, bool overlapped = true)
{
    std::u16string path = u"\\\\?\\" + U16(comName);
    return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       overlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr);
}

// An OVERLAPPED with its own auto-reset event, closed with the record.
struct Overlapped {
    OVERLAPPED ovl{};
    Overlapped() { ovl.hEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr); }
    ~Overlapped() { CloseHandle(ovl.hEvent); }
    OVERLAPPED* operator&() { return &ovl; }
    bool Signalled(DWORD ms) { return WaitForSingleObject(ovl.hEvent, ms) == WAIT_OBJECT_0; }
};

inline void SetTimeouts(HANDLE port, DWORD interval, DWORD readMultiplier, DWORD readConstant, DWORD writeMultiplier,
                        DWORD writeConstant)
{
    COMMTIMEOUTS t{interval, readMultiplier, readConstant, writeMultiplier, writeConstant};
    ASSERT_TRUE(SetCommTimeouts(port, &t));
}

// Starts an overlapped WaitCommEvent and returns true when it is pending.
inline bool StartWait(HANDLE port, DWORD* mask, Overlapped& ovl)
{
    *mask = 0xDEAD;
    if (WaitCommEvent(port, mask, &ovl)) return false;
    return GetLastError() == ERROR_IO_PENDING;
}

// Waits for a pending WaitCommEvent; returns the mask, or 0xFFFFFFFF on failure.
inline DWORD FinishWait(HANDLE port, DWORD* mask, Overlapped& ovl, DWORD* error = nullptr)
{
    DWORD transferred = 0;
    if (!GetOverlappedResult(port, &ovl, &transferred, TRUE)) {
        if (error) *error = GetLastError();
        return 0xFFFFFFFF;
    }
    return *mask;
}

}  // namespace serial_test
