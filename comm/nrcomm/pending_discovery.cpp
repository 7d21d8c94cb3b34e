// Temporary body of the port enumeration so that the library links; replaced
// by its implementation. Until then the device list stays empty.
#include "comm/nrcomm/nrcomm.h"

void TnrCustomSerialComm::DeviceListLoad() {}
