#include "bench/comm_receive/hosts.h"

#include <poll.h>
#include <unistd.h>

#include <QEventLoop>
#include <QSerialPort>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "comm/nrcomm/nrcomm.h"

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

// poll() and read() on the slave, 64 KiB per read: the floor of what any
// receiver can do on this pty.
class TPlainHost : public THost {
public:
    const char* Name() const override { return "plain poll+read"; }
    void Open(TPty& Pty, bool Echo) override
    {
        Reset(Echo);
        fFd = Pty.Slave;
    }
    bool RunUntil(const std::function<bool()>& Done, std::chrono::milliseconds Timeout) override
    {
        const auto deadline = Clock::now() + Timeout;
        while (!Done()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) return false;
            pollfd p{fFd, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
            const ssize_t n = read(fFd, fBuffer.data(), fBuffer.size());
            if (n <= 0) return false;
            Received(fBuffer.data(), static_cast<size_t>(n));
        }
        return true;
    }
    void Close() override { fFd = -1; }

protected:
    void WriteBack(const uint8_t* Data, size_t N) override
    {
        if (write(fFd, Data, N) != static_cast<ssize_t>(N)) std::perror("echo write");
    }

private:
    int fFd = -1;
    std::vector<uint8_t> fBuffer = std::vector<uint8_t>(65536);
};

// Runs a QEventLoop until a receive handler finds Done, or the time-out.
class TQtLoop {
public:
    bool Run(const std::function<bool()>& Done, std::chrono::milliseconds Timeout)
    {
        if (Done()) return true;
        QEventLoop loop;
        fLoop = &loop;
        fDone = &Done;
        fHeld = false;
        QTimer::singleShot(static_cast<int>(Timeout.count()), &loop, &QEventLoop::quit);
        loop.exec();
        fLoop = nullptr;
        fDone = nullptr;
        return fHeld;
    }
    // From the receive handler.
    void Check()
    {
        if (fLoop && fDone && (*fDone)()) {
            fHeld = true;
            fLoop->quit();
        }
    }

private:
    QEventLoop* fLoop = nullptr;
    const std::function<bool()>* fDone = nullptr;
    bool fHeld = false;
};

// A receiver that runs a QEventLoop and opens the pty's slave itself (it locks
// the slave exclusively; ours would be in the way).
class TLoopHost : public THost {
public:
    bool RunUntil(const std::function<bool()>& Done, std::chrono::milliseconds Timeout) override
    {
        return fLoop.Run(Done, Timeout);
    }

protected:
    void Begin(TPty& Pty, bool Echo)
    {
        Reset(Echo);
        Pty.CloseSlave();
    }
    [[noreturn]] void CannotOpen(const TPty& Pty, const std::string& Why) const
    {
        std::fprintf(stderr, "%s cannot open %s%s\n", Name(), Pty.Path.c_str(), Why.c_str());
        std::exit(2);
    }

    TQtLoop fLoop;
};

// QSerialPort as its documentation shows it: read what readyRead announces,
// answer with write() and flush().
class TQSerialPortHost : public TLoopHost {
public:
    const char* Name() const override { return "QSerialPort"; }
    void Open(TPty& Pty, bool Echo) override
    {
        Begin(Pty, Echo);
        fPort = std::make_unique<QSerialPort>();
        fPort->setPortName(QString::fromStdString(Pty.Path));
        if (!fPort->open(QIODevice::ReadWrite)) CannotOpen(Pty, ": " + fPort->errorString().toStdString());
        fPort->setBaudRate(115200);
        QObject::connect(fPort.get(), &QSerialPort::readyRead, [this] {
            for (;;) {
                const qint64 n =
                    fPort->read(reinterpret_cast<char*>(fBuffer.data()), static_cast<qint64>(fBuffer.size()));
                if (n <= 0) break;
                Received(fBuffer.data(), static_cast<size_t>(n));
            }
            fLoop.Check();
        });
    }
    void Close() override
    {
        // The last echo may still wait in QSerialPort's write buffer.
        if (fPort && fPort->bytesToWrite() > 0) fPort->waitForBytesWritten(1000);
        if (fPort) fPort->close();
        fPort.reset();
    }

protected:
    void WriteBack(const uint8_t* Data, size_t N) override
    {
        fPort->write(reinterpret_cast<const char*>(Data), static_cast<qint64>(N));
        // Out now rather than at the next pass of the event loop: its fastest
        // answer, and the last one leaves although the loop ends with it.
        fPort->flush();
    }

private:
    std::unique_ptr<QSerialPort> fPort;
    std::vector<uint8_t> fBuffer = std::vector<uint8_t>(65536);
};

// TnrComm as the program uses it: OnAfterReceive on the main thread
// (UseMainThread), receive buffer 4096, answers with SendString.
class TTnrCommHost : public TLoopHost {
public:
    const char* Name() const override { return "TnrComm"; }
    void Open(TPty& Pty, bool Echo) override
    {
        Begin(Pty, Echo);
        setenv("SPECTRO_PORTS", ("COM250=" + Pty.Path).c_str(), 1);
        fComm = std::make_unique<TnrComm>(nullptr);
        fComm->SetComPortNo(250);
        fComm->SetBaudRate(115200);
        fComm->SetBufferInSize(4096);
        fComm->SetBufferOutSize(4096);
        fComm->SetTraceStates({tsRxChar});
        fComm->SetUseMainThread(true);
        fComm->SetOnAfterReceive([this](TObject*, const uint8_t* Buffer, uint32_t Len) {
            Received(Buffer, Len);
            fLoop.Check();
        });
        fComm->SetActive(true);
        if (!fComm->GetActive()) CannotOpen(Pty, "");
    }
    void Close() override
    {
        if (fComm) fComm->SetActive(false);
        fComm.reset();
    }

protected:
    void WriteBack(const uint8_t* Data, size_t N) override
    {
        fComm->SendString(AnsiString(reinterpret_cast<const char*>(Data), N));
    }

private:
    std::unique_ptr<TnrComm> fComm;
};

}  // namespace

std::unique_ptr<THost> NewPlainHost() { return std::make_unique<TPlainHost>(); }
std::unique_ptr<THost> NewQSerialPortHost() { return std::make_unique<TQSerialPortHost>(); }
std::unique_ptr<THost> NewTnrCommHost() { return std::make_unique<TTnrCommHost>(); }

}  // namespace bench
