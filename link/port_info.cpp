#include "link/port_info.h"

namespace pw {

std::vector<PortInfo> DescribePorts() {
    std::vector<PortInfo> ports;
    for (const char* name :
         {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "LPT1", "LPT2", "LPT3", "LPT4", "USB"})
        ports.push_back(DescribePort(name));
    return ports;
}

std::string PortInfoText(const PortInfo& info) {
    std::string text = info.name + ": ";
    if (info.device.empty()) return text + "not present";
    text += info.device;
    if (!info.present) return text + ", not present";
    std::string about = info.product;
    if (!info.usbId.empty()) about += (about.empty() ? "USB " : ", USB ") + info.usbId;
    return about.empty() ? text : text + " (" + about + ")";
}

std::string GrantCommand(const PortInfo& info) {
    if (info.access != PortAccess::Denied || info.accessGroup.empty()) return {};
    if (info.groupPending) return "newgrp " + info.accessGroup;
    return "sudo usermod -aG " + info.accessGroup + " \"$USER\"";
}

std::string PortAccessText(const PortInfo& info) {
    if (info.access != PortAccess::Denied) return {};
    if (info.accessGroup.empty()) return "You have no permission to open " + info.device + ".";
    if (info.groupPending)
        return "You have no permission to open " + info.device +
               " until you log in again as a member of group " + info.accessGroup +
               " (or run: " + GrantCommand(info) + ").";
    return "You have no permission to open " + info.device + ": group " + info.accessGroup +
           " has, join it with: " + GrantCommand(info) + ", then log in again.";
}

} // namespace pw
