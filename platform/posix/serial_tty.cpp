// The termios backend: real ttys and pseudo-terminals.
//
// Opened raw (no echo, no line editing, no translation: a canonical tty drops
// data past 4096 bytes without a newline), non-blocking, exclusively.
// Frame and parity errors arrive in the data stream through PARMRK; overruns
// and the kind of a marked error come from the TIOCGICOUNT counters. ptys
// have neither error marks nor modem lines, so neither is asked for there.
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/posix/handles.h"
#include "platform/posix/serial_backend.h"

namespace winapi_posix {

bool SetCustomBaudRate(int fd, unsigned baud);
unsigned CurrentBaudRate(int fd);

namespace {

struct BaudCode {
    unsigned rate;
    speed_t code;
};
constexpr BaudCode kBaudCodes[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

bool StandardCode(unsigned rate, speed_t* code)
{
    for (const BaudCode& b : kBaudCodes)
        if (b.rate == rate) {
            *code = b.code;
            return true;
        }
    return false;
}

unsigned RateOfCode(speed_t code)
{
    for (const BaudCode& b : kBaudCodes)
        if (b.code == code) return b.rate;
    return 0;
}

// A device that is not there is "not found", whatever part of the path failed.
DWORD OpenError(int err)
{
    if (err == ENXIO || err == ENODEV || err == ENOTDIR) return ERROR_FILE_NOT_FOUND;
    return ErrorFromErrno(err);
}

// A gone device shows up as EIO (or ENXIO/ENODEV for USB adapters).
DWORD IoError(int err)
{
    if (err == EIO || err == ENXIO || err == ENODEV || err == EPIPE || err == EBADF) return ERROR_ACCESS_DENIED;
    return ErrorFromErrno(err);
}

// TIOCMIWAIT has no time-out and no descriptor to poll; the modem watcher is
// released from it by this signal, whose handler does nothing.
int WakeSignal() { return SIGRTMIN + 5; }
void NoOpHandler(int) {}
std::once_flag signalOnce;

class TtyBackend : public SerialBackend {
public:
    explicit TtyBackend(int fd) : fd_(fd) {}
    ~TtyBackend() override { Close(); }

    DWORD Init()
    {
        // flock first: it stops every process that also locks (and root, whom
        // TIOCEXCL does not stop); TIOCEXCL then stops plain opens by others.
        if (flock(fd_, LOCK_EX | LOCK_NB) != 0) return OpenError(errno);  // EWOULDBLOCK: access denied
        ioctl(fd_, TIOCEXCL);
        owned_ = true;
        if (tcgetattr(fd_, &original_) != 0) return ERROR_FILE_NOT_FOUND;  // not a tty
        haveOriginal_ = true;
        struct stat st;
        if (fstat(fd_, &st) == 0 && S_ISCHR(st.st_mode)) {
            unsigned major = major(st.st_rdev);
            isPty_ = major >= 136 && major <= 143;
        }
        int lines = 0;
        hasLines_ = ioctl(fd_, TIOCMGET, &lines) == 0;
        serial_icounter_struct counts{};
        icountOk_ = ioctl(fd_, TIOCGICOUNT, &counts) == 0;
        lastCounts_ = counts;
        markErrors_ = !isPty_;

        struct termios t = original_;
        MakeRaw(&t);
        ApplyMarking(&t);
        if (tcsetattr(fd_, TCSANOW, &t) != 0) return IoError(errno);
        CurrentSettings(&dcb_);
        if (hasLines_) StartModemWatcher();
        return 0;
    }

    int PollFd() const override { return fd_; }
    bool SendsInputFlow() const override { return true; }  // IXOFF
    bool PollsData() const override { return true; }

    ServiceResult Service(uint8_t* buffer, size_t capacity, short revents) override
    {
        ServiceResult result;
        if (linesChanged_.exchange(false)) result.LinesChanged = true;
        bool hangup = revents & (POLLHUP | POLLERR | POLLNVAL);
        if (revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) {
            if (capacity == 0) {
                result.Removed = hangup;
                return result;
            }
            // Take all that is there (up to the room we have): fewer passes, fewer
            // hand-overs to the reading thread.
            size_t got = 0;
            while (got < capacity) {
                size_t room = capacity - got;
                ssize_t n = read(fd_, buffer + got, room);
                if (n > 0) {
                    got += markErrors_ ? Unmark(buffer + got, static_cast<size_t>(n), &result) : static_cast<size_t>(n);
                    // A short read took all the line discipline had; asking again only
                    // to hear EAGAIN costs the tty a flush of its buffer work.
                    if (static_cast<size_t>(n) < room) break;
                    continue;
                }
                if (n == 0) {
                    result.Removed = true;  // hang-up: the pty master closed or the adapter went away
                } else if (errno != EAGAIN && errno != EINTR) {
                    result.Removed = true;
                } else if (hangup && got == 0) {
                    result.Removed = true;
                }
                break;
            }
            result.Received = got;
        }
        if (icountOk_) CountErrors(&result);
        return result;
    }

    long Transmit(const uint8_t* data, size_t count, DWORD* error) override
    {
        ssize_t n = write(fd_, data, count);
        if (n >= 0) return n;
        if (errno == EAGAIN || errno == EINTR) return 0;
        *error = IoError(errno);
        return -1;
    }

    bool TransmitAhead(uint8_t byte, DWORD* error) override
    {
        ssize_t n = write(fd_, &byte, 1);
        if (n == 1) return true;
        *error = n == 0 || errno == EAGAIN ? ERROR_INVALID_PARAMETER : IoError(errno);
        return false;
    }

    DWORD TransmitQueued() override
    {
        int queued = 0;
        if (ioctl(fd_, TIOCOUTQ, &queued) != 0) return 0;
        return queued > 0 ? static_cast<DWORD>(queued) : 0;
    }

    int DrainCheckDelayMs(DWORD queued) const override
    {
        // The UART empties at the line rate; look again when it should be done.
        double baud = dcb_.BaudRate ? dcb_.BaudRate : 9600;
        double ms = std::ceil(queued * BitsPerCharacter(dcb_) * 1000.0 / baud);
        return static_cast<int>(std::clamp(ms, 1.0, 200.0));
    }

    DWORD Configure(const DCB& dcb) override
    {
        struct termios t;
        if (tcgetattr(fd_, &t) != 0) return IoError(errno);
        MakeRaw(&t);
        ApplyMarking(&t);
        DWORD flags = DcbFlags(dcb);
        t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
        static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
        t.c_cflag |= sizes[dcb.ByteSize - 5];
        switch (dcb.Parity) {
        case ODDPARITY: t.c_cflag |= PARENB | PARODD; break;
        case EVENPARITY: t.c_cflag |= PARENB; break;
        case MARKPARITY: t.c_cflag |= PARENB | PARODD | CMSPAR; break;
        case SPACEPARITY: t.c_cflag |= PARENB | CMSPAR; break;
        default: break;
        }
        if (dcb.StopBits != ONESTOPBIT) t.c_cflag |= CSTOPB;  // with 5 data bits the UART makes that 1.5
        if ((flags & kDcbOutxCtsFlow) || DcbRtsControl(flags) == RTS_CONTROL_HANDSHAKE) t.c_cflag |= CRTSCTS;
        if (flags & kDcbOutX) t.c_iflag |= IXON;
        if (flags & kDcbInX) t.c_iflag |= IXOFF;
        t.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
        t.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
        speed_t code;
        bool standard = StandardCode(dcb.BaudRate, &code);
        if (standard) {
            cfsetispeed(&t, code);
            cfsetospeed(&t, code);
        }
        if (tcsetattr(fd_, TCSANOW, &t) != 0) return IoError(errno);
        if (!standard && !SetCustomBaudRate(fd_, dcb.BaudRate)) return ERROR_INVALID_PARAMETER;
        dcb_ = dcb;
        if (hasLines_) {
            DWORD dtr = DcbDtrControl(flags), rts = DcbRtsControl(flags);
            SetLine(TIOCM_DTR, dtr != DTR_CONTROL_DISABLE);
            // With RTS toggle the line stays low until a transmission raises it.
            SetLine(TIOCM_RTS, rts == RTS_CONTROL_ENABLE || rts == RTS_CONTROL_HANDSHAKE);
        }
        return 0;
    }

    void CurrentSettings(DCB* dcb) override
    {
        struct termios t;
        std::memset(dcb, 0, sizeof *dcb);
        dcb->DCBlength = sizeof(DCB);
        if (tcgetattr(fd_, &t) != 0) t = original_;
        unsigned rate = RateOfCode(cfgetospeed(&t));
        if (rate == 0) rate = CurrentBaudRate(fd_);
        dcb->BaudRate = rate ? rate : CBR_9600;
        switch (t.c_cflag & CSIZE) {
        case CS5: dcb->ByteSize = 5; break;
        case CS6: dcb->ByteSize = 6; break;
        case CS7: dcb->ByteSize = 7; break;
        default: dcb->ByteSize = 8; break;
        }
        if (!(t.c_cflag & PARENB))
            dcb->Parity = NOPARITY;
        else if (t.c_cflag & CMSPAR)
            dcb->Parity = (t.c_cflag & PARODD) ? MARKPARITY : SPACEPARITY;
        else
            dcb->Parity = (t.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
        dcb->StopBits = (t.c_cflag & CSTOPB) ? (dcb->ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS) : ONESTOPBIT;
        DWORD flags = kDcbBinary | (DTR_CONTROL_ENABLE << kDcbDtrControlShift);
        if (dcb->Parity != NOPARITY) flags |= kDcbParity;
        if (t.c_cflag & CRTSCTS)
            flags |= kDcbOutxCtsFlow | (RTS_CONTROL_HANDSHAKE << kDcbRtsControlShift);
        else
            flags |= RTS_CONTROL_ENABLE << kDcbRtsControlShift;
        if (t.c_iflag & IXON) flags |= kDcbOutX;
        if (t.c_iflag & IXOFF) flags |= kDcbInX;
        SetDcbFlags(*dcb, flags);
        dcb->XonLim = 2048;
        dcb->XoffLim = 512;
        dcb->XonChar = static_cast<char>(t.c_cc[VSTART]);
        dcb->XoffChar = static_cast<char>(t.c_cc[VSTOP]);
        if (dcb->XonChar == dcb->XoffChar) {
            dcb->XonChar = 0x11;
            dcb->XoffChar = 0x13;
        }
    }

    bool SetRs485(bool on) override
    {
        if (!hasLines_) return false;
        struct serial_rs485 rs485 {};
        if (ioctl(fd_, TIOCGRS485, &rs485) != 0) return false;
        if (on) {
            rs485.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
            rs485.flags &= ~SER_RS485_RTS_AFTER_SEND;
        } else {
            rs485.flags &= ~SER_RS485_ENABLED;
        }
        if (ioctl(fd_, TIOCSRS485, &rs485) != 0) return false;
        rs485On_ = on;
        return true;
    }

    DWORD ModemStatus(DWORD* status) override
    {
        *status = 0;
        if (!hasLines_) return 0;  // a pty has no modem lines
        int lines = 0;
        if (ioctl(fd_, TIOCMGET, &lines) != 0) return IoError(errno);
        if (lines & TIOCM_CTS) *status |= MS_CTS_ON;
        if (lines & TIOCM_DSR) *status |= MS_DSR_ON;
        if (lines & TIOCM_RNG) *status |= MS_RING_ON;
        if (lines & TIOCM_CD) *status |= MS_RLSD_ON;
        return 0;
    }

    DWORD SetDtr(bool on) override { return hasLines_ ? SetLine(TIOCM_DTR, on) : 0; }
    DWORD SetRts(bool on) override { return hasLines_ ? SetLine(TIOCM_RTS, on) : 0; }

    DWORD SetBreak(bool on) override
    {
        if (ioctl(fd_, on ? TIOCSBRK : TIOCCBRK) != 0 && hasLines_) return IoError(errno);
        return 0;
    }

    DWORD SetXoffHold(bool held) override
    {
        if (tcflow(fd_, held ? TCOOFF : TCOON) != 0) return IoError(errno);
        return 0;
    }

    DWORD HoldFlags() override
    {
        if (!hasLines_ || !(DcbFlags(dcb_) & kDcbOutxCtsFlow)) return 0;
        DWORD status = 0;
        ModemStatus(&status);
        return (status & MS_CTS_ON) ? 0 : kHoldCts;
    }

    void PurgeInput() override
    {
        tcflush(fd_, TCIFLUSH);
        markState_ = 0;
    }
    void PurgeOutput() override { tcflush(fd_, TCOFLUSH); }

    void Close() override
    {
        if (fd_ < 0) return;
        StopModemWatcher();
        if (owned_) {
            if (rs485On_) SetRs485(false);
            tcflush(fd_, TCIOFLUSH);
            if (haveOriginal_) tcsetattr(fd_, TCSANOW, &original_);  // restore what we changed
            ioctl(fd_, TIOCNXCL);
        }
        close(fd_);  // also drops the flock
        fd_ = -1;
    }

private:
    static void MakeRaw(struct termios* t)
    {
        t->c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | IGNPAR |
                        INPCK | IUCLC | IMAXBEL);
        t->c_oflag &= ~OPOST;
        t->c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
        // CLOCAL: a missing carrier must not block or hang up the line; HUPCL off
        // so that our close does not drop DTR (the original settings come back).
        t->c_cflag |= CREAD | CLOCAL;
        t->c_cflag &= ~HUPCL;
        t->c_cc[VMIN] = 1;
        t->c_cc[VTIME] = 0;
    }

    void ApplyMarking(struct termios* t) const
    {
        if (markErrors_) t->c_iflag |= PARMRK | INPCK;  // INPCK: frame errors are marked only with it
    }

    DWORD SetLine(int bit, bool on)
    {
        if (ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bit) != 0) return IoError(errno);
        return 0;
    }

    // Removes PARMRK's marks: \377\377 is a data \377, \377\0\0 a break,
    // \377\0 c a byte c received with a frame or parity error. A mark may be
    // split across reads, hence markState_.
    size_t Unmark(uint8_t* data, size_t count, ServiceResult* result)
    {
        size_t out = 0;
        for (size_t i = 0; i < count; ++i) {
            uint8_t c = data[i];
            switch (markState_) {
            case 0:
                if (c == 0xFF)
                    markState_ = 1;
                else
                    data[out++] = c;
                break;
            case 1:
                if (c == 0xFF) {
                    data[out++] = 0xFF;
                    markState_ = 0;
                } else if (c == 0x00) {
                    markState_ = 2;
                } else {
                    data[out++] = 0xFF;  // cannot happen with PARMRK; keep the bytes
                    data[out++] = c;
                    markState_ = 0;
                }
                break;
            default:
                if (c == 0x00) {
                    result->Break = true;
                } else {
                    data[out++] = c;
                    markedError_ = true;
                }
                markState_ = 0;
                break;
            }
        }
        return out;
    }

    void CountErrors(ServiceResult* result)
    {
        serial_icounter_struct now{};
        if (ioctl(fd_, TIOCGICOUNT, &now) != 0) return;
        bool frame = now.frame != lastCounts_.frame, parity = now.parity != lastCounts_.parity;
        if (now.overrun != lastCounts_.overrun || now.buf_overrun != lastCounts_.buf_overrun)
            result->Errors |= CE_OVERRUN;
        if (frame) result->Errors |= CE_FRAME;
        if (parity) result->Errors |= CE_RXPARITY;
        if (now.brk != lastCounts_.brk) result->Break = true;
        if (markedError_ && !frame && !parity) result->Errors |= dcb_.Parity != NOPARITY ? CE_RXPARITY : CE_FRAME;
        markedError_ = false;
        lastCounts_ = now;
    }

    void StartModemWatcher()
    {
        std::call_once(signalOnce, [] {
            struct sigaction sa {};
            sa.sa_handler = NoOpHandler;
            sigemptyset(&sa.sa_mask);
            sa.sa_flags = 0;  // no SA_RESTART: the ioctl must return
            sigaction(WakeSignal(), &sa, nullptr);
        });
        stopWatcher_ = false;
        watcher_ = std::thread([this] {
            while (!stopWatcher_) {
                if (ioctl(fd_, TIOCMIWAIT, TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RNG) != 0) {
                    if (errno == EINTR) continue;
                    break;  // device gone or no support; the service thread sees the hang-up
                }
                linesChanged_ = true;
                if (Wake) Wake();
            }
            watcherDone_ = true;
        });
    }

    void StopModemWatcher()
    {
        if (!watcher_.joinable()) return;
        stopWatcher_ = true;
        // The signal may arrive just before the thread enters the ioctl; repeat it
        // until the thread has gone.
        while (!watcherDone_) {
            pthread_kill(watcher_.native_handle(), WakeSignal());
            struct timespec pause = {0, 2000000};
            nanosleep(&pause, nullptr);
        }
        watcher_.join();
    }

    int fd_;
    bool owned_ = false;
    bool haveOriginal_ = false;
    struct termios original_ {};
    bool isPty_ = false;
    bool hasLines_ = false;
    bool icountOk_ = false;
    bool markErrors_ = false;
    bool markedError_ = false;
    bool rs485On_ = false;
    int markState_ = 0;
    serial_icounter_struct lastCounts_{};
    DCB dcb_{};
    std::thread watcher_;
    std::atomic<bool> stopWatcher_{false};
    std::atomic<bool> watcherDone_{false};
    std::atomic<bool> linesChanged_{false};
};

}  // namespace

std::unique_ptr<SerialBackend> OpenTtyBackend(const std::string& path, DWORD* error)
{
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = OpenError(errno);
        return nullptr;
    }
    auto backend = std::make_unique<TtyBackend>(fd);
    if (DWORD e = backend->Init()) {
        *error = e;
        return nullptr;  // the destructor closes the descriptor
    }
    return backend;
}

}  // namespace winapi_posix
