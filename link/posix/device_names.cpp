#include "link/posix/device_names.h"

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace pw::posix {

namespace {

// Numbered entries of a folder that start with `prefix` followed by digits only, in numeric order.
std::vector<std::pair<long, std::string>> Numbered(const std::string& dir, const std::string& prefix) {
    std::vector<std::pair<long, std::string>> found;
    DIR* d = opendir(dir.c_str());
    if (!d) return found;
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
        std::string digits = name.substr(prefix.size());
        if (digits.size() > 6 || !std::all_of(digits.begin(), digits.end(), ::isdigit)) continue;
        found.emplace_back(std::stol(digits), name);
    }
    closedir(d);
    std::sort(found.begin(), found.end());
    return found;
}

// Digits after a three-letter prefix ("COM3" -> 3), or 0 when the rest is not a plain number.
long PortNumber(const std::string& name) {
    std::string digits = name.substr(3);
    if (digits.empty() || digits.size() > 3 || !std::all_of(digits.begin(), digits.end(), ::isdigit))
        return 0;
    return std::stol(digits);
}

} // namespace

std::string SysfsRoot() {
    const char* set = std::getenv("PINWRIGHT_SYSFS");
    return set && *set ? set : "/sys";
}

bool RealUart(const std::string& sysClassTty, const std::string& name) {
    std::ifstream type(sysClassTty + "/" + name + "/type");
    int t = 0;
    if (!(type >> t)) return false;
    return t != 0; // PORT_UNKNOWN: a node the 8250 driver made without a UART behind it
}

std::vector<std::string> SerialPortsPresent(const std::string& sysClassTty, const std::string& dev) {
    std::vector<std::string> ports;
    for (auto& [n, name] : Numbered(sysClassTty, "ttyS"))
        if (RealUart(sysClassTty, name)) ports.push_back(dev + "/" + name);
    for (const char* prefix : {"ttyUSB", "ttyACM"})
        for (auto& [n, name] : Numbered(sysClassTty, prefix)) ports.push_back(dev + "/" + name);
    return ports;
}

std::string PortDevice(const std::string& name) {
    if (name == "USB") {
        auto devices = UsbPrinterDevices();
        return devices.empty() ? std::string() : devices.front();
    }
    const bool com = name.compare(0, 3, "COM") == 0;
    const bool lpt = name.compare(0, 3, "LPT") == 0;
    long n = (com || lpt) ? PortNumber(name) : 0;
    if (n <= 0) return name;
    std::string var = "PINWRIGHT_" + name.substr(0, 3) + std::to_string(n);
    if (const char* set = std::getenv(var.c_str()); set && *set) return set;
    if (lpt) return "/dev/lp" + std::to_string(n - 1);
    auto ports = SerialPortsPresent();
    if (static_cast<std::size_t>(n) <= ports.size()) return ports[n - 1];
    return {};
}

std::string ResolveDeviceName(const std::string& name) {
    if (auto slash = name.find('\\'); slash != std::string::npos) return name.substr(0, slash);
    if (name == "USB") return name; // the USB printer is found by the discovery, never opened by this name
    std::string device = PortDevice(name);
    return device.empty() ? "/dev/pinwright-no-serial-port-" + name // nothing there: "not found"
                          : device;
}

namespace {
std::string UsbDir() {
    const char* set = std::getenv("PINWRIGHT_USB_DIR");
    return (set && *set) ? set : "/dev/usb";
}

bool LpName(const std::string& name) {
    return name.size() > 2 && name.compare(0, 2, "lp") == 0 &&
           std::all_of(name.begin() + 2, name.end(), ::isdigit);
}

// A folder as an absolute path without a trailing separator, for comparing.
std::filesystem::path Folder(const std::filesystem::path& dir) {
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(dir, ec).lexically_normal();
    return p.has_filename() ? p : p.parent_path();
}

// -1 when the name alone does not tell.
int KindByName(const std::filesystem::path& p) {
    const std::filesystem::path dir = Folder(p.parent_path());
    const std::string name = p.filename().string();
    if (dir == "/dev/usb" || dir == Folder(UsbDir())) return 2;
    if (dir == "/dev" && LpName(name)) return 1;
    return -1;
}
} // namespace

int DeviceFileKind(const std::string& path) {
    namespace fs = std::filesystem;
    fs::path p = path;
    for (int links = 0; links < 8; ++links) { // follows links, not loops
        if (int kind = KindByName(p); kind >= 0) return kind;
        std::error_code ec;
        if (!fs::is_symlink(p, ec)) break;
        const fs::path target = fs::read_symlink(p, ec);
        if (ec) break;
        p = target.is_absolute() ? target : p.parent_path() / target;
    }
    return 0;
}

std::vector<std::string> UsbPrinterDevices() {
    const std::string dir = UsbDir();
    std::vector<std::string> paths;
    for (auto& [n, name] : Numbered(dir, "lp")) paths.push_back(dir + "/" + name);
    return paths;
}

} // namespace pw::posix
