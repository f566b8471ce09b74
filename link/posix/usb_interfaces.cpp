#include "link/posix/usb_interfaces.h"

#include "link/posix/device_names.h"

#include <cstdlib>

namespace pw::posix {

bool UsbInterfaces::At(std::uint32_t index, std::string& path, std::string& problem) {
    const std::thread::id walker = std::this_thread::get_id();
    std::vector<std::string> devices;
    if (index == 0) {
        devices = UsbPrinterDevices();
        std::lock_guard lock(m_mutex);
        m_walks[walker] = devices;
    } else {
        std::lock_guard lock(m_mutex);
        devices = m_walks[walker];
    }
    if (index == 0 && devices.empty()) {
        const char* dir = std::getenv("PINWRIGHT_USB_DIR");
        problem = std::string("No USB printer found in ") + (dir && *dir ? dir : "/dev/usb") +
                  ": is the printer switched on and its cable plugged in?";
    }
    if (index >= devices.size()) {
        std::lock_guard lock(m_mutex);
        m_walks.erase(walker);
        return false;
    }
    path = devices[index];
    return true;
}

} // namespace pw::posix
