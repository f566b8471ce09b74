// Linux device files behind DeviceServices: termios serial ports, /dev/lpN, the USB printer class
// devices /dev/usb/lpN, and TCP connections to network printers ("tcp://HOST:PORT"). Every wait runs
// through poll() against a monotonic deadline.
#pragma once

#include "link/device_services.h"

#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace pw::posix {

class PosixDeviceServices : public DeviceServices {
  public:
    PosixDeviceServices();
    ~PosixDeviceServices() override;

    DeviceHandle CreateFile(const std::string& name, ShareMode share) override;
    bool CloseHandle(DeviceHandle h) override;
    bool GetCommState(DeviceHandle h, LineSettings& settings) override;
    bool SetCommState(DeviceHandle h, const LineSettings& settings) override;
    bool SetCommTimeouts(DeviceHandle h, const TimeLimits& limits) override;
    void SetCommMask(DeviceHandle h, std::uint32_t mask) override;
    void PurgeComm(DeviceHandle h, std::uint32_t flags) override;
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

    struct Device;
    struct Worker;

  private:
    std::shared_ptr<Device> Find(DeviceHandle h);
    bool Fail(std::uint32_t error);
    DeviceHandle Add(std::shared_ptr<Device> dev);
    DeviceHandle Connect(const std::string& name);

    std::mutex m_mutex;
    std::map<DeviceHandle, std::shared_ptr<Device>> m_devices;
    std::map<ThreadHandle, std::shared_ptr<Worker>> m_workers;
    DeviceHandle m_nextHandle = 0x100;
    ThreadHandle m_nextThread = 1;
    std::string m_openProblem;
    std::map<std::thread::id, std::vector<std::string>> m_usbSnapshot; // per walking thread
};

// The poll() timeout for a deadline: 0 once it passed, INT_MAX for one further away than that.
int PollTimeout(std::uint64_t deadlineMs, std::uint64_t nowMs);

// errno of a failed system call as the port's error code.
std::uint32_t ErrorFromErrno(int err);

} // namespace pw::posix
