// One open device of the Win32 backend, whatever carries it: a device file (COMn, LPTn, a USB printer
// interface; device_file.cpp) or a connection to a network printer (network_socket.cpp). The backend keeps
// them by handle and hands each call to its device. No windows.h here: handles pass as void*.
#pragma once

#include "link/device_services.h"
#include "link/network_address.h"
#include "link/worker_threads.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace pw::win32 {

// The calling thread's error code, as GetLastError tells it; Fail also sets the system's.
bool Fail(std::uint32_t error);
std::uint32_t LastError();

class Win32Device {
  public:
    virtual ~Win32Device() = default;
    // Line settings; a device that has none fails with `problem` said in words a user can act on.
    virtual bool GetLine(LineSettings& settings, std::string& problem) = 0;
    virtual bool SetLine(const LineSettings& settings) = 0;
    // The time limits of later reads and writes; false (the limits still kept for the device's reads)
    // when the device takes none of its own.
    virtual bool SetLimits(const TimeLimits& limits) = 0;
    virtual void SetMask(std::uint32_t) {}
    // Throws away what `flags` name (kPurgeInput: what waits to be read; kPurgeOutput: for a device file,
    // what waits to be sent), within a bound.
    virtual void Purge(std::uint32_t flags) = 0;
    // Bytes written and not yet sent on the line; 0 for a device that keeps no queue.
    virtual bool OutputQueue(std::uint32_t& queued) {
        queued = 0;
        return true;
    }
    // One write attempt: as WriteFile, false with kErrorIoPending when it goes on.
    virtual bool Write(const std::uint8_t* data, std::uint32_t length, std::uint32_t& written,
                       PendingWrite& pending) = 0;
    virtual bool WriteResult(PendingWrite& pending, std::uint32_t& written, bool wait);
    virtual void Cancel() {}
    // A read by the limits: it also ends when the calling worker is asked to stop; what came counts.
    virtual bool Read(std::uint8_t* buffer, std::uint32_t length, std::uint32_t& read) = 0;
    // Releases the device, within a bound; false with the error set when the system refused.
    virtual bool Close() = 0;

    std::string port; // the name it was opened by, for messages

  protected:
    TimeLimits Limits() const;
    void KeepLimits(const TimeLimits& limits);

  private:
    mutable std::mutex m_limitsMutex;
    TimeLimits m_limits{};
};

// A device file by its port name: only names of ports (KindOfPortName) are opened, and only devices are
// kept, so a name that leads to a file or a pipe is never written to. Null with `problem` and the error
// set when it cannot be.
std::unique_ptr<Win32Device> OpenDeviceFile(const std::string& name, ShareMode share, std::string& problem);

// A device file on a handle opened elsewhere (overlapped), taken as it is: the tests put a pipe there,
// which stands in for a device that neither answers nor takes COMMTIMEOUTS.
std::unique_ptr<Win32Device> DeviceFileOn(void* handle, const std::string& name);

// A connection to the network printer "tcp://HOST[:PORT]" within `limitMs`; null with `problem` and the
// error set when none was made.
std::unique_ptr<Win32Device> ConnectNetworkPrinter(const std::string& name, std::string& problem,
                                                   std::uint32_t limitMs = kConnectLimitMs);

// The numeric addresses of the host of "tcp://HOST[:PORT]", looked up within `limitMs`; as
// DeviceServices::LookUpHost.
bool LookUpNetworkHost(const std::string& name, std::uint32_t limitMs, std::vector<std::string>& found,
                       std::string& problem);

// A worker's wake-up object: a manual-reset event, Native() its HANDLE; null when none can be had.
std::unique_ptr<WakeSignal> MakeEventWake();
// The wake-up event of the calling worker, or null on any other thread (or a worker without one).
void* CurrentWakeEvent();

// The n-th USB printer interface present (SetupAPI), as DeviceServices::EnumUsbInterface; `problem` is set
// when there is none at all.
bool UsbInterfaceAt(std::uint32_t index, std::string& path, std::string& problem);

} // namespace pw::win32
