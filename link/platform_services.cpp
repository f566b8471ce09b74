// The device services the program talks through: the platform's own, traced to a file when
// PINWRIGHT_TRACE names one.
#include "link/printer_port.h"
#include "link/tracing_device_services.h"

#include <cstdio>
#include <cstdlib>

namespace pw {

DeviceServices& PlatformServices() {
    static DeviceServices& chosen = []() -> DeviceServices& {
        DeviceServices& native = NativeServices();
        const char* path = std::getenv("PINWRIGHT_TRACE");
        if (!path || !*path) return native;
        std::string error;
        static std::unique_ptr<TraceSink> sink = TraceSink::Open(path, error);
        if (!sink) {
            std::fprintf(stderr, "pinwright: %s\n", error.c_str());
            return native;
        }
        static TracingDeviceServices traced(native, *sink);
        return traced;
    }();
    return chosen;
}

} // namespace pw
