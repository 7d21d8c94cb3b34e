// The serial component with its insides (line settings, buffer, notification
// list) reachable for checks, its threads stopped before its dynamic type
// changes, and RS485 emulation on demand.
#pragma once

#include <cstdint>

#include "comm/nrcomm/nrcomm.h"

class TTestComm : public TnrComm {
public:
    explicit TTestComm(TComponent* AOwner = nullptr) : TnrComm(AOwner) {}
    ~TTestComm() override { StopThreadsForDestroy(); }

    DCB& Dcb() { return CommCfg.dcb; }
    COMMCONFIG& Config() { return CommCfg; }
    uint32_t ReceiveBufferSize() const { return glBufferSize; }
    bool HasReceiveBuffer() const { return glBuffer != nullptr; }
    const UnicodeString& LogPrefix() const { return sLogPrefix; }
    void EmulateRS485() { fIsNotSupportRS485 = true; }
    int NotifyCount() const { return nrNotifyList->Count(); }
};
