// Which printers the exporter may reach. A target is what pinwright-cli -p takes; it is compared with the
// allow list as written, before anything is opened or looked up: an address only in its one plain form
// (the short, octal and hexadecimal forms and IPv4 inside IPv6 are refused, never read as another
// address), a host name only when the list names it, a device only by the very path listed. A network
// never admits a host name, since that would take a lookup before the decision.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace pw::exporter {

struct AllowEntry {
    enum class Kind { Network, HostName, Device };
    Kind kind = Kind::Network;
    bool ipv6 = false;
    std::array<std::uint8_t, 16> address{}; // IPv4 in the first four bytes
    int prefix = 32;
    std::uint16_t port = 9100;
    std::string name; // a host name (lower case, no trailing dot) or a device as written
    std::string text; // as the configuration gives it
};

// "10.0.0.0/24", "10.0.1.5", "10.0.1.5:9101", "[fd00::]/64", "[fd00::7]:9100", "printer-1.shop.lan",
// "printer-1.shop.lan:9101" (each port 9100 unless given), "/dev/ttyUSB0", "COM3", "LPT1", "USB".
bool ParseAllowEntry(const std::string& text, AllowEntry& entry, std::string& error);

struct TargetDecision {
    bool allowed = false;
    std::string reason; // refused: why, in words for the log and the 403's body
    // Allowed: the one name of the printer whatever the spelling ("tcp://printer-7.shop.lan:9100" for
    // "tcp://PRINTER-7.shop.lan.", "COM3" for "com3"), as -p takes it; probes of one printer meet under it.
    std::string key;
};

TargetDecision CheckTarget(const std::vector<AllowEntry>& allow, const std::string& target);

} // namespace pw::exporter
