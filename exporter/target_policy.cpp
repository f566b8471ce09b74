#include "exporter/target_policy.h"

#include "link/network_address.h"

#include <algorithm>
#include <cctype>

namespace pw::exporter {

namespace {

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

bool HasControl(const std::string& s) {
    return std::any_of(s.begin(), s.end(), [](unsigned char c) { return c < 0x20 || c == 0x7F; });
}

// COM1.., LPT1.., USB: the names the dialogs use; on Linux they stand for devices, as -p takes them.
bool IsPortName(const std::string& s) {
    const std::string l = Lower(s);
    if (l == "usb") return true;
    if (l.size() < 4 || (l.compare(0, 3, "com") != 0 && l.compare(0, 3, "lpt") != 0)) return false;
    return l[3] != '0' &&
           std::all_of(l.begin() + 3, l.end(), [](unsigned char c) { return std::isdigit(c); });
}

bool IsDevice(const std::string& s) {
    return (!s.empty() && s[0] == '/') || IsPortName(s) || s.rfind("\\\\.\\", 0) == 0;
}

// A path that names one file only one way: no "." or ".." part, no empty part.
bool PlainPath(const std::string& s) {
    if (s.rfind("\\\\.\\", 0) == 0) return IsPortName(s.substr(4));
    if (s.empty() || s[0] != '/') return IsPortName(s);
    std::size_t at = 1;
    while (at <= s.size()) {
        const std::size_t end = std::min(s.find('/', at), s.size());
        const std::string part = s.substr(at, end - at);
        if (part.empty() || part == "." || part == "..") return false;
        at = end + 1;
    }
    return true;
}

// The bytes of an address that ParseNetworkAddress took as numeric (in its canonical form).
bool AddressBytes(const NetworkAddress& a, bool& ipv6, std::array<std::uint8_t, 16>& bytes) {
    bytes.fill(0);
    if (!a.bracketed) {
        ipv6 = false;
        std::size_t at = 0;
        for (int i = 0; i < 4; ++i) {
            const std::size_t end = std::min(a.host.find('.', at), a.host.size());
            bytes[i] = static_cast<std::uint8_t>(std::stoi(a.host.substr(at, end - at)));
            at = end + 1;
        }
        return true;
    }
    ipv6 = true;
    std::array<std::uint16_t, 8> groups{};
    std::string zone;
    if (!Ipv6Groups(a.host, groups, zone) || !zone.empty()) return false;
    for (int i = 0; i < 8; ++i) {
        bytes[2 * i] = static_cast<std::uint8_t>(groups[i] >> 8);
        bytes[2 * i + 1] = static_cast<std::uint8_t>(groups[i] & 0xFF);
    }
    return true;
}

// ::ffff:a.b.c.d, ::a.b.c.d and 64:ff9b::a.b.c.d reach an IPv4 host: refused, so that no IPv4 address has a
// second spelling.
bool CarriesIpv4(const std::array<std::uint8_t, 16>& b) {
    const bool zeros80 = std::all_of(b.begin(), b.begin() + 10, [](std::uint8_t x) { return x == 0; });
    if (zeros80 && ((b[10] == 0xFF && b[11] == 0xFF) || (b[10] == 0 && b[11] == 0))) {
        const bool low = b[12] == 0 && b[13] == 0 && b[14] == 0 && b[15] <= 1; // :: and ::1 are IPv6's own
        return !low || (b[10] == 0xFF);
    }
    const std::uint8_t nat64[12] = {0x00, 0x64, 0xFF, 0x9B, 0, 0, 0, 0, 0, 0, 0, 0};
    return std::equal(b.begin(), b.begin() + 12, nat64);
}

bool InNetwork(const AllowEntry& e, const std::array<std::uint8_t, 16>& b) {
    int bits = e.prefix;
    for (int i = 0; bits > 0; ++i, bits -= 8) {
        const std::uint8_t mask = bits >= 8 ? 0xFF : static_cast<std::uint8_t>(0xFF << (8 - bits));
        if ((b[i] & mask) != (e.address[i] & mask)) return false;
    }
    return true;
}

} // namespace

bool ParseAllowEntry(const std::string& text, AllowEntry& entry, std::string& error) {
    entry = AllowEntry{};
    entry.text = text;
    if (text.empty() || HasControl(text)) {
        error = "an empty entry or one with control characters";
        return false;
    }
    if (IsDevice(text)) {
        if (!PlainPath(text)) {
            error = "a device path with an empty, \".\" or \"..\" part";
            return false;
        }
        entry.kind = AllowEntry::Kind::Device;
        entry.name = text;
        return true;
    }
    // A network: ADDRESS/PREFIX, the address bracketed or not for IPv6; never a port.
    std::string rest = text.rfind("tcp://", 0) == 0 ? text.substr(6) : text;
    const std::size_t slash = rest.find('/');
    if (slash != std::string::npos) {
        std::string host = rest.substr(0, slash);
        const std::string bits = rest.substr(slash + 1);
        if (host.find(':') != std::string::npos && host.front() != '[') host = "[" + host + "]";
        NetworkAddress a;
        std::string why;
        if (!ParseNetworkAddress(std::string(kNetworkPrefix) + host, a, why) || !a.numeric) {
            error = "no network address before the /" + (why.empty() ? "" : ": " + why);
            return false;
        }
        if (a.port != kDefaultRawPort || host.find("]:") != std::string::npos ||
            (!a.bracketed && host.find(':') != std::string::npos)) {
            error = "a network takes no port: the printers' port 9100 is meant";
            return false;
        }
        if (!AddressBytes(a, entry.ipv6, entry.address)) {
            error = "an IPv6 network with a zone";
            return false;
        }
        const int most = entry.ipv6 ? 128 : 32;
        if (bits.empty() || bits.size() > 3 || !std::all_of(bits.begin(), bits.end(), ::isdigit) ||
            (bits.size() > 1 && bits[0] == '0') || std::stoi(bits) > most) {
            error = "the length after the / is not 0 to " + std::to_string(most);
            return false;
        }
        entry.prefix = std::stoi(bits);
        if (entry.ipv6 && CarriesIpv4(entry.address)) {
            error = "an IPv4 network written as IPv6: write it as IPv4";
            return false;
        }
        return true;
    }
    // One host: an address or a name, with its port or 9100.
    if (rest.find(':') != std::string::npos && rest.front() != '[' &&
        rest.find(':') != rest.rfind(':')) // a bare IPv6 address
        rest = "[" + rest + "]";
    NetworkAddress a;
    std::string why;
    if (!ParseNetworkAddress(std::string(kNetworkPrefix) + rest, a, why)) {
        error = why;
        return false;
    }
    entry.port = a.port;
    if (!a.numeric) {
        entry.kind = AllowEntry::Kind::HostName;
        entry.name = Lower(a.host);
        if (!entry.name.empty() && entry.name.back() == '.') entry.name.pop_back();
        return true;
    }
    if (!AddressBytes(a, entry.ipv6, entry.address)) {
        error = "an IPv6 address with a zone";
        return false;
    }
    if (entry.ipv6 && CarriesIpv4(entry.address)) {
        error = "an IPv4 address written as IPv6: write it as IPv4";
        return false;
    }
    entry.prefix = entry.ipv6 ? 128 : 32;
    return true;
}

TargetDecision CheckTarget(const std::vector<AllowEntry>& allow, const std::string& target) {
    TargetDecision d;
    if (allow.empty()) {
        d.reason = "nothing may be probed: no target is allowed (list the printers under targets: allow: in "
                   "the file given with --config.file)";
        return d;
    }
    if (target.empty() || HasControl(target)) {
        d.reason = "no target, or one with control characters";
        return d;
    }
    if (!IsNetworkName(target)) {
        for (const AllowEntry& e : allow) {
            if (e.kind != AllowEntry::Kind::Device) continue;
            if (e.name == target || (IsPortName(target) && Lower(e.name) == Lower(target))) {
                d.allowed = true;
                d.key = target;
                if (IsPortName(target))
                    std::transform(d.key.begin(), d.key.end(), d.key.begin(),
                                   [](unsigned char c) { return std::toupper(c); });
                return d;
            }
        }
        d.reason = "the device is not in the allow list";
        return d;
    }
    NetworkAddress a;
    std::string why;
    if (!ParseNetworkAddress(target, a, why)) {
        d.reason = why;
        return d;
    }
    if (!a.numeric) {
        std::string name = Lower(a.host);
        if (!name.empty() && name.back() == '.') name.pop_back();
        for (const AllowEntry& e : allow)
            if (e.kind == AllowEntry::Kind::HostName && e.name == name && e.port == a.port) {
                d.allowed = true;
                a.host = name;
                d.key = a.Name();
                return d;
            }
        d.reason = "the host name is not in the allow list with this port (a name is probed only where the "
                   "list names it; it is never looked up to be compared)";
        return d;
    }
    bool ipv6 = false;
    std::array<std::uint8_t, 16> bytes{};
    if (!AddressBytes(a, ipv6, bytes)) {
        d.reason = "an IPv6 address with a zone is not probed";
        return d;
    }
    if (ipv6 && CarriesIpv4(bytes)) {
        d.reason = "an IPv4 address written as IPv6 is not probed: give the IPv4 address";
        return d;
    }
    for (const AllowEntry& e : allow)
        if (e.kind == AllowEntry::Kind::Network && e.ipv6 == ipv6 && e.port == a.port &&
            InNetwork(e, bytes)) {
            d.allowed = true;
            d.key = a.Name();
            return d;
        }
    d.reason = "the address and port are not in the allow list";
    return d;
}

} // namespace pw::exporter
