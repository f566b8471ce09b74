#include "link/network_address.h"

#include <algorithm>
#include <cctype>

namespace pw {

namespace {

bool IsDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

bool IsHostChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '.' || c == '_';
}

// An IPv6 address as written inside brackets, with an optional zone ("fe80::1%eth0"). Only its
// characters are checked here; the resolver judges the rest.
bool LooksLikeIpv6(const std::string& text) {
    const std::size_t percent = text.find('%');
    const std::string address = text.substr(0, percent);
    if (address.find(':') == std::string::npos) return false;
    for (char c : address)
        if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':' && c != '.') return false;
    if (percent == std::string::npos) return true;
    const std::string zone = text.substr(percent + 1);
    return !zone.empty() && std::all_of(zone.begin(), zone.end(), IsHostChar);
}

// Four numbers from 0 to 255, separated by dots.
bool IsIpv4(const std::string& text) {
    int parts = 0;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t dot = std::min(text.find('.', start), text.size());
        const std::string part = text.substr(start, dot - start);
        if (part.empty() || part.size() > 3 || !std::all_of(part.begin(), part.end(), IsDigit) ||
            std::stoi(part) > 255)
            return false;
        ++parts;
        start = dot + 1;
    }
    return parts == 4;
}

bool CheckHostName(const std::string& host, std::string& error) {
    if (host.size() > 253 || !std::all_of(host.begin(), host.end(), IsHostChar) || host.front() == '.' ||
        host.front() == '-' || host.find("..") != std::string::npos) {
        error = "'" + host + "' is not a host name or address";
        return false;
    }
    // Digits and dots only: meant as an IPv4 address, so it must be one.
    const bool numeric = std::all_of(host.begin(), host.end(), [](char c) { return IsDigit(c) || c == '.'; });
    if (numeric && !IsIpv4(host)) {
        error = "'" + host + "' is not an IPv4 address";
        return false;
    }
    return true;
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
        a.host = rest.substr(1, close - 1);
        a.bracketed = true;
        if (!LooksLikeIpv6(a.host)) {
            error = "'" + a.host + "' is not an IPv6 address";
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
        if (colon != std::string::npos) {
            portText = rest.substr(colon + 1);
            portGiven = true;
        }
    }
    if (portGiven && !ParsePort(portText, a.port, error)) return false;
    address = a;
    return true;
}

std::string ConnectProblem(const std::string& name, ConnectFailure why, const std::string& detail) {
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
        return "No answer from " + full + " within " + std::to_string(kConnectLimitMs / 1000) +
               " s: is the printer switched on and on this network?";
    case ConnectFailure::Unreachable:
        return full + " cannot be reached from this machine (no route to the host or its network).";
    case ConnectFailure::Other:
        break;
    }
    return "Cannot connect to " + full + (detail.empty() ? "." : ": " + detail + ".");
}

} // namespace pw
