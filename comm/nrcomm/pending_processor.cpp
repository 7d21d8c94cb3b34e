// Temporary bodies of the connection test, Plug and Play identification and
// configuration persistence so that the library links; replaced by their
// implementation.
#include "comm/nrcomm/nrcomm.h"

void TnrCustomSerialComm::SaveConfig(HKEY, const UnicodeString&, const UnicodeString&) {}
void TnrCustomSerialComm::LoadConfig(HKEY, const UnicodeString&, const UnicodeString&) {}
UnicodeString TnrCustomSerialComm::GetPNPDeviceString() { return UnicodeString(); }
void TnrCustomSerialComm::InitDeviceConnect() {}
