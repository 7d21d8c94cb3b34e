// The event loop guard for Qt handlers.
//
// Qt does not let an exception pass through its event loop, so every handler
// the program connects (button clicks, text changes, timers, menu items) is
// wrapped in Guarded(): an exception is shown in a message box with its
// message, as the runtime's event loop does, and the program carries on.
// Synchronize requests and TTimer run inside the same guard (GuardedCall).
#pragma once

#include "toolkit/forms.h"

#include <type_traits>
#include <utility>

// Wraps Handler into a callable with the same arguments that runs it inside
// GuardedCall:   connect(b, &QPushButton::clicked, this, Guarded([this] { bSendClick(this); }));
template <class F>
auto Guarded(F&& Handler)
{
    return [H = std::forward<F>(Handler)](auto&&... Args) mutable {
        GuardedCall([&] {
            if constexpr (std::is_invocable_v<F&, decltype(Args)...>)
                H(std::forward<decltype(Args)>(Args)...);
            else
                H();  // a handler that ignores the signal's arguments
        });
    };
}
