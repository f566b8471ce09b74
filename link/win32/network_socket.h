// Winsock connections to network printers for the Win32 backend: connect within a time limit, then send
// and receive within the port's time limits. The socket stays non-blocking; every wait is a select().
#pragma once

#include "link/network_address.h"

#include <cstdint>
#include <string>

namespace pw::win32 {

using Socket = std::uintptr_t;
constexpr Socket kNoSocket = ~Socket{0}; // INVALID_SOCKET

// Resolves the address and connects to its first answer that takes the connection, all within `limitMs`.
// Starts Winsock once per process. kNoSocket with `why` and `detail` set on failure.
Socket ConnectTcp(const NetworkAddress& address, std::uint32_t limitMs, ConnectFailure& why,
                  std::string& detail);

// Sends until all went out or `limitMs` passed; false with `error` (a Winsock code) when the connection
// failed or the printer closed it.
bool SendWithin(Socket s, const std::uint8_t* data, std::uint32_t length, std::uint32_t limitMs,
                std::uint32_t& written, std::uint32_t& error);

// Receives until `length` bytes came (or, with `anyBytes`, any bytes), `limitMs` passed, the printer closed
// the connection, or `stop` (an event handle, may be null) is signalled. Returns the count received.
std::uint32_t ReceiveWithin(Socket s, std::uint8_t* buffer, std::uint32_t length, std::uint32_t limitMs,
                            bool anyBytes, void* stop);

// Closes a connection so that what was written still reaches the printer: no more is sent and what the
// printer sent is taken first (unread bytes would make the close a reset, which drops what is queued).
bool CloseSocket(Socket s);

} // namespace pw::win32
