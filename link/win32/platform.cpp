#include "link/printer_port.h"
#include "link/win32/win32_device_services.h"

namespace pw {

DeviceServices& PlatformServices() {
    static win32::Win32DeviceServices services;
    return services;
}

} // namespace pw
