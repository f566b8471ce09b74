// The platform seam under the printer port: the device operations the port and the USB discovery need,
// with the meanings and error codes they rely on. One backend per platform (posix/), plus a scripted fake
// on a virtual clock for tests. The port's logic never calls the operating system directly.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace pw {

using DeviceHandle = std::intptr_t;
constexpr DeviceHandle kNoDevice = 0;       // "none": nothing held
constexpr DeviceHandle kInvalidHandle = -1; // a failed open

// Error codes of the last failed call, as the port's algorithms know them.
constexpr std::uint32_t kErrorAccessDenied = 5;
constexpr std::uint32_t kErrorInvalidHandle = 6;
constexpr std::uint32_t kErrorNoMoreItems = 259;
constexpr std::uint32_t kErrorIoIncomplete = 996;
constexpr std::uint32_t kErrorIoPending = 997;
constexpr std::uint32_t kErrorFileNotFound = 2;
constexpr std::uint32_t kErrorSharingViolation = 32;
constexpr std::uint32_t kErrorGenFailure = 31;
constexpr std::uint32_t kErrorNotEnoughMemory = 8; // also: no thread to be had
// A connection this machine could not attempt (no socket to be had: too many open files; an address it
// cannot use): unlike kErrorGenFailure (refused, no answer, no route) it says nothing of the address.
constexpr std::uint32_t kErrorUnexpectedNetwork = 59;

enum class ShareMode { Exclusive, ReadWrite };

// Line settings record. `flags` is the packed flags word (bit 1 parity checking, bit 3 DSR output
// flow, bits 4-5 DTR control, bits 12-13 RTS control, ...); the codes are the port's own.
struct LineSettings {
    std::uint32_t baudRate = 9600;
    std::uint32_t flags = 0x0001; // binary mode
    std::uint8_t byteSize = 8;
    std::uint8_t parity = 0;   // 0 none, 1 odd, 2 even
    std::uint8_t stopBits = 0; // 0 one, 1 one and a half, 2 two
};

constexpr std::uint32_t kFlagParity = 0x0002;
constexpr std::uint32_t kFlagOutxDsrFlow = 0x0008;
constexpr std::uint32_t kFlagDtrMask = 0x0030;
constexpr std::uint32_t kFlagDtrEnable = 0x0010;
constexpr std::uint32_t kFlagRtsMask = 0x3000;
constexpr std::uint32_t kFlagRtsEnable = 0x1000;

constexpr std::uint32_t kMaxDword = 0xFFFFFFFFu;

// Time limits of a device. Reads: interval and multiplier both kMaxDword make a read return as soon as
// any bytes came, or after totalConstant ms with nothing; otherwise a read returns when all requested
// bytes came or multiplier * n + constant ms passed. Writes: an attempt of n bytes ends after at most
// multiplier * n + constant ms.
struct TimeLimits {
    std::uint32_t readInterval = 0;
    std::uint32_t readTotalMultiplier = 0;
    std::uint32_t readTotalConstant = 0;
    std::uint32_t writeTotalMultiplier = 0;
    std::uint32_t writeTotalConstant = 0;
};

// PurgeComm flags.
constexpr std::uint32_t kPurgeTxAbort = 0x1;
constexpr std::uint32_t kPurgeRxAbort = 0x2;
constexpr std::uint32_t kPurgeTxClear = 0x4;
constexpr std::uint32_t kPurgeRxClear = 0x8;
constexpr std::uint32_t kPurgeAll = 15;                               // writes and reads, output and input
constexpr std::uint32_t kPurgeInput = kPurgeRxAbort | kPurgeRxClear;  // what came in and was not read
constexpr std::uint32_t kPurgeOutput = kPurgeTxAbort | kPurgeTxClear; // what was written and not yet sent

// The state of one write attempt that may still be running when WriteFile returns.
struct PendingWrite {
    std::uint64_t id = 0;
};

struct OsVersion {
    std::uint32_t platformId = 0;
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
};

using ThreadHandle = std::uint64_t;

class DeviceServices {
  public:
    virtual ~DeviceServices() = default;

    virtual DeviceHandle CreateFile(const std::string& name, ShareMode share) = 0;
    // A network printer "tcp://HOST[:PORT]" as CreateFile opens it, with the connection (lookup included)
    // made or given up within `limitMs` instead of the usual limit. Services without a limit of their own
    // to set take CreateFile's.
    virtual DeviceHandle Connect(const std::string& name, std::uint32_t limitMs) {
        (void)limitMs;
        return CreateFile(name, ShareMode::Exclusive);
    }
    // The addresses the host of "tcp://HOST[:PORT]" stands for, in the order the system gives them, each
    // written as a port name takes it ("192.168.1.50", "fd00::50", "fe80::1%eth0"), looked up within
    // `limitMs` as a connection's lookup is. False, with `problem` said as for a connection to `name` that
    // failed, when the name does not resolve or the lookup took the whole limit.
    virtual bool LookUpHost(const std::string& name, std::uint32_t limitMs, std::vector<std::string>& found,
                            std::string& problem) {
        (void)name;
        (void)limitMs;
        found.clear();
        problem = "These device services look up no host names.";
        return false;
    }
    virtual bool CloseHandle(DeviceHandle h) = 0;
    virtual bool GetCommState(DeviceHandle h, LineSettings& settings) = 0;
    virtual bool SetCommState(DeviceHandle h, const LineSettings& settings) = 0;
    virtual bool SetCommTimeouts(DeviceHandle h, const TimeLimits& limits) = 0;
    virtual void SetCommMask(DeviceHandle h, std::uint32_t mask) = 0;
    virtual void PurgeComm(DeviceHandle h, std::uint32_t flags) = 0;
    // Bytes written that the device has not yet sent on the line (a serial driver's output queue); 0 for
    // a device that keeps none. false when the device cannot tell.
    virtual bool GetOutputQueue(DeviceHandle h, std::uint32_t& queued) = 0;

    // false with kErrorIoPending when the attempt goes on; `written` holds what was done so far.
    virtual bool WriteFile(DeviceHandle h, const std::uint8_t* data, std::uint32_t length,
                           std::uint32_t& written, PendingWrite& pending) = 0;
    // false with kErrorIoIncomplete while the attempt still runs (wait = false).
    virtual bool GetOverlappedResult(DeviceHandle h, PendingWrite& pending, std::uint32_t& written,
                                     bool wait) = 0;
    // Abandons the outstanding write attempt.
    virtual void CancelIo(DeviceHandle h) = 0;
    virtual bool ReadFile(DeviceHandle h, std::uint8_t* buffer, std::uint32_t length,
                          std::uint32_t& read) = 0;

    virtual std::uint32_t GetLastError() = 0;
    // Sets what GetLastError tells on this thread: a decorator that does work of its own after a failed
    // call (writing a trace) puts the call's error back with it.
    virtual void SetLastError(std::uint32_t error) = 0;
    virtual std::uint32_t GetTickCount() = 0;
    virtual void Sleep(std::uint32_t ms) = 0;
    // A wait that no stop cuts short: a close letting the end of user setting mode out. A decorator that
    // cuts waits short passes it through.
    virtual void SleepUncut(std::uint32_t ms) { Sleep(ms); }
    // extended: ask with the extended version record first; the port falls back to the basic one.
    virtual bool GetVersionEx(OsVersion& version, bool extended) = 0;

    // USB device interfaces present, in the platform's fixed order. false past the last one with
    // kErrorNoMoreItems, or with another error for an index that cannot be enumerated.
    virtual bool EnumUsbInterface(std::uint32_t index, std::string& path) = 0;

    // A short-lived worker thread; 0 (with the error set) when none could be started, and the body never
    // runs. StopThread wakes a read the worker is blocked in and makes every later read of that worker
    // return at once with what it has; JoinThread then waits for it to end.
    virtual ThreadHandle StartThread(std::function<void()> body) = 0;
    virtual void StopThread(ThreadHandle t) = 0;
    virtual void JoinThread(ThreadHandle t) = 0;

    // Why the last CreateFile failed, in words a user can act on (device and group); empty if unknown.
    virtual std::string LastOpenProblem() { return {}; }
};

} // namespace pw
