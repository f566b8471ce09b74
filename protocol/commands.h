// The ESC/POS command set: every byte string the tool sends, each always written with its full length.
// Memory-switch settings travel as eight characters, pin 8 first: '0' off, '1' on, '2' leave unchanged.
#pragma once

#include "link/printer_port.h"

#include <array>
#include <cstdint>

namespace pw {

template <std::size_t N> using Cmd = std::array<std::uint8_t, N>;

inline constexpr Cmd<2> CMD_INIT = {0x1B, 0x40};                                      // ESC @
inline constexpr Cmd<3> CMD_SELECT_PRINTER = {0x1B, 0x3D, 0x01};                      // ESC = 1
inline constexpr Cmd<3> CMD_ASB_OFF = {0x1D, 0x61, 0x00};                             // GS a 0
inline constexpr Cmd<3> CMD_QUERY_MODEL_ID = {0x1D, 0x49, 0x01};                      // GS I 1
inline constexpr Cmd<3> CMD_QUERY_FIRMWARE = {0x1D, 0x49, 0x41};                      // GS I 65
inline constexpr Cmd<3> CMD_QUERY_MAKER = {0x1D, 0x49, 0x42};                         // GS I 66
inline constexpr Cmd<3> CMD_QUERY_MODEL_NAME = {0x1D, 0x49, 0x43};                    // GS I 67
inline constexpr Cmd<7> CMD_SELF_TEST_1 = {0x1D, 0x28, 0x41, 0x02, 0x00, 0x01, 0x02}; // status print
inline constexpr Cmd<7> CMD_SELF_TEST_2 = {0x1D, 0x28, 0x41, 0x02, 0x00, 0x01, 0x03}; // rolling pattern
inline constexpr Cmd<8> CMD_SETUP_IN = {0x1D, 0x28, 0x45, 0x03, 0x00, 0x01, 'I', 'N'};
inline constexpr Cmd<9> CMD_SETUP_OUT = {0x1D, 0x28, 0x45, 0x04, 0x00, 0x02, 'O', 'U', 'T'};
inline constexpr Cmd<7> CMD_QUERY_SW1 = {0x1D, 0x28, 0x45, 0x02, 0x00, 0x04, 0x01};
inline constexpr Cmd<7> CMD_QUERY_SW2 = {0x1D, 0x28, 0x45, 0x02, 0x00, 0x04, 0x02};
inline constexpr Cmd<7> CMD_QUERY_SW9 = {0x1D, 0x28, 0x45, 0x02, 0x00, 0x04, 0x09};
inline constexpr Cmd<15> CMD_SET_SW1 = {0x1D, 0x28, 0x45, 0x0A, 0x00, 0x03, 0x01, '2',
                                        '2',  '2',  '0',  '2',  '2',  '2',  '2'};
inline constexpr Cmd<15> CMD_SET_SW2 = {0x1D, 0x28, 0x45, 0x0A, 0x00, 0x03, 0x02, '0',
                                        '0',  '0',  '0',  '0',  '0',  '2',  '2'};
inline constexpr Cmd<15> CMD_SET_SW9 = {0x1D, 0x28, 0x45, 0x0A, 0x00, 0x03, 0x09, '0',
                                        '0',  '0',  '0',  '0',  '0',  '0',  '2'};
inline constexpr Cmd<3> CMD_REALTIME_STATUS = {0x10, 0x04, 0x01}; // DLE EOT 1
inline constexpr Cmd<3> CMD_STATUS_OFFLINE = {0x10, 0x04, 0x02};  // DLE EOT 2
inline constexpr Cmd<3> CMD_STATUS_ERROR = {0x10, 0x04, 0x03};    // DLE EOT 3
inline constexpr Cmd<3> CMD_STATUS_PAPER = {0x10, 0x04, 0x04};    // DLE EOT 4

constexpr std::size_t kReplyBufferSize = 20;

// Writes a whole command; returns the bytes that went out.
template <std::size_t N> std::uint32_t Send(CPrinterPort& port, const Cmd<N>& cmd) {
    Cmd<N> work = cmd; // the constants stay untouched
    return port.Write(work.data(), static_cast<std::uint32_t>(N));
}

// Writes a command whose reply is read. On a network link what the printer sent before it is thrown away
// first, so that nothing left over is taken for its reply.
template <std::size_t N> std::uint32_t SendQuery(CPrinterPort& port, const Cmd<N>& cmd) {
    port.DiscardPending();
    return Send(port, cmd);
}

// A change command from its template with pin p (1..8) turned on where pinsOn[p - 1]: byte 15 - p
// becomes '1'. A template's '2' is never changed.
Cmd<15> FillChangeCommand(const Cmd<15>& tmpl, const std::array<bool, 8>& pinsOn);

} // namespace pw
