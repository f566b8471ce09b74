#include "link/win32/device_names.h"

#include <algorithm>
#include <cctype>

namespace pw::win32 {

namespace {
constexpr std::uint32_t kErrorFileNotFound = 2;
constexpr std::uint32_t kErrorPathNotFound = 3;
constexpr std::uint32_t kErrorAccessDenied = 5;
constexpr std::uint32_t kErrorNotReady = 21;
constexpr std::uint32_t kErrorGenFailure = 31;
constexpr std::uint32_t kErrorSharingViolation = 32;
constexpr std::uint32_t kErrorInvalidName = 123;
constexpr std::uint32_t kErrorDeviceNotConnected = 1167;

bool StartsWith(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

bool AllDigits(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

// "COM3", "LPT1" or "the USB printer (PATH)": how the message names the device.
std::string Called(const std::string& portName) {
    if (StartsWith(portName, "COM") || StartsWith(portName, "LPT")) return portName;
    if (StartsWith(portName, "\\\\.\\")) return portName.substr(4);
    return "the USB printer (" + portName + ")";
}
} // namespace

std::string DeviceNameFor(const std::string& portName) {
    if (StartsWith(portName, "COM") && AllDigits(portName.substr(3))) return "\\\\.\\" + portName;
    return portName;
}

std::string OpenProblem(const std::string& portName, std::uint32_t error) {
    const std::string who = Called(portName);
    const bool port =
        StartsWith(portName, "COM") || StartsWith(portName, "LPT") || StartsWith(portName, "\\\\.\\");
    switch (error) {
    case kErrorFileNotFound:
    case kErrorPathNotFound:
        if (port)
            return "There is no " + who +
                   " on this computer. Device Manager lists the ports under "
                   "\"Ports (COM & LPT)\"; a USB serial adapter gets its number there when plugged in.";
        return "The USB printer is gone (" + portName + "): is it switched on and its cable plugged in?";
    case kErrorAccessDenied:
    case kErrorSharingViolation:
        return who +
               " is busy: another program holds it (a terminal, a printer driver or the print spooler). "
               "Close that program, or remove the printer that uses this port, and try again.";
    case kErrorNotReady:
    case kErrorGenFailure:
    case kErrorDeviceNotConnected:
        return who + " does not respond: the device behind it may have been unplugged or switched off.";
    case kErrorInvalidName:
        return "\"" + portName + "\" is not a port name Windows knows.";
    default:
        return "Cannot open " + who + " (Windows error " + std::to_string(error) + ").";
    }
}

std::string NoUsbPrinterProblem() {
    return "No USB printer found: is the printer switched on, its cable plugged in and its driver installed "
           "(Devices and Printers)?";
}

std::string NotASerialPortProblem(const std::string& portName, std::uint32_t error) {
    return Called(portName) + " is not a serial port: it takes no line settings (Windows error " +
           std::to_string(error) + ").";
}

ConnectFailure ConnectFailureOf(std::uint32_t wsaError) {
    switch (wsaError) {
    case 10061: // WSAECONNREFUSED
        return ConnectFailure::Refused;
    case 10060: // WSAETIMEDOUT
        return ConnectFailure::TimedOut;
    case 10050: // WSAENETDOWN
    case 10051: // WSAENETUNREACH
    case 10064: // WSAEHOSTDOWN
    case 10065: // WSAEHOSTUNREACH
        return ConnectFailure::Unreachable;
    case 11001: // WSAHOST_NOT_FOUND
    case 11002: // WSATRY_AGAIN
    case 11003: // WSANO_RECOVERY
    case 11004: // WSANO_DATA
        return ConnectFailure::HostNotFound;
    default:
        return ConnectFailure::Other;
    }
}

} // namespace pw::win32
