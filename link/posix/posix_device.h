// One open device of the POSIX backend, whatever carries it: a device file (terminal.cpp) or a connection to
// a network printer (socket.cpp). The backend keeps them by handle and hands each call to its device.
#pragma once

#include "link/device_services.h"
#include "link/network_address.h"

#include <memory>
#include <string>
#include <vector>

namespace pw::posix {

// The calling thread's error code, as GetLastError tells it.
bool Fail(std::uint32_t error);
std::uint32_t LastError();
void SetLastErrorCode(std::uint32_t error);
// errno of a failed system call as the port's error code.
std::uint32_t ErrorFromErrno(int err);

class PosixDevice {
  public:
    virtual ~PosixDevice() = default;
    // Line settings; a device that has none fails with `problem` said in words a user can act on.
    virtual bool GetLine(LineSettings& settings, std::string& problem) = 0;
    virtual bool SetLine(const LineSettings& settings) = 0;
    // Throws away what `flags` (kPurgeInput, kPurgeOutput) name.
    virtual void Purge(std::uint32_t flags) = 0;
    // Bytes written and not yet sent on the line; 0 for a device that keeps no queue.
    virtual bool OutputQueue(std::uint32_t& queued) {
        queued = 0;
        return true;
    }
    // One write attempt within the attempt's limit: true with what went out (perhaps less than asked when
    // the limit came first), or false with the error set.
    virtual bool Write(const std::uint8_t* data, std::uint32_t length, std::uint32_t& written) = 0;
    // A read by `limits`: all `length` bytes or, when the limits say so, any bytes; it also ends when the
    // calling worker is asked to stop. Returns the count.
    virtual std::uint32_t Read(std::uint8_t* buffer, std::uint32_t length) = 0;
    // Releases the device, within a bound.
    virtual void Close() = 0;

    TimeLimits limits{};
    std::string path; // what was opened, for messages
};

// A device file (a terminal, /dev/lpN, /dev/usb/lpN): only character devices are taken, so a path that
// names a file or a pipe is never written to. Null with `problem` and the error set when it cannot be.
std::unique_ptr<PosixDevice> OpenDeviceFile(const std::string& name, ShareMode share, std::string& problem);

// A connection to the network printer "tcp://HOST[:PORT]" within `limitMs`; null with `problem` and the
// error set when none was made.
std::unique_ptr<PosixDevice> ConnectNetworkPrinter(const std::string& name, std::string& problem,
                                                   std::uint32_t limitMs = kConnectLimitMs);

// The numeric addresses of the host of "tcp://HOST[:PORT]", looked up within `limitMs`; as
// DeviceServices::LookUpHost.
bool LookUpNetworkHost(const std::string& name, std::uint32_t limitMs, std::vector<std::string>& found,
                       std::string& problem);

} // namespace pw::posix
