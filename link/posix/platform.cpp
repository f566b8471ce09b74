#include "link/posix/posix_device_services.h"
#include "link/printer_port.h"

namespace pw {

DeviceServices& NativeServices() {
    static posix::PosixDeviceServices services;
    return services;
}

std::unique_ptr<DeviceServices> NewPlatformServices() {
    return std::make_unique<posix::PosixDeviceServices>();
}

} // namespace pw
