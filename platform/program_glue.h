// What the Linux program hands to or takes from the platform layer besides
// the Win32 calls: a free COM name for the built-in simulator's virtual port,
// and the desktop provider (the GUI's MessageBoxW, CommConfigDialogW and
// foreground window). Windows has its own desktop and no virtual ports.
#pragma once

#ifndef _WIN32
#include "platform/posix/desktop.h"
#include "platform/posix/portmap.h"

namespace platform {

using winapi_posix::DesktopProvider;
using winapi_posix::FreeComName;
using winapi_posix::SetDesktopProvider;

}  // namespace platform
#endif
