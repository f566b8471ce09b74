// Replies read by their shape. A network link hands a reply over as it comes, often in pieces (a printer
// behind a serial-to-network bridge passes on what it has), so one read after a wait may hold only part
// of it. On a network link these readers take bytes until the reply is whole or the read's limit has
// passed since they began, and never read past its end; on other links they read as before.
#pragma once

#include "link/printer_port.h"

#include <cstdint>
#include <string>

namespace pw {

// A reply must be whole within this time from the start of its reading.
constexpr std::uint32_t kReplyLimitMs = 5000;

// `count` bytes: on a network link (and on any link with framed replies) all of them, or what came within
// the limit; elsewhere one Read (a serial Read takes them all, or what came within its limit).
int ReadCount(CPrinterPort& port, std::uint8_t* buffer, int count);

// Network: an identity text reply, its "_" header, the text and its NUL, whole within `limitMs`. At most
// 64 characters are kept and at most 256 bytes read. False when not one byte came. `whole`, when given, says
// whether the NUL came: a text cut off by the limit leaves the rest of it on the line.
bool ReadNetworkText(CPrinterPort& port, std::string& text, std::uint32_t limitMs = kReplyLimitMs,
                     bool* whole = nullptr);

enum class SwitchFrame { Whole, Cut, NoHeader, TooManyStrays };

// Network: a switch reply, "7", "!", eight characters, NUL. Bytes before the "7" are skipped (at most 64);
// `body` receives the ten bytes from the "!" on.
SwitchFrame ReadNetworkSwitchReply(CPrinterPort& port, std::uint8_t (&body)[10]);

} // namespace pw
