// What the port names stand for on Windows: the DOS device behind "COMn" and "LPTn" as the object
// manager knows it, and for "USB" the first USB printer interface present. The USB walk runs on device
// services of its own: a tooltip looks on the window's thread while the port's worker may be using the
// port's services, whose open problem the walk would overwrite.
#include "link/port_info.h"

#include "link/printer_port.h"
#include "link/win32/device_names.h"
#include "link/win32/wide_text.h"

#include <windows.h>

#include <memory>

namespace pw {

PortInfo DescribePort(const std::string& name) {
    PortInfo info;
    info.name = name;
    if (name == "USB") {
        std::string path;
        const std::unique_ptr<DeviceServices> own = NewPlatformServices();
        if (own->EnumUsbInterface(0, path)) {
            info.device = path;
            info.present = true;
            info.access = PortAccess::Granted;
        }
        return info;
    }
    info.device = win32::DeviceNameFor(name);
    wchar_t target[512] = {};
    // "COM3" -> "\Device\Serial2" or "\Device\VCP0": present, and what stands behind it.
    if (::QueryDosDeviceW(win32::Widen(name).c_str(), target, sizeof target / sizeof target[0]) != 0) {
        info.present = true;
        info.product = win32::Narrow(target);
        // Windows gives every user its serial, parallel and USB printer ports: no group to join.
        info.access = PortAccess::Granted;
    }
    return info;
}

} // namespace pw
