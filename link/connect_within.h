// Connecting to a network printer within one time limit, written once for every platform: the name lookup
// runs where it can be abandoned, so a resolver that hangs costs no more than the limit; the addresses the
// name gives then share what is left, so a dead first address cannot starve the rest. A stop of the
// calling worker (Ctrl-C) ends the lookup and the attempts at once.
#pragma once

#include "link/network_address.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace pw {

// One address a host resolves to, as the system's socket calls take it.
struct ResolvedAddress {
    int family = 0, socktype = 0, protocol = 0;
    std::vector<std::uint8_t> sockaddr; // the address record's bytes
};

// A blocking name lookup. It runs on a thread of its own that may be abandoned, so it must own all it uses.
using Resolver = std::function<bool(const NetworkAddress& address, std::vector<ResolvedAddress>& found,
                                    ConnectFailure& why, std::string& detail)>;

// The addresses of a getaddrinfo() answer (BSD sockets and Winsock alike), as ConnectWithin takes them.
template <class AddrInfo> void TakeAddresses(const AddrInfo* list, std::vector<ResolvedAddress>& found) {
    for (const AddrInfo* ai = list; ai; ai = ai->ai_next) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(ai->ai_addr);
        found.push_back({ai->ai_family, ai->ai_socktype, ai->ai_protocol, {bytes, bytes + ai->ai_addrlen}});
    }
}

// What a connect needs of the platform besides the lookup.
class ConnectSteps {
  public:
    virtual ~ConnectSteps() = default;
    // One connection attempt that ends by `deadlineMs` or when Stopped() becomes true: the connection
    // (its socket, >= 0), or -1 with `why` and `detail` set.
    virtual std::intptr_t Attempt(const ResolvedAddress& to, std::uint64_t deadlineMs, ConnectFailure& why,
                                  std::string& detail) = 0;
    virtual std::uint64_t NowMs() = 0;
    virtual void Sleep(std::uint32_t ms) = 0;
    virtual bool Stopped() = 0;
    // Starts the lookup's thread; false when none could be started.
    virtual bool StartLookup(std::function<void()> lookup);
};

// The lookup alone, on a thread that may be abandoned, within `limitMs` (a stop ends it at once): true
// with the addresses (perhaps none), or false with `why` and `detail` set.
bool LookUpWithin(ConnectSteps& steps, const Resolver& resolve, const NetworkAddress& address,
                  std::uint32_t limitMs, std::vector<ResolvedAddress>& found, ConnectFailure& why,
                  std::string& detail);

// The lookup and the attempts, all within `limitMs`: the connection, or -1 with `why` and `detail` set.
std::intptr_t ConnectWithin(ConnectSteps& steps, const Resolver& resolve, const NetworkAddress& address,
                            std::uint32_t limitMs, ConnectFailure& why, std::string& detail);

} // namespace pw
