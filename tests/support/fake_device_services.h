// A scripted DeviceServices on a virtual clock. Sleeps advance the clock at once; replies are bytes due
// at a virtual time; write attempts follow a per-device script. Worker threads run for real, but the
// clock only moves on the thread that drives it (the test's, unless handed over), which lets them settle
// at every sleep.
#pragma once

#include "link/device_services.h"

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace pw::test {

bool NotAfter(std::uint32_t a, std::uint32_t b);

using Bytes = std::vector<std::uint8_t>;

struct WriteOutcome {
    enum Kind { Done, Fail, Pending } kind = Done;
    std::uint32_t accepted = 0;      // bytes the device takes in this attempt
    std::uint32_t error = 0;         // for Fail
    std::uint32_t completeAfter = 0; // for Pending: virtual ms until the attempt finishes
    static WriteOutcome All(std::uint32_t n) { return {Done, n, 0, 0}; }
};

class FakeDevice {
  public:
    // Per attempt: given the attempt number (0-based) and the bytes asked for, what the device does.
    std::function<WriteOutcome(int attempt, std::uint32_t requested)> acceptScript;
    // Called with the bytes of each attempt the device took, at the virtual time they arrived.
    std::function<void(FakeDevice&, const Bytes& bytes)> onBytes;

    void ReplyAt(std::uint32_t due, const Bytes& bytes);
    Bytes TakeReceived(); // what arrived since the last call

    Bytes received;                          // everything the device took
    std::vector<std::uint32_t> attemptTimes; // virtual time of each write attempt
    LineSettings settings{};
    TimeLimits limits{};
    bool failGetCommState = false, failSetCommState = false, failSetTimeouts = false;
    int purges = 0, opens = 0, closes = 0, commMaskCalls = 0;
    // A serial line's output queue: written bytes leave one frame at a time at the rate and frame of
    // `settings`, on the virtual clock. `outputHeld` keeps them queued (flow control held). Bytes a purge
    // throws away before they left are taken back out of `received` into `discarded`.
    bool sendsAtLineRate = false;
    bool outputHeld = false;
    Bytes discarded;
    std::vector<std::uint32_t> purgeFlags; // of every PurgeComm, in order
    bool held = false;
    std::uint32_t openError = 0; // nonzero: CreateFile fails with it

  private:
    friend class FakeDeviceServices;
    std::deque<std::pair<std::uint32_t, std::uint8_t>> m_input;
    std::size_t m_taken = 0;
    std::deque<std::uint64_t> m_leavesAtUs; // queued output: when each byte is off the line
    std::uint64_t m_lineFreeAtUs = 0;
    int m_attempt = 0;
    class FakeDeviceServices* m_owner = nullptr;
};

class FakeDeviceServices;
// A USB printer interface at /dev/usb/lp0: the probe path and the printer channel that the port opens.
FakeDevice& AddUsbPrinter(FakeDeviceServices& os);

class FakeDeviceServices : public DeviceServices {
  public:
    explicit FakeDeviceServices(std::uint32_t startTick = 0xFFFFF000u);
    ~FakeDeviceServices() override;

    FakeDevice& AddDevice(const std::string& name);
    FakeDevice* DeviceNamed(const std::string& name);
    FakeDevice* DeviceOf(DeviceHandle h);
    std::uint32_t Now() const { return m_now; }
    std::uint32_t Elapsed() const { return m_now - m_start; }

    std::vector<std::string> usbInterfaces; // "" stands for one whose details cannot be read
    std::optional<OsVersion> version = OsVersion{2, 5, 1};
    bool extendedVersionFails = false;
    std::vector<std::string> opened;          // every CreateFile name, in order (Connect's too)
    std::vector<std::uint32_t> connectLimits; // of every Connect, in order
    std::vector<std::uint32_t> sleeps;        // every Sleep, in order

    DeviceHandle CreateFile(const std::string& name, ShareMode share) override;
    // The connection is made or refused at once, as CreateFile makes it; the limit is kept.
    DeviceHandle Connect(const std::string& name, std::uint32_t limitMs) override;
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

    // A dialog runs its printer sequence on a worker while the test's thread runs the window's event loop:
    // with this set, a worker started from the test's thread drives the clock until it ends (its sleeps
    // move it, its reads take what is due at once). Workers it starts in turn (the USB reader) do not.
    bool workersDriveClock = false;

    int threadsStarted = 0, threadsStopped = 0;
    bool noThreads = false; // StartThread fails, as when the system gives no thread
    // Runs once, on the test's thread, as a StopThread call begins: lets a test put bytes on the line in the
    // window between the caller's last look and the stop.
    std::function<void()> beforeStopThread;
    // Puts bytes on a device's line now, safely while a worker may be reading it.
    void ReplyNow(FakeDevice& device, const Bytes& bytes);

  private:
    struct Worker;
    struct Pending {
        DeviceHandle h;
        Bytes bytes;
        std::uint32_t completesAt;
    };
    bool ReadReady(FakeDevice& d, std::uint32_t length, bool anyBytes, std::uint32_t deadline) const;
    std::uint32_t Take(FakeDevice& d, std::uint8_t* buffer, std::uint32_t length, std::uint32_t upTo);
    void Deliver(FakeDevice& d, const Bytes& bytes);
    std::uint64_t NowUs() const { return static_cast<std::uint64_t>(m_now - m_start) * 1000; }
    void SendQueued(FakeDevice& d); // drops what has left the line by now
    void Settle(std::unique_lock<std::mutex>& lock);

    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::uint32_t m_start, m_now;
    std::map<std::string, std::unique_ptr<FakeDevice>> m_devices;
    std::vector<std::unique_ptr<FakeDevice>> m_replaced;
    std::map<DeviceHandle, FakeDevice*> m_handles;
    DeviceHandle m_next = 0x40;
    std::map<std::uint64_t, Pending> m_pending;
    std::uint64_t m_nextPending = 1;
    std::map<ThreadHandle, std::shared_ptr<Worker>> m_workers;
    ThreadHandle m_nextThread = 1;
};

} // namespace pw::test
