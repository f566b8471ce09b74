// A serial line as the bits on the wire: bytes sent by one UART at its frame, taken apart by another UART
// at its own. Two UARTs that disagree on the rate or the frame make something else of the same bits, and
// that something is what a printer acts on, so it is worked out bit by bit rather than guessed.
#pragma once

#include <cstdint>
#include <vector>

namespace sim {

// One side's frame: the rate, 5 to 8 data bits sent least significant first, parity 'N', 'E' or 'O', and
// one or two stop bits.
struct UartFrame {
    int baud = 115200;
    int dataBits = 8;
    char parity = 'N';
    int stopBits = 1;
    bool operator==(const UartFrame&) const = default;
};

// What a receiving UART delivers for one character.
struct UartChar {
    std::uint8_t value = 0;
    bool framingError = false; // the stop bit was read low (a break reads as 00 with this too)
    bool parityError = false;
    bool operator==(const UartChar&) const = default;
};

// The bits of `bytes` sent back to back at `tx` (start bit, data, parity, stop bits), the line idle before
// and after, as the receiver at `rx` reads them: it waits for a falling edge, checks the start bit in the
// middle of its own bit time (a start bit read high again was a glitch, and it waits for the next edge),
// samples each further bit in its middle, and after the stop bit's sample waits for the next falling edge.
// A sample that falls on an edge reads the level after it, as a majority of three samples around the
// middle would.
std::vector<UartChar> ReceiveBurst(const std::vector<std::uint8_t>& bytes, const UartFrame& tx,
                                   const UartFrame& rx);

} // namespace sim
