#include "toolkit/stdctrls.h"
#include "toolkit/extctrls.h"
