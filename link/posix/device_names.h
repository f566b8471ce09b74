// What the port names mean on Linux: "COMn", "LPTn" and a USB interface path with its channel suffix.
#pragma once

#include <string>
#include <vector>

namespace pw::posix {

// Where the kernel's device information is read: $PINWRIGHT_SYSFS (a tree that tests build), else /sys.
std::string SysfsRoot();

// The serial ports present, in the order "COM1", "COM2", ... stand for: real ttyS ports (not the
// phantom 8250 nodes without a UART), then ttyUSB, then ttyACM, each in numeric order.
std::vector<std::string> SerialPortsPresent(const std::string& sysClassTty = SysfsRoot() + "/class/tty",
                                            const std::string& dev = "/dev");

// Whether the tty `name` (a folder of sysClassTty) has a UART behind it; false for a phantom 8250 node.
bool RealUart(const std::string& sysClassTty, const std::string& name);

// The device file a port name of the dialogs stands for: $PINWRIGHT_COMn or the n-th serial port for
// "COMn", $PINWRIGHT_LPTn or /dev/lp(n-1) for "LPTn", the first USB printer device for "USB", and any other
// name unchanged. Empty when there is none (more COM ports than serial ports, no USB printer).
std::string PortDevice(const std::string& name);

// The device file behind a port name: $PINWRIGHT_COMn or the n-th serial port for "COMn",
// $PINWRIGHT_LPTn or /dev/lp(n-1) for "LPTn", the interface path for "path\USBx/y" (the suffix
// names the printer channel of that device), and any other name unchanged.
std::string ResolveDeviceName(const std::string& name);

// The kind of port a device file is (0 serial, 1 parallel, 2 USB), from its name: the USB printer devices
// (/dev/usb/lpN, or lpN under $PINWRIGHT_USB_DIR) are USB, /dev/lpN is parallel, anything else (a terminal)
// is serial. A symbolic link is judged by its own name first, then by what it points to.
int DeviceFileKind(const std::string& path);

// The USB printer devices under $PINWRIGHT_USB_DIR (default /dev/usb): lp0, lp1, ... in numeric order.
std::vector<std::string> UsbPrinterDevices();

} // namespace pw::posix
