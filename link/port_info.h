// What each port name of the dialogs stands for on this machine: the device file behind "COM1".."COM7",
// "LPT1".."LPT4" and "USB", and for a USB adapter or printer the maker and product its device reports.
// Looked up afresh at each call, so a device plugged in or pulled out shows at the next look.
#pragma once

#include <string>
#include <vector>

namespace pw {

// Whether this user may open a port's device: judged for a present device file only.
enum class PortAccess { Unknown, Granted, Denied };

struct PortInfo {
    std::string name;    // "COM1", "LPT2", "USB"
    std::string device;  // the device it opens ("/dev/ttyUSB0"); empty when it stands for none
    std::string product; // maker and product of a USB device ("FTDI FT232R USB UART"); may be empty
    std::string usbId;   // vendor and product id of a USB device ("0403:6001"); may be empty
    bool present = false;
    PortAccess access = PortAccess::Unknown;
    // When denied: the group whose members may open the device ("dialout", "lp"); empty when none does.
    std::string accessGroup;
    // The user is listed in that group already, but this login does not have it yet.
    bool groupPending = false;
};

// One port by name (the platform's backend).
PortInfo DescribePort(const std::string& name);

// The ports of the communication dialog in its order: COM1..COM7, LPT1..LPT4, USB.
std::vector<PortInfo> DescribePorts();

// One line for tooltips and messages: "COM2: /dev/ttyUSB0 (FTDI FT232R USB UART, USB 0403:6001)",
// "LPT2: /dev/lp1, not present", "COM5: not present".
std::string PortInfoText(const PortInfo& info);

// When access is denied: the command that lets this user open the device ("sudo usermod -aG dialout
// \"$USER\"", or "newgrp dialout" when only a new login is missing); empty when no group grants it.
std::string GrantCommand(const PortInfo& info);
// When access is denied, a sentence that says so and what to do; empty otherwise.
std::string PortAccessText(const PortInfo& info);

} // namespace pw
