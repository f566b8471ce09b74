// Lets a front end stop a port's work at once without cutting a command short: once `stop` is set, every
// sleep ends at once and every read returns at once with nothing, while writes still go out whole. A
// sequence then runs to its end in moments, and one that entered user setting mode still leaves it.
// A read already blocked when `stop` is set is woken by the backend's StopThread on the port's worker.
#pragma once

#include "link/device_services_decorator.h"

#include <atomic>

namespace pw {

class InterruptibleDeviceServices : public DeviceServicesDecorator {
  public:
    InterruptibleDeviceServices(DeviceServices& inner, const std::atomic<bool>& stop);

    bool ReadFile(DeviceHandle h, std::uint8_t* buffer, std::uint32_t length, std::uint32_t& read) override;
    // Sleeps in short slices against the tick count, so the whole wait stays as long as asked.
    void Sleep(std::uint32_t ms) override;

  private:
    const std::atomic<bool>& m_stop;
};

} // namespace pw
