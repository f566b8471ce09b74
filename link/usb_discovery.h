// Finds the USB printer: walks the present USB device interfaces, takes the first whose path opens,
// appends a backslash and a fixed suffix (the printer channel of that device) and opens that name
// exclusively. Writes three kinds of diagnostic line to standard output as it goes.
#pragma once

#include "link/device_services.h"

#include <cstdio>
#include <functional>
#include <string>

namespace pw {

constexpr std::size_t kCompleteDeviceNameSize = 512;

// The module-wide buffer that receives each probed path and, at the end, the complete device name.
const char* CompleteDeviceName();

// Where the diagnostic lines go (standard output by default; tests capture them).
void SetDiscoveryOutput(std::FILE* out);
// Or each line, without its line end, to `sink` instead (when set; an empty one gives the file back): a
// front end that shows device paths its own way, escaped, hands one over. Set it before any discovery
// runs; it may be called from several threads at once.
void SetDiscoveryLineSink(std::function<void(const std::string& line)> sink);

DeviceHandle OpenUsbPrinter(DeviceServices& services, const char* suffix);
// The walk below keeps paths of at most maxPath characters (504 with the suffix "USB0/4").
int FindUsbInterfacePath(DeviceServices& services, char* path, std::size_t maxPath);
DeviceHandle OpenFirstUsbInterface(DeviceServices& services, char* path, std::size_t maxPath);
DeviceHandle ProbeUsbInterface(DeviceServices& services, const std::string& devicePath, char* path,
                               std::size_t maxPath);

} // namespace pw
