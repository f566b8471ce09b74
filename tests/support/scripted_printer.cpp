#include "tests/support/scripted_printer.h"

#include <cstdio>

namespace pw::test {

ScriptedPrinter::ScriptedPrinter(FakeDeviceServices& os, FakeDevice& device) : m_os(os), m_device(device) {
    device.onBytes = [this](FakeDevice&, const Bytes& bytes) { Take(bytes); };
}

void ScriptedPrinter::On(const Bytes& command, std::function<std::optional<Answer>(int)> answer) {
    m_answers[command] = std::move(answer);
}

void ScriptedPrinter::Always(const Bytes& command, Bytes reply, std::uint32_t delayMs) {
    On(command, [reply, delayMs](int) { return std::optional<Answer>(Answer{reply, delayMs}); });
}

int ScriptedPrinter::Count(const Bytes& command) const {
    int n = 0;
    for (const auto& c : commands) n += c == command;
    return n;
}

// Length of the command at the front of `b`, or 0 when more bytes are needed.
static std::size_t Frame(const Bytes& b) {
    if (b.empty()) return 0;
    auto need = [&](std::size_t n) { return b.size() >= n ? n : 0; };
    switch (b[0]) {
    case 0x1B:
        if (b.size() < 2) return 0;
        return b[1] == 0x40 ? 2 : need(3);
    case 0x10:
        return need(3);
    case 0x1D:
        if (b.size() < 2) return 0;
        if (b[1] == 0x28) {
            if (b.size() < 5) return 0;
            return need(5 + b[3] + 256u * b[4]);
        }
        return need(3);
    default:
        return 1;
    }
}

void ScriptedPrinter::Take(const Bytes& bytes) {
    m_pending.insert(m_pending.end(), bytes.begin(), bytes.end());
    while (std::size_t n = Frame(m_pending)) {
        Bytes cmd(m_pending.begin(), m_pending.begin() + static_cast<long>(n));
        m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<long>(n));
        commands.push_back(cmd);
        times.push_back(m_os.Now());
        int nth = m_seen[cmd]++;
        auto it = m_answers.find(cmd);
        if (it == m_answers.end()) continue;
        auto a = it->second(nth);
        if (!a) continue;
        if (trickleMs == 0) {
            m_device.ReplyAt(m_os.Now() + a->delayMs, a->bytes);
            continue;
        }
        for (std::size_t i = 0; i < a->bytes.size(); ++i)
            m_device.ReplyAt(m_os.Now() + a->delayMs + static_cast<std::uint32_t>(i) * trickleMs,
                             {a->bytes[i]});
    }
}

Bytes ToBytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

const Bytes kEscInit = {0x1B, 0x40}, kEscSelect = {0x1B, 0x3D, 0x01}, kGsAsbOff = {0x1D, 0x61, 0x00},
            kGsModelId = {0x1D, 0x49, 0x01}, kGsFirmware = {0x1D, 0x49, 0x41}, kGsMaker = {0x1D, 0x49, 0x42},
            kGsModelName = {0x1D, 0x49, 0x43}, kSetupIn = {0x1D, 0x28, 0x45, 0x03, 0x00, 0x01, 'I', 'N'},
            kSetupOut = {0x1D, 0x28, 0x45, 0x04, 0x00, 0x02, 'O', 'U', 'T'}, kDleStatus = {0x10, 0x04, 0x01};

Bytes SwitchQuery(int sw) {
    return {0x1D, 0x28, 0x45, 0x02, 0x00, 0x04, static_cast<std::uint8_t>(sw)};
}

Bytes SwitchChange(int sw, const std::string& pins) {
    Bytes b = {0x1D, 0x28, 0x45, 0x0A, 0x00, 0x03, static_cast<std::uint8_t>(sw)};
    for (char c : pins) b.push_back(static_cast<std::uint8_t>(c));
    return b;
}

Bytes SwitchReplyBytes(const std::string& pins) {
    Bytes b = {'7', '!'};
    for (char c : pins) b.push_back(static_cast<std::uint8_t>(c));
    b.push_back(0);
    return b;
}

Bytes IdentityReply(const std::string& text) {
    Bytes b = {0x5F};
    for (char c : text) b.push_back(static_cast<std::uint8_t>(c));
    b.push_back(0);
    return b;
}

void AnswerAsLtx580(ScriptedPrinter& printer, const std::string& sw2, const std::string& sw9,
                    const std::string& sw1) {
    printer.Always(kGsModelId, {'.'});
    printer.Always(kGsFirmware, IdentityReply("2.10"));
    printer.Always(kGsMaker, IdentityReply("MERIDOX"));
    printer.Always(kGsModelName, IdentityReply("LTX-580"));
    printer.Always(SwitchQuery(2), SwitchReplyBytes(sw2));
    printer.Always(SwitchQuery(9), SwitchReplyBytes(sw9));
    printer.Always(SwitchQuery(1), SwitchReplyBytes(sw1));
    printer.Always(kSetupIn, {0x37, 0x20, 0x00});
    printer.Always(kDleStatus, {0x16});
}

std::string Hex(const Bytes& bytes) {
    std::string s;
    char b[4];
    for (auto c : bytes) {
        std::snprintf(b, sizeof b, "%02X ", c);
        s += b;
    }
    if (!s.empty()) s.pop_back();
    return s;
}

} // namespace pw::test
