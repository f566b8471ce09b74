// What the port names mean on Windows, and what a failed open tells the user. Plain rules without
// windows.h, so that they are tested on every platform.
#pragma once

#include "link/network_address.h"

#include <cstdint>
#include <string>

namespace pw::win32 {

// The name CreateFileA opens for a port name: "COMn" becomes "\\.\COMn" (the only form that reaches ports
// above 9), a name already in the device namespace ("\\.\", "\\?\") and every other name ("LPTn", a USB
// interface path with its channel suffix) pass unchanged.
std::string DeviceNameFor(const std::string& portName);

// Why an open of `portName` failed with `error` (GetLastError), in words a user can act on.
std::string OpenProblem(const std::string& portName, std::uint32_t error);

// Said when no USB printer interface is present.
std::string NoUsbPrinterProblem();

// Said when a port opened but takes no serial line settings.
std::string NotASerialPortProblem(const std::string& portName, std::uint32_t error);

// What a Winsock error (WSAGetLastError, or getaddrinfo's result) of a connection attempt means.
ConnectFailure ConnectFailureOf(std::uint32_t wsaError);

} // namespace pw::win32
