#include "sim/uart_line.h"

#include <bit>

namespace sim {

namespace {

bool EvenOnes(unsigned v) {
    return std::popcount(v) % 2 == 0;
}

// The levels of the burst, one a bit time of the sender.
std::vector<std::uint8_t> LineBits(const std::vector<std::uint8_t>& bytes, const UartFrame& tx) {
    std::vector<std::uint8_t> bits;
    const unsigned mask = (1u << tx.dataBits) - 1;
    for (std::uint8_t b : bytes) {
        const unsigned data = b & mask;
        bits.push_back(0);
        for (int k = 0; k < tx.dataBits; ++k) bits.push_back((data >> k) & 1);
        if (tx.parity == 'E') bits.push_back(EvenOnes(data) ? 0 : 1);
        if (tx.parity == 'O') bits.push_back(EvenOnes(data) ? 1 : 0);
        for (int s = 0; s < tx.stopBits; ++s) bits.push_back(1);
    }
    return bits;
}

} // namespace

std::vector<UartChar> ReceiveBurst(const std::vector<std::uint8_t>& bytes, const UartFrame& tx,
                                   const UartFrame& rx) {
    // Time in units of 1 / (2 * tx.baud * rx.baud) s: both bit times and half the receiver's are whole.
    const long long txBit = 2LL * rx.baud, rxBit = 2LL * tx.baud, rxHalf = tx.baud;
    const std::vector<std::uint8_t> bits = LineBits(bytes, tx);
    const long long end = static_cast<long long>(bits.size());
    auto level = [&](long long t) { return t / txBit < end ? bits[static_cast<std::size_t>(t / txBit)] : 1; };
    // The first falling edge at or after `from`; -1 when the line stays as it is.
    auto nextEdge = [&](long long from) -> long long {
        for (long long i = (from + txBit - 1) / txBit; i < end; ++i)
            if (bits[static_cast<std::size_t>(i)] == 0 &&
                (i == 0 || bits[static_cast<std::size_t>(i - 1)] == 1))
                return i * txBit;
        return -1;
    };
    std::vector<UartChar> out;
    for (long long from = 0;;) {
        const long long edge = nextEdge(from);
        if (edge < 0) break;
        auto sample = [&](int bit) { return level(edge + bit * rxBit + rxHalf); };
        if (sample(0) != 0) { // a glitch, not a start bit
            from = edge + rxHalf + 1;
            continue;
        }
        UartChar c;
        unsigned value = 0;
        int bit = 1;
        for (int k = 0; k < rx.dataBits; ++k, ++bit) value |= static_cast<unsigned>(sample(bit)) << k;
        if (rx.parity != 'N') {
            const bool ones = (std::popcount(value) + sample(bit)) % 2 == 0;
            c.parityError = rx.parity == 'E' ? !ones : ones;
            ++bit;
        }
        c.framingError = sample(bit) == 0;
        c.value = static_cast<std::uint8_t>(value);
        out.push_back(c);
        from = edge + bit * rxBit + rxHalf + 1;
    }
    return out;
}

} // namespace sim
