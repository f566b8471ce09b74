// Port descriptions on Linux: the device file comes from the same resolution the port opens with; sysfs
// says whether it is there and, through the device's parents, which USB device is behind it.
#include "link/port_info.h"

#include "link/posix/device_names.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

namespace pw {

namespace {

namespace fs = std::filesystem;

// A name of the form prefix + digits ("ttyUSB0", "lp1").
bool Numbered(const std::string& name, const std::string& prefix) {
    return name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
           std::all_of(name.begin() + prefix.size(), name.end(), ::isdigit);
}

// The first line of a sysfs attribute. The texts come from the device: control characters become blanks.
std::string Attribute(const fs::path& file) {
    std::ifstream in(file);
    std::string text;
    std::getline(in, text);
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    text.erase(0, text.find_first_not_of(' '));
    text.erase(text.find_last_not_of(' ') + 1);
    return text.substr(0, 128);
}

// The sysfs class entry of a device file: class/tty for serial ports, class/printer for the parallel
// port's lpN, class/usbmisc for the USB printer driver's usb/lpN. Empty for anything else (a pseudo-
// terminal, a plain file), whose presence is the file's own.
fs::path ClassEntry(const std::string& device) {
    std::error_code ec;
    fs::path real = fs::canonical(device, ec);
    if (ec) real = device;
    const std::string file = real.filename().string(), dir = real.parent_path().filename().string();
    const fs::path classes = fs::path(posix::SysfsRoot()) / "class";
    if (dir == "usb" && Numbered(file, "lp")) return classes / "usbmisc" / file;
    if (dir != "dev") return {};
    if (Numbered(file, "lp")) return classes / "printer" / file;
    if (Numbered(file, "ttyS") || Numbered(file, "ttyUSB") || Numbered(file, "ttyACM"))
        return classes / "tty" / file;
    return {};
}

// The USB device behind a class entry, if any: the first folder up its device path that has an idVendor.
void ReadUsbDevice(const fs::path& entry, PortInfo& info) {
    std::error_code ec;
    const fs::path root = fs::canonical(posix::SysfsRoot(), ec);
    fs::path dir = fs::canonical(entry / "device", ec);
    if (ec || dir.string().compare(0, root.string().size(), root.string()) != 0) return;
    for (; dir.string().size() > root.string().size(); dir = dir.parent_path()) {
        if (!fs::exists(dir / "idVendor", ec)) continue;
        const std::string maker = Attribute(dir / "manufacturer"), product = Attribute(dir / "product");
        // Some devices repeat the maker in the product name.
        if (maker.empty() || product.compare(0, maker.size(), maker) == 0)
            info.product = product;
        else
            info.product = product.empty() ? maker : maker + " " + product;
        info.usbId = Attribute(dir / "idVendor") + ":" + Attribute(dir / "idProduct");
        return;
    }
}

} // namespace

PortInfo DescribePort(const std::string& name) {
    PortInfo info;
    info.name = name;
    info.device = posix::PortDevice(name);
    if (info.device.empty()) return info;
    std::error_code ec;
    const fs::path entry = ClassEntry(info.device);
    if (entry.empty()) {
        info.present = fs::exists(info.device, ec);
        return info;
    }
    info.present = fs::exists(entry, ec);
    if (info.present && Numbered(entry.filename().string(), "ttyS"))
        info.present = posix::RealUart(entry.parent_path().string(), entry.filename().string());
    if (info.present) ReadUsbDevice(entry, info);
    return info;
}

} // namespace pw
