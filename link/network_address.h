// A printer on the network, named "tcp://HOST[:PORT]": it takes ESC/POS on a raw TCP port (9100 unless
// named) and answers on the same connection. HOST is an IPv4 address, an IPv6 address in brackets, or a
// host name. What a failed connection means, in words a user can act on, is said here once for every
// platform.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace pw {

constexpr const char* kNetworkPrefix = "tcp://";
constexpr std::uint16_t kDefaultRawPort = 9100;
// A connection that is neither made nor refused within this time is given up.
constexpr std::uint32_t kConnectLimitMs = 5000;
// A close waits at most this long for the last commands to reach the printer.
constexpr std::uint32_t kCloseLingerMs = 1000;

struct NetworkAddress {
    // Without brackets: "192.168.1.50", "fe80::1%eth0", "printer-3.shop.lan". An IPv6 address in its
    // canonical form, so that two spellings of one address are one name.
    std::string host;
    std::uint16_t port = kDefaultRawPort;
    bool bracketed = false; // an IPv6 address
    bool numeric = false;   // an IPv4 or IPv6 address, not a name: never looked up

    // "tcp://192.168.1.50:9100", "tcp://[::1]:9100": the name with the port always given.
    std::string Name() const;
};

// Whether a port name is meant as a network address (it begins with "tcp://"), well formed or not.
bool IsNetworkName(const std::string& name);

// Reads "tcp://HOST[:PORT]". False with `error` saying what is wrong when the name is not one. IPv4
// addresses are taken only as four decimal numbers without leading zeros: the forms some resolvers read
// otherwise (octal, hexadecimal, fewer parts) are refused with the reason.
bool ParseNetworkAddress(const std::string& name, NetworkAddress& address, std::string& error);

enum class ConnectFailure {
    BadName,        // not a network address (the parse error is the detail)
    HostNotFound,   // the name does not resolve
    Refused,        // the host answered, nothing listens on the port
    TimedOut,       // no answer within kConnectLimitMs
    LookupTimedOut, // the name lookup took the whole of kConnectLimitMs
    Stopped,        // given up on a stop request (Ctrl-C)
    Unreachable,    // no route to the host or its network
    Other,          // anything else (the system's own words are the detail)
};

// The message for a connection to `name` (as given) that failed, made or given up within `limitMs`.
std::string ConnectProblem(const std::string& name, ConnectFailure why, const std::string& detail = {},
                           std::uint32_t limitMs = kConnectLimitMs);

// The eight groups of an IPv6 address, as ParseNetworkAddress reads one between brackets, and its zone
// ("eth0" of "fe80::1%eth0", empty when none). False when `text` is no IPv6 address.
bool Ipv6Groups(const std::string& text, std::array<std::uint16_t, 8>& groups, std::string& zone);

} // namespace pw
