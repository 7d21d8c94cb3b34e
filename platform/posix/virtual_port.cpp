// Virtual serial ports: the device shared by the peer (VirtualPort) and the
// host's port engine (VirtualBackend). The device wakes the host's service
// thread through an eventfd; everything the host must learn (bytes, lines,
// errors, transmit progress, removal) is collected in Service.
#include "platform/posix/virtual_port.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <utility>

#include "platform/posix/portmap.h"
#include "platform/posix/serial_backend.h"
#include "platform/posix/text.h"

namespace winapi_posix {

using Clock = std::chrono::steady_clock;

class VirtualPortDevice {
public:
    VirtualPortDevice() : eventFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~VirtualPortDevice()
    {
        if (eventFd >= 0) close(eventFd);
    }

    void Signal()
    {
        uint64_t one = 1;
        ssize_t ignored = write(eventFd, &one, sizeof one);
        (void)ignored;
    }

    // Host → peer: a chunk that has left the host's transmitter.
    void DeliverLocked(std::string bytes)
    {
        if (dataCallback) {
            auto callback = dataCallback;
            deferred.push_back([callback, bytes = std::move(bytes)] { callback(bytes); });
        } else {
            toPeer += bytes;
            peerCv.notify_all();
        }
    }

    void LinesChangedLocked()
    {
        if (lineCallback) {
            auto callback = lineCallback;
            bool d = dtr, r = rts;
            deferred.push_back([callback, d, r] { callback(d, r); });
        }
    }

    bool TransmitHeldLocked() const
    {
        if (stalled || xoffHold || flowHold) return true;
        if ((dcbFlags & kDcbOutxCtsFlow) && !(inputs & MS_CTS_ON)) return true;
        if ((dcbFlags & kDcbOutxDsrFlow) && !(inputs & MS_DSR_ON)) return true;
        return false;
    }

    Clock::duration CharacterTimeLocked() const
    {
        DCB dcb{};
        dcb.ByteSize = settings.ByteSize;
        dcb.Parity = settings.Parity;
        dcb.StopBits = settings.StopBits;
        double seconds = BitsPerCharacter(dcb) / std::max<DWORD>(settings.BaudRate, 1);
        return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    }

    const int eventFd;
    std::u16string comName, kernelName;

    mutable std::mutex mutex;
    std::condition_variable peerCv;
    bool removed = false;
    bool hostOpen = false;

    std::string toHost;  // peer → host, not yet in the host's queue
    std::string toPeer;  // host → peer, not yet read by the peer
    DWORD pendingErrors = 0;
    bool pendingBreak = false;
    bool linesChanged = false;
    DWORD inputs = 0;  // the host's input lines, MS_* bits

    bool dtr = false, rts = false, brk = false;
    VirtualLineSettings settings;
    DWORD dcbFlags = 0;

    std::string txFifo;  // accepted by the host's transmitter, not yet sent
    bool stalled = false, paced = false, xoffHold = false;
    bool flowHold = false;  // fOutX: the peer sent XOFF
    uint8_t xonChar = 0x11, xoffChar = 0x13;
    Clock::time_point nextCharacter;

    std::function<void(const std::string&)> dataCallback;
    std::function<void(bool, bool)> lineCallback;
    std::function<void(const VirtualLineSettings&)> settingsCallback;
    std::deque<std::function<void()>> deferred;
};

namespace {

constexpr size_t kPacedFifo = 16;  // a UART's transmit FIFO

std::mutex registryMutex;
std::map<std::u16string, std::weak_ptr<VirtualPortDevice>>& Registry()
{
    static std::map<std::u16string, std::weak_ptr<VirtualPortDevice>> registry;
    return registry;
}
std::atomic<unsigned> nextIndex{0};

class VirtualBackend : public SerialBackend {
public:
    explicit VirtualBackend(std::shared_ptr<VirtualPortDevice> device) : d_(std::move(device)) {}
    ~VirtualBackend() override { Close(); }

    int PollFd() const override { return d_->eventFd; }
    bool PollsData() const override { return false; }

    ServiceResult Service(uint8_t* buffer, size_t capacity, short) override
    {
        ServiceResult result;
        std::deque<std::function<void()>> callbacks;
        {
            std::lock_guard<std::mutex> lock(d_->mutex);
            uint64_t value;
            ssize_t ignored = read(d_->eventFd, &value, sizeof value);
            (void)ignored;
            if (d_->removed) {
                result.Removed = true;
                return result;
            }
            size_t n = std::min(capacity, d_->toHost.size());
            if (n > 0) {
                std::copy_n(d_->toHost.begin(), n, buffer);
                d_->toHost.erase(0, n);
                result.Received = (d_->dcbFlags & kDcbOutX) ? TakeFlowCharacters(buffer, n) : n;
                if (!d_->toHost.empty()) d_->Signal();  // more than the host had room for this pass
            }
            result.Errors = std::exchange(d_->pendingErrors, 0);
            result.Break = std::exchange(d_->pendingBreak, false);
            result.LinesChanged = std::exchange(d_->linesChanged, false);
            if (!d_->txFifo.empty() && !d_->TransmitHeldLocked()) {
                size_t sent = d_->txFifo.size();
                if (d_->paced) {
                    auto now = Clock::now();
                    auto character = d_->CharacterTimeLocked();
                    sent = 0;
                    while (sent < d_->txFifo.size() && d_->nextCharacter <= now) {
                        ++sent;
                        d_->nextCharacter += character;
                    }
                }
                if (sent > 0) {
                    d_->DeliverLocked(d_->txFifo.substr(0, sent));
                    d_->txFifo.erase(0, sent);
                    result.TransmitProgress = true;
                }
            }
            callbacks.swap(d_->deferred);
        }
        // Outside the lock: a callback may answer through the peer's methods.
        for (auto& callback : callbacks) callback();
        return result;
    }

    // fOutX: XOFF holds the host's output, XON releases it; neither reaches
    // the input queue.
    size_t TakeFlowCharacters(uint8_t* data, size_t count)
    {
        size_t kept = 0;
        for (size_t i = 0; i < count; ++i) {
            if (data[i] == d_->xoffChar) {
                d_->flowHold = true;
            } else if (data[i] == d_->xonChar) {
                d_->flowHold = false;
            } else {
                data[kept++] = data[i];
            }
        }
        return kept;
    }

    int ServiceDelayMs() const override
    {
        std::lock_guard<std::mutex> lock(d_->mutex);
        if (!d_->paced || d_->txFifo.empty() || d_->TransmitHeldLocked()) return -1;
        auto left = std::chrono::ceil<std::chrono::milliseconds>(d_->nextCharacter - Clock::now()).count();
        return static_cast<int>(std::max<long long>(left, 0));
    }

    long Transmit(const uint8_t* data, size_t count, DWORD* error) override
    {
        std::lock_guard<std::mutex> lock(d_->mutex);
        if (d_->removed) {
            *error = ERROR_ACCESS_DENIED;
            return -1;
        }
        if (d_->TransmitHeldLocked()) return 0;
        size_t room = d_->paced ? kPacedFifo - std::min(kPacedFifo, d_->txFifo.size()) : count;
        size_t n = std::min(room, count);
        if (n == 0) return 0;
        if (d_->txFifo.empty() && d_->paced) d_->nextCharacter = Clock::now() + d_->CharacterTimeLocked();
        d_->txFifo.append(reinterpret_cast<const char*>(data), n);
        d_->Signal();
        return static_cast<long>(n);
    }

    bool TransmitAhead(uint8_t byte, DWORD* error) override
    {
        std::lock_guard<std::mutex> lock(d_->mutex);
        if (d_->removed) {
            *error = ERROR_ACCESS_DENIED;
            return false;
        }
        if (d_->txFifo.empty() && d_->paced) d_->nextCharacter = Clock::now() + d_->CharacterTimeLocked();
        d_->txFifo.insert(d_->txFifo.begin(), static_cast<char>(byte));
        d_->Signal();
        return true;
    }

    DWORD TransmitQueued() override
    {
        std::lock_guard<std::mutex> lock(d_->mutex);
        return static_cast<DWORD>(d_->txFifo.size());
    }

    int DrainCheckDelayMs(DWORD) const override { return -1; }

    DWORD Configure(const DCB& dcb) override
    {
        std::lock_guard<std::mutex> lock(d_->mutex);
        if (d_->removed) return ERROR_ACCESS_DENIED;
        VirtualLineSettings settings{dcb.BaudRate, dcb.ByteSize, dcb.Parity, dcb.StopBits};
        if (!(settings == d_->settings)) {
            d_->settings = settings;
            if (d_->settingsCallback) {
                auto callback = d_->settingsCallback;
                d_->deferred.push_back([callback, settings] { callback(settings); });
            }
        }
        d_->dcbFlags = DcbFlags(dcb);
        d_->xonChar = static_cast<uint8_t>(dcb.XonChar);
        d_->xoffChar = static_cast<uint8_t>(dcb.XoffChar);
        if (!(d_->dcbFlags & kDcbOutX)) d_->flowHold = false;
        DWORD dtrControl = DcbDtrControl(d_->dcbFlags), rtsControl = DcbRtsControl(d_->dcbFlags);
        bool dtr = dtrControl != DTR_CONTROL_DISABLE;
        bool rts = rtsControl == RTS_CONTROL_ENABLE || rtsControl == RTS_CONTROL_HANDSHAKE;
        if (dtr != d_->dtr || rts != d_->rts) {
            d_->dtr = dtr;
            d_->rts = rts;
            d_->LinesChangedLocked();
        }
        d_->Signal();
        return 0;
    }

    void CurrentSettings(DCB* dcb) override
    {
        std::lock_guard<std::mutex> lock(d_->mutex);
        DefaultDcb(dcb);
        dcb->BaudRate = d_->settings.BaudRate;
        dcb->ByteSize = d_->settings.ByteSize;
        dcb->Parity = d_->settings.Parity;
        dcb->StopBits = d_->settings.StopBits;
    }

    bool SetRs485(bool) override { return false; }  // the engine toggles RTS itself

    DWORD ModemStatus(DWORD* status) override
    {
        std::lock_guard<std::mutex> lock(d_->mutex);
        *status = d_->inputs;
        return d_->removed ? ERROR_ACCESS_DENIED : 0;
    }

    DWORD SetDtr(bool on) override { return SetLine(&VirtualPortDevice::dtr, on); }
    DWORD SetRts(bool on) override { return SetLine(&VirtualPortDevice::rts, on); }

    DWORD SetBreak(bool on) override
    {
        std::lock_guard<std::mutex> lock(d_->mutex);
        d_->brk = on;
        return d_->removed ? ERROR_ACCESS_DENIED : 0;
    }

    DWORD SetXoffHold(bool held) override
    {
        std::lock_guard<std::mutex> lock(d_->mutex);
        d_->xoffHold = held;
        d_->Signal();
        return 0;
    }

    bool SendsInputFlow() const override { return false; }

    DWORD HoldFlags() override
    {
        std::lock_guard<std::mutex> lock(d_->mutex);
        DWORD hold = d_->flowHold ? kHoldXoff : 0;
        if ((d_->dcbFlags & kDcbOutxCtsFlow) && !(d_->inputs & MS_CTS_ON)) hold |= kHoldCts;
        if ((d_->dcbFlags & kDcbOutxDsrFlow) && !(d_->inputs & MS_DSR_ON)) hold |= kHoldDsr;
        return hold;
    }

    void PurgeInput() override
    {
        std::lock_guard<std::mutex> lock(d_->mutex);
        d_->toHost.clear();
    }

    void PurgeOutput() override
    {
        std::lock_guard<std::mutex> lock(d_->mutex);
        d_->txFifo.clear();
    }

    void Close() override
    {
        if (closed_) return;
        closed_ = true;
        std::lock_guard<std::mutex> lock(d_->mutex);
        d_->hostOpen = false;
        d_->dtr = d_->rts = d_->brk = false;
        d_->toHost.clear();
        d_->txFifo.clear();
        d_->deferred.clear();
        d_->pendingErrors = 0;
        d_->pendingBreak = false;
    }

private:
    DWORD SetLine(bool VirtualPortDevice::*line, bool on)
    {
        std::lock_guard<std::mutex> lock(d_->mutex);
        if (d_->removed) return ERROR_ACCESS_DENIED;
        if ((*d_).*line != on) {
            (*d_).*line = on;
            d_->LinesChangedLocked();
            d_->Signal();
        }
        return 0;
    }

    std::shared_ptr<VirtualPortDevice> d_;
    bool closed_ = false;
};

}  // namespace

std::unique_ptr<SerialBackend> OpenVirtualBackend(const std::u16string& comName, DWORD* error)
{
    std::shared_ptr<VirtualPortDevice> device;
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        auto it = Registry().find(UpperAscii(comName));
        if (it != Registry().end()) device = it->second.lock();
    }
    if (!device) {
        *error = ERROR_FILE_NOT_FOUND;
        return nullptr;
    }
    {
        std::lock_guard<std::mutex> lock(device->mutex);
        if (device->removed) {
            *error = ERROR_FILE_NOT_FOUND;
            return nullptr;
        }
        if (device->hostOpen) {
            *error = ERROR_ACCESS_DENIED;
            return nullptr;
        }
        device->hostOpen = true;
        device->toHost.clear();
        device->toPeer.clear();
        device->txFifo.clear();
        device->pendingErrors = 0;
        device->pendingBreak = false;
        device->dtr = device->rts = true;  // the port comes up with DTR and RTS on
        device->LinesChangedLocked();
        device->Signal();
    }
    return std::make_unique<VirtualBackend>(device);
}

// --- the peer -----------------------------------------------------------------

VirtualPort::VirtualPort(const std::u16string& comName) : device_(std::make_shared<VirtualPortDevice>())
{
    unsigned index = nextIndex++;
    std::lock_guard<std::mutex> lock(registryMutex);
    device_->comName = comName.empty() ? FreeComName(1) : UpperAscii(comName);
    device_->kernelName = u"\\Device\\nrVirtual" + FromUtf8(std::to_string(index));
    Registry()[device_->comName] = device_;
    PortMapEntry entry;
    entry.ComName = device_->comName;
    std::string digits = std::to_string(index);
    entry.DevicePath = "virtual:" + digits;
    entry.KernelName = device_->kernelName;
    entry.Virtual = true;
    RegisterLocalPort(entry);
}

VirtualPort::~VirtualPort() { Remove(); }

const std::u16string& VirtualPort::ComName() const { return device_->comName; }
const std::u16string& VirtualPort::KernelName() const { return device_->kernelName; }

bool VirtualPort::HostOpen() const
{
    std::lock_guard<std::mutex> lock(device_->mutex);
    return device_->hostOpen && !device_->removed;
}

void VirtualPort::Write(const void* data, size_t count)
{
    std::lock_guard<std::mutex> lock(device_->mutex);
    if (!device_->hostOpen || device_->removed) return;  // nobody listens on the line
    device_->toHost.append(static_cast<const char*>(data), count);
    device_->Signal();
}

size_t VirtualPort::Read(void* buffer, size_t capacity, unsigned timeoutMs)
{
    std::unique_lock<std::mutex> lock(device_->mutex);
    device_->peerCv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [this] { return !device_->toPeer.empty() || device_->removed; });
    size_t n = std::min(capacity, device_->toPeer.size());
    std::copy_n(device_->toPeer.begin(), n, static_cast<char*>(buffer));
    device_->toPeer.erase(0, n);
    return n;
}

std::string VirtualPort::ReadExactly(size_t count, unsigned timeoutMs)
{
    std::unique_lock<std::mutex> lock(device_->mutex);
    device_->peerCv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return device_->toPeer.size() >= count || device_->removed; });
    size_t n = std::min(count, device_->toPeer.size());
    std::string result = device_->toPeer.substr(0, n);
    device_->toPeer.erase(0, n);
    return result;
}

std::string VirtualPort::ReadAvailable()
{
    std::lock_guard<std::mutex> lock(device_->mutex);
    return std::exchange(device_->toPeer, std::string());
}

void VirtualPort::SetDataCallback(std::function<void(const std::string&)> callback)
{
    std::lock_guard<std::mutex> lock(device_->mutex);
    device_->dataCallback = std::move(callback);
}

bool VirtualPort::HostDTR() const
{
    std::lock_guard<std::mutex> lock(device_->mutex);
    return device_->dtr;
}

bool VirtualPort::HostRTS() const
{
    std::lock_guard<std::mutex> lock(device_->mutex);
    return device_->rts;
}

bool VirtualPort::HostBreak() const
{
    std::lock_guard<std::mutex> lock(device_->mutex);
    return device_->brk;
}

VirtualLineSettings VirtualPort::HostSettings() const
{
    std::lock_guard<std::mutex> lock(device_->mutex);
    return device_->settings;
}

void VirtualPort::SetLineCallback(std::function<void(bool, bool)> callback)
{
    std::lock_guard<std::mutex> lock(device_->mutex);
    device_->lineCallback = std::move(callback);
}

void VirtualPort::SetSettingsCallback(std::function<void(const VirtualLineSettings&)> callback)
{
    std::lock_guard<std::mutex> lock(device_->mutex);
    device_->settingsCallback = std::move(callback);
}

namespace {

void SetInput(VirtualPortDevice& device, DWORD bits, bool on)
{
    std::lock_guard<std::mutex> lock(device.mutex);
    DWORD inputs = on ? (device.inputs | bits) : (device.inputs & ~bits);
    if (inputs == device.inputs) return;
    device.inputs = inputs;
    device.linesChanged = true;
    device.Signal();
}

}  // namespace

void VirtualPort::SetCTS(bool on) { SetInput(*device_, MS_CTS_ON, on); }
void VirtualPort::SetDSR(bool on) { SetInput(*device_, MS_DSR_ON, on); }
void VirtualPort::SetRLSD(bool on) { SetInput(*device_, MS_RLSD_ON, on); }
void VirtualPort::SetRing(bool on) { SetInput(*device_, MS_RING_ON, on); }
void VirtualPort::SetDTR(bool on) { SetInput(*device_, MS_DSR_ON | MS_RLSD_ON, on); }
void VirtualPort::SetRTS(bool on) { SetInput(*device_, MS_CTS_ON, on); }

void VirtualPort::InjectErrors(DWORD ceMask)
{
    std::lock_guard<std::mutex> lock(device_->mutex);
    if (!device_->hostOpen) return;
    device_->pendingErrors |= ceMask & (CE_FRAME | CE_OVERRUN | CE_RXPARITY);
    device_->Signal();
}

void VirtualPort::SendBreak()
{
    std::lock_guard<std::mutex> lock(device_->mutex);
    if (!device_->hostOpen) return;
    device_->pendingBreak = true;
    device_->Signal();
}

void VirtualPort::Remove()
{
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        auto it = Registry().find(device_->comName);
        if (it != Registry().end() && it->second.lock() == device_) {
            Registry().erase(it);
            UnregisterLocalPort(device_->comName);
        }
    }
    std::lock_guard<std::mutex> lock(device_->mutex);
    device_->removed = true;
    device_->Signal();
    device_->peerCv.notify_all();
}

void VirtualPort::SetTransmitStalled(bool stalled)
{
    std::lock_guard<std::mutex> lock(device_->mutex);
    device_->stalled = stalled;
    if (!stalled && device_->paced) device_->nextCharacter = Clock::now() + device_->CharacterTimeLocked();
    device_->Signal();
}

void VirtualPort::SetTransmitPaced(bool paced)
{
    std::lock_guard<std::mutex> lock(device_->mutex);
    device_->paced = paced;
    if (paced) device_->nextCharacter = Clock::now() + device_->CharacterTimeLocked();
    device_->Signal();
}

}  // namespace winapi_posix
