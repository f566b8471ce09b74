#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <setupapi.h>
// The seam's own names, not the A/W macros.
#undef CreateFile
#undef GetVersionEx

#include "link/win32/win32_device_services.h"

#include "link/win32/comm_state.h"
#include "link/win32/device_names.h"
#include "link/win32/network_socket.h"

#include <vector>

namespace pw::win32 {

namespace {

thread_local std::uint32_t lastError = 0;

// The USB printer device interface class that the printer class driver registers.
const GUID kUsbPrintInterface = {
    0x28d78fad, 0x5a12, 0x11d1, {0xae, 0x5b, 0x00, 0x00, 0xf8, 0x03, 0xa8, 0xc2}};

HANDLE H(DeviceHandle h) {
    return reinterpret_cast<HANDLE>(h);
}

bool Fail(std::uint32_t error) {
    lastError = error;
    ::SetLastError(error);
    return false;
}

bool FailWithLastError() {
    return Fail(::GetLastError());
}

void CopyToDcb(const DcbFields& f, DCB& d) {
    d.BaudRate = f.BaudRate;
    d.fBinary = f.fBinary;
    d.fParity = f.fParity;
    d.fOutxCtsFlow = f.fOutxCtsFlow;
    d.fOutxDsrFlow = f.fOutxDsrFlow;
    d.fDtrControl = f.fDtrControl;
    d.fDsrSensitivity = f.fDsrSensitivity;
    d.fTXContinueOnXoff = f.fTXContinueOnXoff;
    d.fOutX = f.fOutX;
    d.fInX = f.fInX;
    d.fErrorChar = f.fErrorChar;
    d.fNull = f.fNull;
    d.fRtsControl = f.fRtsControl;
    d.fAbortOnError = f.fAbortOnError;
    d.fDummy2 = f.fDummy2;
    d.ByteSize = f.ByteSize;
    d.Parity = f.Parity;
    d.StopBits = f.StopBits;
}

DcbFields CopyFromDcb(const DCB& d) {
    DcbFields f;
    f.BaudRate = d.BaudRate;
    f.fBinary = d.fBinary;
    f.fParity = d.fParity;
    f.fOutxCtsFlow = d.fOutxCtsFlow;
    f.fOutxDsrFlow = d.fOutxDsrFlow;
    f.fDtrControl = d.fDtrControl;
    f.fDsrSensitivity = d.fDsrSensitivity;
    f.fTXContinueOnXoff = d.fTXContinueOnXoff;
    f.fOutX = d.fOutX;
    f.fInX = d.fInX;
    f.fErrorChar = d.fErrorChar;
    f.fNull = d.fNull;
    f.fRtsControl = d.fRtsControl;
    f.fAbortOnError = d.fAbortOnError;
    f.fDummy2 = d.fDummy2;
    f.ByteSize = d.ByteSize;
    f.Parity = d.Parity;
    f.StopBits = d.StopBits;
    return f;
}

} // namespace

struct Win32DeviceServices::Device {
    HANDLE handle = INVALID_HANDLE_VALUE;
    Socket socket = kNoSocket;   // a connection to a network printer, instead of the handle
    HANDLE writeEvent = nullptr; // manual reset; reset before each write attempt
    std::string port;
    TimeLimits limits{};
    bool ownLimits = false; // the device refused SetCommTimeouts: reads are bounded here instead
};

// A write attempt still running when WriteFile returned: its record must outlive it.
struct Win32DeviceServices::Write {
    DeviceHandle device = kNoDevice;
    OVERLAPPED overlapped{};
};

struct Win32DeviceServices::Worker {
    HANDLE thread = nullptr;
    HANDLE stopEvent = nullptr; // manual reset: wakes the worker's read, and every later one
    std::function<void()> body;
};

namespace {
// The worker the calling thread is, if any: its reads also end on the worker's stop event.
thread_local Win32DeviceServices::Worker* currentWorker = nullptr;

DWORD WINAPI WorkerMain(LPVOID param) {
    auto* worker = static_cast<Win32DeviceServices::Worker*>(param);
    currentWorker = worker;
    worker->body();
    currentWorker = nullptr;
    return 0;
}
} // namespace

Win32DeviceServices::Win32DeviceServices() = default;

Win32DeviceServices::~Win32DeviceServices() {
    for (auto& [id, w] : m_workers) {
        ::SetEvent(w->stopEvent);
        ::WaitForSingleObject(w->thread, INFINITE);
        ::CloseHandle(w->thread);
        ::CloseHandle(w->stopEvent);
    }
    for (auto& [h, d] : m_devices) {
        if (d->socket != kNoSocket) {
            CloseSocket(d->socket);
            continue;
        }
        FinishWrites(h, true);
        ::CloseHandle(d->handle);
        ::CloseHandle(d->writeEvent);
    }
}

std::shared_ptr<Win32DeviceServices::Device> Win32DeviceServices::Find(DeviceHandle h) {
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

DeviceHandle Win32DeviceServices::Connect(const std::string& name) {
    NetworkAddress address;
    std::string detail;
    ConnectFailure why = ConnectFailure::BadName;
    const Socket s = ParseNetworkAddress(name, address, detail)
                         ? ConnectTcp(address, kConnectLimitMs, why, detail)
                         : kNoSocket;
    if (s == kNoSocket) {
        SetProblem(ConnectProblem(name, why, detail));
        Fail(why == ConnectFailure::BadName || why == ConnectFailure::HostNotFound ? ERROR_FILE_NOT_FOUND
                                                                                   : ERROR_GEN_FAILURE);
        return kInvalidHandle;
    }
    auto dev = std::make_shared<Device>();
    dev->socket = s;
    dev->port = address.Name();
    const auto id = static_cast<DeviceHandle>(s);
    std::lock_guard lock(m_mutex);
    m_devices[id] = dev;
    m_openProblem.clear();
    return id;
}

DeviceHandle Win32DeviceServices::CreateFile(const std::string& name, ShareMode share) {
    if (IsNetworkName(name)) return Connect(name);
    const std::string device = DeviceNameFor(name);
    // Exclusive opens are the port's own: overlapped, so that a worker's blocked read can be woken (a
    // synchronous read cannot be cancelled everywhere). The shared USB probe opens with no flags at all.
    const bool exclusive = share == ShareMode::Exclusive;
    HANDLE h = ::CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE,
                             exclusive ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             exclusive ? FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED : 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const std::uint32_t error = ::GetLastError();
        SetProblem(OpenProblem(name, error));
        Fail(error);
        return kInvalidHandle;
    }
    auto dev = std::make_shared<Device>();
    dev->handle = h;
    dev->writeEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    dev->port = name;
    const auto id = reinterpret_cast<DeviceHandle>(h);
    std::lock_guard lock(m_mutex);
    m_devices[id] = dev;
    m_openProblem.clear();
    return id;
}

bool Win32DeviceServices::CloseHandle(DeviceHandle h) {
    std::shared_ptr<Device> dev;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_devices.find(h);
        if (it != m_devices.end()) {
            dev = it->second;
            m_devices.erase(it);
        }
    }
    if (!dev) return ::CloseHandle(H(h)) ? true : FailWithLastError();
    if (dev->socket != kNoSocket) return CloseSocket(dev->socket) ? true : Fail(ERROR_INVALID_HANDLE);
    FinishWrites(h, true);
    const bool closed = ::CloseHandle(dev->handle) != 0;
    if (!closed) FailWithLastError();
    ::CloseHandle(dev->writeEvent);
    return closed;
}

bool Win32DeviceServices::GetCommState(DeviceHandle h, LineSettings& settings) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(H(h), &dcb)) {
        const std::uint32_t error = ::GetLastError();
        if (auto dev = Find(h)) SetProblem(NotASerialPortProblem(dev->port, error));
        return Fail(error);
    }
    settings = LineSettingsFromDcb(CopyFromDcb(dcb));
    return true;
}

bool Win32DeviceServices::SetCommState(DeviceHandle h, const LineSettings& settings) {
    // XonLim, XoffLim and the special characters stay as the device has them.
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(H(h), &dcb)) return FailWithLastError();
    const DcbFields fields = DcbFromLineSettings(settings);
    CopyToDcb(fields, dcb);
    if (!::SetCommState(H(h), &dcb)) return FailWithLastError();
    // DTR and RTS held on while the port is open. A virtual port may have no modem lines to raise.
    for (std::uint32_t function : ModemLinesToRaise(fields))
        if (!::EscapeCommFunction(H(h), function) && !RefusedAsUnsupported(::GetLastError()))
            return FailWithLastError();
    return true;
}

bool Win32DeviceServices::SetCommTimeouts(DeviceHandle h, const TimeLimits& limits) {
    if (auto dev = Find(h); dev && dev->socket != kNoSocket) {
        std::lock_guard lock(m_mutex);
        dev->limits = limits; // a connection's reads and writes keep these limits here
        return true;
    }
    const CommTimeoutsFields f = CommTimeoutsFor(limits);
    COMMTIMEOUTS t{f.ReadIntervalTimeout, f.ReadTotalTimeoutMultiplier, f.ReadTotalTimeoutConstant,
                   f.WriteTotalTimeoutMultiplier, f.WriteTotalTimeoutConstant};
    const bool ok = ::SetCommTimeouts(H(h), &t) != 0;
    const std::uint32_t error = ok ? 0 : ::GetLastError();
    if (auto dev = Find(h)) {
        std::lock_guard lock(m_mutex);
        dev->limits = limits;
        dev->ownLimits = !ok;
    }
    return ok ? true : Fail(error);
}

void Win32DeviceServices::SetCommMask(DeviceHandle h, std::uint32_t mask) {
    if (auto dev = Find(h); dev && dev->socket != kNoSocket) return;
    ::SetCommMask(H(h), mask);
}

void Win32DeviceServices::PurgeComm(DeviceHandle h, std::uint32_t flags) {
    if (auto dev = Find(h); dev && dev->socket != kNoSocket) return;
    ::PurgeComm(H(h), flags);
}

bool Win32DeviceServices::WriteFile(DeviceHandle h, const std::uint8_t* data, std::uint32_t length,
                                    std::uint32_t& written, PendingWrite& pending) {
    written = 0;
    if (auto dev = Find(h); dev && dev->socket != kNoSocket) {
        TimeLimits l;
        {
            std::lock_guard lock(m_mutex);
            l = dev->limits;
        }
        std::uint64_t limit =
            static_cast<std::uint64_t>(l.writeTotalMultiplier) * length + l.writeTotalConstant;
        if (limit == 0 || limit >= kMaxDword) limit = 5ull * length + 1000; // never without end
        std::uint32_t error = 0;
        if (SendWithin(dev->socket, data, length, static_cast<std::uint32_t>(limit), written, error))
            return true;
        return Fail(error);
    }
    auto write = std::make_unique<Write>();
    write->device = h;
    if (auto dev = Find(h)) {
        ::ResetEvent(dev->writeEvent);
        write->overlapped.hEvent = dev->writeEvent;
    }
    DWORD n = 0;
    if (::WriteFile(H(h), data, length, &n, &write->overlapped)) {
        written = n;
        return true;
    }
    const std::uint32_t error = ::GetLastError();
    if (error == ERROR_IO_PENDING) {
        std::lock_guard lock(m_mutex);
        pending.id = m_nextWrite++;
        m_writes[pending.id] = std::move(write);
    }
    return Fail(error);
}

bool Win32DeviceServices::GetOverlappedResult(DeviceHandle h, PendingWrite& pending, std::uint32_t& written,
                                              bool wait) {
    written = 0;
    Write* write = nullptr;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_writes.find(pending.id);
        if (it != m_writes.end()) write = it->second.get();
    }
    if (!write) return Fail(ERROR_INVALID_PARAMETER);
    DWORD n = 0;
    const bool done = ::GetOverlappedResult(H(h), &write->overlapped, &n, wait ? TRUE : FALSE) != 0;
    const std::uint32_t error = done ? 0 : ::GetLastError();
    written = n;
    if (done || error != ERROR_IO_INCOMPLETE) {
        std::lock_guard lock(m_mutex);
        m_writes.erase(pending.id);
    }
    return done ? true : Fail(error);
}

void Win32DeviceServices::CancelIo(DeviceHandle h) {
    ::CancelIo(H(h));
    FinishWrites(h, false);
}

// Waits for the device's outstanding write attempts to end, cancelling them first if asked, and frees
// their records.
void Win32DeviceServices::FinishWrites(DeviceHandle h, bool cancel) {
    std::vector<std::unique_ptr<Write>> writes;
    {
        std::lock_guard lock(m_mutex);
        for (auto it = m_writes.begin(); it != m_writes.end();) {
            if (it->second->device == h) {
                writes.push_back(std::move(it->second));
                it = m_writes.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& w : writes) {
        if (cancel) ::CancelIoEx(H(h), &w->overlapped);
        DWORD n = 0;
        ::GetOverlappedResult(H(h), &w->overlapped, &n, TRUE);
    }
}

bool Win32DeviceServices::ReadFile(DeviceHandle h, std::uint8_t* buffer, std::uint32_t length,
                                   std::uint32_t& read) {
    read = 0;
    Worker* worker = currentWorker;
    if (worker && ::WaitForSingleObject(worker->stopEvent, 0) == WAIT_OBJECT_0) return true;
    DWORD waitMs = INFINITE; // the device's own time limits end the read
    if (auto dev = Find(h)) {
        TimeLimits l;
        bool own;
        {
            std::lock_guard lock(m_mutex);
            l = dev->limits;
            own = dev->ownLimits;
        }
        if (dev->socket != kNoSocket) {
            const bool anyBytes = l.readInterval == kMaxDword && l.readTotalMultiplier == kMaxDword;
            read = ReceiveWithin(dev->socket, buffer, length, ReadWaitMs(l, length), anyBytes,
                                 worker ? worker->stopEvent : nullptr);
            return true;
        }
        if (own) waitMs = ReadWaitMs(l, length);
    }
    OVERLAPPED ov{};
    ov.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD n = 0;
    bool ok = ::ReadFile(H(h), buffer, length, &n, &ov) != 0;
    std::uint32_t error = ok ? 0 : ::GetLastError();
    if (!ok && error == ERROR_IO_PENDING) {
        HANDLE events[2] = {ov.hEvent, worker ? worker->stopEvent : nullptr};
        const DWORD woke = ::WaitForMultipleObjects(worker ? 2 : 1, events, FALSE, waitMs);
        if (woke != WAIT_OBJECT_0) ::CancelIoEx(H(h), &ov); // stopped, or the wait ran out
        ok = ::GetOverlappedResult(H(h), &ov, &n, TRUE) != 0;
        error = ok ? 0 : ::GetLastError();
        if (!ok && error == ERROR_OPERATION_ABORTED) ok = true; // a read we ended: what came counts
    }
    ::CloseHandle(ov.hEvent);
    read = n;
    return ok ? true : Fail(error);
}

std::uint32_t Win32DeviceServices::GetLastError() {
    return lastError;
}

void Win32DeviceServices::SetLastError(std::uint32_t error) {
    lastError = error;
    ::SetLastError(error);
}

std::uint32_t Win32DeviceServices::GetTickCount() {
    return ::GetTickCount();
}

void Win32DeviceServices::Sleep(std::uint32_t ms) {
    ::Sleep(ms);
}

bool Win32DeviceServices::GetVersionEx(OsVersion& version, bool extended) {
    OSVERSIONINFOEXA info{};
    info.dwOSVersionInfoSize = extended ? sizeof(OSVERSIONINFOEXA) : sizeof(OSVERSIONINFOA);
    if (!::GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info))) return FailWithLastError();
    version = OsVersion{info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion};
    return true;
}

bool Win32DeviceServices::EnumUsbInterface(std::uint32_t index, std::string& path) {
    HDEVINFO set =
        ::SetupDiGetClassDevsA(&kUsbPrintInterface, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return FailWithLastError();
    SP_DEVICE_INTERFACE_DATA item{};
    item.cbSize = sizeof item;
    bool ok = ::SetupDiEnumDeviceInterfaces(set, nullptr, &kUsbPrintInterface, index, &item) != 0;
    std::uint32_t error = ok ? 0 : ::GetLastError();
    if (ok) {
        DWORD size = 0;
        ::SetupDiGetDeviceInterfaceDetailA(set, &item, nullptr, 0, &size, nullptr); // asks the size only
        std::vector<std::uint8_t> record(size > sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)
                                             ? size
                                             : sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A));
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(record.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (::SetupDiGetDeviceInterfaceDetailA(set, &item, detail, static_cast<DWORD>(record.size()), nullptr,
                                               nullptr))
            path = detail->DevicePath;
        else
            path.clear(); // details unreadable: the walk skips this one
    }
    ::SetupDiDestroyDeviceInfoList(set);
    if (!ok && error == ERROR_NO_MORE_ITEMS && index == 0) SetProblem(NoUsbPrinterProblem());
    return ok ? true : Fail(error);
}

ThreadHandle Win32DeviceServices::StartThread(std::function<void()> body) {
    auto w = std::make_shared<Worker>();
    w->stopEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    w->body = std::move(body);
    ThreadHandle id;
    {
        std::lock_guard lock(m_mutex);
        id = m_nextThread++;
        m_workers[id] = w;
    }
    w->thread = ::CreateThread(nullptr, 0, WorkerMain, w.get(), 0, nullptr);
    return id;
}

void Win32DeviceServices::StopThread(ThreadHandle t) {
    std::lock_guard lock(m_mutex);
    auto it = m_workers.find(t);
    if (it != m_workers.end()) ::SetEvent(it->second->stopEvent);
}

void Win32DeviceServices::JoinThread(ThreadHandle t) {
    std::shared_ptr<Worker> w;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_workers.find(t);
        if (it == m_workers.end()) return;
        w = it->second;
        m_workers.erase(it);
    }
    if (w->thread) {
        ::WaitForSingleObject(w->thread, INFINITE);
        ::CloseHandle(w->thread);
    }
    ::CloseHandle(w->stopEvent);
}

} // namespace pw::win32
