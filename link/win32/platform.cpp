#include "link/printer_port.h"
#include "link/win32/win32_device_services.h"

namespace pw {

DeviceServices& NativeServices() {
    static win32::Win32DeviceServices services;
    return services;
}

std::unique_ptr<DeviceServices> NewPlatformServices() {
    return std::make_unique<win32::Win32DeviceServices>();
}

} // namespace pw
