// A TCP connection to a printer on the network, made within a time limit.
#pragma once

#include "link/network_address.h"

#include <cstdint>
#include <string>

namespace pw::posix {

// Resolves the address and connects to its first answer that takes the connection, all within `limitMs`.
// Returns a non-blocking socket without Nagle's delay (each command goes out as it is written), or -1
// with `why` and `detail` (the system's own words, for ConnectProblem) set.
int ConnectTcp(const NetworkAddress& address, std::uint32_t limitMs, ConnectFailure& why,
               std::string& detail);

} // namespace pw::posix
