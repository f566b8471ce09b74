// The one link to the printer: opens the device a port name designates ("COM..", "LPT..", "USB", or a
// printer on the network, "tcp://HOST[:PORT]"), writes with time limits and retries, reads, closes. Runs
// over DeviceServices.
#pragma once

#include "link/device_services.h"
#include "link/network_address.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace pw {

enum InterfaceKind : int { kSerial = 0, kParallel = 1, kUsb = 2, kNetwork = 3 };

// USB and network links hand a reply over as it came, so the sequences read it whole (and take the USB
// reading path); serial and parallel replies are read byte by byte.
inline bool ReadsWholeReplies(int kind) {
    return kind == kUsb || kind == kNetwork;
}

// The device services of the platform this program runs on. With $PINWRIGHT_TRACE set to a file name,
// every byte on the line is also traced there (see tracing_device_services.h).
DeviceServices& PlatformServices();
// A device services object of its own, for a port that works beside others on another thread.
std::unique_ptr<DeviceServices> NewPlatformServices();
// The backend's own services, untraced (each backend defines it once).
DeviceServices& NativeServices();

class CPrinterPort {
  public:
    explicit CPrinterPort(DeviceServices& services = PlatformServices());
    virtual ~CPrinterPort() = default; // releases the name only; owners Close() first

    int Open();
    // Opens a device file by its path as the given kind, by the same rules as Open: serial with the line
    // settings, parallel, or USB-like (reads end as soon as any bytes came). A USB write that loses the
    // device opens this same file again instead of searching.
    int OpenDeviceFile(const std::string& path, int kind);
    // Lets what was written leave a serial line (within a bound), throws away unread input, releases.
    int Close();
    std::uint32_t Write(const void* data, std::uint32_t length);
    int Read(void* buffer, int length);
    // A read within `limitMs` instead of the read's usual limit: on a serial line all `length` bytes or what
    // came; on the other kinds what has come (a reply may come in pieces).
    int ReadWithin(void* buffer, int length, std::uint32_t limitMs);
    // Network links only: throws away what the printer sent and nobody asked for yet (the rest of a reply
    // given up on, a late one), so that it is never taken for the next reply. Nothing for other kinds.
    void DiscardPending();

    int OpenSerial();
    // Sets the open serial port to m_nBaudRate, m_nByteSize, m_nParity and m_nStopBits, with the serial
    // time limits, and throws away what the line holds.
    int ApplyLine();
    // The same on a line that carried commands the printer has yet to take all of: what was written
    // leaves at the old line first (within a bound), and only input is thrown away.
    int ChangeLine();
    int OpenParallel();
    int OpenUsb();
    // Connects to the printer at the network address in m_strPort, within m_nConnectLimitMs. On failure the
    // services' LastOpenProblem names the address and why.
    int OpenNetwork();

    DeviceServices& Services() const { return *m_services; }

    std::int32_t m_nBaudRate = 0;
    std::int32_t m_nParity = 0;
    std::int32_t m_nByteSize = 0;
    std::int32_t m_nStopBits = 0;
    std::string m_strPort = "COM1";
    DeviceHandle m_hPort = kNoDevice;
    std::int32_t m_nKind = kSerial;
    std::string m_strDeviceFile; // set by OpenDeviceFile; empty when the port is opened by name
    // How long a network connection may take to be made; the dialogs keep kConnectLimitMs.
    std::uint32_t m_nConnectLimitMs = kConnectLimitMs;
    // The command line's waits: a reply is read as soon as it has come whole by its frame, and the fixed
    // waits before the reads become their bounds. The dialogs keep their fixed waits.
    bool m_bFramedReplies = false;

    // Told of a problem that no result carries to the caller: the USB printer could not be found (at
    // open, or again after a write lost it). The owner shows it: a message box, or a line on stderr.
    std::function<void(const std::string& text, const std::string& detail)> m_onProblem;

  private:
    void ReleaseHeld();
    // Waits, within OutputDrainLimitMs, for what the serial driver still holds to leave: at the port's
    // line, and then throws away what is held back; at `line`, and then leaves it.
    void LetOutputLeave(const LineSettings* line = nullptr);
    int SetLine(std::uint32_t purge);
    DeviceServices* m_services;
};

int IsUsbSupportedOS(DeviceServices& services = PlatformServices());

// The flags word written at a serial open: keep mask 0xFFFF9499, set DSR output flow, DTR and RTS on,
// and parity checking for odd or even parity.
std::uint32_t SerialFlagsWord(std::uint32_t current, std::int32_t parity);

// Serial time limits: reads 5000 ms in all; a write attempt of n bytes 5 x n + 1000 ms.
TimeLimits SerialTimeLimits();
// How long `bytes` take on a serial line at that rate and frame.
std::uint32_t LineTimeMs(std::uint32_t bytes, std::int32_t baud, std::int32_t byteSize, std::int32_t parity,
                         std::int32_t stopBits);
// A USB-serial bridge's own FIFO, which a drain does not see, and the time a line change gives what may be
// in it (and the printer's UART) besides its time on the line.
constexpr std::uint32_t kBridgeFifoBytes = 64;
constexpr std::uint32_t kLineChangeSettleMs = 50;
// How long a close waits for `queued` bytes to leave a serial line at its rate and frame: twice their time
// on the line, and 100 ms for the driver, at most 10 s.
std::uint32_t OutputDrainLimitMs(std::uint32_t queued, std::int32_t baud, std::int32_t byteSize,
                                 std::int32_t parity, std::int32_t stopBits);

// Parallel, USB and network reads end as soon as any bytes came, or after 5000 ms with nothing.
TimeLimits TransferTimeLimits();

} // namespace pw
