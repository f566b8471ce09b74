#include "link/posix/posix_device_services.h"

#include "link/network_address.h"
#include "link/posix/posix_device.h"
#include "link/posix/waits.h"

#include <cerrno>
#include <ctime>

namespace pw::posix {

namespace {
thread_local std::uint32_t lastError = 0;
} // namespace

bool Fail(std::uint32_t error) {
    lastError = error;
    return false;
}

std::uint32_t LastError() {
    return lastError;
}

void SetLastErrorCode(std::uint32_t error) {
    lastError = error;
}

std::uint32_t ErrorFromErrno(int err) {
    switch (err) {
    case ENOENT:
    case ENXIO:
    case ENOTDIR:
        return kErrorFileNotFound;
    case EACCES:
    case EPERM:
        return kErrorAccessDenied;
    case EBADF:
    case ENODEV:
        return kErrorInvalidHandle;
    case EBUSY:
    case EWOULDBLOCK:
        return kErrorSharingViolation;
    default:
        return kErrorGenFailure;
    }
}

PosixDeviceServices::PosixDeviceServices() : m_workers(MakeEventFdWake) {}

PosixDeviceServices::~PosixDeviceServices() {
    m_workers.JoinAll();
    for (auto& [h, d] : m_devices) d->Close();
}

std::shared_ptr<PosixDevice> PosixDeviceServices::Find(DeviceHandle h) {
    std::lock_guard lock(m_mutex);
    auto it = m_devices.find(h);
    return it == m_devices.end() ? nullptr : it->second;
}

void PosixDeviceServices::SetProblem(std::string problem) {
    std::lock_guard lock(m_mutex);
    m_openProblem = std::move(problem);
}

std::string PosixDeviceServices::LastOpenProblem() {
    std::lock_guard lock(m_mutex);
    return m_openProblem;
}

DeviceHandle PosixDeviceServices::CreateFile(const std::string& name, ShareMode share) {
    std::string problem;
    std::unique_ptr<PosixDevice> dev =
        IsNetworkName(name) ? ConnectNetworkPrinter(name, problem) : OpenDeviceFile(name, share, problem);
    return Keep(std::move(dev), problem);
}

DeviceHandle PosixDeviceServices::Connect(const std::string& name, std::uint32_t limitMs) {
    if (!IsNetworkName(name)) return CreateFile(name, ShareMode::Exclusive);
    std::string problem;
    std::unique_ptr<PosixDevice> dev = ConnectNetworkPrinter(name, problem, limitMs);
    return Keep(std::move(dev), problem);
}

bool PosixDeviceServices::LookUpHost(const std::string& name, std::uint32_t limitMs,
                                     std::vector<std::string>& found, std::string& problem) {
    return LookUpNetworkHost(name, limitMs, found, problem);
}

DeviceHandle PosixDeviceServices::Keep(std::unique_ptr<PosixDevice> dev, const std::string& problem) {
    std::lock_guard lock(m_mutex);
    m_openProblem = problem;
    if (!dev) return kInvalidHandle;
    const DeviceHandle h = m_nextHandle++;
    m_devices[h] = std::move(dev);
    return h;
}

bool PosixDeviceServices::CloseHandle(DeviceHandle h) {
    std::shared_ptr<PosixDevice> dev;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_devices.find(h);
        if (it == m_devices.end()) return Fail(kErrorInvalidHandle);
        dev = std::move(it->second);
        m_devices.erase(it);
    }
    dev->Close();
    return true;
}

bool PosixDeviceServices::GetCommState(DeviceHandle h, LineSettings& settings) {
    auto dev = Find(h);
    if (!dev) return Fail(kErrorInvalidHandle);
    std::string problem;
    if (dev->GetLine(settings, problem)) return true;
    const std::uint32_t error = LastError();
    SetProblem(problem);
    return Fail(error);
}

bool PosixDeviceServices::SetCommState(DeviceHandle h, const LineSettings& s) {
    auto dev = Find(h);
    return dev ? dev->SetLine(s) : Fail(kErrorInvalidHandle);
}

bool PosixDeviceServices::SetCommTimeouts(DeviceHandle h, const TimeLimits& limits) {
    auto dev = Find(h);
    if (!dev) return Fail(kErrorInvalidHandle);
    dev->limits = limits;
    return true;
}

void PosixDeviceServices::SetCommMask(DeviceHandle, std::uint32_t) {}

void PosixDeviceServices::PurgeComm(DeviceHandle h, std::uint32_t flags) {
    if (auto dev = Find(h)) dev->Purge(flags);
}

bool PosixDeviceServices::GetOutputQueue(DeviceHandle h, std::uint32_t& queued) {
    queued = 0;
    auto dev = Find(h);
    return dev ? dev->OutputQueue(queued) : Fail(kErrorInvalidHandle);
}

bool PosixDeviceServices::WriteFile(DeviceHandle h, const std::uint8_t* data, std::uint32_t length,
                                    std::uint32_t& written, PendingWrite&) {
    written = 0;
    auto dev = Find(h);
    return dev ? dev->Write(data, length, written) : Fail(kErrorInvalidHandle);
}

bool PosixDeviceServices::GetOverlappedResult(DeviceHandle, PendingWrite&, std::uint32_t& written, bool) {
    written = 0; // writes here finish inside WriteFile; nothing is ever pending
    return true;
}

void PosixDeviceServices::CancelIo(DeviceHandle) {}

bool PosixDeviceServices::ReadFile(DeviceHandle h, std::uint8_t* buffer, std::uint32_t length,
                                   std::uint32_t& read) {
    read = 0;
    auto dev = Find(h);
    if (!dev) return Fail(kErrorInvalidHandle);
    read = dev->Read(buffer, length);
    return true;
}

std::uint32_t PosixDeviceServices::GetLastError() {
    return lastError;
}

void PosixDeviceServices::SetLastError(std::uint32_t error) {
    lastError = error;
}

std::uint32_t PosixDeviceServices::GetTickCount() {
    return static_cast<std::uint32_t>(NowMs());
}

void PosixDeviceServices::Sleep(std::uint32_t ms) {
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {}
}

bool PosixDeviceServices::GetVersionEx(OsVersion& version, bool) {
    version = OsVersion{0x100, 0, 0}; // not a Windows platform id: USB is allowed
    return true;
}

bool PosixDeviceServices::EnumUsbInterface(std::uint32_t index, std::string& path) {
    std::string problem;
    const bool found = m_usb.At(index, path, problem);
    if (!problem.empty()) SetProblem(problem);
    return found ? true : Fail(kErrorNoMoreItems);
}

ThreadHandle PosixDeviceServices::StartThread(std::function<void()> body) {
    const ThreadHandle t = m_workers.Start(std::move(body));
    if (t == 0) Fail(kErrorNotEnoughMemory);
    return t;
}

void PosixDeviceServices::StopThread(ThreadHandle t) {
    m_workers.Stop(t);
}

void PosixDeviceServices::JoinThread(ThreadHandle t) {
    m_workers.Join(t);
}

} // namespace pw::posix
