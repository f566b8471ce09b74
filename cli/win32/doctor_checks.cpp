// Doctor's checks on Windows: the object manager says whether a COM or LPT port exists and what stands
// behind it, an open without a byte sent says whether another program holds it, and SetupAPI whether a USB
// printer is present under the printer interface class. Windows gives every user its ports: no group.
#include "cli/doctor.h"

#include "link/port_info.h"
#include "link/printer_port.h"
#include "link/win32/device_names.h"
#include "link/win32/wide_text.h"

#include <windows.h>

#include <memory>

namespace pw::cli {

std::vector<std::string> LocalClientsOf(const std::vector<std::string>&, std::uint16_t) {
    return {}; // Windows keeps the table of connections behind iphlpapi: not looked at
}

void CheckLocalPort(const std::string& port, bool given, Diagnosis& d) {
    const Severity absent = given ? Severity::Error : Severity::Info;
    if (port == "USB") {
        const PortInfo info = DescribePort(port);
        if (!info.present) {
            d.Add(
                "device", absent,
                "No USB printer is present under the printer class (GUID_DEVINTERFACE_USBPRINT). Plug it in "
                "and switch it on; if Device Manager lists it under \"Other devices\" or \"Universal Serial "
                "Bus devices\" instead, its USB interface is vendor class: set it to printer class (a memory "
                "or DIP switch on most printers), or install the maker's virtual COM port driver.",
                {"devmgmt.msc"});
            return;
        }
        d.device = info.device;
        d.Add("device", Severity::Ok, "A USB printer is present under the printer class.");
        return;
    }
    const bool deviceName = win32::IsDeviceNamespaceName(port);
    const std::string dosName = deviceName ? win32::WithoutDevicePrefix(port) : port;
    const std::string path = win32::DeviceNameFor(port);
    d.device = path;
    wchar_t target[512] = {};
    if (::QueryDosDeviceW(win32::Widen(dosName).c_str(), target, sizeof target / sizeof target[0]) == 0) {
        d.Add("device", absent,
              dosName + " does not exist on this machine. Device Manager lists the COM ports there are under "
                        "\"Ports (COM & LPT)\"; a USB-serial adapter without its driver is under \"Other "
                        "devices\".",
              {"devmgmt.msc", "mode"});
        return;
    }
    d.Add("device", Severity::Ok, dosName + " exists (" + win32::Narrow(target) + ").");
    // An open that sends nothing: a port is one program's at a time.
    const HANDLE h = ::CreateFileW(win32::Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        ::CloseHandle(h);
        d.Add("holder", Severity::Ok, "No other program holds " + dosName + ".");
        return;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION)
        d.Add("holder", Severity::Error,
              dosName +
                  " is held by another program: a port is one program's at a time, and Windows does "
                  "not say whose. Close the printer's own utility, a till or terminal program, or a "
                  "print queue on this port; Resource Monitor finds it: CPU, Associated Handles, search "
                  "for " +
                  win32::Narrow(target) + ".",
              {"resmon"});
    else
        d.Add("holder", Severity::Error,
              dosName + " exists but cannot be opened (error " + std::to_string(error) + ").");
}

} // namespace pw::cli
