// A printer scripted by the test, on a FakeDevice: it frames the bytes it receives into ESC/POS commands
// (by their own rules, not the tool's tables) and answers each with what the test says, at a virtual time.
#pragma once

#include "tests/support/fake_device_services.h"

#include <functional>
#include <map>
#include <string>

namespace pw::test {

struct Answer {
    Bytes bytes;
    std::uint32_t delayMs = 0;
};

class ScriptedPrinter {
  public:
    ScriptedPrinter(FakeDeviceServices& os, FakeDevice& device);

    // Answers the nth (0-based) arrival of exactly this command.
    void On(const Bytes& command, std::function<std::optional<Answer>(int nth)> answer);
    void Always(const Bytes& command, Bytes reply, std::uint32_t delayMs = 0);

    std::vector<Bytes> commands; // every framed command, in order
    int Count(const Bytes& command) const;
    std::vector<std::uint32_t> times; // virtual arrival time of each command
    // Nonzero: every answer goes out a byte at a time, this many ms apart (a serial-to-network bridge).
    std::uint32_t trickleMs = 0;

  private:
    void Take(const Bytes& bytes);
    FakeDeviceServices& m_os;
    FakeDevice& m_device;
    Bytes m_pending;
    std::map<Bytes, std::function<std::optional<Answer>(int)>> m_answers;
    std::map<Bytes, int> m_seen;
};

Bytes ToBytes(const std::string& text);

// Commands as the printer sees them, written out from ESC/POS.
extern const Bytes kEscInit, kEscSelect, kGsAsbOff, kGsModelId, kGsFirmware, kGsMaker, kGsModelName, kSetupIn,
    kSetupOut, kDleStatus;
Bytes SwitchQuery(int sw);
Bytes SwitchChange(int sw, const std::string& pins);
Bytes SwitchReplyBytes(const std::string& pins); // "7", "!", the pins, NUL
Bytes IdentityReply(const std::string& text);    // "_", the text, NUL

// Answers every query as an LTX-580 with these switches (pin 8 first) would.
void AnswerAsLtx580(ScriptedPrinter& printer, const std::string& sw2 = "00010100",
                    const std::string& sw9 = "10000000", const std::string& sw1 = "00000000");
std::string Hex(const Bytes& bytes);

} // namespace pw::test
