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

// Closes a connection so that what was written still reaches the printer: no more is sent, what the
// printer sent is taken (unread bytes would make the close a reset, which drops what is still queued), and
// the close waits up to `lingerMs` for the queue to be acknowledged.
void CloseTcp(int fd, std::uint32_t lingerMs);

} // namespace pw::posix
