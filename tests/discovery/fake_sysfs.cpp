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
    if (!Dev.empty())
        std::ofstream(fs::path(Dev) / Tty);
}

}  // namespace

TFakeSysfs::TFakeSysfs(std::string Root) : fRoot(std::move(Root)) {}

void TFakeSysfs::Clear()
{
    std::error_code Ignored;
    for (const char* Sub : {"class", "devices", "bus"})
        fs::remove_all(fs::path(fRoot) / Sub, Ignored);
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

std::string TFakeSysfs::AddUart(const std::string& Tty)
{
    const fs::path Root(fRoot);
    const fs::path Platform = Root / "devices/platform/serial8250";
    const fs::path TtyDir = Platform / "tty" / Tty;
    fs::create_directories(Root / "bus/platform/drivers/serial8250");
    Link(Root / "bus/platform/drivers/serial8250", Platform / "driver");
    WriteAttr(TtyDir / "dev", "4:64");
    WriteAttr(TtyDir / "type", "4");  // PORT_16550A: a UART is there
    WriteAttr(TtyDir / "port", "0x3F8");
    Link(Platform, TtyDir / "device");
    WriteAttr(TtyDir / "uevent", "MAJOR=4\nMINOR=64\nDEVNAME=" + Tty);
    Link(TtyDir, Root / "class/tty" / Tty);
    TouchDeviceNode(Tty);
    return TtyDir.string();
}

void TFakeSysfs::Remove(const std::string& Tty)
{
    const fs::path Link = fs::path(fRoot) / "class/tty" / Tty;
    std::error_code Ignored;
    const fs::path Target = fs::canonical(Link, Ignored);
    fs::remove(Link, Ignored);
    if (!Target.empty())
        fs::remove_all(Target, Ignored);
    const std::string Dev = DevRoot();
    if (!Dev.empty())
        fs::remove(fs::path(Dev) / Tty, Ignored);
}
