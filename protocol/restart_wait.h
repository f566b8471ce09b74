// After the end of user setting mode the printer takes its new settings and restarts, and answers nothing
// meanwhile. The dialogs give it a fixed two seconds; the command line asks it instead, with DLE EOT 1 (a
// real-time query that prints nothing and changes nothing), at a growing interval until a status byte
// comes: as soon as a quick printer is back, as long as a slow one needs.
#pragma once

#include "link/printer_port.h"

#include <cstdint>
#include <functional>

namespace pw {

// The first interval, a quarter longer after each query without an answer, up to the longest: a printer
// is taken within a fifth of its restart time, with a query every second at most once it takes long.
constexpr std::uint32_t kRestartFirstPollMs = 20;
constexpr std::uint32_t kRestartLongestPollMs = 1000;
// Receipt printers are back within a few seconds of the end of the mode; those that check their head and
// cutter first take up to about ten. Half as long again is the bound.
constexpr std::uint32_t kRestartLimitMs = 15000;

// True once the printer answered DLE EOT 1 with a status byte within `limitMs`; false when it did not, or
// when `stopped` said so. What else comes meanwhile (a printer may send bytes while it starts) is passed
// over, and so are late answers to earlier queries once one has come.
bool WaitForRestart(CPrinterPort& port, std::uint32_t limitMs = kRestartLimitMs,
                    const std::function<bool()>& stopped = {});

} // namespace pw
