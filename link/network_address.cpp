#include "link/network_address.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <vector>

namespace pw {

namespace {

bool IsDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

bool IsHostChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '.' || c == '_';
}

// Four decimal numbers from 0 to 255 without leading zeros, as every resolver reads them alike. Other
// spellings that some resolvers take (192.168.001.050 read as octal, 127.1, 0x7f.0.0.1) are refused with
// the reason, since the printer reached would not be the one every message names.
bool CheckIpv4(const std::string& text, std::string& error) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = text.find('.', start);
        parts.push_back(text.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    const std::string quoted = "'" + text + "' ";
    for (const std::string& part : parts) {
        if (part.size() > 1 && part[0] == '0' && (part[1] == 'x' || part[1] == 'X')) {
            error = quoted + "has a hexadecimal part; an IPv4 address is four decimal numbers";
            return false;
        }
    }
    for (const std::string& part : parts) {
        if (part.empty() || !std::all_of(part.begin(), part.end(), IsDigit)) {
            error = quoted + "is not an IPv4 address: four numbers from 0 to 255, separated by dots";
            return false;
        }
    }
    if (parts.size() != 4) {
        error = quoted + "is not an IPv4 address: it needs four numbers separated by dots, not " +
                std::to_string(parts.size());
        return false;
    }
    std::string plain;
    bool leadingZero = false;
    for (const std::string& part : parts) {
        const std::size_t first = std::min(part.find_first_not_of('0'), part.size() - 1);
        if (part.size() - first > 3 || std::stoi(part.substr(first)) > 255) {
            error = quoted + "is not an IPv4 address: each number is from 0 to 255";
            return false;
        }
        leadingZero = leadingZero || first > 0;
        plain += (plain.empty() ? "" : ".") + part.substr(first);
    }
    if (leadingZero) {
        error = quoted + "has a number with a leading zero, which some systems read as octal: write " + plain;
        return false;
    }
    return true;
}

// Whether a host is meant as an IPv4 address: its last label is a number (decimal, or hexadecimal as
// inet_aton takes it). No top-level domain is numeric, so such a name is never a host name.
bool MeantAsIpv4(const std::string& host) {
    // One final dot names the root ("till2."); the label before it decides.
    const std::string name = !host.empty() && host.back() == '.' ? host.substr(0, host.size() - 1) : host;
    const std::size_t dot = name.rfind('.');
    const std::string last = name.substr(dot == std::string::npos ? 0 : dot + 1);
    if (last.empty()) return false;
    if (last.size() > 2 && last[0] == '0' && (last[1] == 'x' || last[1] == 'X'))
        return std::all_of(last.begin() + 2, last.end(),
                           [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
    return std::all_of(last.begin(), last.end(), IsDigit);
}

bool ParseHexGroup(const std::string& text, std::uint16_t& value) {
    if (text.empty() || text.size() > 4) return false;
    unsigned v = 0;
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        v = v * 16 + static_cast<unsigned>(
                         std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (c | 0x20) - 'a' + 10);
    }
    value = static_cast<std::uint16_t>(v);
    return true;
}

// The groups of one side of "::": hexadecimal groups, the last of them perhaps an IPv4 address.
bool ParseGroups(const std::string& text, bool lastMayBeIpv4, std::vector<std::uint16_t>& groups) {
    if (text.empty()) return true;
    std::size_t start = 0;
    for (;;) {
        const std::size_t colon = text.find(':', start);
        const std::string group =
            text.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        if (colon == std::string::npos && lastMayBeIpv4 && group.find('.') != std::string::npos) {
            std::string ignored;
            if (!CheckIpv4(group, ignored)) return false;
            unsigned b[4];
            std::sscanf(group.c_str(), "%u.%u.%u.%u", &b[0], &b[1], &b[2], &b[3]);
            groups.push_back(static_cast<std::uint16_t>(b[0] << 8 | b[1]));
            groups.push_back(static_cast<std::uint16_t>(b[2] << 8 | b[3]));
            return true;
        }
        std::uint16_t value = 0;
        if (!ParseHexGroup(group, value)) return false;
        groups.push_back(value);
        if (colon == std::string::npos) return true;
        start = colon + 1;
    }
}

// An IPv6 address (with an optional zone, "fe80::1%eth0") in the one form every spelling of it shares:
// lower-case groups without leading zeros, the longest run of zero groups shortened to "::", an IPv4
// tail for mapped addresses. False when it is not one.
bool CanonicalIpv6(const std::string& text, std::string& canonical) {
    std::array<std::uint16_t, 8> g{};
    std::string zone;
    if (!Ipv6Groups(text, g, zone)) return false;
    const bool mapped =
        std::all_of(g.begin(), g.begin() + 5, [](std::uint16_t v) { return v == 0; }) && g[5] == 0xFFFF;
    const int groups = mapped ? 6 : 8;
    int bestAt = -1, bestLength = 1;
    for (int i = 0; i < groups;) {
        int j = i;
        while (j < groups && g[static_cast<std::size_t>(j)] == 0) ++j;
        if (j - i > bestLength) {
            bestAt = i;
            bestLength = j - i;
        }
        i = j == i ? i + 1 : j;
    }
    std::string out;
    char hex[8];
    for (int i = 0; i < groups; ++i) {
        if (i == bestAt) {
            out += "::";
            i += bestLength - 1;
            continue;
        }
        if (!out.empty() && out.back() != ':') out += ':';
        std::snprintf(hex, sizeof hex, "%x", g[static_cast<std::size_t>(i)]);
        out += hex;
    }
    if (mapped) {
        char v4[20];
        std::snprintf(v4, sizeof v4, "%s%u.%u.%u.%u", out.back() == ':' ? "" : ":", g[6] >> 8, g[6] & 0xFF,
                      g[7] >> 8, g[7] & 0xFF);
        out += v4;
    }
    canonical = zone.empty() ? out : out + "%" + zone;
    return true;
}

bool CheckHostName(const std::string& host, std::string& error) {
    if (host.size() > 253 || !std::all_of(host.begin(), host.end(), IsHostChar) || host.front() == '.' ||
        host.front() == '-' || host.find("..") != std::string::npos) {
        error = "'" + host + "' is not a host name or address";
        return false;
    }
    return !MeantAsIpv4(host) || CheckIpv4(host, error);
}

// "5", "1", "0.5", "1.25": a limit in seconds, as short as it goes.
std::string Seconds(std::uint32_t ms) {
    std::string text = std::to_string(ms / 1000);
    if (ms % 1000 == 0) return text;
    char fraction[8];
    std::snprintf(fraction, sizeof fraction, ".%03u", static_cast<unsigned>(ms % 1000));
    std::string f = fraction;
    f.erase(f.find_last_not_of('0') + 1);
    return text + f;
}

bool ParsePort(const std::string& text, std::uint16_t& port, std::string& error) {
    if (text.empty() || text.size() > 5 || !std::all_of(text.begin(), text.end(), IsDigit) ||
        std::stol(text) < 1 || std::stol(text) > 65535) {
        error = "the port must be a number from 1 to 65535, not '" + text + "'";
        return false;
    }
    port = static_cast<std::uint16_t>(std::stol(text));
    return true;
}

} // namespace

bool Ipv6Groups(const std::string& text, std::array<std::uint16_t, 8>& groups, std::string& zone) {
    const std::size_t percent = text.find('%');
    const std::string address = text.substr(0, percent);
    std::string z;
    if (percent != std::string::npos) {
        z = text.substr(percent + 1);
        if (z.empty() || !std::all_of(z.begin(), z.end(), IsHostChar)) return false;
    }
    std::vector<std::uint16_t> head, tail;
    const std::size_t gap = address.find("::");
    if (gap == std::string::npos) {
        if (!ParseGroups(address, true, head) || head.size() != 8) return false;
    } else {
        if (address.find("::", gap + 1) != std::string::npos) return false;
        if (!ParseGroups(address.substr(0, gap), false, head) ||
            !ParseGroups(address.substr(gap + 2), true, tail) || head.size() + tail.size() > 7)
            return false;
    }
    std::vector<std::uint16_t> g = head;
    g.resize(8 - tail.size(), 0);
    g.insert(g.end(), tail.begin(), tail.end());
    std::copy(g.begin(), g.end(), groups.begin());
    zone = z;
    return true;
}

std::string NetworkAddress::Name() const {
    return kNetworkPrefix + (bracketed ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

bool IsNetworkName(const std::string& name) {
    return name.rfind(kNetworkPrefix, 0) == 0;
}

bool ParseNetworkAddress(const std::string& name, NetworkAddress& address, std::string& error) {
    error.clear();
    if (!IsNetworkName(name)) {
        error = "a network address begins with tcp://";
        return false;
    }
    const std::string rest = name.substr(std::string(kNetworkPrefix).size());
    NetworkAddress a;
    std::string portText;
    bool portGiven = false;
    if (rest.empty()) {
        error = "no host after tcp://";
        return false;
    }
    if (rest.front() == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string::npos) {
            error = "missing ']' after the IPv6 address";
            return false;
        }
        a.bracketed = true;
        a.numeric = true;
        if (!CanonicalIpv6(rest.substr(1, close - 1), a.host)) {
            error = "'" + rest.substr(1, close - 1) + "' is not an IPv6 address";
            return false;
        }
        const std::string after = rest.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':') {
                error = "unexpected '" + after + "' after the address";
                return false;
            }
            portText = after.substr(1);
            portGiven = true;
        }
    } else {
        const std::size_t colon = rest.find(':');
        if (colon != std::string::npos && rest.find(':', colon + 1) != std::string::npos) {
            error = "an IPv6 address goes in brackets, as in tcp://[fe80::1]:9100";
            return false;
        }
        a.host = rest.substr(0, colon);
        if (a.host.empty()) {
            error = "no host after tcp://";
            return false;
        }
        if (!CheckHostName(a.host, error)) return false;
        a.numeric = MeantAsIpv4(a.host);
        if (colon != std::string::npos) {
            portText = rest.substr(colon + 1);
            portGiven = true;
        }
    }
    if (portGiven && !ParsePort(portText, a.port, error)) return false;
    address = a;
    return true;
}

std::string ConnectProblem(const std::string& name, ConnectFailure why, const std::string& detail,
                           std::uint32_t limitMs) {
    NetworkAddress a;
    std::string ignored;
    const std::string full = ParseNetworkAddress(name, a, ignored) ? a.Name() : name;
    switch (why) {
    case ConnectFailure::BadName:
        return name + " is not a network address: " + detail + ".";
    case ConnectFailure::HostNotFound:
        return "Cannot find the host '" + a.host + "' of " + full +
               (detail.empty() ? "" : " (" + detail + ")") +
               ": check the name, or give the printer's IP address.";
    case ConnectFailure::Refused:
        return full +
               " refused the connection: nothing listens on that port. Check the printer's address and "
               "its raw port (9100 on most printers).";
    case ConnectFailure::TimedOut:
        return "No answer from " + full + " within " + Seconds(limitMs) +
               " s: is the printer switched on and on this network?";
    case ConnectFailure::LookupTimedOut:
        return "Looking up the host '" + a.host + "' of " + full + " took over " + Seconds(limitMs) +
               " s: check the name server, or give the printer's IP address.";
    case ConnectFailure::Stopped:
        return "The connection to " + full + " was given up: stopped.";
    case ConnectFailure::Unreachable:
        return full + " cannot be reached from this machine (no route to the host or its network).";
    case ConnectFailure::Other:
        break;
    }
    return "Cannot connect to " + full + (detail.empty() ? "." : ": " + detail + ".");
}

} // namespace pw
