// Interoperability: our driver on one pty, pySerial (an independent
// implementation) on another, socat joining the two lines.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>

#include "tests/serial/serial_test_util.h"

using namespace serial_test;

namespace {

::testing::Environment* const environment = ::testing::AddGlobalTestEnvironment(new PrivatePortMap);

pid_t Spawn(const std::vector<std::string>& args)
{
    pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

bool WaitForPath(const std::string& path, int ms)
{
    struct stat st;
    for (int waited = 0; waited < ms; waited += 10) {
        if (stat(path.c_str(), &st) == 0) return true;
        Sleep(10);
    }
    return false;
}

// Reads exactly count bytes (the port's read time-outs bound the wait).
std::string ReadBytes(HANDLE port, size_t count)
{
    std::string data(count, '\0');
    DWORD n = 0;
    if (!ReadFile(port, data.data(), static_cast<DWORD>(count), &n, nullptr)) return "";
    data.resize(n);
    return data;
}

TEST(PySerialPeer, BytesBothWaysAtSeveralBaudRates)
{
    std::string dir = PrivatePortMap::Dir();
    std::string a = dir + "/line-a", b = dir + "/line-b";
    pid_t socat = Spawn({"socat", "pty,raw,echo=0,link=" + a, "pty,raw,echo=0,link=" + b});
    ASSERT_TRUE(WaitForPath(a, 5000) && WaitForPath(b, 5000)) << "socat did not start";
    MapPort("COM5", a);
    HANDLE port = OpenPort("COM5", false);
    ASSERT_NE(port, INVALID_HANDLE_VALUE) << GetLastError();
    COMMTIMEOUTS t{0, 0, 10000, 0, 10000};
    ASSERT_TRUE(SetCommTimeouts(port, &t));

    const std::vector<DWORD> bauds = {1200, 9600, 115200, 250000};
    std::string list;
    for (DWORD baud : bauds) list += (list.empty() ? "" : ",") + std::to_string(baud);
    pid_t python = Spawn({PEER_PYTHON, PEER_SCRIPT, b, list});

    std::string bytes;
    for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
    for (DWORD baud : bauds) {
        DCB dcb{};
        ASSERT_TRUE(GetCommState(port, &dcb));
        dcb.BaudRate = baud;
        ASSERT_TRUE(SetCommState(port, &dcb));
        std::string hello = "hello " + std::to_string(baud) + "\n";
        EXPECT_EQ(ReadBytes(port, hello.size() + 256), hello + bytes) << baud;
        std::string reply = "reply " + std::to_string(baud) + "\n" + std::string(bytes.rbegin(), bytes.rend());
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(port, reply.data(), static_cast<DWORD>(reply.size()), &written, nullptr));
        EXPECT_EQ(written, reply.size());
    }
    int status = -1;
    waitpid(python, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "pySerial peer failed, status " << status;
    CloseHandle(port);
    kill(socat, SIGTERM);
    waitpid(socat, nullptr, 0);
}

}  // namespace
