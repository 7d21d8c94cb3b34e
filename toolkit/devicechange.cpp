// Device-change broadcasts for a window (see devicechange.h).
#include "toolkit/devicechange.h"

#include "toolkit/classes.h"
#include "toolkit/forms.h"
#include "toolkit/sysutils.h"

#include <vector>

#ifdef _WIN32

#include <dbt.h>

struct TDeviceChangeWatch::TImpl {
    THandler Handler;
    HWND Window = nullptr;

    static LRESULT CALLBACK WindowProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam)
    {
        if (Msg == WM_DEVICECHANGE) {
            auto* self = reinterpret_cast<TImpl*>(GetWindowLongPtrW(Wnd, GWLP_USERDATA));
            if (self && self->Handler) {
                MSG m{};
                m.hwnd = Wnd;
                m.message = Msg;
                m.wParam = WParam;
                m.lParam = LParam;
                GuardedCall([&] { self->Handler(m); });
            }
            return TRUE;  // no objection to any request
        }
        return DefWindowProcW(Wnd, Msg, WParam, LParam);
    }
};

TDeviceChangeWatch::TDeviceChangeWatch(THandler OnDeviceChange) : fImpl(std::make_unique<TImpl>())
{
    fImpl->Handler = std::move(OnDeviceChange);
    static const wchar_t* const ClassName = L"TDeviceChangeWatch";
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW wc{};
    wc.lpfnWndProc = &TImpl::WindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = ClassName;
    RegisterClassW(&wc);  // fails harmlessly when registered already
    // A top-level window: message-only windows get no broadcasts.
    fImpl->Window =
        CreateWindowExW(WS_EX_TOOLWINDOW, ClassName, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance, nullptr);
    if (!fImpl->Window)
        throw Exception(
            Format(u"The device-change window cannot be created (error %u)", {static_cast<unsigned>(GetLastError())}));
    SetWindowLongPtrW(fImpl->Window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(fImpl.get()));
}

TDeviceChangeWatch::~TDeviceChangeWatch()
{
    SetWindowLongPtrW(fImpl->Window, GWLP_USERDATA, 0);
    DestroyWindow(fImpl->Window);
}

#else

#include "platform/posix/portwatch.h"

#include <cstddef>
#include <cstring>
#include <system_error>

struct TDeviceChangeWatch::TImpl {
    // Cleared on destruction; the main thread's queued reports look at it first.
    std::shared_ptr<THandler> Handler;
    std::unique_ptr<winapi_posix::PortMapWatcher> Watcher;
};

namespace {

// The message as Windows sends it: a port broadcast with the name.
void Deliver(const TDeviceChangeWatch::THandler& Handler, const std::u16string& ComName, bool Arrived)
{
    // The name runs past the declared one-character array, as in the system's record.
    std::vector<std::uint8_t> record(sizeof(DEV_BROADCAST_PORT_W) + ComName.size() * sizeof(WCHAR));
    auto* port = reinterpret_cast<DEV_BROADCAST_PORT_W*>(record.data());
    port->dbcp_size = static_cast<DWORD>(record.size());
    port->dbcp_devicetype = DBT_DEVTYP_PORT;
    port->dbcp_reserved = 0;
    std::memcpy(record.data() + offsetof(DEV_BROADCAST_PORT_W, dbcp_name), ComName.c_str(),
                (ComName.size() + 1) * sizeof(WCHAR));
    MSG m{};
    m.message = WM_DEVICECHANGE;
    m.wParam = Arrived ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE;
    m.lParam = reinterpret_cast<LPARAM>(port);
    Handler(m);
}

}  // namespace

TDeviceChangeWatch::TDeviceChangeWatch(THandler OnDeviceChange) : fImpl(std::make_unique<TImpl>())
{
    fImpl->Handler = std::make_shared<THandler>(std::move(OnDeviceChange));
    std::weak_ptr<THandler> target = fImpl->Handler;
    try {
        fImpl->Watcher =
            std::make_unique<winapi_posix::PortMapWatcher>([target](const std::u16string& ComName, bool Arrived) {
                TThread::Queue([target, ComName, Arrived] {
                    if (auto handler = target.lock()) Deliver(*handler, ComName, Arrived);
                });
            });
    } catch (const std::system_error& e) {
        throw Exception(u"Ports cannot be watched: " + Utf8ToUnicode(e.what()));
    }
}

TDeviceChangeWatch::~TDeviceChangeWatch()
{
    fImpl->Watcher.reset();
    fImpl->Handler.reset();
}

#endif
