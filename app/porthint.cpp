#include "app/porthint.h"

#include "platform/device_access.h"

UnicodeString PortAccessHint(const UnicodeString& ComName)
{
    const platform::TDeviceAccess access = platform::DeviceAccessOf(ComName);
    if (!access.Denied) return {};
    const std::string file = access.DevicePath;
    const std::string group = "\u201E" + access.GroupName + "\u201C";
    const std::string join = "nehmen Sie Ihren Benutzer in die Gruppe " + group + " auf (sudo usermod -aG " +
                             access.GroupName + " $USER) und melden Sie sich danach ab und wieder an.";
    std::string text = "Hinweis: Ihr Benutzer darf die Gerätedatei " + file + " nicht lesen und schreiben. ";
    if (access.GroupMayReadWrite)
        text += "Sie gehört der Gruppe " + group + ": " + join;
    else
        text += "Auch die Gruppe " + group +
                ", der sie gehört, darf es nicht. Ein Administrator gibt der Gruppe "
                "das Recht (sudo chmod g+rw " +
                file + ", dauerhaft mit einer udev-Regel); dann " + join;
    return Utf8ToUnicode(text);
}
