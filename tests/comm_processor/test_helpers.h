// Doubles of the processor tests: the recording sink and a device component
// without a device behind it.
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "comm/nrclasses/nrclasses.h"
#include "tests/support/recording_log.h"

// A device component that is never open; tests drive its notifications and
// receive dispatch directly and see what is sent through it.
class TFakeIO : public TnrBaseIO {
public:
    explicit TFakeIO(TComponent* AOwner) : TnrBaseIO(AOwner) { sLogPrefix = u"fake: "; }

    int32_t GetDeviceIndex() override { return -1; }
    void DeviceListLoad() override {}
    void SendChar(char16_t Ch) override { Sent.push_back(std::string(1, static_cast<char>(Ch & 0xFF))); }
    void SendString(const AnsiString& S) override { SentStrings.push_back(S); }
    void SendData(const uint8_t* Buff, uint32_t N) override
    {
        if (FailSends) throw Exception(u"send failed");
        Sent.emplace_back(reinterpret_cast<const char*>(Buff), N);
    }
    void ClearDeviceInput() override {}
    void ClearDeviceOutput() override {}
    void ClearDeviceBuffers() override {}

    std::vector<std::string> Sent;
    std::vector<std::string> SentStrings;
    bool FailSends = false;
};
