// Advice for a port that does not open because this user may not use its
// device file (Linux: group membership). The component's own message stays
// as it is; the program adds this text below it.
#pragma once

#include "toolkit/sysutils.h"

// The German hint for ComName, naming its device file and the fix; "" when
// the device file is not the reason (or there is none, as on Windows).
UnicodeString PortAccessHint(const UnicodeString& ComName);
