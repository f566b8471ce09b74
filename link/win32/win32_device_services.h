// DeviceServices on Win32: straight through to the kernel's device calls (CreateFileA, the DCB,
// COMMTIMEOUTS, overlapped WriteFile), to SetupAPI for the USB printer interfaces, and to Winsock for
// printers on the network ("tcp://HOST:PORT").
#pragma once

#include "link/device_services.h"

#include <map>
#include <memory>
#include <mutex>

namespace pw::win32 {

class Win32DeviceServices : public DeviceServices {
  public:
    Win32DeviceServices();
    ~Win32DeviceServices() override;

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
    struct Write;
    struct Worker;

  private:
    std::shared_ptr<Device> Find(DeviceHandle h);
    void FinishWrites(DeviceHandle h, bool cancel);
    void SetProblem(std::string problem);
    DeviceHandle Connect(const std::string& name);

    std::mutex m_mutex;
    std::map<DeviceHandle, std::shared_ptr<Device>> m_devices;
    std::map<std::uint64_t, std::unique_ptr<Write>> m_writes;
    std::map<ThreadHandle, std::shared_ptr<Worker>> m_workers;
    std::uint64_t m_nextWrite = 1;
    ThreadHandle m_nextThread = 1;
    std::string m_openProblem;
};

} // namespace pw::win32
