// A fake sysfs tree laid out as Linux lays out serial devices, for the port
// map and the SetupAPI layer (SPECTRO_SYSFS_ROOT points at it).
#pragma once

#include <string>

class TFakeSysfs {
public:
    explicit TFakeSysfs(std::string Root);
    // Removes every device.
    void Clear();
    // A USB serial adapter (ttyUSB<n> behind a usb-serial driver, or ttyACM<n>
    // behind cdc_acm); returns the tty's device folder.
    std::string AddUsbSerial(const std::string& Tty, const std::string& Manufacturer, const std::string& Product,
                             const std::string& Driver, const std::string& Vid = "0403",
                             const std::string& Pid = "6001", const std::string& Serial = "A1B2C3");

private:
    std::string fRoot;
    int fNextUsbPort = 1;
};
