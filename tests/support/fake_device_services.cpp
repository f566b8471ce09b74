#include "tests/support/fake_device_services.h"

#include <algorithm>
#include <utility>

#include <chrono>
#include <cstdio>
#include <thread>

namespace pw::test {

namespace {
thread_local std::uint32_t lastError = 0;
bool Fail(std::uint32_t e) {
    lastError = e;
    return false;
}
} // namespace

// Wrap-aware "a is at or before b" on the 32-bit millisecond clock.
bool NotAfter(std::uint32_t a, std::uint32_t b) {
    return static_cast<std::int32_t>(a - b) <= 0;
}

struct FakeDeviceServices::Worker {
    enum State { Running, Blocked, Finished } state = Running;
    bool stopped = false;
    bool drivesClock = false; // set before the thread starts
    std::thread thread;
    // What a blocked read waits for, so that a sleep can tell whether it is now satisfied.
    FakeDevice* device = nullptr;
    std::uint32_t length = 0, deadline = 0;
    bool anyBytes = false;
};

namespace {
thread_local void* currentWorker = nullptr;
constexpr auto kStuckLimit = std::chrono::seconds(10); // real time: a worker waiting on a clock nobody moves
} // namespace

void FakeDevice::ReplyAt(std::uint32_t due, const Bytes& bytes) {
    // Kept in order of arrival: a later reply scheduled earlier still comes after an earlier one.
    auto at = m_input.end();
    while (at != m_input.begin() && !NotAfter(std::prev(at)->first, due)) --at;
    for (auto b : bytes) at = std::next(m_input.insert(at, {due, b}));
}

Bytes FakeDevice::TakeReceived() {
    Bytes out(received.begin() + static_cast<long>(m_taken), received.end());
    m_taken = received.size();
    return out;
}

FakeDevice& AddUsbPrinter(FakeDeviceServices& os) {
    os.usbInterfaces = {"/dev/usb/lp0"};
    os.AddDevice("/dev/usb/lp0");
    return os.AddDevice("/dev/usb/lp0\\USB0/4");
}

FakeDeviceServices::FakeDeviceServices(std::uint32_t startTick) : m_start(startTick), m_now(startTick) {}

FakeDeviceServices::~FakeDeviceServices() {
    std::unique_lock lock(m_mutex);
    for (auto& [id, w] : m_workers) w->stopped = true;
    m_cv.notify_all();
    auto workers = m_workers;
    lock.unlock();
    for (auto& [id, w] : workers)
        if (w->thread.joinable()) w->thread.join();
}

FakeDevice& FakeDeviceServices::AddDevice(const std::string& name) {
    auto& d = m_devices[name];
    // A device added again under its name replaces the old one, which stays alive for the handles and
    // threads that still point at it.
    if (d) m_replaced.push_back(std::move(d));
    d = std::make_unique<FakeDevice>();
    d->m_owner = this;
    return *d;
}

FakeDevice* FakeDeviceServices::DeviceNamed(const std::string& name) {
    auto it = m_devices.find(name);
    return it == m_devices.end() ? nullptr : it->second.get();
}

FakeDevice* FakeDeviceServices::DeviceOf(DeviceHandle h) {
    std::lock_guard lock(m_mutex);
    auto it = m_handles.find(h);
    return it == m_handles.end() ? nullptr : it->second;
}

DeviceHandle FakeDeviceServices::CreateFile(const std::string& name, ShareMode share) {
    std::lock_guard lock(m_mutex);
    opened.push_back(name);
    auto it = m_devices.find(name);
    if (it == m_devices.end()) {
        lastError = kErrorFileNotFound;
        return kInvalidHandle;
    }
    FakeDevice& d = *it->second;
    if (d.openError) {
        lastError = d.openError;
        return kInvalidHandle;
    }
    if (d.held && share == ShareMode::Exclusive) {
        lastError = kErrorSharingViolation;
        return kInvalidHandle;
    }
    d.held = true;
    ++d.opens;
    DeviceHandle h = m_next++;
    m_handles[h] = &d;
    return h;
}

DeviceHandle FakeDeviceServices::Connect(const std::string& name, std::uint32_t limitMs) {
    {
        std::lock_guard lock(m_mutex);
        connectLimits.push_back(limitMs);
    }
    return CreateFile(name, ShareMode::Exclusive);
}

bool FakeDeviceServices::CloseHandle(DeviceHandle h) {
    std::lock_guard lock(m_mutex);
    auto it = m_handles.find(h);
    if (it == m_handles.end()) return Fail(kErrorInvalidHandle);
    it->second->held = false;
    ++it->second->closes;
    m_handles.erase(it);
    return true;
}

bool FakeDeviceServices::GetCommState(DeviceHandle h, LineSettings& s) {
    FakeDevice* d = DeviceOf(h);
    if (!d) return Fail(kErrorInvalidHandle);
    if (d->failGetCommState) return Fail(kErrorGenFailure);
    s = d->settings;
    return true;
}

bool FakeDeviceServices::SetCommState(DeviceHandle h, const LineSettings& s) {
    FakeDevice* d = DeviceOf(h);
    if (!d) return Fail(kErrorInvalidHandle);
    if (d->failSetCommState) return Fail(kErrorGenFailure);
    d->settings = s;
    return true;
}

bool FakeDeviceServices::SetCommTimeouts(DeviceHandle h, const TimeLimits& l) {
    FakeDevice* d = DeviceOf(h);
    if (!d) return Fail(kErrorInvalidHandle);
    if (d->failSetTimeouts) return Fail(kErrorGenFailure);
    d->limits = l;
    return true;
}

void FakeDeviceServices::SetCommMask(DeviceHandle h, std::uint32_t) {
    if (FakeDevice* d = DeviceOf(h)) ++d->commMaskCalls;
}

void FakeDeviceServices::PurgeComm(DeviceHandle h, std::uint32_t flags) {
    std::lock_guard lock(m_mutex);
    auto it = m_handles.find(h);
    if (it == m_handles.end()) return;
    FakeDevice& d = *it->second;
    ++d.purges;
    d.purgeFlags.push_back(flags);
    if (flags & kPurgeInput)
        while (!d.m_input.empty() && d.m_input.front().first <= m_now) d.m_input.pop_front();
    if (flags & kPurgeOutput) {
        SendQueued(d);
        const std::size_t lost = std::min(d.m_leavesAtUs.size(), d.received.size());
        d.discarded.insert(d.discarded.end(), d.received.end() - static_cast<long>(lost), d.received.end());
        d.received.resize(d.received.size() - lost);
        d.m_taken = std::min(d.m_taken, d.received.size());
        d.m_leavesAtUs.clear();
    }
}

void FakeDeviceServices::SendQueued(FakeDevice& d) {
    if (d.outputHeld) return;
    while (!d.m_leavesAtUs.empty() && d.m_leavesAtUs.front() <= NowUs()) d.m_leavesAtUs.pop_front();
}

bool FakeDeviceServices::GetOutputQueue(DeviceHandle h, std::uint32_t& queued) {
    queued = 0;
    std::lock_guard lock(m_mutex);
    auto it = m_handles.find(h);
    if (it == m_handles.end()) return Fail(kErrorInvalidHandle);
    SendQueued(*it->second);
    queued = static_cast<std::uint32_t>(it->second->m_leavesAtUs.size());
    return true;
}

void FakeDeviceServices::ReplyNow(FakeDevice& device, const Bytes& bytes) {
    std::lock_guard lock(m_mutex);
    device.ReplyAt(m_now, bytes);
}

void FakeDeviceServices::Deliver(FakeDevice& d, const Bytes& bytes) {
    std::lock_guard lock(m_mutex);
    d.received.insert(d.received.end(), bytes.begin(), bytes.end());
    if (d.sendsAtLineRate && d.settings.baudRate > 0) {
        const LineSettings& l = d.settings;
        const std::uint64_t bits = 1u + l.byteSize + (l.parity != 0 ? 1u : 0u) + (l.stopBits == 0 ? 1u : 2u);
        const std::uint64_t frameUs = (bits * 1000000 + l.baudRate - 1) / l.baudRate;
        SendQueued(d);
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            d.m_lineFreeAtUs = std::max(d.m_lineFreeAtUs, NowUs()) + frameUs;
            d.m_leavesAtUs.push_back(d.m_lineFreeAtUs);
        }
    }
    if (d.onBytes && !bytes.empty()) d.onBytes(d, bytes);
}

bool FakeDeviceServices::WriteFile(DeviceHandle h, const std::uint8_t* data, std::uint32_t length,
                                   std::uint32_t& written, PendingWrite& pending) {
    written = 0;
    FakeDevice* d = DeviceOf(h);
    if (!d) return Fail(kErrorInvalidHandle);
    d->attemptTimes.push_back(m_now);
    WriteOutcome out = d->acceptScript ? d->acceptScript(d->m_attempt++, length) : WriteOutcome::All(length);
    Bytes taken(data, data + std::min(out.accepted, length));
    switch (out.kind) {
    case WriteOutcome::Done:
        written = static_cast<std::uint32_t>(taken.size());
        Deliver(*d, taken);
        return true;
    case WriteOutcome::Fail:
        written = static_cast<std::uint32_t>(taken.size());
        Deliver(*d, taken);
        return Fail(out.error);
    case WriteOutcome::Pending: {
        std::lock_guard lock(m_mutex);
        pending.id = m_nextPending++;
        m_pending[pending.id] = Pending{h, taken, m_now + out.completeAfter};
        return Fail(kErrorIoPending);
    }
    }
    return false;
}

bool FakeDeviceServices::GetOverlappedResult(DeviceHandle h, PendingWrite& pending, std::uint32_t& written,
                                             bool wait) {
    written = 0;
    FakeDevice* d = DeviceOf(h);
    auto it = m_pending.find(pending.id);
    if (!d || it == m_pending.end()) return Fail(kErrorInvalidHandle);
    std::unique_lock lock(m_mutex);
    if (!NotAfter(it->second.completesAt, m_now)) { // not yet finished
        if (!wait) return Fail(kErrorIoIncomplete);
        m_now = it->second.completesAt;
    }
    Bytes bytes = it->second.bytes;
    m_pending.erase(it);
    lock.unlock();
    written = static_cast<std::uint32_t>(bytes.size());
    Deliver(*d, bytes);
    return true;
}

void FakeDeviceServices::CancelIo(DeviceHandle h) {
    for (auto it = m_pending.begin(); it != m_pending.end();)
        it = it->second.h == h ? m_pending.erase(it) : std::next(it);
}

bool FakeDeviceServices::ReadReady(FakeDevice& d, std::uint32_t length, bool anyBytes,
                                   std::uint32_t deadline) const {
    std::uint32_t due = 0;
    for (auto& [t, b] : d.m_input) {
        if (!NotAfter(t, m_now)) break;
        if (++due >= length) return true;
    }
    if (anyBytes && due > 0) return true;
    return NotAfter(deadline, m_now); // the read's time is up
}

std::uint32_t FakeDeviceServices::Take(FakeDevice& d, std::uint8_t* buffer, std::uint32_t length,
                                       std::uint32_t upTo) {
    std::uint32_t n = 0;
    while (n < length && !d.m_input.empty() && NotAfter(d.m_input.front().first, upTo)) {
        buffer[n++] = d.m_input.front().second;
        d.m_input.pop_front();
    }
    return n;
}

bool FakeDeviceServices::ReadFile(DeviceHandle h, std::uint8_t* buffer, std::uint32_t length,
                                  std::uint32_t& read) {
    read = 0;
    std::unique_lock lock(m_mutex);
    auto it = m_handles.find(h);
    if (it == m_handles.end()) return Fail(kErrorInvalidHandle);
    FakeDevice& d = *it->second;
    const TimeLimits& l = d.limits;
    const bool anyBytes = l.readInterval == kMaxDword && l.readTotalMultiplier == kMaxDword;
    std::uint32_t budget =
        anyBytes ? l.readTotalConstant : l.readTotalMultiplier * length + l.readTotalConstant;
    const std::uint32_t deadline = m_now + budget;

    auto* w = static_cast<Worker*>(currentWorker);
    if (w && w->drivesClock && w->stopped) return true; // a stopped worker's read returns at once
    if (w && !w->drivesClock) {
        // A worker blocks until a sleep of the clock's driver makes its read ready, or it is stopped.
        w->device = &d;
        w->length = length;
        w->anyBytes = anyBytes;
        w->deadline = deadline;
        const auto stuck = std::chrono::steady_clock::now() + kStuckLimit;
        while (!w->stopped && !ReadReady(d, length, anyBytes, deadline)) {
            w->state = Worker::Blocked;
            m_cv.notify_all();
            if (m_cv.wait_until(lock, stuck) == std::cv_status::timeout) {
                std::fprintf(stderr,
                             "fake device services: a worker's read waited %lld s for a clock that "
                             "never moved (set workersDriveClock?)\n",
                             static_cast<long long>(kStuckLimit.count()));
                w->state = Worker::Running;
                w->device = nullptr;
                return true;
            }
        }
        w->state = Worker::Running;
        w->device = nullptr;
        if (!w->stopped) read = Take(d, buffer, length, m_now);
        return true;
    }

    if (anyBytes) {
        // Returns as soon as any bytes are there, or at the deadline with nothing.
        if (d.m_input.empty() || !NotAfter(d.m_input.front().first, deadline)) {
            m_now = deadline;
            return true;
        }
        if (!NotAfter(d.m_input.front().first, m_now)) m_now = d.m_input.front().first;
        read = Take(d, buffer, length, m_now);
        return true;
    }
    // Returns when all requested bytes came, or at the deadline with what came.
    std::uint32_t last = m_now;
    std::uint32_t n = 0;
    for (auto& [t, b] : d.m_input) {
        if (n == length || !NotAfter(t, deadline)) break;
        ++n;
        if (!NotAfter(t, last)) last = t;
    }
    read = Take(d, buffer, length, deadline);
    m_now = read == length ? last : deadline;
    return true;
}

std::uint32_t FakeDeviceServices::GetLastError() {
    return lastError;
}

void FakeDeviceServices::SetLastError(std::uint32_t error) {
    lastError = error;
}

std::uint32_t FakeDeviceServices::GetTickCount() {
    std::lock_guard lock(m_mutex);
    return m_now;
}

void FakeDeviceServices::Settle(std::unique_lock<std::mutex>& lock) {
    // Wake blocked workers whose reads are now satisfied, then wait until every worker is blocked again or
    // finished. A real-time bound keeps a broken worker from hanging the test.
    for (auto& [id, w] : m_workers)
        if (w->state == Worker::Blocked && w->device &&
            (w->stopped || ReadReady(*w->device, w->length, w->anyBytes, w->deadline)))
            w->state = Worker::Running;
    m_cv.notify_all();
    auto busy = [this] {
        for (auto& [id, w] : m_workers)
            if (w->state == Worker::Running && !w->drivesClock) return true;
        return false;
    };
    m_cv.wait_for(lock, std::chrono::seconds(5), [&] { return !busy(); });
}

void FakeDeviceServices::Sleep(std::uint32_t ms) {
    std::unique_lock lock(m_mutex);
    sleeps.push_back(ms);
    auto* w = static_cast<Worker*>(currentWorker);
    if (w && !w->drivesClock) return; // only the clock's driver moves it
    m_now += ms;
    Settle(lock);
}

bool FakeDeviceServices::GetVersionEx(OsVersion& v, bool extended) {
    if (extended && extendedVersionFails) return false;
    if (!version) return false;
    v = *version;
    return true;
}

bool FakeDeviceServices::EnumUsbInterface(std::uint32_t index, std::string& path) {
    if (index >= usbInterfaces.size()) return Fail(kErrorNoMoreItems);
    path = usbInterfaces[index];
    return true;
}

ThreadHandle FakeDeviceServices::StartThread(std::function<void()> body) {
    if (noThreads) {
        lastError = kErrorNotEnoughMemory;
        return 0;
    }
    std::unique_lock lock(m_mutex);
    auto w = std::make_shared<Worker>();
    ThreadHandle id = m_nextThread++;
    m_workers[id] = w;
    ++threadsStarted;
    w->drivesClock = workersDriveClock && !currentWorker;
    Worker* raw = w.get();
    w->thread = std::thread([this, raw, body = std::move(body)] {
        currentWorker = raw;
        body();
        currentWorker = nullptr;
        std::lock_guard inner(m_mutex);
        raw->state = Worker::Finished;
        m_cv.notify_all();
    });
    return id;
}

void FakeDeviceServices::StopThread(ThreadHandle t) {
    if (auto hook = std::exchange(beforeStopThread, nullptr)) hook();
    std::unique_lock lock(m_mutex);
    auto it = m_workers.find(t);
    if (it == m_workers.end()) return;
    it->second->stopped = true;
    ++threadsStopped;
    if (it->second->state == Worker::Blocked) it->second->state = Worker::Running;
    m_cv.notify_all();
}

void FakeDeviceServices::JoinThread(ThreadHandle t) {
    std::shared_ptr<Worker> w;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_workers.find(t);
        if (it == m_workers.end()) return;
        w = it->second;
        m_workers.erase(it);
    }
    if (w->thread.joinable()) w->thread.join();
}

} // namespace pw::test
