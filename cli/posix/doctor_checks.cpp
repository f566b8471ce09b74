// Doctor's checks on Linux, read from the kernel's and the system's files, never by opening the device:
// sysfs under $PINWRIGHT_SYSFS (default /sys) says what a device is and which driver has it; the processes
// under $PINWRIGHT_PROC (default /proc) say who holds it and whether ModemManager or brltty run; udev's
// rules and database, and systemd's masks, are read under $PINWRIGHT_UDEV (default /): etc/udev/rules.d,
// run/udev/rules.d, usr/lib/udev/rules.d, lib/udev/rules.d, run/udev/data, etc/systemd/system.
#include "cli/doctor.h"

#include "link/port_info.h"
#include "link/posix/device_names.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace pw::cli {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kLongestLine = 4096;    // of a rule or a udev record read
constexpr std::size_t kMostLines = 20000;     // of one file
constexpr std::size_t kMostProcesses = 65536; // looked at

std::string Root(const char* variable, const char* otherwise) {
    const char* set = std::getenv(variable);
    return set && *set ? set : otherwise;
}
std::string ProcRoot() {
    return Root("PINWRIGHT_PROC", "/proc");
}
fs::path UdevRoot() {
    return Root("PINWRIGHT_UDEV", "/");
}

// The first line of a file from outside, bounded, its control bytes as blanks, trimmed.
std::string FirstLine(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::string text;
    char c;
    while (text.size() < 256 && in.get(c) && c != '\n' && c != '\0') text += c;
    for (char& ch : text)
        if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F) ch = ' ';
    text.erase(0, text.find_first_not_of(' '));
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

// The lines of a file from outside, each bounded.
std::vector<std::string> Lines(const fs::path& file) {
    std::vector<std::string> lines;
    std::ifstream in(file, std::ios::binary);
    std::string line;
    while (lines.size() < kMostLines && std::getline(in, line)) {
        if (line.size() > kLongestLine) line.resize(kLongestLine);
        lines.push_back(line);
    }
    return lines;
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The name of the driver a sysfs device is bound to, or empty.
std::string DriverOf(const fs::path& dir) {
    std::error_code ec;
    const fs::path target = fs::read_symlink(dir / "driver", ec);
    return ec ? std::string() : target.filename().string();
}

struct Process {
    long pid = 0;
    std::string name;
};

std::vector<Process> Processes() {
    std::vector<Process> all;
    std::error_code ec;
    for (fs::directory_iterator it(ProcRoot(), ec), end; !ec && it != end && all.size() < kMostProcesses;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.empty() || name.size() > 9 || !std::all_of(name.begin(), name.end(), ::isdigit)) continue;
        all.push_back({std::stol(name), FirstLine(it->path() / "comm")});
    }
    std::sort(all.begin(), all.end(), [](const Process& a, const Process& b) { return a.pid < b.pid; });
    return all;
}

bool Running(const std::vector<Process>& all, const std::string& name) {
    return std::any_of(all.begin(), all.end(), [&](const Process& p) { return p.name == name; });
}

// The processes with the device open, how many processes' files could not be looked at (another
// user's, without root) and, for a pseudo-terminal, the processes on its other end (the master's
// holders: the virtual printer or terminal itself, no rival).
struct Holders {
    std::vector<Process> found, otherEnd;
    int unseen = 0;
};

// A pseudo-terminal's number, "/dev/pts/3" -> "3"; empty for any other device.
std::string PtsNumber(const std::string& device) {
    std::error_code ec;
    const fs::path real = fs::canonical(device, ec);
    if (ec || real.parent_path() != "/dev/pts") return {};
    return real.filename().string();
}

Holders HoldersOf(const std::string& device, const std::vector<Process>& all) {
    Holders h;
    struct stat want {};
    if (::stat(device.c_str(), &want) != 0) return h;
    const auto same = [&](const struct stat& st) {
        if (S_ISCHR(want.st_mode) && S_ISCHR(st.st_mode)) return st.st_rdev == want.st_rdev;
        return st.st_dev == want.st_dev && st.st_ino == want.st_ino;
    };
    const std::string pts = PtsNumber(device);
    for (const Process& p : all) {
        if (p.pid == ::getpid()) continue;
        const fs::path dir = fs::path(ProcRoot()) / std::to_string(p.pid);
        std::error_code ec;
        fs::directory_iterator it(dir / "fd", ec);
        if (ec) {
            if (ec == std::errc::permission_denied) ++h.unseen;
            continue;
        }
        bool holds = false, master = false;
        for (std::size_t n = 0; !ec && it != fs::directory_iterator() && n < 65536; it.increment(ec), ++n) {
            struct stat st {};
            if (::stat(it->path().c_str(), &st) != 0) continue;
            if (same(st)) holds = true;
            // The multiplexer's descriptors say in fdinfo which terminal they are the master of.
            std::error_code e;
            if (!pts.empty() && fs::read_symlink(it->path(), e) == "/dev/ptmx")
                for (const std::string& line : Lines(dir / "fdinfo" / it->path().filename()))
                    if (line == "tty-index:\t" + pts) master = true;
        }
        if (master)
            h.otherEnd.push_back(p);
        else if (holds)
            h.found.push_back(p);
    }
    return h;
}

std::string Named(const std::vector<Process>& processes) {
    std::string names;
    for (const Process& p : processes)
        names += (names.empty() ? "" : ", ") + (p.name.empty() ? "?" : p.name) + " (PID " +
                 std::to_string(p.pid) + ")";
    return names;
}

struct UsbInterface {
    std::string name, cls, driver;
};

struct UsbDevice {
    fs::path dir;
    std::string vid, pid, maker, product;
    std::vector<UsbInterface> interfaces;
    std::vector<std::string> devices; // ttyUSBn, ttyACMn, lpN under its interfaces

    std::string Id() const { return vid + ":" + pid; }
    std::string Described() const {
        std::string about = maker.empty() || product.rfind(maker, 0) == 0 ? product
                            : product.empty()                             ? maker
                                                                          : maker + " " + product;
        return "USB " + Id() + (about.empty() ? "" : " (" + about + ")");
    }
    bool HasClass(const std::string& c) const {
        return std::any_of(interfaces.begin(), interfaces.end(),
                           [&](const UsbInterface& i) { return i.cls == c; });
    }
    bool AnyDriver() const {
        return std::any_of(interfaces.begin(), interfaces.end(),
                           [](const UsbInterface& i) { return !i.driver.empty(); });
    }
};

bool HexId(const std::string& id) {
    return id.size() == 4 && std::all_of(id.begin(), id.end(), ::isxdigit);
}

// The USB devices sysfs lists, with their interfaces and the device files under them.
std::vector<UsbDevice> UsbDevices() {
    std::vector<UsbDevice> all;
    std::error_code ec;
    for (fs::directory_iterator it(fs::path(posix::SysfsRoot()) / "bus" / "usb" / "devices", ec), end;
         !ec && it != end && all.size() < 1024; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.find(':') != std::string::npos) continue; // an interface
        UsbDevice d;
        d.dir = fs::canonical(it->path(), ec);
        if (ec) {
            ec.clear();
            continue;
        }
        d.vid = Lower(FirstLine(d.dir / "idVendor"));
        d.pid = Lower(FirstLine(d.dir / "idProduct"));
        if (!HexId(d.vid) || !HexId(d.pid)) continue;
        d.maker = FirstLine(d.dir / "manufacturer");
        d.product = FirstLine(d.dir / "product");
        std::error_code ec2;
        for (fs::directory_iterator in(d.dir, ec2), stop; !ec2 && in != stop; in.increment(ec2)) {
            const std::string inName = in->path().filename().string();
            if (inName.rfind(name + ":", 0) != 0) continue;
            d.interfaces.push_back(
                {inName, Lower(FirstLine(in->path() / "bInterfaceClass")), DriverOf(in->path())});
            std::error_code ec3;
            for (fs::directory_iterator f(in->path(), ec3), e; !ec3 && f != e; f.increment(ec3)) {
                const std::string child = f->path().filename().string();
                if (child.rfind("ttyUSB", 0) == 0) d.devices.push_back(child);
                if (child == "tty" || child == "usbmisc") {
                    std::error_code ec4;
                    for (fs::directory_iterator g(f->path(), ec4), ge; !ec4 && g != ge; g.increment(ec4))
                        d.devices.push_back(g->path().filename().string());
                }
            }
        }
        all.push_back(std::move(d));
    }
    std::sort(all.begin(), all.end(), [](const UsbDevice& a, const UsbDevice& b) { return a.dir < b.dir; });
    return all;
}

std::vector<fs::path> RulesDirs() {
    const fs::path root = UdevRoot();
    return {root / "etc/udev/rules.d", root / "run/udev/rules.d", root / "usr/lib/udev/rules.d",
            root / "lib/udev/rules.d"};
}

// Rules files as udev reads them: by name, a file in an earlier folder hiding one of its name in a later.
std::vector<fs::path> RulesFiles() {
    std::vector<fs::path> files;
    std::set<std::string> names;
    for (const fs::path& dir : RulesDirs()) {
        std::error_code ec;
        for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string name = it->path().filename().string();
            if (it->path().extension() != ".rules" || !names.insert(name).second) continue;
            files.push_back(it->path());
        }
    }
    std::sort(files.begin(), files.end(),
              [](const fs::path& a, const fs::path& b) { return a.filename() < b.filename(); });
    return files;
}

// Whether a rule line names the device: by ATTRS{idVendor} and ATTRS{idProduct}, or by the PRODUCT key
// ("1a86/7523/*": the ids in hexadecimal without leading zeros) that brltty's rules use.
bool RuleNames(const std::string& line, const UsbDevice& d) {
    const std::string l = Lower(line);
    const std::size_t hash = l.find_first_not_of(" \t");
    if (hash != std::string::npos && l[hash] == '#') return false;
    if (l.find("idvendor}==\"" + d.vid + "\"") != std::string::npos &&
        l.find("idproduct}==\"" + d.pid + "\"") != std::string::npos)
        return true;
    const auto bare = [](const std::string& id) {
        const std::size_t first = id.find_first_not_of('0');
        return first == std::string::npos ? std::string("0") : id.substr(first);
    };
    return l.find("env{product}==\"" + bare(d.vid) + "/" + bare(d.pid) + "/") != std::string::npos;
}

// A rules file that names the device in a line that also holds `with` (empty: any line), or empty.
fs::path RuleFor(const UsbDevice& d, const std::string& fileHolds, const std::string& with) {
    for (const fs::path& file : RulesFiles()) {
        if (!fileHolds.empty() && Lower(file.filename().string()).find(fileHolds) == std::string::npos)
            continue;
        for (const std::string& line : Lines(file))
            if (RuleNames(line, d) && (with.empty() || line.find(with) != std::string::npos)) return file;
    }
    return {};
}

// What udev's database holds for a character device "MAJOR:MINOR".
std::vector<std::string> UdevRecord(const std::string& devNumber) {
    if (devNumber.empty() || devNumber.find('/') != std::string::npos) return {};
    return Lines(UdevRoot() / "run/udev/data" / ("c" + devNumber));
}

bool Masked(const std::string& unit) {
    std::error_code ec;
    const fs::path link = fs::read_symlink(UdevRoot() / "etc/systemd/system" / unit, ec);
    return !ec && link == "/dev/null";
}

// A sysfs class entry of a device file by its name: class/tty, class/printer, class/usbmisc.
struct Kind {
    std::string cls, name; // "tty", "ttyUSB0"
    fs::path entry;        // the class entry; empty when none
    bool pseudoTerminal = false;
};

bool Numbered(const std::string& name, const std::string& prefix) {
    return name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
           std::all_of(name.begin() + prefix.size(), name.end(), ::isdigit);
}

Kind KindOf(const std::string& device) {
    Kind k;
    std::error_code ec;
    fs::path real = fs::canonical(device, ec);
    if (ec) real = device;
    k.name = real.filename().string();
    const std::string dir = real.parent_path().filename().string();
    struct stat st {};
    if (real.parent_path() == "/dev/pts" || real == "/dev/ptmx" ||
        (::stat(device.c_str(), &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 &&
         major(st.st_rdev) <= 143)) {
        k.pseudoTerminal = true;
        return k;
    }
    if (dir == "usb" && Numbered(k.name, "lp"))
        k.cls = "usbmisc";
    else if (Numbered(k.name, "lp"))
        k.cls = "printer";
    else if (Numbered(k.name, "ttyS") || Numbered(k.name, "ttyUSB") || Numbered(k.name, "ttyACM"))
        k.cls = "tty";
    if (!k.cls.empty()) k.entry = fs::path(posix::SysfsRoot()) / "class" / k.cls / k.name;
    return k;
}

// The USB device a class entry lies under, if any.
const UsbDevice* UsbDeviceOf(const fs::path& entry, const std::vector<UsbDevice>& usb) {
    std::error_code ec;
    const fs::path real = fs::canonical(entry, ec);
    if (ec) return nullptr;
    const UsbDevice* best = nullptr;
    for (const UsbDevice& d : usb) {
        const std::string prefix = d.dir.string() + "/";
        if (real.string().rfind(prefix, 0) == 0 &&
            (!best || d.dir.string().size() > best->dir.string().size()))
            best = &d;
    }
    return best;
}

const char* kBrlttyFix[] = {"sudo systemctl stop brltty-udev.service brltty.service",
                            "sudo systemctl mask brltty-udev.service brltty.service"};

// brltty takes USB-serial adapters whose ids its udev rules list as braille displays. The tty is gone
// (its driver is detached, the interface held through usbfs) or goes at the next plug.
void CheckBrltty(const UsbDevice& d, bool hasTty, const std::vector<Process>& procs, Diagnosis& diag) {
    const fs::path rule = RuleFor(d, "brltty", "");
    const bool usbfs = std::any_of(d.interfaces.begin(), d.interfaces.end(),
                                   [](const UsbInterface& i) { return i.driver == "usbfs"; });
    const bool running = Running(procs, "brltty");
    if (rule.empty() && !(usbfs && running)) return;
    if (Masked("brltty-udev.service") && !running) {
        diag.Add("brltty", Severity::Ok,
                 "brltty's udev rules list " + d.Id() +
                     " as a braille display, but brltty-udev is masked: it "
                     "leaves the adapter alone.");
        return;
    }
    const std::string because =
        rule.empty() ? "" : " (its rule in " + rule.string() + " lists " + d.Id() + ")";
    std::vector<std::string> fix(std::begin(kBrlttyFix), std::end(kBrlttyFix));
    fix.push_back("unplug the adapter and plug it in again");
    if (!hasTty || usbfs)
        diag.Add("brltty", Severity::Error,
                 "brltty has taken " + d.Described() + " as a braille display" + because +
                     ": the serial driver was detached and the adapter's ttyUSB is gone. If no braille "
                     "display is used on this machine, stop brltty from taking adapters:",
                 fix);
    else
        diag.Add("brltty", Severity::Warning,
                 "brltty is installed and its udev rules list " + d.Described() + " as a braille display" +
                     because +
                     ": at the next plug it may take the adapter, and its tty vanishes. If no "
                     "braille display is used on this machine:",
                 {kBrlttyFix[0], kBrlttyFix[1]});
}

// ModemManager opens every new ttyACM and ttyUSB it may take for a modem and sends AT commands, which
// a receipt printer prints. A udev rule that sets ID_MM_DEVICE_IGNORE keeps it away.
void CheckModemManager(const UsbDevice& d, const std::string& tty, const std::string& devNumber,
                       const std::vector<Process>& procs, Diagnosis& diag) {
    if (!Running(procs, "ModemManager")) {
        diag.Add("modemmanager", Severity::Ok, "ModemManager is not running: nothing probes the device.");
        return;
    }
    for (const std::string& line : UdevRecord(devNumber))
        if (line == "E:ID_MM_DEVICE_IGNORE=1") {
            diag.Add("modemmanager", Severity::Ok,
                     "ModemManager runs, and udev tells it to ignore " + tty + " (ID_MM_DEVICE_IGNORE).");
            return;
        }
    const fs::path rule = RuleFor(d, "", "ID_MM_DEVICE_IGNORE");
    if (!rule.empty()) {
        diag.Add(
            "modemmanager", Severity::Warning,
            "ModemManager runs; the rule in " + rule.string() + " tells it to ignore " + d.Id() +
                ", but udev has not applied it to " + tty +
                " yet. Have udev apply it (or plug the printer "
                "in again):",
            {"sudo udevadm control --reload-rules", "sudo udevadm trigger --action=add --name-match=" + tty});
        return;
    }
    const std::string file = "/etc/udev/rules.d/70-pinwright-" + d.vid + "-" + d.pid + ".rules";
    diag.Add("modemmanager", Severity::Warning,
             "ModemManager runs and is not told to ignore " + tty +
                 ": it opens the port and sends AT "
                 "commands, which the printer prints, and holds the port while it does. Install this rule, "
                 "then have udev apply it:",
             {"sudo udevadm control --reload-rules", "sudo udevadm trigger --action=add --name-match=" + tty},
             file,
             "# ModemManager leaves this receipt printer alone (it would send it AT commands).\n"
             "SUBSYSTEM==\"tty\", ATTRS{idVendor}==\"" +
                 d.vid + "\", ATTRS{idProduct}==\"" + d.pid + "\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"\n");
}

// A USB printer the kernel has no device file for: a printer-class interface without a driver, or a
// vendor-class device that usblp does not take.
void CheckUsbPrinters(const std::vector<UsbDevice>& usb, bool lookingForOne, Diagnosis& diag) {
    const bool usblp = fs::exists(fs::path(posix::SysfsRoot()) / "module" / "usblp");
    for (const UsbDevice& d : usb) {
        const bool printerClass = d.HasClass("07");
        if (printerClass && d.devices.empty()) {
            const auto held =
                std::find_if(d.interfaces.begin(), d.interfaces.end(),
                             [](const UsbInterface& i) { return i.cls == "07" && !i.driver.empty(); });
            if (!usblp)
                diag.Add("usb-driver", Severity::Error,
                         "The USB printer " + d.Described() +
                             " has no driver: usblp, the kernel's USB printer "
                             "driver, is not loaded. Load it now and at every start:",
                         {"sudo modprobe usblp", "echo usblp | sudo tee /etc/modules-load.d/usblp.conf"});
            else if (held != d.interfaces.end())
                diag.Add("usb-driver", Severity::Error,
                         "The USB printer " + d.Described() + " is held by " + held->driver +
                             ", not by usblp: a program took it over (CUPS's usb backend or another libusb "
                             "program). Print through that program's queue, or end it and plug the printer "
                             "in again.");
            else
                diag.Add(
                    "usb-driver", Severity::Error,
                    "The USB printer " + d.Described() +
                        " has no driver bound although usblp is loaded "
                        "(it is blacklisted for it, or was unbound). Plug the printer in again; if that does "
                        "not bind it, look for a blacklist:",
                    {"grep -rn usblp /etc/modprobe.d /usr/lib/modprobe.d"});
        } else if (!printerClass && !d.interfaces.empty() && !d.AnyDriver() && d.devices.empty() &&
                   std::all_of(d.interfaces.begin(), d.interfaces.end(),
                               [](const UsbInterface& i) { return i.cls == "ff"; })) {
            diag.Add(
                "usb-driver", lookingForOne ? Severity::Warning : Severity::Info,
                d.Described() +
                    " is a vendor-class device with no driver: if it is the printer, usblp "
                    "does not take it (it takes printer-class interfaces only) and no device file is made. "
                    "Set "
                    "the printer's USB interface to printer class (a memory or DIP switch on most printers; "
                    "see its manual), or use its serial or network interface.");
        }
    }
}

std::set<std::string>& Reported() {
    static std::set<std::string> reported; // USB devices already told of in this run
    return reported;
}

// USB-serial adapters that have no tty: taken by brltty, or without a driver.
void CheckAdaptersWithoutTty(const std::vector<UsbDevice>& usb, const std::vector<Process>& procs,
                             Diagnosis& diag) {
    for (const UsbDevice& d : usb) {
        if (!d.devices.empty() || d.HasClass("07") || d.HasClass("09")) continue;
        if (!Reported().insert(d.dir.string()).second) continue;
        CheckBrltty(d, false, procs, diag);
    }
}

const char* KindText(const Kind& k) {
    if (k.pseudoTerminal)
        return "a pseudo-terminal (a program's terminal, such as pinwright-sim; no hardware)";
    if (Numbered(k.name, "ttyS")) return "a serial port on the mainboard or a card (UART)";
    if (Numbered(k.name, "ttyUSB")) return "a USB-serial adapter";
    if (Numbered(k.name, "ttyACM")) return "a CDC-ACM USB device (a printer's virtual COM port)";
    if (k.cls == "usbmisc") return "a USB printer-class device";
    if (k.cls == "printer") return "a parallel port's printer device";
    return "";
}

// An address as /proc/net/tcp and tcp6 write it: the 32-bit words of its bytes, each in hexadecimal as the
// machine reads them. Empty when it is no numeric address.
std::string KernelHex(const std::string& address) {
    unsigned char bytes[16] = {};
    int words = 0;
    if (::inet_pton(AF_INET, address.c_str(), bytes) == 1)
        words = 1;
    else if (::inet_pton(AF_INET6, address.substr(0, address.find('%')).c_str(), bytes) == 1)
        words = 4;
    std::string hex;
    for (int w = 0; w < words; ++w) {
        std::uint32_t v = 0;
        std::memcpy(&v, bytes + 4 * w, 4);
        char text[9];
        std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(v));
        hex += text;
    }
    return hex;
}

} // namespace

std::vector<std::string> LocalClientsOf(const std::vector<std::string>& addresses, std::uint16_t port) {
    std::set<std::string> wanted;
    char portHex[8];
    std::snprintf(portHex, sizeof portHex, ":%04X", static_cast<unsigned>(port));
    for (const std::string& a : addresses)
        if (const std::string hex = KernelHex(a); !hex.empty()) wanted.insert(hex + portHex);
    // The sockets: "sl local rem st tx:rx tr:when retr uid timeout inode ...", 01 established.
    std::set<std::string> inodes;
    for (const char* table : {"net/tcp", "net/tcp6"})
        for (const std::string& line : Lines(fs::path(ProcRoot()) / table)) {
            std::istringstream in(line);
            std::string sl, local, remote, state, skip, inode;
            if (!(in >> sl >> local >> remote >> state >> skip >> skip >> skip >> skip >> skip >> inode))
                continue;
            if (state == "01" && wanted.count(remote) && inode != "0") inodes.insert(inode);
        }
    std::vector<std::string> clients;
    if (inodes.empty()) return clients;
    for (const Process& p : Processes()) {
        if (p.pid == ::getpid()) continue;
        std::error_code ec;
        for (fs::directory_iterator it(fs::path(ProcRoot()) / std::to_string(p.pid) / "fd", ec), end;
             !ec && it != end; it.increment(ec)) {
            std::error_code e;
            const std::string target = fs::read_symlink(it->path(), e).string();
            if (target.rfind("socket:[", 0) == 0 && target.back() == ']' &&
                inodes.count(target.substr(8, target.size() - 9))) {
                clients.push_back((p.name.empty() ? "?" : p.name) + " (PID " + std::to_string(p.pid) + ")");
                break;
            }
        }
    }
    return clients;
}

void CheckLocalPort(const std::string& port, bool given, Diagnosis& d) {
    const Severity absent = given ? Severity::Error : Severity::Info;
    const std::vector<Process> procs = Processes();
    const std::vector<UsbDevice> usb = UsbDevices();
    const std::string device = posix::PortDevice(port);
    d.device = device;
    if (device.empty()) {
        if (port == "USB") {
            d.Add("device", absent,
                  "No USB printer device (" + std::string("lpN under /dev/usb") + ") is present.");
            CheckUsbPrinters(usb, given, d);
        } else {
            const std::size_t count = posix::SerialPortsPresent().size();
            d.Add(
                "device", absent,
                given
                    ? port + " stands for no device: this machine has " + std::to_string(count) +
                          " serial port" + (count == 1 ? "" : "s") +
                          " (COMn is the n-th of ttyS, ttyUSB, ttyACM). Is the adapter plugged in? Give the "
                          "device itself with -p when it is there."
                    : port + " stands for no device.");
            CheckAdaptersWithoutTty(usb, procs, d);
        }
        return;
    }
    const PortInfo info = DescribePort(device);
    const Kind kind = KindOf(device);
    std::error_code ec;
    if (!info.present || !fs::exists(device, ec)) {
        d.Add("device", absent, device + " is not present.");
        if (kind.cls == "printer" && given && !fs::exists(fs::path(posix::SysfsRoot()) / "module" / "lp", ec))
            d.Add("driver", Severity::Info,
                  "A parallel port needs the parport_pc and lp modules:", {"sudo modprobe parport_pc lp"});
        if (kind.cls == "usbmisc" || port == "USB") CheckUsbPrinters(usb, given, d);
        if (kind.cls == "tty" || port.rfind("COM", 0) == 0) CheckAdaptersWithoutTty(usb, procs, d);
        return;
    }
    d.Add("device", Severity::Ok, device + " exists.");

    // What it is.
    const UsbDevice* parent = kind.entry.empty() ? nullptr : UsbDeviceOf(kind.entry, usb);
    std::string about = KindText(kind);
    std::string driver;
    if (!kind.entry.empty() && parent) {
        std::error_code e;
        const fs::path dev = fs::canonical(kind.entry / "device", e);
        if (!e) driver = DriverOf(dev);
    }
    struct stat st {};
    const bool character = ::stat(device.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
    if (about.empty() && character)
        about = "a character device (" + std::to_string(major(st.st_rdev)) + ":" +
                std::to_string(minor(st.st_rdev)) + ")";
    if (about.empty())
        d.Add("kind", Severity::Error,
              device + " is not a device but a " +
                  (fs::is_regular_file(device, ec) ? "regular file" : "file") +
                  ": pinwright-cli never writes to one. Give the printer's device file.");
    std::string detail;
    if (!kind.name.empty() && !kind.pseudoTerminal) detail = kind.name;
    if (!driver.empty()) detail += (detail.empty() ? "driver " : ", driver ") + driver;
    if (parent) detail += (detail.empty() ? "" : ", ") + parent->Described();
    d.Add("kind", Severity::Info,
          device + " is " + about + (detail.empty() ? "" : " (" + detail + ")") + ".");

    // Who may open it.
    if (info.access == PortAccess::Granted) {
        d.Add("access", Severity::Ok, "You may open " + device + ".");
    } else if (info.access == PortAccess::Denied) {
        std::vector<std::string> fix;
        std::string file, content;
        if (!info.accessGroup.empty()) {
            fix.push_back(GrantCommand(info));
            if (!info.groupPending)
                fix.push_back("log out and in again (or, in this shell only: newgrp " + info.accessGroup +
                              ")");
        } else {
            file = "/etc/udev/rules.d/70-pinwright-" + kind.name + ".rules";
            content = "# Members of dialout may open the receipt printer's port.\nKERNEL==\"" + kind.name +
                      "\", GROUP=\"dialout\", MODE=\"0660\"\n";
            fix = {"sudo udevadm control --reload-rules", "sudo udevadm trigger --name-match=" + device,
                   "sudo usermod -aG dialout \"$USER\""};
        }
        d.Add("access", Severity::Error,
              info.accessGroup.empty() ? "You have no permission to open " + device +
                                             ", and no group may: let group dialout open it "
                                             "with this rule, and join the group:"
                                       : PortAccessText(info),
              fix, file, content);
    }

    // Who holds it.
    const Holders holders = HoldersOf(device, procs);
    if (!holders.otherEnd.empty())
        d.Add("other-end", Severity::Info,
              "The pseudo-terminal's other end is held by " + Named(holders.otherEnd) +
                  ": the program that plays the printer there.");
    if (!holders.found.empty()) {
        std::vector<std::string> fix;
        for (const Process& p : holders.found)
            fix.push_back("ps -o pid,user,args -p " + std::to_string(p.pid));
        fix.push_back("close that program, or end it: kill " + std::to_string(holders.found.front().pid));
        d.Add("holder", Severity::Error,
              device + " is held by " + Named(holders.found) +
                  ": a port is one program's at a time (another reader takes the printer's replies).",
              fix);
    } else if (holders.unseen > 0) {
        d.Add("holder", Severity::Info,
              "No process of yours holds " + device + "; the open files of " +
                  std::to_string(holders.unseen) +
                  " processes of other users cannot be seen without root. To see them too:",
              {"sudo fuser -v " + device});
    } else {
        d.Add("holder", Severity::Ok, "No process holds " + device + ".");
    }

    // The services and drivers around it.
    if (parent && kind.cls == "tty" && (Numbered(kind.name, "ttyUSB") || Numbered(kind.name, "ttyACM"))) {
        Reported().insert(parent->dir.string());
        CheckModemManager(*parent, kind.name, FirstLine(kind.entry / "dev"), procs, d);
        CheckBrltty(*parent, true, procs, d);
    }
}

} // namespace pw::cli
