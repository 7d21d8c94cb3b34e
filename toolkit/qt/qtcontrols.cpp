#include "toolkit/qt/qtcontrols.h"
