#include "link/interruptible_device_services.h"

#include <algorithm>

namespace pw {

namespace {
constexpr std::uint32_t kSliceMs = 20;
}

InterruptibleDeviceServices::InterruptibleDeviceServices(DeviceServices& inner, const std::atomic<bool>& stop)
    : DeviceServicesDecorator(inner), m_stop(stop) {}

bool InterruptibleDeviceServices::ReadFile(DeviceHandle h, std::uint8_t* buffer, std::uint32_t length,
                                           std::uint32_t& read) {
    if (m_stop.load()) {
        read = 0;
        return true;
    }
    return Inner().ReadFile(h, buffer, length, read);
}

void InterruptibleDeviceServices::Sleep(std::uint32_t ms) {
    DeviceServices& os = Inner();
    const std::uint32_t start = os.GetTickCount();
    for (;;) {
        if (m_stop.load()) return;
        const std::uint32_t elapsed = os.GetTickCount() - start;
        if (elapsed >= ms) return;
        os.Sleep(std::min(kSliceMs, ms - elapsed));
    }
}

} // namespace pw
