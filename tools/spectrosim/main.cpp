// spectrosim: the simulated spectrometer on a pseudo-terminal.
//
//   spectrosim [--lamp fluorescent|sodium|green-laser|red-laser|halogen|off|hydrogen|helium|neon|argon]
//              [--sample dye:C|none] [--fast] [--seed N] [--noise SIGMA]
//              [--com COMn] [--help]
//
// Opens a pty, prints its slave path and the COM name it registered in the
// port map ("/dev/pts/5 COM7"), and answers the instrument's commands on it.
// Replies are paced at the line's baud rate unless --fast is given. Lines on
// standard input switch the light source or the sample at run time
// ("lamp sodium", "sample dye 0.25", "sample none"). SIGINT or SIGTERM end it;
// the port-map entry is removed at exit.
#include "tools/spectrosim/instrument.h"

#include "platform/posix/portmap.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

int SignalPipe[2] = {-1, -1};

void OnSignal(int)
{
    const char c = 1;
    [[maybe_unused]] auto n = write(SignalPipe[1], &c, 1);
}

std::uint32_t BaudOf(int Fd)
{
    termios t{};
    if (tcgetattr(Fd, &t) != 0) return 9600;
    switch (cfgetospeed(&t)) {
    case B300: return 300;
    case B1200: return 1200;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    case B230400: return 230400;
    default: return 9600;
    }
}

// On standard error with 2 for a wrong command line, on standard output with 0 for --help.
int Usage(std::FILE* To = stderr)
{
    std::fprintf(To,
                 "usage: spectrosim [--lamp fluorescent|sodium|green-laser|red-laser|halogen|off|\n"
                 "                          hydrogen|helium|neon|argon]\n"
                 "                  [--sample dye:C|fade:A0:K|none] [--fast] [--seed N] [--noise SIGMA]\n"
                 "                  [--com COMn] [--help]\n"
                 "C is the dye's concentration in mmol/l (\"dye:0.5\"); a fading dye has the\n"
                 "absorbance A0 e^(-K t) at 590 nm, t in seconds (\"fade:1.2:0.05\").\n");
    return To == stderr ? 2 : 0;
}

}  // namespace

int main(int argc, char** argv)
{
    spectrosim::TInstrumentOptions options;
    bool fast = false;
    std::u16string comName;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (arg == "--help") {
            return Usage(stdout);
        } else if (arg == "--fast") {
            fast = true;
        } else if (arg == "--lamp") {
            const char* v = next();
            auto lamp = v ? spectrosim::LampFromName(v) : std::nullopt;
            if (!lamp) return Usage();
            options.Lamp = *lamp;
        } else if (arg == "--sample") {
            const char* v = next();
            auto sample = v ? spectrosim::SampleFromText(v) : std::nullopt;
            if (!sample) return Usage();
            options.Sample = *sample;
        } else if (arg == "--seed") {
            const char* v = next();
            if (!v) return Usage();
            options.Seed = static_cast<std::uint32_t>(std::strtoul(v, nullptr, 10));
        } else if (arg == "--noise") {
            const char* v = next();
            if (!v) return Usage();
            // Plain digits and "." only: the C locale is in effect here.
            options.NoiseSigma = std::strtod(v, nullptr);
        } else if (arg == "--com") {
            const char* v = next();
            if (!v) return Usage();
            for (const char* p = v; *p; ++p) comName.push_back(static_cast<char16_t>(*p));
        } else {
            return Usage();
        }
    }

    int master = -1, slave = -1;
    char slaveName[256] = {};
    if (openpty(&master, &slave, slaveName, nullptr, nullptr) != 0) {
        std::perror("spectrosim: openpty");
        return 1;
    }
    // Raw until the program sets its own mode: no echo of our replies back to us.
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    cfsetispeed(&raw, B9600);
    cfsetospeed(&raw, B9600);
    tcsetattr(slave, TCSANOW, &raw);
    // A full input queue at the program's end must not block us: such replies
    // are lost, as on a line that nobody reads.
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    // Our slave descriptor stays open, so the master never sees a hang-up when
    // the program closes the port, and gives us the program's baud rate.

    const std::u16string registered = winapi_posix::RegisterSharedPort(slaveName, comName);
    if (registered.empty()) {
        std::fprintf(stderr, "spectrosim: cannot register %s in %s\n", slaveName,
                     winapi_posix::PortRegistrationDir().c_str());
        return 1;
    }
    std::string registeredUtf8(registered.begin(), registered.end());
    std::printf("%s %s\n", slaveName, registeredUtf8.c_str());
    std::fflush(stdout);

    if (pipe(SignalPipe) != 0) return 1;
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    spectrosim::TInstrument instrument(options);
    std::deque<std::string> pending;  // reply lines not yet written
    auto nextDue = std::chrono::steady_clock::now();
    std::string stdinLine;
    bool stdinOpen = true;
    char buf[4096];
    int status = 0;

    for (;;) {
        int timeoutMs = -1;
        const auto now = std::chrono::steady_clock::now();
        if (!pending.empty()) {
            timeoutMs = nextDue <= now
                            ? 0
                            : static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(nextDue - now).count());
        }
        pollfd fds[3] = {{master, POLLIN, 0}, {SignalPipe[0], POLLIN, 0}, {0, POLLIN, 0}};
        const int n = poll(fds, stdinOpen ? 3 : 2, timeoutMs);
        if (n < 0) {
            if (errno == EINTR) continue;
            std::perror("spectrosim: poll");
            status = 1;
            break;
        }
        if (fds[1].revents) break;
        if (fds[0].revents & POLLIN) {
            const ssize_t got = read(master, buf, sizeof buf);
            if (got > 0) {
                std::vector<std::string> replies;
                instrument.Receive(std::string_view(buf, static_cast<std::size_t>(got)), replies);
                if (pending.empty()) nextDue = std::chrono::steady_clock::now();
                for (auto& r : replies) pending.push_back(std::move(r));
            }
        }
        if (stdinOpen && (fds[2].revents & (POLLIN | POLLHUP))) {
            const ssize_t got = read(0, buf, sizeof buf);
            if (got <= 0) {
                stdinOpen = false;
            } else {
                stdinLine.append(buf, static_cast<std::size_t>(got));
                std::size_t eol;
                while ((eol = stdinLine.find('\n')) != std::string::npos) {
                    std::string cmd = stdinLine.substr(0, eol);
                    stdinLine.erase(0, eol + 1);
                    if (!cmd.empty() && cmd.back() == '\r') cmd.pop_back();
                    if (cmd.rfind("lamp ", 0) == 0) {
                        if (auto lamp = spectrosim::LampFromName(cmd.substr(5))) {
                            instrument.SetLamp(*lamp);
                            std::printf("lamp %s\n", spectrosim::LampName(*lamp));
                        } else {
                            std::printf("unknown lamp %s\n", cmd.substr(5).c_str());
                        }
                        std::fflush(stdout);
                    } else if (cmd.rfind("sample ", 0) == 0) {
                        // "sample dye 0.25", "sample fade 1.2 0.05" or "sample none".
                        std::string text = cmd.substr(7);
                        if (text.rfind("dye ", 0) == 0) text[3] = ':';
                        if (text.rfind("fade ", 0) == 0) {
                            text[4] = ':';
                            if (const auto space = text.find(' ', 5); space != std::string::npos) text[space] = ':';
                        }
                        if (auto sample = spectrosim::SampleFromText(text)) {
                            instrument.SetSample(*sample);
                            std::string shown = spectrosim::SampleText(*sample);
                            std::replace(shown.begin(), shown.end(), ':', ' ');
                            std::printf("sample %s\n", shown.c_str());
                        } else {
                            std::printf("unknown sample %s\n", cmd.substr(7).c_str());
                        }
                        std::fflush(stdout);
                    }
                }
            }
        }
        // Write what is due: one line per step when paced, all at once otherwise.
        while (!pending.empty() && (fast || std::chrono::steady_clock::now() >= nextDue)) {
            const std::string line = std::move(pending.front());
            pending.pop_front();
            std::size_t off = 0;
            while (off < line.size()) {
                const ssize_t w = write(master, line.data() + off, line.size() - off);
                if (w < 0) {
                    if (errno == EINTR) continue;
                    break;  // EAGAIN: nobody reads, the reply is lost
                }
                off += static_cast<std::size_t>(w);
            }
            if (!fast) {
                nextDue = std::chrono::steady_clock::now() +
                          std::chrono::microseconds(spectrosim::LineTimeUs(line.size(), BaudOf(slave)));
                break;
            }
        }
    }

    winapi_posix::UnregisterSharedPort(registered);
    close(master);
    close(slave);
    return status;
}
