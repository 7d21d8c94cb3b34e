// A child process with pipes on its standard streams, for the end-to-end tests.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <stdexcept>
#include <string>
#include <vector>

#include <grp.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

// A child process with pipes on its standard input and output.
class Process {
public:
    // AsNobody: run as the user nobody when the test runs as root.
    Process(const std::vector<std::string>& Argv, const std::vector<std::string>& Env, bool AsNobody = false)
    {
        int in[2], out[2];
        if (pipe(in) != 0 || pipe(out) != 0) throw std::runtime_error("pipe");
        fPid = fork();
        if (fPid == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            close(in[1]);
            close(out[0]);
            for (const auto& e : Env) putenv(const_cast<char*>(e.c_str()));
            if (AsNobody && getuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
                _exit(126);
            std::vector<char*> args;
            for (const auto& a : Argv) args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            execv(args[0], args.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        fIn = in[1];
        fOut = out[0];
    }
    ~Process()
    {
        if (fPid > 0 && !fExited) {
            kill(fPid, SIGKILL);
            waitpid(fPid, nullptr, 0);
        }
        close(fIn);
        close(fOut);
    }
    // The next output line (without the newline); false on time-out or end.
    bool ReadLine(std::string& Line, std::chrono::milliseconds Timeout)
    {
        const auto deadline = std::chrono::steady_clock::now() + Timeout;
        for (;;) {
            const auto eol = fBuffer.find('\n');
            if (eol != std::string::npos) {
                // A Windows program's text-mode output ends its lines with CR LF.
                Line = fBuffer.substr(0, eol > 0 && fBuffer[eol - 1] == '\r' ? eol - 1 : eol);
                fBuffer.erase(0, eol + 1);
                return true;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                    .count();
            if (left <= 0) return false;
            pollfd p{fOut, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
            char buf[4096];
            const ssize_t n = read(fOut, buf, sizeof buf);
            if (n <= 0) return false;
            fBuffer.append(buf, static_cast<std::size_t>(n));
        }
    }
    // Reads lines until one starts with Prefix; collects all of them.
    bool ReadUntil(const std::string& Prefix, std::vector<std::string>& Seen, std::chrono::milliseconds Timeout)
    {
        const auto deadline = std::chrono::steady_clock::now() + Timeout;
        std::string line;
        while (ReadLine(
            line, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()))) {
            Seen.push_back(line);
            if (line.rfind(Prefix, 0) == 0) return true;
        }
        return false;
    }
    void WriteLine(const std::string& S)
    {
        const std::string l = S + "\n";
        ASSERT_EQ(write(fIn, l.data(), l.size()), static_cast<ssize_t>(l.size()));
    }
    void Signal(int Sig) { kill(fPid, Sig); }
    pid_t Pid() const { return fPid; }
    // Exit code, or -1 on time-out.
    int Wait(std::chrono::milliseconds Timeout)
    {
        const auto deadline = std::chrono::steady_clock::now() + Timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (waitpid(fPid, &status, WNOHANG) == fPid) {
                fExited = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            usleep(20000);  // child exit has no descriptor to wait on here
        }
        return -1;
    }

private:
    pid_t fPid = -1;
    int fIn = -1, fOut = -1;
    bool fExited = false;
    std::string fBuffer;
};
