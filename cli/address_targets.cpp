#include "cli/address_targets.h"

#include "link/letter_case.h"
#include "link/network_address.h"

#include <algorithm>
#include <cstdio>

namespace pw::cli {

namespace {

bool AllDigits(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A decimal number without leading zeros, at most `most`.
bool SmallNumber(const std::string& s, unsigned most, unsigned& value) {
    if (!AllDigits(s) || s.size() > 3 || (s.size() > 1 && s[0] == '0')) return false;
    value = static_cast<unsigned>(std::stoul(s));
    return value <= most;
}

// An IPv4 address by the strict rules of -p.
bool ParseIpv4(const std::string& text, std::uint32_t& address, std::string& error) {
    NetworkAddress a;
    if (text.find(':') == std::string::npos && !ParseNetworkAddress(kNetworkPrefix + text, a, error))
        return false;
    if (!a.numeric || a.bracketed) {
        error = "'" + text + "' is not an IPv4 address";
        return false;
    }
    unsigned b[4];
    std::sscanf(a.host.c_str(), "%u.%u.%u.%u", &b[0], &b[1], &b[2], &b[3]);
    address = b[0] << 24 | b[1] << 16 | b[2] << 8 | b[3];
    return true;
}

bool ParseIpv6(const std::string& text, std::string& canonical, std::string& error) {
    NetworkAddress a;
    if (!ParseNetworkAddress(std::string(kNetworkPrefix) + "[" + text + "]", a, error)) return false;
    canonical = a.host;
    return true;
}

// "192.168.1.0/24"
bool AddNetwork(const std::string& target, std::size_t slash, Targets& t, std::string& error) {
    const std::string address = target.substr(0, slash), prefixText = target.substr(slash + 1);
    if (address.find(':') != std::string::npos) {
        error = "an IPv6 network is too large to sweep: give its printers' addresses";
        return false;
    }
    std::uint32_t base = 0;
    if (!ParseIpv4(address, base, error)) return false;
    unsigned prefix = 0;
    if (!SmallNumber(prefixText, 32, prefix)) {
        error = "the prefix after '/' is a number from 0 to 32, not '" + prefixText + "'";
        return false;
    }
    const std::uint64_t size = std::uint64_t{1} << (32 - prefix);
    const std::uint32_t first = static_cast<std::uint32_t>(base & ~(size - 1));
    const std::uint32_t last = static_cast<std::uint32_t>(first + (size - 1));
    // The network and broadcast addresses of a network of four or more: no host answers there.
    if (prefix <= 30)
        t.addresses.AddIpv4(first + 1, last - 1);
    else
        t.addresses.AddIpv4(first, last);
    return true;
}

// "192.168.1.20-60"
bool AddRange(const std::string& target, std::size_t dash, Targets& t, std::string& error) {
    const std::string start = target.substr(0, dash), endText = target.substr(dash + 1);
    std::uint32_t first = 0;
    if (!ParseIpv4(start, first, error)) return false;
    unsigned end = 0;
    if (!SmallNumber(endText, 255, end)) {
        error = "a range ends at a number from 0 to 255 for the last part, as in 192.168.1.20-60, not '" +
                endText + "'";
        return false;
    }
    const unsigned from = first & 0xFF;
    if (end < from) {
        error = "the range ends at " + std::to_string(end) + ", before it starts at " + std::to_string(from);
        return false;
    }
    t.addresses.AddIpv4(first, (first & 0xFFFFFF00u) | end);
    return true;
}

bool AddOne(const std::string& target, Targets& t, std::string& error) {
    if (target.empty()) {
        error = "it is empty";
        return false;
    }
    if (AsciiLower(target).rfind(kNetworkPrefix, 0) == 0) {
        error = "a TARGET is an address, network, range or host name without tcp:// (the port is --port N)";
        return false;
    }
    if (const std::size_t slash = target.find('/'); slash != std::string::npos)
        return AddNetwork(target, slash, t, error);
    if (target.front() == '[') {
        const std::size_t close = target.find(']');
        if (close == std::string::npos) {
            error = "missing ']' after the IPv6 address";
            return false;
        }
        if (close + 1 != target.size()) {
            error = "a TARGET has no port: discover tries the one --port gives (9100 unless told)";
            return false;
        }
        std::string canonical;
        if (!ParseIpv6(target.substr(1, close - 1), canonical, error)) return false;
        t.addresses.AddIpv6(canonical);
        return true;
    }
    if (const std::size_t colon = target.find(':'); colon != std::string::npos) {
        if (target.find(':', colon + 1) == std::string::npos) {
            error = "a TARGET has no port: discover tries the one --port gives (9100 unless told)";
            return false;
        }
        std::string canonical;
        if (!ParseIpv6(target, canonical, error)) return false;
        t.addresses.AddIpv6(canonical);
        return true;
    }
    // A range's start ends in a number; a host name never does ("till-2" is a name).
    if (const std::size_t dash = target.rfind('-'); dash != std::string::npos) {
        const std::string start = target.substr(0, dash);
        const std::size_t dot = start.rfind('.');
        const std::string last = start.substr(dot == std::string::npos ? 0 : dot + 1);
        const bool hex = last.size() > 2 && last[0] == '0' && (last[1] == 'x' || last[1] == 'X');
        if (AllDigits(last) || hex) return AddRange(target, dash, t, error);
    }
    NetworkAddress a;
    if (!ParseNetworkAddress(kNetworkPrefix + target, a, error)) return false;
    if (a.numeric) {
        std::uint32_t address = 0;
        if (!ParseIpv4(target, address, error)) return false;
        t.addresses.AddIpv4(address, address);
        return true;
    }
    const std::string key = AsciiLower(a.host);
    const bool seen = std::any_of(t.names.begin(), t.names.end(),
                                  [&](const std::string& name) { return AsciiLower(name) == key; });
    if (!seen) t.names.push_back(a.host);
    return true;
}

} // namespace

std::string Ipv4Text(std::uint32_t a) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", a >> 24, (a >> 16) & 0xFF, (a >> 8) & 0xFF, a & 0xFF);
    return text;
}

void AddressSet::AddIpv4(std::uint32_t first, std::uint32_t last) {
    m_ipv4.emplace_back(first, last);
    std::sort(m_ipv4.begin(), m_ipv4.end());
    // Spans that overlap or touch become one.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> merged;
    for (const auto& span : m_ipv4) {
        if (!merged.empty() && std::uint64_t{span.first} <= std::uint64_t{merged.back().second} + 1)
            merged.back().second = std::max(merged.back().second, span.second);
        else
            merged.push_back(span);
    }
    m_ipv4 = std::move(merged);
}

bool AddressSet::AddIpv6(const std::string& address) {
    Ipv6 a{};
    if (!Ipv6Groups(address, a.groups, a.zone)) return false;
    a.text = address;
    const auto before = [](const Ipv6& x, const Ipv6& y) {
        return x.groups != y.groups ? x.groups < y.groups : x.zone < y.zone;
    };
    const auto at = std::lower_bound(m_ipv6.begin(), m_ipv6.end(), a, before);
    if (at != m_ipv6.end() && at->groups == a.groups && at->zone == a.zone) return true;
    m_ipv6.insert(at, a);
    return true;
}

bool AddressSet::AddNumeric(const std::string& address) {
    std::string error;
    if (address.find(':') == std::string::npos) {
        std::uint32_t a = 0;
        if (!ParseIpv4(address, a, error)) return false;
        AddIpv4(a, a);
        return true;
    }
    std::string canonical;
    return ParseIpv6(address, canonical, error) && AddIpv6(canonical);
}

std::uint64_t AddressSet::Count() const {
    std::uint64_t n = m_ipv6.size();
    for (const auto& [first, last] : m_ipv4) n += std::uint64_t{last} - first + 1;
    return n;
}

std::string AddressSet::At(std::uint64_t index) const {
    for (const auto& [first, last] : m_ipv4) {
        const std::uint64_t size = std::uint64_t{last} - first + 1;
        if (index < size) return Ipv4Text(static_cast<std::uint32_t>(first + index));
        index -= size;
    }
    return index < m_ipv6.size() ? m_ipv6[static_cast<std::size_t>(index)].text : std::string();
}

bool AddressSet::IsIpv6(std::uint64_t index) const {
    return index >= Count() - m_ipv6.size();
}

bool AddTarget(const std::string& target, Targets& targets, std::string& error) {
    error.clear();
    return AddOne(target, targets, error);
}

} // namespace pw::cli
