// The two ends of a printer's serial line on a pseudo-terminal: the frame the printer's switch 9 holds, the
// frame the tool set on its side, and what the tool's terminal driver passes on of what its UART read.
#pragma once

#include "sim/uart_line.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// Switch 9: pins 6 to 8 the rate (9600, 19200, 38400, 57600, 115200; 5 to 7 hold none: baud 0), pin 2 on
// for 7 data bits, pin 4 parity check on with pin 3 on for even and off for odd. One stop bit.
UartFrame FrameOfSwitch9(std::uint8_t pins);

// The tool's side of the pseudo-terminal as the master sees it: its rate and stop bits, and its input
// flags (INPCK, IGNPAR, PARMRK, ISTRIP). A pseudo-terminal forces 8 data bits without parity, so when
// `reportDir` names a folder the tool's own request is taken from its report there (see
// tests/support/line_report.c): a file named like the slave's path with '/' as '_', holding
// "CFLAG IFLAG" in hex.
struct ToolSide {
    UartFrame frame;
    unsigned iflag = 0;
    bool known = false; // false: the master could not be read
};
ToolSide ReadToolSide(int master, const std::string& slavePath, const std::string& reportDir);

// What a Linux serial driver hands the reading program for each character: with INPCK a character read
// with a framing or parity error is dropped (IGNPAR), marked FF 00 c (PARMRK) or read as 00; without
// INPCK the errors are not checked and the character passes as read.
std::vector<std::uint8_t> DeliveredToReader(const std::vector<UartChar>& chars, unsigned iflag);

// "115200 8N1"
std::string FrameText(const UartFrame& f);

} // namespace sim
