// The receive path over kernel pseudo-terminals: a stream sent by pySerial
// through socat's pty pair arrives complete and in order through
// OnAfterReceive, and a hung-up pty closes the port from the comm thread.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "tests/comm_threads/comm_test_support.h"

extern char** environ;

using namespace commtest;

namespace {

std::string Pattern(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + 7 + i / 251) & 0xFF);
    return s;
}

pid_t Spawn(const std::vector<std::string>& Args)
{
    std::vector<char*> argv;
    for (auto& a : Args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
    return pid;
}

int WaitExit(pid_t Pid)
{
    int status = 0;
    if (waitpid(Pid, &status, 0) != Pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Python() { return access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3"; }

// Maps a COM name onto a device path for this process's port map.
void MapPort(const std::string& ComName, const std::string& Path)
{
    setenv("SPECTRO_PORTS", (ComName + "=" + Path).c_str(), 1);
}

class PtyReceive : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/comm-threads-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        comm = new TnrComm(nullptr);
        rec.Attach(*comm);
        comm->NotifyAdd(TnrNotifyEvent::Bind(&rec, &TRecorder::DeviceNotify));
    }
    void TearDown() override
    {
        delete comm;
        if (socat > 0) {
            kill(socat, SIGTERM);
            WaitExit(socat);
        }
        unsetenv("SPECTRO_PORTS");
        std::filesystem::remove_all(dir);
    }

    THeadlessApplication app;
    std::string dir;
    pid_t socat = -1;
    TnrComm* comm = nullptr;
    TRecorder rec;
};

}  // namespace

TEST_F(PtyReceive, AStreamFromPySerialArrivesCompleteAndInOrder)
{
    const std::string a = dir + "/a", b = dir + "/b";
    socat = Spawn({"socat", "pty,raw,echo=0,link=" + a, "pty,raw,echo=0,link=" + b});
    ASSERT_GT(socat, 0);
    for (int i = 0; i < 500 && !(std::filesystem::exists(a) && std::filesystem::exists(b)); ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(std::filesystem::exists(a) && std::filesystem::exists(b));
    MapPort("COM201", std::filesystem::canonical(a).string());

    comm->SetComPortNo(201);
    comm->SetBaudRate(115200);
    comm->SetTraceStates({tsRxChar});
    comm->SetActive(true);
    ASSERT_TRUE(comm->GetActive());

    const size_t n = 256 * 1024;
    const std::string script =
        "import serial, sys, time\n"
        "n = int(sys.argv[2])\n"
        "data = bytes(((i * 131 + 7 + i // 251) & 0xFF) for i in range(n))\n"
        "s = serial.Serial(sys.argv[1], 115200)\n"
        "for i in range(0, n, 1000):\n"
        "    s.write(data[i:i + 1000])\n"
        "s.flush()\n"
        "time.sleep(0.3)\n"
        "s.close()\n";
    pid_t py = Spawn({Python(), "-c", script, std::filesystem::canonical(b).string(), std::to_string(n)});
    ASSERT_GT(py, 0);
    const bool complete = WaitMain([&] { return rec.Received().size() >= n; }, 30000ms);
    EXPECT_EQ(WaitExit(py), 0) << "pySerial peer failed";
    ASSERT_TRUE(complete) << "received " << rec.Received().size() << " of " << n;
    const std::string got = rec.Received();
    EXPECT_EQ(got.size(), n);
    EXPECT_TRUE(got == Pattern(n)) << "bytes lost, doubled or out of order";
    for (auto& e : rec.OfKind("rx")) EXPECT_EQ(e.Thread, std::this_thread::get_id());
    EXPECT_EQ(comm->GetTotalReceived(), n);
}

TEST_F(PtyReceive, AHungUpPtyClosesThePortOnTheMainThread)
{
    int master = -1, slave = -1;
    char name[256] = {};
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    close(slave);
    MapPort("COM202", name);
    comm->SetComPortNo(202);
    comm->SetActive(true);
    ASSERT_TRUE(comm->GetActive());
    ASSERT_EQ(write(master, "hello", 5), 5);
    ASSERT_TRUE(WaitMain([&] { return rec.Received() == "hello"; }));

    close(master);
    ASSERT_TRUE(WaitMain([&] { return !rec.OfKind("close").empty() && rec.Notified(1) > 0; }));
    EXPECT_FALSE(comm->GetActive());
    EXPECT_EQ(rec.Notified(1), 1u);
    EXPECT_EQ(rec.OfKind("close")[0].Thread, std::this_thread::get_id()) << "where received bytes arrive";
}
