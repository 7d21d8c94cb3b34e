// The program and the simulated instrument as two processes on a kernel pty:
// pick the port, read the temperature, capture, save, calibrate; the
// instrument unplugged and plugged in again, many times.
#include "app/calibration.h"
#include "platform/posix/portmap.h"
#include "tests/app/helpers.h"
#include "tests/e2e/capture_scenario.h"
#include "tests/e2e/process.h"
#include "tools/spectrosim/instrument.h"
#include "toolkit/sysutils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono;

namespace {

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        FormatSettings.DecimalSeparator = u'.';
        Root = fs::temp_directory_path() / ("spectro-e2e-" + std::to_string(getpid()));
        fs::remove_all(Root);
        for (const char* d : {"bin/data", "sys", "ports", "out"}) fs::create_directories(Root / d);
        // The calibration file lives beside the executable: run a copy of it.
        fs::copy_file(SPECTROMETER_EXE, Root / "bin" / "spectrometer");
        Env = {"SPECTRO_SYSFS_ROOT=" + (Root / "sys").string(), "SPECTRO_PORTMAP_DIR=" + (Root / "ports").string(),
               "SPECTRO_REGISTRY=" + (Root / "registry").string(), "SPECTRO_PORTS=", "QT_QPA_PLATFORM=offscreen",
               "LC_ALL=de_DE.UTF-8",
               // A German locale (the system's, or the one built for the tests): Qt
               // switches the C library to it, the program's numbers must not follow.
               std::string("LOCPATH=") + SPECTRO_LOCALE_DIR};
    }
    void TearDown() override { fs::remove_all(Root); }
    fs::path Root;
    std::vector<std::string> Env;
};

TEST_F(EndToEnd, CaptureSaveAndCalibrate)
{
    Process sim({SPECTROSIM_EXE, "--lamp", "green-laser", "--seed", "7"}, Env);
    std::string hello;
    ASSERT_TRUE(sim.ReadLine(hello, seconds(5)));
    std::istringstream words(hello);
    std::string pty, com;
    words >> pty >> com;
    ASSERT_EQ(pty.rfind("/dev/pts/", 0), 0u) << hello;
    ASSERT_EQ(com.rfind("COM", 0), 0u) << hello;
    ASSERT_FALSE(fs::is_empty(Root / "ports"));  // registered in the port map

    TProgramHost host;
    host.Root = Root;
    host.Command = {(Root / "bin" / "spectrometer").string()};
    host.Env = Env;
    host.Com = com;
    RunCaptureSaveAndCalibrate(host, sim);

    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(seconds(5)), 0);
    EXPECT_TRUE(fs::is_empty(Root / "ports"));  // the registration is gone
}

TEST_F(EndToEnd, PortListWithoutInstrumentAndSendWithoutPort)
{
    WriteAll(Root / "script",
             "click bSend\n"
             "print eSend\n"
             "select COM9\n");
    Process program({(Root / "bin" / "spectrometer").string(), "--automate", (Root / "script").string()}, Env);
    std::vector<std::string> out;
    // No calibration file: reported at start, the window works all the same.
    ASSERT_TRUE(program.ReadUntil("message ", out, seconds(15))) << ::testing::PrintToString(out);
    EXPECT_NE(out.back().find("kann nicht ge"), std::string::npos) << out.back();
    ASSERT_TRUE(program.ReadUntil("value eSend", out, seconds(5)));
    EXPECT_EQ(out.back(), "value eSend s1000");
    ASSERT_TRUE(program.ReadUntil("error ", out, seconds(5)));
    EXPECT_NE(out.back().find("no such port"), std::string::npos) << out.back();
    EXPECT_EQ(program.Wait(seconds(10)), 1);
}

// A port whose device file this user may not read and write: the component's
// message stays as it is, the program adds the file, its group and the fix.
TEST_F(EndToEnd, PortWithoutPermissionGetsAHint)
{
    WriteAll(Root / "bin" / "data" / "conf.dat", "2\r\n420\r\n");
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const std::string pts = ptsname(master);
    // Root may open anything: the program runs as nobody then, and the group
    // becomes dialout where it exists. The owner's bits are cleared so that
    // the file is closed to its owner too when the test runs as an ordinary user.
    const group* dialout = getuid() == 0 ? getgrnam("dialout") : nullptr;
    if (dialout) {
        ASSERT_EQ(chown(pts.c_str(), 0, dialout->gr_gid), 0);
    }
    ASSERT_EQ(chmod(pts.c_str(), 0060), 0);
    struct stat st {};
    ASSERT_EQ(stat(pts.c_str(), &st), 0);
    const group* owner = getgrgid(st.st_gid);
    const std::string groupName = owner ? owner->gr_name : std::to_string(st.st_gid);

    Env.push_back("SPECTRO_PORTS=COM7=" + pts);
    WriteAll(Root / "script", "select COM7\nwait message 8000\nquit\n");
    Process program({(Root / "bin" / "spectrometer").string(), "--automate", (Root / "script").string()}, Env, true);
    std::vector<std::string> out;
    ASSERT_TRUE(program.ReadUntil("message ", out, seconds(15))) << ::testing::PrintToString(out);
    EXPECT_EQ(out.back(), "message Device \"COM7\" Open Error !!!\\rAccess is denied\\r");
    ASSERT_TRUE(program.ReadUntil("Hinweis: ", out, seconds(5))) << ::testing::PrintToString(out);
    const std::string hint = out.back();
    EXPECT_NE(hint.find("Gerätedatei " + pts + " nicht lesen und schreiben"), std::string::npos) << hint;
    EXPECT_NE(hint.find("Gruppe \u201E" + groupName + "\u201C"), std::string::npos) << hint;
    EXPECT_NE(hint.find("sudo usermod -aG " + groupName + " $USER"), std::string::npos) << hint;
    EXPECT_NE(hint.find("ab und wieder an"), std::string::npos) << hint;
    EXPECT_EQ(program.Wait(seconds(10)), 0);
    close(master);
}

// The instrument's end of the cable, played by the test on a pty registered
// in the port map: it answers like the simulator, and can be pulled out in
// the middle of a reply.
class PluggedInstrument {
public:
    explicit PluggedInstrument(const std::u16string& Com) : fCom(Com)
    {
        char name[128];
        termios raw{};
        cfmakeraw(&raw);
        // The slave stays open here too: without it the master only reads EIO
        // until the program opens the port.
        if (openpty(&fMaster, &fSlave, name, &raw, nullptr) != 0) throw std::runtime_error("openpty");
        // Not inherited by the program: only the test holds the instrument's end.
        fcntl(fMaster, F_SETFD, FD_CLOEXEC);
        fcntl(fSlave, F_SETFD, FD_CLOEXEC);
        if (winapi_posix::RegisterSharedPort(name, Com) != Com) throw std::runtime_error("cannot register the pty");
    }
    ~PluggedInstrument() { Unplug(); }
    // Waits for a capture command and sends its reply, or only its first
    // Points point lines and half of the next one.
    bool AnswerCapture(int Points, milliseconds Timeout)
    {
        const auto deadline = steady_clock::now() + Timeout;
        std::vector<std::string> replies;
        auto isCapture = [](const std::string& Line) { return Line.rfind("CT:", 0) == 0; };
        // Temperature queries in between stay unanswered.
        while (std::find_if(replies.begin(), replies.end(), isCapture) == replies.end()) {
            const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
            pollfd p{fMaster, POLLIN, 0};
            if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) return false;
            char buf[256];
            const ssize_t n = read(fMaster, buf, sizeof buf);
            if (n <= 0) return false;
            fInstrument.Receive(std::string_view(buf, static_cast<std::size_t>(n)), replies);
        }
        const auto first = std::find_if(replies.begin(), replies.end(), isCapture);
        std::string out;
        for (auto it = first; it != replies.end() && it - first < Points + 2; ++it) out += *it;
        if (replies.end() - first > Points + 2) out += first[Points + 2].substr(0, 3);
        return write(fMaster, out.data(), out.size()) == static_cast<ssize_t>(out.size());
    }
    void Unplug()
    {
        if (fMaster < 0) return;
        close(fMaster);
        close(fSlave);
        fMaster = fSlave = -1;
        winapi_posix::UnregisterSharedPort(fCom);
    }

private:
    std::u16string fCom;
    int fMaster = -1;
    int fSlave = -1;
    spectrosim::TInstrument fInstrument;
};

std::size_t Entries(const std::string& Folder)
{
    std::size_t n = 0;
    if (DIR* d = opendir(Folder.c_str())) {
        while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
        closedir(d);
    }
    return n;
}

// Qt's pool threads: started when a large image is converted or drawn and
// ended after 30 s idle, each with the wake-up eventfd of its event dispatcher.
std::size_t QtPoolThreads(const std::string& Pid)
{
    std::size_t n = 0;
    if (DIR* d = opendir(("/proc/" + Pid + "/task").c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.')
                n += ReadAll("/proc/" + Pid + "/task/" + e->d_name + "/comm") == "Thread (pooled)\n";
        closedir(d);
    }
    return n;
}

// Threads and descriptors without Qt's pool threads, once two looks 20 ms
// apart agree (a pool thread may be starting).
void SettledCounts(const std::string& Pid, std::size_t& Threads, std::size_t& Fds)
{
    auto look = [&] {
        const std::size_t pool = QtPoolThreads(Pid);
        return std::pair(Entries("/proc/" + Pid + "/task") - pool, Entries("/proc/" + Pid + "/fd") - pool);
    };
    auto last = look();
    for (int i = 0; i < 50; ++i) {
        std::this_thread::sleep_for(milliseconds(20));
        const auto now = look();
        if (now == last) break;
        last = now;
    }
    Threads = last.first;
    Fds = last.second;
}

// Capture, instrument pulled out during the reply, plugged in again, picked
// again, complete capture: each time one message, and the program's threads,
// file descriptors and handles the same after the last round as after the first.
TEST_F(EndToEnd, UnplugDuringCaptureAndPlugInAgain)
{
    constexpr int Rounds = 100;
    WriteAll(Root / "bin" / "data" / "conf.dat", "2.15789473684211\r\n409\r\n");
    setenv("SPECTRO_PORTMAP_DIR", (Root / "ports").c_str(), 1);
    auto instrument = std::make_unique<PluggedInstrument>(u"COM7");

    std::string script = "set LECapture 1\nwait port COM7\nselect COM7\n";
    for (int i = 0; i < Rounds; ++i)
        script +=
            "set eSend s1000\nclick bSend\nwait points 40\nwait input\n"  // pulled out
            "wait message\nwait input\n"                                  // plugged in
            "wait port COM7\nselect COM7\nset eSend s1000\nclick bSend\nwait points 128\n"
            "print handles\nwait input\n";
    script += "quit\n";
    WriteAll(Root / "script", script);
    Process program({(Root / "bin" / "spectrometer").string(), "--automate", (Root / "script").string()}, Env);

    struct TCounts {
        std::size_t Threads, Fds;
        std::string Handles;
    };
    std::vector<TCounts> counts;
    std::vector<std::string> out;
    const std::string pid = std::to_string(program.Pid());
    for (int i = 0; i < Rounds; ++i) {
        SCOPED_TRACE("round " + std::to_string(i + 1));
        ASSERT_TRUE(instrument->AnswerCapture(40, seconds(10)));
        ASSERT_TRUE(program.ReadUntil("waiting", out, seconds(10))) << ::testing::PrintToString(out);
        instrument->Unplug();
        program.WriteLine("go");
        ASSERT_TRUE(program.ReadUntil("message ", out, seconds(10))) << ::testing::PrintToString(out);
        EXPECT_EQ(out.back(), "message Die Verbindung zu COM7 wurde unterbrochen.");
        ASSERT_TRUE(program.ReadUntil("waiting", out, seconds(10))) << ::testing::PrintToString(out);
        instrument = std::make_unique<PluggedInstrument>(u"COM7");
        program.WriteLine("go");
        ASSERT_TRUE(instrument->AnswerCapture(128, seconds(10)));
        ASSERT_TRUE(program.ReadUntil("value handles", out, seconds(10))) << ::testing::PrintToString(out);
        const std::string handles = out.back().substr(std::string("value handles ").size());
        ASSERT_TRUE(program.ReadUntil("waiting", out, seconds(10))) << ::testing::PrintToString(out);
        // Counted while the program waits for the test: the same moment every round.
        counts.push_back({0, 0, handles});
        SettledCounts(pid, counts.back().Threads, counts.back().Fds);
        program.WriteLine("go");
    }
    EXPECT_EQ(program.Wait(seconds(10)), 0);
    std::size_t messages = 0;
    for (const auto& l : out) {
        messages += l.rfind("message ", 0) == 0;
        EXPECT_EQ(l.rfind("error", 0), std::string::npos) << l;
    }
    EXPECT_EQ(messages, static_cast<std::size_t>(Rounds));  // nothing else was reported
    ASSERT_EQ(counts.size(), static_cast<std::size_t>(Rounds));
    EXPECT_EQ(counts.back().Threads, counts.front().Threads);
    EXPECT_EQ(counts.back().Fds, counts.front().Fds);
    EXPECT_EQ(counts.back().Handles, counts.front().Handles);
    std::printf(
        "without Qt's pool threads, after round 1: %zu threads, %zu descriptors, %s; after round %d: %zu, %zu, %s\n",
        counts.front().Threads, counts.front().Fds, counts.front().Handles.c_str(), Rounds, counts.back().Threads,
        counts.back().Fds, counts.back().Handles.c_str());
}

}  // namespace
