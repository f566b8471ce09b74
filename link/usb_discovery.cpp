#include "link/usb_discovery.h"

#include <cstring>

namespace pw {

namespace {
char completeDeviceName[kCompleteDeviceNameSize];
std::FILE* diagnostics = nullptr;

std::function<void(const std::string&)> lineSink;

std::FILE* Out() {
    return diagnostics ? diagnostics : stdout;
}

void Line(const std::string& text) {
    if (lineSink) {
        lineSink(text);
        return;
    }
    std::fprintf(Out(), "%s\n", text.c_str());
    std::fflush(Out());
}

} // namespace

const char* CompleteDeviceName() {
    return completeDeviceName;
}

void SetDiscoveryOutput(std::FILE* out) {
    diagnostics = out;
}

void SetDiscoveryLineSink(std::function<void(const std::string& line)> sink) {
    lineSink = std::move(sink);
}

DeviceHandle OpenUsbPrinter(DeviceServices& services, const char* suffix) {
    // The interface path, a backslash, the suffix and the terminator must fit the buffer.
    const std::size_t maxPath = kCompleteDeviceNameSize - 2 - std::strlen(suffix);
    if (FindUsbInterfacePath(services, completeDeviceName, maxPath) == 0) return kInvalidHandle;
    std::size_t len = std::strlen(completeDeviceName);
    completeDeviceName[len] = '\\';
    std::strcpy(completeDeviceName + len + 1, suffix);
    Line(std::string("completeDeviceName = (") + completeDeviceName + ")");
    DeviceHandle h = services.CreateFile(completeDeviceName, ShareMode::Exclusive);
    return h == kNoDevice ? kInvalidHandle : h;
}

int FindUsbInterfacePath(DeviceServices& services, char* path, std::size_t maxPath) {
    DeviceHandle probe = OpenFirstUsbInterface(services, path, maxPath);
    if (probe == kInvalidHandle) return 0;
    services.CloseHandle(probe); // only the path stays; the complete name is opened afresh
    return 1;
}

DeviceHandle OpenFirstUsbInterface(DeviceServices& services, char* path, std::size_t maxPath) {
    // An enumeration that keeps failing with other errors would never end: give up after this many.
    constexpr std::uint32_t kMaxIndexes = 1024;
    for (std::uint32_t index = 0; index < kMaxIndexes; ++index) {
        std::string devicePath;
        if (services.EnumUsbInterface(index, devicePath)) {
            DeviceHandle h = ProbeUsbInterface(services, devicePath, path, maxPath);
            if (h != kInvalidHandle) return h;
        } else if (services.GetLastError() == kErrorNoMoreItems) {
            break;
        }
    }
    return kInvalidHandle;
}

DeviceHandle ProbeUsbInterface(DeviceServices& services, const std::string& devicePath, char* path,
                               std::size_t maxPath) {
    // A path whose details cannot be read, or that would not fit with the suffix, is skipped silently.
    if (devicePath.empty() || devicePath.size() > maxPath) return kInvalidHandle;
    std::memcpy(path, devicePath.c_str(), devicePath.size() + 1);
    Line(std::string("Attempting to open ") + path);
    DeviceHandle h = services.CreateFile(devicePath, ShareMode::ReadWrite);
    if (h == kInvalidHandle || h == kNoDevice) {
        Line(std::string("FAILED to open ") + path);
        h = kInvalidHandle;
    }
    return h;
}

} // namespace pw
