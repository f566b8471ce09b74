#include "link/printer_port.h"

#include "link/network_address.h"
#include "link/usb_discovery.h"

#include <algorithm>
#include <cstring>

namespace pw {

namespace {
constexpr std::uint32_t kWriteOverallLimitMs = 10000;
constexpr std::uint32_t kWritePauseMs = 50;
constexpr std::uint32_t kPendingPollMs = 20;
constexpr std::uint32_t kReadTotalMs = 5000;
constexpr std::uint32_t kDrainPollMs = 5;
constexpr std::uint32_t kDrainGraceMs = 100;
constexpr const char* kUsbSuffix = "USB0/4";
constexpr const char* kUsbHandleFailure = "Fail to get USB Handle";
} // namespace

std::uint32_t SerialFlagsWord(std::uint32_t current, std::int32_t parity) {
    std::uint32_t flags = (current & 0xFFFF9499u) | 0x1018u;
    if (parity != 0) flags |= kFlagParity;
    return flags;
}

TimeLimits SerialTimeLimits() {
    return TimeLimits{0, 0, kReadTotalMs, 5, 1000};
}

TimeLimits TransferTimeLimits() {
    return TimeLimits{kMaxDword, kMaxDword, kReadTotalMs, 5, 1000};
}

CPrinterPort::CPrinterPort(DeviceServices& services) : m_services(&services) {}

int CPrinterPort::Open() {
    m_strDeviceFile.clear();
    if (m_strPort.compare(0, 3, "COM") == 0) {
        m_nKind = kSerial;
        return OpenSerial();
    }
    if (m_strPort.compare(0, 3, "LPT") == 0) {
        m_nKind = kParallel;
        return OpenParallel();
    }
    if (m_strPort == "USB") {
        m_nKind = kUsb;
        if (!IsUsbSupportedOS(*m_services)) return 0;
        return OpenUsb();
    }
    if (IsNetworkName(m_strPort)) {
        m_nKind = kNetwork;
        return OpenNetwork();
    }
    return 0;
}

int CPrinterPort::OpenDeviceFile(const std::string& path, int kind) {
    m_strPort = path;
    m_strDeviceFile = path;
    m_nKind = kind;
    switch (kind) {
    case kSerial:
        return OpenSerial();
    case kParallel:
        return OpenParallel();
    case kUsb:
        return OpenUsb();
    default:
        return 0;
    }
}

void CPrinterPort::ReleaseHeld() {
    if (m_hPort != kNoDevice) m_services->CloseHandle(m_hPort);
    m_hPort = kNoDevice;
}

int CPrinterPort::OpenSerial() {
    ReleaseHeld();
    DeviceHandle h = m_services->CreateFile(m_strPort, ShareMode::Exclusive);
    if (h == kInvalidHandle || h == kNoDevice) {
        m_hPort = kNoDevice;
        return 0;
    }
    m_hPort = h;
    return ApplyLine();
}

int CPrinterPort::ApplyLine() {
    return SetLine(kPurgeAll);
}

int CPrinterPort::ChangeLine() {
    if (m_hPort == kNoDevice) return 0;
    LetOutputLeave();
    // A USB-serial bridge holds what it was handed in a FIFO of its own that no drain sees: what may be
    // there gets the time to leave at the old line, and the printer's UART the time to take it.
    LineSettings now{};
    if (m_services->GetCommState(m_hPort, now))
        m_services->Sleep(kLineChangeSettleMs + LineTimeMs(kBridgeFifoBytes,
                                                           static_cast<std::int32_t>(now.baudRate),
                                                           now.byteSize, now.parity, now.stopBits));
    return SetLine(kPurgeInput);
}

int CPrinterPort::SetLine(std::uint32_t purge) {
    const DeviceHandle h = m_hPort;
    LineSettings dcb{};
    if (!m_services->GetCommState(h, dcb)) return 0;
    dcb.baudRate = static_cast<std::uint32_t>(m_nBaudRate);
    dcb.byteSize = static_cast<std::uint8_t>(m_nByteSize & 0xFF);
    dcb.parity = static_cast<std::uint8_t>(m_nParity & 0xFF);
    dcb.stopBits = static_cast<std::uint8_t>(m_nStopBits & 0xFF);
    dcb.flags = SerialFlagsWord(dcb.flags, m_nParity);
    if (!m_services->SetCommState(h, dcb)) return 0;
    if (!m_services->SetCommTimeouts(h, SerialTimeLimits())) return 0;
    m_services->PurgeComm(h, purge);
    return 1;
}

int CPrinterPort::OpenParallel() {
    ReleaseHeld();
    DeviceHandle h = m_services->CreateFile(m_strPort, ShareMode::Exclusive);
    if (h == kInvalidHandle || h == kNoDevice) {
        m_hPort = kNoDevice;
        return 0;
    }
    m_hPort = h;
    m_services->SetCommTimeouts(h, TransferTimeLimits());
    m_services->PurgeComm(h, kPurgeAll);
    return 1;
}

int CPrinterPort::OpenUsb() {
    ReleaseHeld();
    DeviceHandle h = m_strDeviceFile.empty() ? OpenUsbPrinter(*m_services, kUsbSuffix)
                                             : m_services->CreateFile(m_strDeviceFile, ShareMode::Exclusive);
    if (h == kInvalidHandle || h == kNoDevice) {
        m_hPort = kNoDevice;
        if (m_onProblem) m_onProblem(kUsbHandleFailure, m_services->LastOpenProblem());
        return 0;
    }
    m_hPort = h;
    m_services->SetCommTimeouts(h, TransferTimeLimits());
    return 1;
}

int CPrinterPort::OpenNetwork() {
    ReleaseHeld();
    // The usual limit is the backend's own: the open the dialogs make stays the plain CreateFile.
    DeviceHandle h = m_nConnectLimitMs == kConnectLimitMs
                         ? m_services->CreateFile(m_strPort, ShareMode::Exclusive)
                         : m_services->Connect(m_strPort, m_nConnectLimitMs);
    if (h == kInvalidHandle || h == kNoDevice) {
        m_hPort = kNoDevice;
        return 0;
    }
    m_hPort = h;
    m_services->SetCommTimeouts(h, TransferTimeLimits());
    return 1;
}

std::uint32_t CPrinterPort::Write(const void* data, std::uint32_t length) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    DeviceServices& os = *m_services;
    const std::uint32_t t0 = os.GetTickCount();
    std::uint32_t total = 0;
    for (;;) {
        PendingWrite pending{};
        std::uint32_t count = 0;
        bool ok = os.WriteFile(m_hPort, bytes + total, length - total, count, pending);
        if (!ok && os.GetLastError() == kErrorIoPending) {
            if (m_nKind == kParallel) {
                ok = os.GetOverlappedResult(m_hPort, pending, count, true);
            } else {
                const std::uint32_t t1 = os.GetTickCount();
                const std::uint32_t attemptLimit = 5 * length + 5000;
                while (!(ok = os.GetOverlappedResult(m_hPort, pending, count, false))) {
                    if (os.GetLastError() != kErrorIoIncomplete) break;
                    if (os.GetTickCount() - t1 > attemptLimit) {
                        os.CancelIo(m_hPort);
                        break;
                    }
                    os.Sleep(kPendingPollMs);
                }
            }
        }
        if (!ok && m_nKind == kUsb) {
            const std::uint32_t error = os.GetLastError();
            if (error == kErrorAccessDenied || error == kErrorInvalidHandle) {
                ReleaseHeld();
                // The device is gone for good: return what went out; callers take a short write as a
                // failure, so the user keeps the session and the unsaved settings.
                if (!OpenUsb()) return total + count;
            }
        }
        // A connection that failed is gone for good, as a pulled cable: no retry can bring it back.
        if (!ok && m_nKind == kNetwork) return total + std::min(count, length - total);
        if (count > length - total) count = length - total;
        total += count;
        if (ok && total >= length) break;
        os.Sleep(kWritePauseMs);
        if (os.GetTickCount() - t0 >= kWriteOverallLimitMs) break;
    }
    return total;
}

int CPrinterPort::Read(void* buffer, int length) {
    if (length <= 0) return 0;
    std::uint32_t got = 0;
    m_services->ReadFile(m_hPort, static_cast<std::uint8_t*>(buffer), static_cast<std::uint32_t>(length),
                         got);
    return static_cast<int>(got);
}

int CPrinterPort::ReadWithin(void* buffer, int length, std::uint32_t limitMs) {
    const TimeLimits usual = m_nKind == kSerial ? SerialTimeLimits() : TransferTimeLimits();
    TimeLimits limits = usual;
    limits.readTotalConstant = std::max<std::uint32_t>(limitMs, 1);
    m_services->SetCommTimeouts(m_hPort, limits);
    const int n = Read(buffer, length);
    m_services->SetCommTimeouts(m_hPort, usual);
    return n;
}

void CPrinterPort::DiscardPending() {
    if (m_nKind == kNetwork && m_hPort != kNoDevice) m_services->PurgeComm(m_hPort, kPurgeAll);
}

std::uint32_t LineTimeMs(std::uint32_t bytes, std::int32_t baud, std::int32_t byteSize, std::int32_t parity,
                         std::int32_t stopBits) {
    if (baud <= 0) baud = 1200; // the slowest rate a printer takes
    const std::uint64_t bits = 1 + static_cast<std::uint64_t>(std::clamp(byteSize, 5, 8)) +
                               (parity != 0 ? 1 : 0) + (stopBits == 0 ? 1 : 2); // 1.5 stop bits counted as 2
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(
        (bytes * bits * 1000 + static_cast<std::uint64_t>(baud) - 1) / static_cast<std::uint64_t>(baud),
        kWriteOverallLimitMs));
}

std::uint32_t OutputDrainLimitMs(std::uint32_t queued, std::int32_t baud, std::int32_t byteSize,
                                 std::int32_t parity, std::int32_t stopBits) {
    const std::uint64_t lineMs = LineTimeMs(queued, baud, byteSize, parity, stopBits);
    return static_cast<std::uint32_t>(
        std::min<std::uint64_t>(2 * lineMs + kDrainGraceMs, kWriteOverallLimitMs));
}

void CPrinterPort::LetOutputLeave(const LineSettings* line) {
    DeviceServices& os = *m_services;
    std::uint32_t queued = 0;
    if (!os.GetOutputQueue(m_hPort, queued) || queued == 0) return;
    const std::uint32_t limit =
        line ? OutputDrainLimitMs(queued, static_cast<std::int32_t>(line->baudRate), line->byteSize,
                                  line->parity, line->stopBits)
             : OutputDrainLimitMs(queued, m_nBaudRate, m_nByteSize, m_nParity, m_nStopBits);
    const std::uint32_t t0 = os.GetTickCount();
    while (os.GetOutputQueue(m_hPort, queued) && queued > 0) {
        if (os.GetTickCount() - t0 >= limit) {
            // Held back (flow control, a line that does not move): at a close what is left will not go
            // out; before a line change it is left to go (it may end user setting mode).
            if (!line) os.PurgeComm(m_hPort, kPurgeOutput);
            return;
        }
        os.SleepUncut(kDrainPollMs);
    }
}

int CPrinterPort::Close() {
    if (m_hPort == kNoDevice) return 0;
    // Input only is thrown away: what was written still goes out first (the end of user setting mode
    // among it), so a stop right after a command never cuts it off the line.
    if (m_nKind == kSerial) {
        m_services->SetCommMask(m_hPort, 0);
        LetOutputLeave();
        m_services->PurgeComm(m_hPort, kPurgeInput);
    } else if (m_nKind == kParallel) {
        m_services->PurgeComm(m_hPort, kPurgeInput);
    }
    bool closed = m_services->CloseHandle(m_hPort);
    m_hPort = kNoDevice;
    return closed ? 1 : 0;
}

int IsUsbSupportedOS(DeviceServices& services) {
    OsVersion v{};
    if (!services.GetVersionEx(v, true) && !services.GetVersionEx(v, false)) return 0;
    if (v.platformId == 1) return (v.major == 4 && v.minor == 0) ? 0 : 1;
    if (v.platformId == 2) return v.major <= 4 ? 0 : 1;
    return 1;
}

} // namespace pw
