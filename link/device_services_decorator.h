// A DeviceServices that hands every call to another one: the base of the decorators that trace a port's
// bytes or cut its waits short. A decorator overrides only what it adds to.
#pragma once

#include "link/device_services.h"

namespace pw {

class DeviceServicesDecorator : public DeviceServices {
  public:
    explicit DeviceServicesDecorator(DeviceServices& inner) : m_inner(inner) {}

    DeviceHandle CreateFile(const std::string& name, ShareMode share) override {
        return m_inner.CreateFile(name, share);
    }
    DeviceHandle Connect(const std::string& name, std::uint32_t limitMs) override {
        return m_inner.Connect(name, limitMs);
    }
    bool LookUpHost(const std::string& name, std::uint32_t limitMs, std::vector<std::string>& found,
                    std::string& problem) override {
        return m_inner.LookUpHost(name, limitMs, found, problem);
    }
    bool CloseHandle(DeviceHandle h) override { return m_inner.CloseHandle(h); }
    bool GetCommState(DeviceHandle h, LineSettings& settings) override {
        return m_inner.GetCommState(h, settings);
    }
    bool SetCommState(DeviceHandle h, const LineSettings& settings) override {
        return m_inner.SetCommState(h, settings);
    }
    bool SetCommTimeouts(DeviceHandle h, const TimeLimits& limits) override {
        return m_inner.SetCommTimeouts(h, limits);
    }
    void SetCommMask(DeviceHandle h, std::uint32_t mask) override { m_inner.SetCommMask(h, mask); }
    void PurgeComm(DeviceHandle h, std::uint32_t flags) override { m_inner.PurgeComm(h, flags); }
    bool GetOutputQueue(DeviceHandle h, std::uint32_t& queued) override {
        return m_inner.GetOutputQueue(h, queued);
    }
    bool WriteFile(DeviceHandle h, const std::uint8_t* data, std::uint32_t length, std::uint32_t& written,
                   PendingWrite& pending) override {
        return m_inner.WriteFile(h, data, length, written, pending);
    }
    bool GetOverlappedResult(DeviceHandle h, PendingWrite& pending, std::uint32_t& written,
                             bool wait) override {
        return m_inner.GetOverlappedResult(h, pending, written, wait);
    }
    void CancelIo(DeviceHandle h) override { m_inner.CancelIo(h); }
    bool ReadFile(DeviceHandle h, std::uint8_t* buffer, std::uint32_t length, std::uint32_t& read) override {
        return m_inner.ReadFile(h, buffer, length, read);
    }
    std::uint32_t GetLastError() override { return m_inner.GetLastError(); }
    void SetLastError(std::uint32_t error) override { m_inner.SetLastError(error); }
    std::uint32_t GetTickCount() override { return m_inner.GetTickCount(); }
    void Sleep(std::uint32_t ms) override { m_inner.Sleep(ms); }
    void SleepUncut(std::uint32_t ms) override { m_inner.SleepUncut(ms); }
    bool GetVersionEx(OsVersion& version, bool extended) override {
        return m_inner.GetVersionEx(version, extended);
    }
    bool EnumUsbInterface(std::uint32_t index, std::string& path) override {
        return m_inner.EnumUsbInterface(index, path);
    }
    ThreadHandle StartThread(std::function<void()> body) override {
        return m_inner.StartThread(std::move(body));
    }
    void StopThread(ThreadHandle t) override { m_inner.StopThread(t); }
    void JoinThread(ThreadHandle t) override { m_inner.JoinThread(t); }
    std::string LastOpenProblem() override { return m_inner.LastOpenProblem(); }

  protected:
    DeviceServices& Inner() const { return m_inner; }

  private:
    DeviceServices& m_inner;
};

} // namespace pw
