#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// The seam's own names, not the A/W macros.
#undef CreateFile
#undef GetVersionEx

#include "link/win32/win32_device_services.h"

#include "link/network_address.h"
#include "link/win32/win32_device.h"

namespace pw::win32 {

namespace {
thread_local std::uint32_t lastError = 0;
} // namespace

bool Fail(std::uint32_t error) {
    lastError = error;
    ::SetLastError(error);
    return false;
}

std::uint32_t LastError() {
    return lastError;
}

bool Win32Device::WriteResult(PendingWrite&, std::uint32_t& written, bool) {
    written = 0; // nothing of this device is ever pending
    return Fail(ERROR_INVALID_PARAMETER);
}

TimeLimits Win32Device::Limits() const {
    std::lock_guard lock(m_limitsMutex);
    return m_limits;
}

void Win32Device::KeepLimits(const TimeLimits& limits) {
    std::lock_guard lock(m_limitsMutex);
    m_limits = limits;
}

Win32DeviceServices::Win32DeviceServices(WorkerThreads::Launch launch)
    : m_workers(MakeEventWake, std::move(launch)) {}

Win32DeviceServices::~Win32DeviceServices() {
    m_workers.JoinAll();
    for (auto& [h, d] : m_devices) d->Close();
}

std::shared_ptr<Win32Device> Win32DeviceServices::Find(DeviceHandle h) {
    std::lock_guard lock(m_mutex);
    auto it = m_devices.find(h);
    return it == m_devices.end() ? nullptr : it->second;
}

void Win32DeviceServices::SetProblem(std::string problem) {
    std::lock_guard lock(m_mutex);
    m_openProblem = std::move(problem);
}

std::string Win32DeviceServices::LastOpenProblem() {
    std::lock_guard lock(m_mutex);
    return m_openProblem;
}

DeviceHandle Win32DeviceServices::Adopt(std::unique_ptr<Win32Device> device) {
    std::lock_guard lock(m_mutex);
    const DeviceHandle h = m_nextHandle++;
    m_devices[h] = std::move(device);
    m_openProblem.clear();
    return h;
}

DeviceHandle Win32DeviceServices::CreateFile(const std::string& name, ShareMode share) {
    std::string problem;
    std::unique_ptr<Win32Device> dev =
        IsNetworkName(name) ? ConnectNetworkPrinter(name, problem) : OpenDeviceFile(name, share, problem);
    if (!dev) {
        const std::uint32_t error = LastError();
        SetProblem(problem);
        Fail(error);
        return kInvalidHandle;
    }
    return Adopt(std::move(dev));
}

DeviceHandle Win32DeviceServices::Connect(const std::string& name, std::uint32_t limitMs) {
    if (!IsNetworkName(name)) return CreateFile(name, ShareMode::Exclusive);
    std::string problem;
    std::unique_ptr<Win32Device> dev = ConnectNetworkPrinter(name, problem, limitMs);
    if (!dev) {
        const std::uint32_t error = LastError();
        SetProblem(problem);
        Fail(error);
        return kInvalidHandle;
    }
    return Adopt(std::move(dev));
}

bool Win32DeviceServices::LookUpHost(const std::string& name, std::uint32_t limitMs,
                                     std::vector<std::string>& found, std::string& problem) {
    return LookUpNetworkHost(name, limitMs, found, problem);
}

bool Win32DeviceServices::CloseHandle(DeviceHandle h) {
    std::shared_ptr<Win32Device> dev;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_devices.find(h);
        if (it == m_devices.end()) return Fail(ERROR_INVALID_HANDLE);
        dev = std::move(it->second);
        m_devices.erase(it);
    }
    return dev->Close();
}

bool Win32DeviceServices::GetCommState(DeviceHandle h, LineSettings& settings) {
    auto dev = Find(h);
    if (!dev) return Fail(ERROR_INVALID_HANDLE);
    std::string problem;
    if (dev->GetLine(settings, problem)) return true;
    const std::uint32_t error = LastError();
    SetProblem(problem);
    return Fail(error);
}

bool Win32DeviceServices::SetCommState(DeviceHandle h, const LineSettings& settings) {
    auto dev = Find(h);
    return dev ? dev->SetLine(settings) : Fail(ERROR_INVALID_HANDLE);
}

bool Win32DeviceServices::SetCommTimeouts(DeviceHandle h, const TimeLimits& limits) {
    auto dev = Find(h);
    return dev ? dev->SetLimits(limits) : Fail(ERROR_INVALID_HANDLE);
}

void Win32DeviceServices::SetCommMask(DeviceHandle h, std::uint32_t mask) {
    if (auto dev = Find(h)) dev->SetMask(mask);
}

void Win32DeviceServices::PurgeComm(DeviceHandle h, std::uint32_t flags) {
    if (auto dev = Find(h)) dev->Purge(flags);
}

bool Win32DeviceServices::GetOutputQueue(DeviceHandle h, std::uint32_t& queued) {
    queued = 0;
    auto dev = Find(h);
    return dev ? dev->OutputQueue(queued) : Fail(ERROR_INVALID_HANDLE);
}

bool Win32DeviceServices::WriteFile(DeviceHandle h, const std::uint8_t* data, std::uint32_t length,
                                    std::uint32_t& written, PendingWrite& pending) {
    written = 0;
    auto dev = Find(h);
    return dev ? dev->Write(data, length, written, pending) : Fail(ERROR_INVALID_HANDLE);
}

bool Win32DeviceServices::GetOverlappedResult(DeviceHandle h, PendingWrite& pending, std::uint32_t& written,
                                              bool wait) {
    written = 0;
    auto dev = Find(h);
    return dev ? dev->WriteResult(pending, written, wait) : Fail(ERROR_INVALID_HANDLE);
}

void Win32DeviceServices::CancelIo(DeviceHandle h) {
    if (auto dev = Find(h)) dev->Cancel();
}

bool Win32DeviceServices::ReadFile(DeviceHandle h, std::uint8_t* buffer, std::uint32_t length,
                                   std::uint32_t& read) {
    read = 0;
    auto dev = Find(h);
    return dev ? dev->Read(buffer, length, read) : Fail(ERROR_INVALID_HANDLE);
}

std::uint32_t Win32DeviceServices::GetLastError() {
    return lastError;
}

void Win32DeviceServices::SetLastError(std::uint32_t error) {
    Fail(error);
}

std::uint32_t Win32DeviceServices::GetTickCount() {
    return ::GetTickCount();
}

void Win32DeviceServices::Sleep(std::uint32_t ms) {
    ::Sleep(ms);
}

bool Win32DeviceServices::GetVersionEx(OsVersion& version, bool extended) {
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = extended ? sizeof(OSVERSIONINFOEXW) : sizeof(OSVERSIONINFOW);
    if (!::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info))) return Fail(::GetLastError());
    version = OsVersion{info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion};
    return true;
}

bool Win32DeviceServices::EnumUsbInterface(std::uint32_t index, std::string& path) {
    std::string problem;
    const bool found = UsbInterfaceAt(index, path, problem);
    const std::uint32_t error = LastError();
    if (!problem.empty()) SetProblem(problem);
    return found ? true : Fail(error);
}

ThreadHandle Win32DeviceServices::StartThread(std::function<void()> body) {
    const ThreadHandle t = m_workers.Start(std::move(body));
    if (t == 0) Fail(ERROR_NOT_ENOUGH_MEMORY); // no thread: the caller fails at once, it never waits
    return t;
}

void Win32DeviceServices::StopThread(ThreadHandle t) {
    m_workers.Stop(t);
}

void Win32DeviceServices::JoinThread(ThreadHandle t) {
    m_workers.Join(t);
}

} // namespace pw::win32
