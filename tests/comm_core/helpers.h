// Test doubles of the component tests.
#pragma once

#include <string>
#include <vector>

#include "comm/nrcomm/nrcomm.h"
#include "tests/support/recording_log.h"
#include "tests/support/test_comm.h"

// Records the codes announced through a component's notification list.
class TNotifyRecorder : public TObject {
public:
    void DeviceNotify(TObject* Sender, int Code)
    {
        Senders.push_back(Sender);
        Codes.push_back(Code);
    }
    TnrNotifyEvent Event() { return TnrNotifyEvent::Bind(this, &TNotifyRecorder::DeviceNotify); }
    std::vector<TObject*> Senders;
    std::vector<int> Codes;
};
