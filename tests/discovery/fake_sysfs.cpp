#include "tests/discovery/fake_sysfs.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

void WriteAttr(const fs::path& Path, const std::string& Value)
{
    fs::create_directories(Path.parent_path());
    std::ofstream(Path) << Value << "\n";
}

void Link(const fs::path& Target, const fs::path& LinkPath)
{
    fs::create_directories(LinkPath.parent_path());
    std::error_code Ignored;
    fs::remove(LinkPath, Ignored);
    fs::create_directory_symlink(fs::relative(Target, LinkPath.parent_path()), LinkPath);
}

std::string DevRoot()
{
    const char* Dev = std::getenv("SPECTRO_DEV_ROOT");
    return Dev ? Dev : "";
}

void TouchDeviceNode(const std::string& Tty)
{
    const std::string Dev = DevRoot();
    if (!Dev.empty()) std::ofstream(fs::path(Dev) / Tty);
}

}  // namespace

TFakeSysfs::TFakeSysfs(std::string Root) : fRoot(std::move(Root)) {}

void TFakeSysfs::Clear()
{
    std::error_code Ignored;
    for (const char* Sub : {"class", "devices", "bus"}) fs::remove_all(fs::path(fRoot) / Sub, Ignored);
    fs::create_directories(fs::path(fRoot) / "class" / "tty");
    const std::string Dev = DevRoot();
    if (!Dev.empty()) {
        fs::remove_all(Dev, Ignored);
        fs::create_directories(Dev);
    }
    fNextUsbPort = 1;
}

std::string TFakeSysfs::AddUsbSerial(const std::string& Tty, const std::string& Manufacturer,
                                     const std::string& Product, const std::string& Driver, const std::string& Vid,
                                     const std::string& Pid, const std::string& Serial)
{
    const fs::path Root(fRoot);
    const std::string Port = "1-" + std::to_string(fNextUsbPort++);
    const fs::path Usb = Root / "devices/pci0000:00/0000:00:14.0/usb1" / Port;
    WriteAttr(Usb / "idVendor", Vid);
    WriteAttr(Usb / "idProduct", Pid);
    WriteAttr(Usb / "serial", Serial);
    WriteAttr(Usb / "manufacturer", Manufacturer);
    WriteAttr(Usb / "product", Product);
    WriteAttr(Usb / "uevent", "DEVTYPE=usb_device\nDRIVER=usb\nPRODUCT=" + Vid + "/" + Pid + "/600");
    const fs::path Interface = Usb / (Port + ":1.0");
    WriteAttr(Interface / "uevent", "DEVTYPE=usb_interface\nDRIVER=" + Driver);
    fs::create_directories(Root / "bus/usb/drivers" / Driver);
    Link(Root / "bus/usb/drivers" / Driver, Interface / "driver");
    fs::path TtyDir;
    if (Tty.rfind("ttyUSB", 0) == 0) {
        const fs::path UsbSerial = Interface / Tty;
        fs::create_directories(Root / "bus/usb-serial/drivers" / Driver);
        Link(Root / "bus/usb-serial/drivers" / Driver, UsbSerial / "driver");
        WriteAttr(UsbSerial / "uevent", "DRIVER=" + Driver);
        TtyDir = UsbSerial / "tty" / Tty;
        Link(UsbSerial, TtyDir / "device");
    } else {
        TtyDir = Interface / "tty" / Tty;
        Link(Interface, TtyDir / "device");
    }
    WriteAttr(TtyDir / "dev", "188:0");
    WriteAttr(TtyDir / "uevent", "MAJOR=188\nMINOR=0\nDEVNAME=" + Tty);
    Link(TtyDir, Root / "class/tty" / Tty);
    TouchDeviceNode(Tty);
    return TtyDir.string();
}
