// What the port names mean on Windows, which names the backend opens at all, and what a failed open
// tells the user. Plain rules without windows.h, so that they are tested on every platform.
#pragma once

#include "link/network_address.h"

#include <cstdint>
#include <string>

namespace pw::win32 {

// What a name stands for. A name in the device namespace ("\\.\", "\\?\") is a port only as COMn, LPTn or
// a USB printer interface: its first part ends with the printer interface class
// "#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}" (any letter case), optionally followed by a channel
// ("\USB0/4"). Anything else there (a file "\\?\C:\data\shop.sts", a pipe, a volume) is no port.
enum class PortNameKind { Serial, Parallel, UsbInterface, None };
PortNameKind KindOfPortName(const std::string& name);

// Whether a name is in the device namespace: it begins with "\\.\" or "\\?\".
bool IsDeviceNamespaceName(const std::string& name);

// The name after the "\\.\" or "\\?\" prefix, or the name itself.
std::string WithoutDevicePrefix(const std::string& name);

// The name CreateFileW opens for a port name: "COMn" becomes "\\.\COMn" (the only form that reaches ports
// above 9), a name already in the device namespace ("\\.\", "\\?\") and every other name ("LPTn", a USB
// interface path with its channel suffix) pass unchanged.
std::string DeviceNameFor(const std::string& portName);

// Why an open of `portName` failed with `error` (GetLastError), in words a user can act on.
std::string OpenProblem(const std::string& portName, std::uint32_t error);

// Said when a name that is no port (KindOfPortName None) is given to be opened: nothing is opened.
std::string NotAPortProblem(const std::string& portName);

// GetFileType's answers.
constexpr std::uint32_t kFileTypeUnknown = 0, kFileTypeDisk = 1, kFileTypeChar = 2, kFileTypePipe = 3,
                        kFileTypeRemote = 0x8000;

// Whether an opened handle of this type (GetFileType, and GetLastError after it) is a port's device: a
// character device, or a device of a type Windows does not sort (a driver's generic device type gives
// "unknown" with no error). Files, pipes and shares are not.
bool IsPortFileType(std::uint32_t fileType, std::uint32_t errorAfter);

// Said when a port's name opened something that is not a device (a file, a pipe): it is closed unwritten.
std::string NotADeviceProblem(const std::string& portName, std::uint32_t fileType);

// Said when no USB printer interface is present.
std::string NoUsbPrinterProblem();

// Said when a port opened but takes no serial line settings.
std::string NotASerialPortProblem(const std::string& portName, std::uint32_t error);

// What a Winsock error (WSAGetLastError, or getaddrinfo's result) of a connection attempt means.
ConnectFailure ConnectFailureOf(std::uint32_t wsaError);

} // namespace pw::win32
