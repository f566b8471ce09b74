// Linux devices behind DeviceServices. Each transport lives in a file of its own: device files (terminals,
// /dev/lpN, /dev/usb/lpN) in terminal.cpp, network printers in socket.cpp, the USB walk in
// usb_interfaces.cpp, and every wait, woken when its worker thread is asked to stop, in waits.cpp. This
// class keeps the open devices by handle and hands each call to its device.
#pragma once

#include "link/device_services.h"
#include "link/posix/usb_interfaces.h"
#include "link/worker_threads.h"

#include <map>
#include <memory>
#include <mutex>

namespace pw::posix {

class PosixDevice;

class PosixDeviceServices : public DeviceServices {
  public:
    PosixDeviceServices();
    ~PosixDeviceServices() override;

    DeviceHandle CreateFile(const std::string& name, ShareMode share) override;
    DeviceHandle Connect(const std::string& name, std::uint32_t limitMs) override;
    bool LookUpHost(const std::string& name, std::uint32_t limitMs, std::vector<std::string>& found,
                    std::string& problem) override;
    bool CloseHandle(DeviceHandle h) override;
    bool GetCommState(DeviceHandle h, LineSettings& settings) override;
    bool SetCommState(DeviceHandle h, const LineSettings& settings) override;
    bool SetCommTimeouts(DeviceHandle h, const TimeLimits& limits) override;
    void SetCommMask(DeviceHandle h, std::uint32_t mask) override;
    void PurgeComm(DeviceHandle h, std::uint32_t flags) override;
    bool GetOutputQueue(DeviceHandle h, std::uint32_t& queued) override;
    bool WriteFile(DeviceHandle h, const std::uint8_t* data, std::uint32_t length, std::uint32_t& written,
                   PendingWrite& pending) override;
    bool GetOverlappedResult(DeviceHandle h, PendingWrite& pending, std::uint32_t& written,
                             bool wait) override;
    void CancelIo(DeviceHandle h) override;
    bool ReadFile(DeviceHandle h, std::uint8_t* buffer, std::uint32_t length, std::uint32_t& read) override;
    std::uint32_t GetLastError() override;
    void SetLastError(std::uint32_t error) override;
    std::uint32_t GetTickCount() override;
    void Sleep(std::uint32_t ms) override;
    bool GetVersionEx(OsVersion& version, bool extended) override;
    bool EnumUsbInterface(std::uint32_t index, std::string& path) override;
    ThreadHandle StartThread(std::function<void()> body) override;
    void StopThread(ThreadHandle t) override;
    void JoinThread(ThreadHandle t) override;
    std::string LastOpenProblem() override;

  private:
    std::shared_ptr<PosixDevice> Find(DeviceHandle h);
    DeviceHandle Keep(std::unique_ptr<PosixDevice> device, const std::string& problem);
    void SetProblem(std::string problem);

    std::mutex m_mutex;
    std::map<DeviceHandle, std::shared_ptr<PosixDevice>> m_devices;
    DeviceHandle m_nextHandle = 0x100;
    std::string m_openProblem;
    UsbInterfaces m_usb;
    WorkerThreads m_workers; // last: its workers end before the devices they use are closed
};

} // namespace pw::posix
