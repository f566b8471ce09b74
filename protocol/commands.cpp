#include "protocol/commands.h"

namespace pw {

Cmd<15> FillChangeCommand(const Cmd<15>& tmpl, const std::array<bool, 8>& pinsOn) {
    Cmd<15> cmd = tmpl;
    for (int pin = 1; pin <= 8; ++pin) {
        std::uint8_t& c = cmd[static_cast<std::size_t>(15 - pin)];
        if (pinsOn[static_cast<std::size_t>(pin - 1)] && c == '0') c = '1';
    }
    return cmd;
}

} // namespace pw
