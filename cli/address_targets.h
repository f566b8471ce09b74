// The TARGETs of discover, read by the rules -p holds its addresses to: an IPv4 address (192.168.1.50), an
// IPv4 network (192.168.1.0/24: .1 to .254, since the network and broadcast addresses are left out up to
// /30; /31 and /32 are taken whole), a range whose last part runs from its first number to the one after
// the dash (192.168.1.20-60), an IPv6 address (fd00::50, or [fd00::50]), or a host name, whose addresses
// are looked up when the sweep begins. Every address is swept once: IPv4 in the order of their numbers,
// then IPv6 likewise.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace pw::cli {

// Addresses, each once, in address order, without holding each of a large network on its own.
class AddressSet {
  public:
    void AddIpv4(std::uint32_t first, std::uint32_t last); // first <= last
    // An IPv6 address as ParseNetworkAddress writes it; false when it is none.
    bool AddIpv6(const std::string& address);
    // An IPv4 or IPv6 address as a host lookup gives it; false when it is neither.
    bool AddNumeric(const std::string& address);

    std::uint64_t Count() const;
    // The address at `index` (< Count()) in address order, as a port name writes it: "192.168.1.5",
    // "fd00::5".
    std::string At(std::uint64_t index) const;
    bool IsIpv6(std::uint64_t index) const;

  private:
    struct Ipv6 {
        std::array<std::uint16_t, 8> groups;
        std::string zone, text;
    };
    std::vector<std::pair<std::uint32_t, std::uint32_t>> m_ipv4; // spans, sorted, apart from each other
    std::vector<Ipv6> m_ipv6;                                    // sorted, each once
};

struct Targets {
    AddressSet addresses;
    std::vector<std::string> names; // host names as given, each once whatever its letter case
};

// Adds the addresses, or the host name, that `target` names. False with `error` saying why, when it names
// none by the rules above (a tcp:// scheme or a port in it, a malformed address, an octal or hexadecimal
// part, a prefix outside 0..32, a range that ends before it starts or past 255, an IPv6 network).
bool AddTarget(const std::string& target, Targets& targets, std::string& error);

// "192.168.1.50"
std::string Ipv4Text(std::uint32_t address);

} // namespace pw::cli
