#include "sim/printer_engine.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace sim {

namespace {
constexpr std::uint8_t DLE = 0x10, EOT = 0x04, ENQ = 0x05, DC4 = 0x14, ESC = 0x1B, GS = 0x1D;
constexpr std::uint8_t HT = 0x09, LF = 0x0A, FF = 0x0C, CR = 0x0D;
constexpr std::uint8_t Bit(int b) {
    return static_cast<std::uint8_t>(1u << b);
}
} // namespace

// DLE EOT n, "transmit real-time status", as the ESC/POS command references give it: every status byte has
// bits 1 and 4 on and bits 0 and 7 off (0xx1xx10); the others say
//   n = 1, printer status:      bit 2 drawer kick-out connector pin 3 high, bit 3 offline;
//   n = 2, offline cause:       bit 2 cover open, bit 3 paper being fed by the feed button, bit 5 printing
//                               stopped by a paper end, bit 6 an error occurred;
//   n = 3, error cause:         bit 3 autocutter error, bit 5 unrecoverable error, bit 6 automatically
//                               recoverable error;
//   n = 4, roll paper sensor:   bits 2 and 3 paper near its end, bits 5 and 6 paper end (none left).
// The printer is offline while its cover is open, while the feed button feeds, once the paper has ended and
// while an error stands. A roll that has ended has passed the near-end sensor too.
std::uint8_t PrinterEngine::StatusByte(int n) const {
    const StatusFaults& s = faults.status;
    const bool active = FaultsActive();
    auto on = [&](bool fault) { return active && fault; };
    const bool error = on(s.cutterError) || on(s.unrecoverableError) || on(s.autoRecoverableError);
    const bool offline = on(s.offline) || on(s.coverOpen) || on(s.feedButton) || on(s.paperOut) || error;
    std::uint8_t b = Bit(1) | Bit(4);
    switch (n) {
    case 1:
        if (on(s.drawerOpen)) b |= Bit(2);
        if (offline) b |= Bit(3);
        break;
    case 2:
        if (on(s.coverOpen)) b |= Bit(2);
        if (on(s.feedButton)) b |= Bit(3);
        if (on(s.paperOut)) b |= Bit(5);
        if (error) b |= Bit(6);
        break;
    case 3:
        if (on(s.cutterError)) b |= Bit(3);
        if (on(s.unrecoverableError)) b |= Bit(5);
        if (on(s.autoRecoverableError)) b |= Bit(6);
        break;
    case 4:
        if (on(s.paperNearEnd) || on(s.paperOut)) b |= Bit(2) | Bit(3);
        if (on(s.paperOut)) b |= Bit(5) | Bit(6);
        break;
    default:
        break;
    }
    return b;
}

PrinterEngine::PrinterEngine() {
    m_staged.fill(-1);
    SetSwitchText(1, "00000000");
    SetSwitchText(2, "00010100"); // PC850, full cut
    SetSwitchText(9, "10000000"); // 115200 baud, 8 bits, no parity, DTR/DSR
}

std::string PrinterEngine::SwitchText(int n) const {
    std::string s;
    for (int pin = 8; pin >= 1; --pin) s += (m_switches.at(n) >> (pin - 1)) & 1 ? '1' : '0';
    return s;
}

bool PrinterEngine::SetSwitchText(int n, const std::string& pins) {
    if (n < 1 || n > 9 || pins.size() != 8) return false;
    std::uint8_t v = 0;
    for (int i = 0; i < 8; ++i) {
        if (pins[i] != '0' && pins[i] != '1') return false;
        if (pins[i] == '1') v |= static_cast<std::uint8_t>(1u << (7 - i));
    }
    m_switches[n] = v;
    return true;
}

void PrinterEngine::Event(const std::string& what) {
    if (onEvent) onEvent(what);
}

Bytes PrinterEngine::Feed(const Bytes& data) {
    Bytes out;
    if (m_hungUp) return out;
    m_in.insert(m_in.end(), data.begin(), data.end());
    while (!m_in.empty() && !m_hungUp) {
        if (Offline()) {
            RealTimeOnly(out);
            break;
        }
        std::size_t used = ParseOne(out);
        if (used == 0) break;
        m_in.erase(m_in.begin(), m_in.begin() + static_cast<long>(used));
        if (m_restarting) {
            m_restarting = false;
            m_in.clear();
            break;
        }
    }
    return out;
}

void PrinterEngine::RealTimeOnly(Bytes& out) {
    for (std::size_t i = 0; i < m_in.size() && !m_hungUp;) {
        const std::size_t used = m_in[i] == DLE ? RealTime(m_in, i, out) : 0;
        if (used == 0) {
            ++i;
            continue;
        }
        m_in.erase(m_in.begin() + static_cast<long>(i), m_in.begin() + static_cast<long>(i + used));
        // What stood on either side now meets: a command may have formed across the gap.
        i = i >= 4 ? i - 4 : 0;
    }
}

std::size_t PrinterEngine::RealTime(const Bytes& b, std::size_t at, Bytes& out) {
    const std::size_t n = b.size() - at;
    if (n < 3) return 0;
    if (b[at + 1] == EOT && b[at + 2] >= 1 && b[at + 2] <= 4) {
        const int which = b[at + 2];
        const StatusFaults& s = faults.status;
        const bool active = FaultsActive();
        if (active && std::find(s.silent.begin(), s.silent.end(), which) != s.silent.end())
            Command(out, {});
        else if (auto r = s.replies.find(which); active && r != s.replies.end())
            Command(out, r->second);
        else
            Command(out, {StatusByte(which)});
        return 3;
    }
    // DLE DC4 1 m t: a pulse on the drawer kick-out connector, at once.
    if (b[at + 1] == DC4 && b[at + 2] == 1) {
        if (n < 5) return 0;
        print.KickDrawer("DLE DC4 1");
        Command(out, {});
        return 5;
    }
    return 0;
}

// A byte that starts no command: a character for the line buffer, or a control code.
std::size_t PrinterEngine::PrintData(Bytes&) {
    const std::uint8_t c = m_in[0];
    if (m_settingMode) return 1; // print data is ignored in user setting mode
    if (c == LF || c == FF || (c == CR && (m_switches[1] & 0x10)))
        print.PrintLine(); // CR prints only with automatic line feed (switch 1 pin 5)
    else if (c >= 0x20 || c == HT)
        print.Text(c);
    return 1; // other control codes are ignored
}

// A recognised command: counts towards a hang-up, and its reply goes out unless the printer is silent.
void PrinterEngine::Command(Bytes& out, const Bytes& reply) {
    const bool silent = faults.silent && FaultsActive();
    ++m_commands;
    if (!silent) out.insert(out.end(), reply.begin(), reply.end());
    if (faults.hangupAfter >= 0 && m_commands >= faults.hangupAfter) {
        m_hungUp = true;
        Event("line dropped");
    }
}

void PrinterEngine::SwitchReply(Bytes& out, int n) {
    const bool active = FaultsActive();
    Bytes reply = active ? faults.stray : Bytes{};
    const std::size_t strayBytes = reply.size();
    reply.push_back('7');
    reply.push_back('!');
    std::string pins = SwitchText(n);
    if (faults.garbage && active) pins[2] = 'X', pins[5] = '?';
    reply.insert(reply.end(), pins.begin(), pins.end());
    reply.push_back(0x00);
    if (faults.shortReplies && active) reply.resize(strayBytes + 5);
    Command(out, reply);
}

std::size_t PrinterEngine::ParseOne(Bytes& out) {
    const Bytes& b = m_in;
    const std::size_t n = b.size();
    auto need = [&](std::size_t k) { return n >= k; };

    // Real-time commands work in every mode, user setting mode too.
    if (b[0] == DLE) {
        if (!need(3)) return need(2) && b[1] != EOT && b[1] != DC4 && b[1] != ENQ ? 1 : 0;
        if (const std::size_t used = RealTime(b, 0, out); used > 0) return used;
        if (b[1] == DC4 && b[2] == 1) return 0; // not whole yet
        return b[1] == EOT || b[1] == DC4 || b[1] == ENQ ? 3 : 1;
    }
    if (b[0] == GS) {
        if (!need(2)) return 0;
        if (b[1] == '(') {
            if (!need(5)) return 0;
            const std::size_t len = b[3] + 256u * b[4];
            if (!need(5 + len)) return 0;
            const std::uint8_t kind = b[2];
            Bytes params(b.begin() + 5, b.begin() + 5 + static_cast<long>(len));
            if (kind == 'E' && !params.empty()) {
                const std::uint8_t fn = params[0];
                if (fn == 1 && params.size() == 3 && params[1] == 'I' && params[2] == 'N') {
                    m_settingMode = true;
                    Event("user setting mode");
                    Command(out, {0x37, 0x20, 0x00});
                } else if (fn == 2 && params.size() == 4 && params[1] == 'O' && params[2] == 'U' &&
                           params[3] == 'T') {
                    if (m_settingMode) {
                        for (int sw = 1; sw <= 9; ++sw) {
                            if (!m_stagedMask[sw]) continue;
                            m_switches[sw] = static_cast<std::uint8_t>((m_switches[sw] & ~m_stagedMask[sw]) |
                                                                       (m_staged[sw] & m_stagedMask[sw]));
                            m_stagedMask[sw] = 0;
                            m_staged[sw] = -1;
                        }
                        m_settingMode = false;
                        m_restarting = restartLosesInput;
                        Event("settings applied; printer reset");
                        if (onSettingsApplied) onSettingsApplied();
                    }
                    Command(out, {});
                } else if (fn == 3 && (params.size() - 1) % 9 == 0) {
                    if (m_settingMode && !(faults.ignoreWrites && FaultsActive())) {
                        for (std::size_t g = 1; g + 9 <= params.size(); g += 9) {
                            const int sw = params[g];
                            if (sw < 1 || sw > 9) continue;
                            for (int i = 0; i < 8; ++i) {
                                const std::uint8_t c = params[g + 1 + i];
                                const std::uint8_t bit = static_cast<std::uint8_t>(1u << (7 - i));
                                if (c == '2') continue;
                                if (m_staged[sw] < 0) m_staged[sw] = 0;
                                m_stagedMask[sw] |= bit;
                                if (c == '1')
                                    m_staged[sw] |= bit;
                                else
                                    m_staged[sw] &= ~bit;
                            }
                        }
                    }
                    Command(out, {});
                } else if (fn == 4 && params.size() == 2 && params[1] >= 1 && params[1] <= 9) {
                    SwitchReply(out, params[1]);
                } else {
                    Command(out, {});
                }
            } else if (kind == 'A' && len == 2 && !m_settingMode) {
                Event(params[1] == 2   ? "self test: printer status print"
                      : params[1] == 3 ? "self test: rolling pattern print"
                                       : "self test");
                Command(out, {});
            } else {
                Command(out, {});
            }
            return 5 + len;
        }
        if (m_settingMode) return 1; // print data and settings are ignored in user setting mode
        if (b[1] == 'I') {
            if (!need(3)) return 0;
            const std::uint8_t id = b[2];
            if (id == 1 || id == 49) {
                if (FaultsActive() && m_modelIdQueries++ < faults.noDot)
                    Command(out, {});
                else
                    Command(out, {'.'});
            } else if (id == 65 || id == 66 || id == 67) {
                const std::string& text = id == 65 ? firmware : id == 66 ? maker : model;
                const bool active = FaultsActive();
                Bytes reply{0x5F};
                reply.insert(reply.end(), text.begin(), text.end());
                if (!(active && faults.infoNoNul)) reply.push_back(0x00);
                if (active && std::find(faults.infoSilent.begin(), faults.infoSilent.end(), id) !=
                                  faults.infoSilent.end())
                    reply.clear();
                Command(out, reply);
            } else {
                Command(out, {});
            }
            return 3;
        }
        if (b[1] == 'a') {
            if (!need(3)) return 0;
            m_asb = b[2] != 0;
            Command(out, {});
            return 3;
        }
        if (b[1] == 'V') { // GS V m, or GS V m n (feed n, then cut)
            if (!need(3)) return 0;
            const std::uint8_t m = b[2];
            const bool withFeed = m == 65 || m == 66 || m == 97 || m == 98 || m == 103 || m == 104;
            if (!withFeed && m != 0 && m != 1 && m != 48 && m != 49) return 3;
            if (withFeed && !need(4)) return 0;
            if (withFeed) print.FeedDots(b[3]);
            print.Cut("GS V");
            Command(out, {});
            return withFeed ? 4 : 3;
        }
        return 2; // another GS command: its parameters, if any, read as data
    }
    if (b[0] == ESC) {
        if (m_settingMode) return 1;
        if (!need(2)) return 0;
        if (b[1] == '@') {
            m_asb = false;
            print.Clear();
            Command(out, {});
            return 2;
        }
        if (b[1] == '=') {
            if (!need(3)) return 0;
            Command(out, {});
            return 3;
        }
        if (b[1] == 'd' || b[1] == 'J') { // print and feed n lines, or n dots
            if (!need(3)) return 0;
            if (b[1] == 'd')
                print.Feed(b[2]);
            else
                print.FeedDots(b[2]);
            Command(out, {});
            return 3;
        }
        if (b[1] == 'i' || b[1] == 'm') {
            print.Cut(b[1] == 'i' ? "ESC i" : "ESC m");
            Command(out, {});
            return 2;
        }
        if (b[1] == 'p') { // ESC p m t1 t2: a pulse on a drawer kick-out pin
            if (!need(5)) return 0;
            print.KickDrawer("ESC p");
            Command(out, {});
            return 5;
        }
        return 2; // another ESC command: its parameters, if any, read as data
    }
    return PrintData(out);
}

bool LoadState(const std::string& path, PrinterEngine& engine, std::string& error) {
    std::ifstream in(path);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    std::string line;
    int lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        if (auto hash = line.find('#'); hash != std::string::npos) line.resize(hash);
        std::istringstream words(line);
        std::string word, eq, pins;
        int n = 0;
        if (!(words >> word)) continue;
        if (word != "switch" || !(words >> n >> eq >> pins) || eq != "=" || !engine.SetSwitchText(n, pins)) {
            error = path + ":" + std::to_string(lineNo) + ": expected 'switch N = PPPPPPPP'";
            return false;
        }
    }
    return true;
}

bool SaveState(const std::string& path, const PrinterEngine& engine) {
    const std::string tmp = path + ".tmp";
    {
        std::ofstream out(tmp, std::ios::trunc);
        out << "# pinwright-sim memory switches, pin 8 first\n";
        for (int n = 1; n <= 9; ++n) out << "switch " << n << " = " << engine.SwitchText(n) << "\n";
        if (!out.flush()) return false;
    }
    return std::rename(tmp.c_str(), path.c_str()) == 0;
}

} // namespace sim
