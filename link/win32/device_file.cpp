// Device files: COMn (the DCB, COMMTIMEOUTS, DTR and RTS held on), LPTn and the USB printer interfaces.
// Only names of ports are opened and only devices are kept. The port's own opens are overlapped, so that a
// worker's blocked read can be woken by its wake-up event (wine cannot cancel a synchronous read); every
// wait here has a bound, even on a device whose driver ignores its time limits or a cancel.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "link/win32/comm_state.h"
#include "link/win32/device_names.h"
#include "link/win32/wide_text.h"
#include "link/win32/win32_device.h"

#include <cstring>
#include <map>
#include <vector>

namespace pw::win32 {

namespace {

// Beyond the limits the device was given, a read or write waits this much more for the driver to end it
// before ending it here.
constexpr DWORD kDriverGraceMs = 5000;
// How long a cancelled attempt may take to end. One that does not is left to the system with its record.
constexpr DWORD kCancelWaitMs = 2000;

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

// One overlapped attempt: its record, event and bytes belong to it, not to the caller, so that an attempt
// the driver never ends cannot write into memory that is gone.
struct Attempt {
    OVERLAPPED overlapped{};
    std::vector<std::uint8_t> bytes;

    explicit Attempt(std::size_t size) : bytes(size) {
        overlapped.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    ~Attempt() {
        if (overlapped.hEvent) ::CloseHandle(overlapped.hEvent);
    }
    Attempt(const Attempt&) = delete;
    Attempt& operator=(const Attempt&) = delete;

    // Waits up to `ms` for the attempt to end, then takes its result. False when it is still running.
    bool Settle(HANDLE file, DWORD ms, DWORD& done, DWORD& error) {
        if (::WaitForSingleObject(overlapped.hEvent, ms) != WAIT_OBJECT_0) return false;
        error = ::GetOverlappedResult(file, &overlapped, &done, FALSE) ? 0 : ::GetLastError();
        return true;
    }

    // Cancels the attempt and waits, within kCancelWaitMs, for it to end. False when it did not: the record
    // must then outlive this object's owner, and is let go.
    static bool CancelAndSettle(HANDLE file, std::unique_ptr<Attempt>& a, DWORD& done, DWORD& error) {
        ::CancelIoEx(file, &a->overlapped);
        if (a->Settle(file, kCancelWaitMs, done, error)) return true;
        a.release(); // still in the driver's hands: never freed
        error = ERROR_OPERATION_ABORTED;
        return false;
    }
};

std::uint64_t WriteWaitMs(const TimeLimits& l, std::uint32_t length) {
    std::uint64_t ms = static_cast<std::uint64_t>(l.writeTotalMultiplier) * length + l.writeTotalConstant;
    if (ms == 0 || ms >= kMaxDword) ms = 5ull * length + 1000;
    return ms + kDriverGraceMs;
}

DWORD Ms(std::uint64_t ms) {
    return ms >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(ms);
}

class DeviceFile : public Win32Device {
  public:
    DeviceFile(HANDLE handle, std::string name) : m_handle(handle) { port = std::move(name); }
    ~DeviceFile() override { DeviceFile::Close(); }

    bool GetLine(LineSettings& settings, std::string& problem) override {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!::GetCommState(m_handle, &dcb)) {
            const DWORD error = ::GetLastError();
            problem = NotASerialPortProblem(port, error);
            return Fail(error);
        }
        settings = LineSettingsFromDcb(CopyFromDcb(dcb));
        return true;
    }

    bool SetLine(const LineSettings& settings) override {
        // XonLim, XoffLim and the special characters stay as the device has them.
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!::GetCommState(m_handle, &dcb)) return Fail(::GetLastError());
        const DcbFields fields = DcbFromLineSettings(settings);
        CopyToDcb(fields, dcb);
        if (!::SetCommState(m_handle, &dcb)) return Fail(::GetLastError());
        // DTR and RTS held on while the port is open. A virtual port may have no modem lines to raise.
        for (std::uint32_t function : ModemLinesToRaise(fields))
            if (!::EscapeCommFunction(m_handle, function) && !RefusedAsUnsupported(::GetLastError()))
                return Fail(::GetLastError());
        return true;
    }

    bool SetLimits(const TimeLimits& limits) override {
        const CommTimeoutsFields f = CommTimeoutsFor(limits);
        COMMTIMEOUTS t{f.ReadIntervalTimeout, f.ReadTotalTimeoutMultiplier, f.ReadTotalTimeoutConstant,
                       f.WriteTotalTimeoutMultiplier, f.WriteTotalTimeoutConstant};
        const bool ok = ::SetCommTimeouts(m_handle, &t) != 0;
        const DWORD error = ok ? 0 : ::GetLastError();
        KeepLimits(limits);
        m_ownLimits = !ok; // reads are then bounded here, by the same limits
        return ok ? true : Fail(error);
    }

    void SetMask(std::uint32_t mask) override { ::SetCommMask(m_handle, mask); }

    void Purge(std::uint32_t flags) override { ::PurgeComm(m_handle, flags); }

    bool OutputQueue(std::uint32_t& queued) override {
        queued = 0;
        DWORD errors = 0;
        COMSTAT stat{};
        if (!::ClearCommError(m_handle, &errors, &stat)) return Fail(::GetLastError());
        queued = stat.cbOutQue;
        return true;
    }

    bool Write(const std::uint8_t* data, std::uint32_t length, std::uint32_t& written,
               PendingWrite& pending) override {
        written = 0;
        auto a = std::make_unique<Attempt>(length);
        if (!a->overlapped.hEvent) return Fail(::GetLastError());
        if (length) std::memcpy(a->bytes.data(), data, length);
        DWORD n = 0;
        if (::WriteFile(m_handle, a->bytes.data(), length, &n, &a->overlapped)) {
            written = n;
            return true;
        }
        const DWORD error = ::GetLastError();
        if (error == ERROR_IO_PENDING) {
            std::lock_guard lock(m_mutex);
            pending.id = m_nextWrite++;
            m_writes[pending.id] = {std::move(a), length};
        }
        return Fail(error);
    }

    // With `wait`, an attempt the driver does not end within its limits (and some grace) is cancelled, and
    // what went out is its result.
    bool WriteResult(PendingWrite& pending, std::uint32_t& written, bool wait) override {
        written = 0;
        std::unique_ptr<Attempt> a;
        std::uint32_t length = 0;
        {
            std::lock_guard lock(m_mutex);
            auto it = m_writes.find(pending.id);
            if (it == m_writes.end()) return Fail(ERROR_INVALID_PARAMETER);
            a = std::move(it->second.attempt);
            length = it->second.length;
            m_writes.erase(it);
        }
        DWORD n = 0, error = 0;
        if (!a->Settle(m_handle, wait ? Ms(WriteWaitMs(Limits(), length)) : 0, n, error)) {
            if (!wait) {
                std::lock_guard lock(m_mutex);
                m_writes[pending.id] = {std::move(a), length};
                return Fail(ERROR_IO_INCOMPLETE);
            }
            Attempt::CancelAndSettle(m_handle, a, n, error);
        }
        written = n;
        return error == 0 ? true : Fail(error);
    }

    void Cancel() override { FinishWrites(); }

    bool Read(std::uint8_t* buffer, std::uint32_t length, std::uint32_t& read) override {
        read = 0;
        if (WorkerThreads::CurrentStopped()) return true;
        HANDLE wake = static_cast<HANDLE>(CurrentWakeEvent());
        auto a = std::make_unique<Attempt>(length);
        if (!a->overlapped.hEvent) return Fail(::GetLastError());
        // A device that keeps time limits of its own ends the read by them; here it gets some grace first.
        const DWORD waitMs = ReadWaitMs(Limits(), length) + (m_ownLimits ? 0 : kDriverGraceMs);
        DWORD n = 0;
        DWORD error =
            ::ReadFile(m_handle, a->bytes.data(), length, &n, &a->overlapped) ? 0 : ::GetLastError();
        if (error == ERROR_IO_PENDING) {
            HANDLE events[2] = {a->overlapped.hEvent, wake};
            const DWORD woke = ::WaitForMultipleObjects(wake ? 2 : 1, events, FALSE, waitMs);
            if (woke == WAIT_OBJECT_0)
                a->Settle(m_handle, 0, n, error);
            else if (!Attempt::CancelAndSettle(m_handle, a, n, error)) // stopped, or the wait ran out
                return Fail(error);
            if (error == ERROR_OPERATION_ABORTED) error = 0; // a read we ended: what came counts
        }
        if (error != 0) return Fail(error);
        read = n <= length ? n : length;
        if (read) std::memcpy(buffer, a->bytes.data(), read);
        return true;
    }

    bool Close() override {
        if (m_handle == INVALID_HANDLE_VALUE) return true;
        FinishWrites();
        const bool closed = ::CloseHandle(m_handle) != 0;
        const DWORD error = closed ? 0 : ::GetLastError();
        m_handle = INVALID_HANDLE_VALUE;
        return closed ? true : Fail(error);
    }

  private:
    struct PendingAttempt {
        std::unique_ptr<Attempt> attempt;
        std::uint32_t length = 0;
    };

    // Cancels the outstanding write attempts and waits, within a bound each, for them to end.
    void FinishWrites() {
        std::map<std::uint64_t, PendingAttempt> writes;
        {
            std::lock_guard lock(m_mutex);
            writes.swap(m_writes);
        }
        for (auto& [id, w] : writes) {
            DWORD n = 0, error = 0;
            Attempt::CancelAndSettle(m_handle, w.attempt, n, error);
        }
    }

    HANDLE m_handle;
    bool m_ownLimits = false; // the device refused SetCommTimeouts
    std::mutex m_mutex;
    std::map<std::uint64_t, PendingAttempt> m_writes;
    std::uint64_t m_nextWrite = 1;
};

} // namespace

std::unique_ptr<Win32Device> OpenDeviceFile(const std::string& name, ShareMode share, std::string& problem) {
    // Only a port's name is opened: a file or a volume given as a device is never created or truncated.
    if (KindOfPortName(name) == PortNameKind::None) {
        problem = NotAPortProblem(name);
        Fail(ERROR_INVALID_NAME);
        return nullptr;
    }
    // Exclusive opens are the port's own: overlapped, so that a worker's blocked read can be woken. The
    // shared USB probe opens with no flags at all.
    const bool exclusive = share == ShareMode::Exclusive;
    HANDLE h = ::CreateFileW(Widen(DeviceNameFor(name)).c_str(), GENERIC_READ | GENERIC_WRITE,
                             exclusive ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             exclusive ? FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED : 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        problem = OpenProblem(name, error);
        Fail(error);
        return nullptr;
    }
    // A name of a port may still lead elsewhere (COM5 mapped to a file): only a device is kept.
    ::SetLastError(0);
    const DWORD type = ::GetFileType(h);
    const DWORD error = ::GetLastError();
    if (!IsPortFileType(type, error)) {
        ::CloseHandle(h);
        problem = NotADeviceProblem(name, type);
        Fail(ERROR_BAD_DEVICE);
        return nullptr;
    }
    return std::make_unique<DeviceFile>(h, name);
}

std::unique_ptr<Win32Device> DeviceFileOn(void* handle, const std::string& name) {
    return std::make_unique<DeviceFile>(static_cast<HANDLE>(handle), name);
}

} // namespace pw::win32
