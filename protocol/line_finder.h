// Finding the line a serial printer speaks now: the rate, data length and parity that switch 9 can hold,
// tried the likeliest first with a query that prints nothing, a candidate trusted only once a second
// query confirms it. Bytes sent at a wrong rate reach the printer as garbage that it may take as text, so
// a probe sends as little as it can (6 bytes), and once the line is found ESC @ clears what the printer
// may have buffered of it.
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

// What switch 9 can hold, the likeliest first: 8N1 at 115200 (the factory setting and what Initialize
// Status writes) and 9600 (the common ESC/POS default), then the other rates; then the other frames in
// the same order of rates: 7E1, 8E1, 7O1, 8O1, 7N1. 30 in all.
std::vector<SerialLine> LineCandidates();

// How long a candidate waits for the first reply, and for the confirmation.
constexpr std::uint32_t kProbeReplyMs = 150;
constexpr std::uint32_t kConfirmReplyMs = 500;
// When the first round heard something but found nothing (a printer slow to answer), a second round
// waits this long for each first reply.
constexpr std::uint32_t kSlowProbeReplyMs = 400;

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
// The port is left at the line found (its buffer cleared by ESC @), or at the last candidate tried.
LineSearch FindLine(CPrinterPort& port, const std::vector<SerialLine>& candidates = LineCandidates(),
                    const std::function<bool()>& stopped = {});

} // namespace pw
