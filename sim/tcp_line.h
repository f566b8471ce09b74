// The simulator's network side: a printer's raw TCP port. It serves one client at a time, as a printer
// does; a second client's connection waits in the listen backlog until the first one has gone.
#pragma once

#include <string>

namespace sim {

// Splits "[HOST:]PORT" (HOST 127.0.0.1 when left out, an IPv6 HOST in brackets); false when malformed.
bool SplitListenAddress(const std::string& address, std::string& host, std::string& port);

// Listens on "[HOST:]PORT" (HOST an IPv4 address, an IPv6 address in brackets or a name; 127.0.0.1 when
// left out; PORT 0 picks a free port). Returns the listening socket and the bound address as
// "127.0.0.1:40123" or "[::1]:40123", or -1 with `error` set.
int ListenTcp(const std::string& address, std::string& bound, std::string& error);

// Takes the next waiting client: its non-blocking socket and its address, or -1 when none waits.
int AcceptClient(int listener, std::string& peer);

} // namespace sim
