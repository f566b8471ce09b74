#include "sim/pty_line.h"

#include <cstdio>
#include <fstream>
#include <termios.h>

namespace sim {

UartFrame FrameOfSwitch9(std::uint8_t pins) {
    static const int kRates[] = {9600, 19200, 38400, 57600, 115200};
    const int index = (pins >> 5) & 7;
    UartFrame f;
    f.baud = index < 5 ? kRates[index] : 0;
    f.dataBits = (pins & 0x02) ? 7 : 8;
    f.parity = !(pins & 0x08) ? 'N' : (pins & 0x04) ? 'E' : 'O';
    f.stopBits = 1;
    return f;
}

namespace {

int RateOf(speed_t s) {
    static const std::pair<speed_t, int> kSpeeds[] = {{B1200, 1200},   {B2400, 2400},     {B4800, 4800},
                                                      {B9600, 9600},   {B19200, 19200},   {B38400, 38400},
                                                      {B57600, 57600}, {B115200, 115200}, {B230400, 230400}};
    for (const auto& [speed, rate] : kSpeeds)
        if (speed == s) return rate;
    return 0;
}

bool ReadReport(const std::string& reportDir, const std::string& slavePath, unsigned& cflag,
                unsigned& iflag) {
    std::string file = slavePath;
    for (char& c : file)
        if (c == '/') c = '_';
    std::ifstream in(reportDir + "/" + file);
    return static_cast<bool>(in >> std::hex >> cflag >> iflag);
}

} // namespace

ToolSide ReadToolSide(int master, const std::string& slavePath, const std::string& reportDir) {
    ToolSide side;
    termios t{};
    if (master < 0 || ::tcgetattr(master, &t) != 0) return side;
    side.known = true;
    unsigned cflag = t.c_cflag, iflag = t.c_iflag;
    // The rate is the terminal's own; data length and parity only the tool's report can tell.
    if (reportDir.empty() || !ReadReport(reportDir, slavePath, cflag, iflag))
        cflag = (cflag & ~(CSIZE | PARENB)) | CS8;
    side.frame.baud = RateOf(cfgetospeed(&t));
    side.frame.dataBits = (cflag & CSIZE) == CS7   ? 7
                          : (cflag & CSIZE) == CS6 ? 6
                          : (cflag & CSIZE) == CS5 ? 5
                                                   : 8;
    side.frame.parity = !(cflag & PARENB) ? 'N' : (cflag & PARODD) ? 'O' : 'E';
    side.frame.stopBits = (cflag & CSTOPB) ? 2 : 1;
    side.iflag = iflag;
    return side;
}

std::vector<std::uint8_t> DeliveredToReader(const std::vector<UartChar>& chars, unsigned iflag) {
    std::vector<std::uint8_t> out;
    for (const UartChar& c : chars) {
        const std::uint8_t v = (iflag & ISTRIP) ? c.value & 0x7F : c.value;
        if ((iflag & INPCK) && (c.framingError || c.parityError)) {
            if (iflag & IGNPAR) continue;
            if (iflag & PARMRK) {
                out.insert(out.end(), {0xFF, 0x00, v});
            } else {
                out.push_back(0x00);
            }
            continue;
        }
        if (v == 0xFF && (iflag & PARMRK)) out.push_back(0xFF); // a real FF is doubled when marks are on
        out.push_back(v);
    }
    return out;
}

std::string FrameText(const UartFrame& f) {
    return std::to_string(f.baud) + " " + std::to_string(f.dataBits) + f.parity + std::to_string(f.stopBits);
}

} // namespace sim
