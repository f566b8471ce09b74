#include "link/win32/device_names.h"

#include "link/letter_case.h"

#include <algorithm>

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

// The device interface class the USB printer class driver registers, as it ends an interface path.
constexpr const char* kUsbPrintClassEnd = "#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";

bool StartsWith(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

bool EndsWith(const std::string& s, const std::string& end) {
    return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

// "COM12" for prefix "COM": the prefix (any case) and digits only.
bool Numbered(const std::string& name, const char* prefix) {
    const std::string up = AsciiUpper(name);
    return up.size() > 3 && up.compare(0, 3, prefix) == 0 &&
           std::all_of(up.begin() + 3, up.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A USB printer interface path after its prefix: "usb#vid_0519&pid_0001#5&1b2c3d&0&2#{28d78fad-...}",
// perhaps with a channel ("\USB0/4"). Its first part names the interface and holds no drive or folder;
// the channel never climbs out of it.
bool IsUsbInterface(const std::string& rest) {
    const std::size_t slash = rest.find('\\');
    const std::string first = rest.substr(0, slash);
    const std::string channel = slash == std::string::npos ? std::string() : rest.substr(slash);
    if (first.find_first_of(":/") != std::string::npos) return false;
    const std::string end = kUsbPrintClassEnd;
    if (first.size() <= end.size() || !EndsWith(AsciiLower(first), end)) return false;
    return channel.find("..") == std::string::npos && channel.find(':') == std::string::npos;
}

// "COM3", "LPT1" or "the USB printer (PATH)": how the message names the device.
std::string Called(const std::string& portName) {
    switch (KindOfPortName(portName)) {
    case PortNameKind::Serial:
    case PortNameKind::Parallel:
        return AsciiUpper(WithoutDevicePrefix(portName));
    case PortNameKind::UsbInterface:
        return "the USB printer (" + portName + ")";
    case PortNameKind::None:
        break;
    }
    return portName;
}
} // namespace

bool IsDeviceNamespaceName(const std::string& name) {
    return StartsWith(name, "\\\\.\\") || StartsWith(name, "\\\\?\\");
}

std::string WithoutDevicePrefix(const std::string& name) {
    return IsDeviceNamespaceName(name) ? name.substr(4) : name;
}

PortNameKind KindOfPortName(const std::string& name) {
    const std::string rest = WithoutDevicePrefix(name);
    if (Numbered(rest, "COM")) return PortNameKind::Serial;
    if (Numbered(rest, "LPT")) return PortNameKind::Parallel;
    if (IsDeviceNamespaceName(name) && IsUsbInterface(rest)) return PortNameKind::UsbInterface;
    return PortNameKind::None;
}

std::string DeviceNameFor(const std::string& portName) {
    if (!IsDeviceNamespaceName(portName) && Numbered(portName, "COM")) return "\\\\.\\" + portName;
    return portName;
}

std::string OpenProblem(const std::string& portName, std::uint32_t error) {
    const std::string who = Called(portName);
    const PortNameKind kind = KindOfPortName(portName);
    const bool port = kind == PortNameKind::Serial || kind == PortNameKind::Parallel;
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

std::string NotAPortProblem(const std::string& portName) {
    return portName +
           " is not a printer port: a name that begins with \\\\.\\ or \\\\?\\ is taken only as COMn, LPTn "
           "or a USB printer's interface path. Nothing was opened.";
}

bool IsPortFileType(std::uint32_t fileType, std::uint32_t errorAfter) {
    return fileType == kFileTypeChar || (fileType == kFileTypeUnknown && errorAfter == 0);
}

std::string NotADeviceProblem(const std::string& portName, std::uint32_t fileType) {
    std::string what;
    switch (fileType) {
    case kFileTypeDisk:
        what = "a file";
        break;
    case kFileTypePipe:
        what = "a pipe";
        break;
    case kFileTypeRemote:
        what = "a file on a share";
        break;
    default:
        what = "something Windows cannot tell";
        break;
    }
    return Called(portName) + " is not a printer port: it leads to " + what +
           ", not a device. Nothing was written to it.";
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
