// Port descriptions on Linux: the device file comes from the same resolution the port opens with; sysfs
// says whether it is there and, through the device's parents, which USB device is behind it.
#include "link/port_info.h"

#include "link/posix/device_names.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

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

// Whether this user may open the device for reading and writing, as open() judges it (mode, owner, groups,
// ACLs; root may always). When not, the group that may, unless that is root's own or has no such right.
void JudgeAccess(PortInfo& info) {
    if (::faccessat(AT_FDCWD, info.device.c_str(), R_OK | W_OK, AT_EACCESS) == 0) {
        info.access = PortAccess::Granted;
        return;
    }
    if (errno != EACCES && errno != EPERM) return; // gone meanwhile, or a read-only file system: not judged
    info.access = PortAccess::Denied;
    struct stat st {};
    if (::stat(info.device.c_str(), &st) != 0 || st.st_gid == 0) return;
    if ((st.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP)) return;
    const ::group* g = ::getgrgid(st.st_gid);
    if (!g) return;
    // A group this process has already cannot be what is missing (the owner's own bits keep it out).
    std::vector<gid_t> mine(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)));
    mine.resize(
        static_cast<std::size_t>(std::max(::getgroups(static_cast<int>(mine.size()), mine.data()), 0)));
    if (::getegid() == st.st_gid || std::find(mine.begin(), mine.end(), st.st_gid) != mine.end()) return;
    info.accessGroup = g->gr_name;
    // Listed in the group already (usermod was run) while this login's groups predate it.
    if (const ::passwd* pw = ::getpwuid(::geteuid())) {
        int count = 64;
        std::vector<gid_t> groups(static_cast<std::size_t>(count));
        if (::getgrouplist(pw->pw_name, pw->pw_gid, groups.data(), &count) < 0) {
            groups.resize(static_cast<std::size_t>(count));
            if (::getgrouplist(pw->pw_name, pw->pw_gid, groups.data(), &count) < 0) count = 0;
        }
        groups.resize(static_cast<std::size_t>(count));
        info.groupPending = std::find(groups.begin(), groups.end(), st.st_gid) != groups.end();
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
    } else {
        info.present = fs::exists(entry, ec);
        if (info.present && Numbered(entry.filename().string(), "ttyS"))
            info.present = posix::RealUart(entry.parent_path().string(), entry.filename().string());
        if (info.present) ReadUsbDevice(entry, info);
    }
    if (info.present) JudgeAccess(info);
    return info;
}

} // namespace pw
