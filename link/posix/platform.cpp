#include "link/posix/posix_device_services.h"
#include "link/printer_port.h"

namespace pw {

DeviceServices& PlatformServices() {
    static posix::PosixDeviceServices services;
    return services;
}

} // namespace pw
