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

} // namespace pw
