// Finding the line a serial printer speaks now: the rate, data length and parity that switch 9 can hold,
// tried with real-time status queries (DLE EOT n) only, which a printer answers at once whatever it is
// doing, offline too, and which print nothing at its own line. A candidate is trusted only once a second
// query confirms it.
//
// At a wrong line the printer's UART makes other bytes of the probe's bits, and those may be printable.
// A UART reads a burst from a faster sender as one character whose last bits are the idle line (ones): a
// byte of 80 to FF that waits in the print buffer. A burst from a sender three or more times slower holds
// the line low for whole characters: 00, which a printer ignores. So the rates are tried slowest first
// (a printer only ever hears slower probes), and at each rate the 8-bit frames before the 7-bit ones (a
// 7E1 or 7N1 probe reads as 90 84 .. at 8N1, an 8-bit probe as the query itself at 7 bits). Probes at a
// half or two thirds of the printer's rate still leave a few bytes: ESC @ at the line found clears them
// where the command may send it.
#pragma once

#include "link/printer_port.h"

#include <functional>
#include <string>
#include <vector>

namespace pw {

struct SerialLine {
    int baud = 9600;
    int dataBits = 8;
    int parity = 0;   // 0 none, 1 odd, 2 even
    int stopBits = 0; // 0 one
    bool operator==(const SerialLine&) const = default;
};

// "38400 8N1"
std::string SerialLineText(const SerialLine& line);

// What switch 9 can hold, in the order of the search: 9600, 19200, 38400, 57600, 115200, and at each rate
// 8N1, 8E1, 8O1, 7O1, 7E1, 7N1. 30 in all.
std::vector<SerialLine> LineCandidates();

// How long a candidate waits for the probe's reply: a printer answers a real-time query as it takes it
// (1 ms for the query and its reply at 9600), and a USB-serial bridge may hold a short read for its
// latency timer (16 ms by default); 60 ms is twice that and room for the system. A candidate that
// answered waits longer for the confirmation.
constexpr std::uint32_t kProbeReplyMs = 60;
constexpr std::uint32_t kConfirmReplyMs = 500;
// When the first round heard something but found nothing (a printer slow to answer), a second round
// waits this long for each probe's reply, at the candidates from which a reply that late could have
// come: the one where it was heard and the few before it.
constexpr std::uint32_t kSlowProbeReplyMs = 300;
// After the confirmation, how long nothing more may come: a reply of more than one byte is no status.
constexpr std::uint32_t kQuietAfterReplyMs = 20;

// A real-time status byte has bits 1 and 4 on and bits 0 and 7 off.
inline bool IsStatusByte(std::uint8_t b) {
    return (b & 0x93) == 0x12;
}

struct LineSearch {
    bool found = false;
    SerialLine line;               // when found
    std::vector<SerialLine> tried; // in order, the found one last; a second round tries them again
    bool lineDown = false;         // the port took no line settings, or the line took no bytes
};

// Tries the candidates on an open serial port until one answers, `stopped` says so, or all were tried.
// The port is left at the line found, or at the last candidate tried. With `clearBuffer` ESC @ at the
// line found throws away what the printer may have taken as text meanwhile; without it the search sends
// nothing but DLE EOT n.
LineSearch FindLine(CPrinterPort& port, const std::vector<SerialLine>& candidates = LineCandidates(),
                    const std::function<bool()>& stopped = {}, bool clearBuffer = true);

// Switch 9 as the printer at the port's line sends it: "7!" then eight '0'/'1' (pin 8 first) and NUL,
// read within `ms`. False when anything else comes: a 7-bit printer answering an 8-bit port sends its
// parity bits as the characters' eighth bits, and a printer at another rate sends garbage.
constexpr std::uint32_t kSwitchReplyMs = 1000;
bool ReadSwitch9AtThisLine(CPrinterPort& port, std::string& pins, std::uint32_t ms = kSwitchReplyMs);

} // namespace pw
