#include "link/posix/posix_device_services.h"
#include "link/printer_port.h"
#include "link/tracing_device_services.h"

#include <cstdio>
#include <cstdlib>

namespace pw {

DeviceServices& PlatformServices() {
    static posix::PosixDeviceServices services;
    static DeviceServices& chosen = []() -> DeviceServices& {
        const char* path = std::getenv("PINWRIGHT_TRACE");
        if (!path || !*path) return services;
        std::string error;
        static std::unique_ptr<TraceSink> sink = TraceSink::Open(path, error);
        if (!sink) {
            std::fprintf(stderr, "pinwright: %s\n", error.c_str());
            return services;
        }
        static TracingDeviceServices traced(services, *sink);
        return traced;
    }();
    return chosen;
}

std::unique_ptr<DeviceServices> NewPlatformServices() {
    return std::make_unique<posix::PosixDeviceServices>();
}

} // namespace pw
