// The acquisition's view without widgets: fields instead of controls.
#pragma once

#include <vector>

#include "app/acquisition.h"

struct TFakeView : TAcquisitionView {
    UnicodeString Command = u"s1000";
    UnicodeString Exposure = u"10";
    std::vector<UnicodeString> List;
    UnicodeString Celsius, Fahrenheit;
    int Completed = 0;

    UnicodeString CommandText() const override { return Command; }
    void SetCommandText(const UnicodeString& S) override { Command = S; }
    UnicodeString ExposureText() const override { return Exposure; }
    void AddListLine(const UnicodeString& S) override { List.push_back(S); }
    void ClearList() override { List.clear(); }
    void SetCelsiusText(const UnicodeString& S) override { Celsius = S; }
    void SetFahrenheitText(const UnicodeString& S) override { Fahrenheit = S; }
    void SpectrumComplete() override { ++Completed; }
};
