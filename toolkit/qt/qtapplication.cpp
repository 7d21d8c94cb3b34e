#include "toolkit/qt/qtapplication.h"
