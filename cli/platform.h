// What pinwright-cli does its own way on each platform (cli/posix/, cli/win32/): which port names are
// device files and what kind of port each is, and how a stop request (Ctrl-C) reaches the run.
#pragma once

#include <string>

namespace pw::cli {

// Whether `port` names a device file rather than one of the dialogs' ports: a path on Linux
// ("/dev/ttyUSB0"), a name in the device namespace on Windows ("\\.\COM12").
bool IsDevicePath(const std::string& port);

// The kind of port a device file is: 0 serial, 1 parallel, 2 USB.
int DeviceFileKind(const std::string& path);

// What a port stands for when telling whether two were given: the same key for two names of one device.
std::string PortIdentity(const std::string& port);

// The help's texts that name ports: what --port takes, and the examples.
const char* PortHelp();
const char* UsageExamples();

// Stop requests (Ctrl-C and its kin) from construction on, taken only by Wait: never in the middle of a
// port's work. Construct it before the port threads start. A request that comes after it is gone is
// ignored too, so that the results still get printed.
class StopRequests {
  public:
    StopRequests();
    ~StopRequests();
    StopRequests(const StopRequests&) = delete;
    StopRequests& operator=(const StopRequests&) = delete;

    // Waits up to `ms` for a request; true when one came (each request is taken once).
    bool Wait(unsigned ms);
};

} // namespace pw::cli
