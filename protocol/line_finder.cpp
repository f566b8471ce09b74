#include "protocol/line_finder.h"

#include "protocol/commands.h"

#include <optional>

namespace pw {

namespace {

enum class Probe { Found, Heard, Silent, Refused, LineDown };

// Reads and drops what comes until the line has been quiet for `quietMs` (or `limitMs` passed): the late
// rest of a reply is never taken for the next one.
void DrainUntilQuiet(CPrinterPort& port, std::uint32_t quietMs, std::uint32_t limitMs) {
    DeviceServices& os = port.Services();
    const std::uint32_t start = os.GetTickCount();
    std::uint8_t b = 0;
    while (os.GetTickCount() - start < limitMs && port.ReadWithin(&b, 1, quietMs) == 1) {}
    os.PurgeComm(port.m_hPort, kPurgeInput);
}

// One status byte within `ms`, after which the line stays quiet for `quietMs`: anything else (no byte,
// another byte, more bytes) is no answer of this printer at this line.
enum class Reply { Status, Other, None };
Reply ReadStatusReply(CPrinterPort& port, std::uint32_t ms, std::uint32_t quietMs) {
    std::uint8_t b = 0;
    if (port.ReadWithin(&b, 1, ms) != 1) return Reply::None;
    if (!IsStatusByte(b)) return Reply::Other;
    if (quietMs > 0 && port.ReadWithin(&b, 1, quietMs) != 0) return Reply::Other;
    return Reply::Status;
}

// One candidate: DLE EOT 4 must bring a status byte, then DLE EOT 1 another one and nothing after it.
// Anything else that came is "heard": something answers, perhaps too late or at another line.
Probe TryLine(CPrinterPort& port, const SerialLine& l, std::uint32_t replyMs) {
    port.m_nBaudRate = l.baud;
    port.m_nByteSize = l.dataBits;
    port.m_nParity = l.parity;
    port.m_nStopBits = l.stopBits;
    // A port that cannot be set to this frame (a bridge without parity, say) is asked at the others.
    if (!port.ApplyLine()) return Probe::Refused;
    // A late reply to the last candidate's probe must not be read as this one's.
    port.Services().PurgeComm(port.m_hPort, kPurgeInput);
    // A line that takes no bytes (DSR held off: the printer is off or not connected) takes none at any
    // rate.
    if (Send(port, CMD_STATUS_PAPER) != CMD_STATUS_PAPER.size()) return Probe::LineDown;
    switch (ReadStatusReply(port, replyMs, 0)) {
    case Reply::None:
        return Probe::Silent;
    case Reply::Other:
        return Probe::Heard;
    case Reply::Status:
        break;
    }
    // The byte may be a late answer to an earlier candidate's probe: the confirmation is asked only once
    // every answer still on its way has come, so that its own answer is the one read.
    DrainUntilQuiet(port, 2 * replyMs, 2 * kConfirmReplyMs);
    if (Send(port, CMD_REALTIME_STATUS) != CMD_REALTIME_STATUS.size()) return Probe::LineDown;
    return ReadStatusReply(port, kConfirmReplyMs, kQuietAfterReplyMs) == Reply::Status ? Probe::Found
                                                                                       : Probe::Heard;
}

} // namespace

std::string SerialLineText(const SerialLine& l) {
    static const char* const kStop[] = {"1", "1.5", "2"};
    const int parity = l.parity >= 0 && l.parity <= 2 ? l.parity : 0;
    const int stop = l.stopBits >= 0 && l.stopBits <= 2 ? l.stopBits : 0;
    return std::to_string(l.baud) + " " + std::to_string(l.dataBits) + "NOE"[parity] + kStop[stop];
}

std::vector<SerialLine> LineCandidates() {
    static const int kRates[] = {9600, 19200, 38400, 57600, 115200};
    static const SerialLine kFrames[] = {{0, 8, 0, 0}, {0, 8, 2, 0}, {0, 8, 1, 0},
                                         {0, 7, 1, 0}, {0, 7, 2, 0}, {0, 7, 0, 0}};
    std::vector<SerialLine> out;
    for (int rate : kRates)
        for (const SerialLine& frame : kFrames)
            out.push_back({rate, frame.dataBits, frame.parity, frame.stopBits});
    return out;
}

LineSearch FindLine(CPrinterPort& port, const std::vector<SerialLine>& candidates,
                    const std::function<bool()>& stopped, bool clearBuffer) {
    LineSearch search;
    std::size_t refused = 0; // candidates the port could not be set to
    // Where something was heard in the first round. A reply late by up to the second round's wait comes
    // while one of the next few candidates waits, so those before it are tried again.
    std::vector<bool> heardAt(candidates.size(), false);
    auto tryAt = [&](std::size_t i, std::uint32_t replyMs) -> std::optional<bool> {
        if (stopped && stopped()) return false;
        const SerialLine& l = candidates[i];
        search.tried.push_back(l);
        switch (TryLine(port, l, replyMs)) {
        case Probe::Found:
            // What the printer took as text while the line was wrong is thrown away.
            if (clearBuffer && Send(port, CMD_INIT) != CMD_INIT.size()) {
                search.lineDown = true;
                return false;
            }
            search.found = true;
            search.line = l;
            return true;
        case Probe::Heard:
            heardAt[i] = true;
            return std::nullopt;
        case Probe::Silent:
            return std::nullopt;
        case Probe::Refused:
            ++refused;
            return std::nullopt;
        case Probe::LineDown:
            search.lineDown = true;
            return false;
        }
        return std::nullopt;
    };
    // Once something is heard, the candidates it can have come from are tried again with the slower wait
    // at once, before any further probe: a printer that has shown itself hears no more of them.
    const std::size_t window = (kSlowProbeReplyMs + kProbeReplyMs - 1) / kProbeReplyMs;
    std::vector<bool> triedSlowly(candidates.size(), false);
    auto slowRound = [&](std::size_t heard) -> std::optional<bool> {
        for (std::size_t j = heard > window ? heard - window : 0; j <= heard; ++j) {
            if (triedSlowly[j]) continue;
            triedSlowly[j] = true;
            if (const auto ended = tryAt(j, kSlowProbeReplyMs)) return ended;
        }
        return std::nullopt;
    };
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        if (const auto ended = tryAt(i, kProbeReplyMs)) return search;
        if (heardAt[i])
            if (const auto ended = slowRound(i)) return search;
    }
    if (candidates.empty()) return search;
    // A port that takes no line at all is down.
    if (refused == candidates.size()) {
        search.lineDown = true;
        return search;
    }
    // A reply to the last candidates may come after the round.
    std::uint8_t late = 0;
    if (!(stopped && stopped()) && port.ReadWithin(&late, 1, kSlowProbeReplyMs) == 1)
        slowRound(candidates.size() - 1);
    return search;
}

bool ReadSwitch9AtThisLine(CPrinterPort& port, std::string& pins, std::uint32_t ms) {
    port.Services().PurgeComm(port.m_hPort, kPurgeInput);
    if (Send(port, CMD_QUERY_SW9) != CMD_QUERY_SW9.size()) return false;
    // Byte by byte against the frame: at a wrong frame the first byte already shows it.
    DeviceServices& os = port.Services();
    const std::uint32_t start = os.GetTickCount();
    pins.clear();
    // What is left of a reply that did not fit comes still: it is let come before the next frame is tried.
    const std::uint32_t rest = kQuietAfterReplyMs + 2 * LineTimeMs(11, port.m_nBaudRate, port.m_nByteSize,
                                                                   port.m_nParity, port.m_nStopBits);
    for (int i = 0; i < 11; ++i) {
        const std::uint32_t spent = os.GetTickCount() - start;
        std::uint8_t b = 0;
        if (spent >= ms || port.ReadWithin(&b, 1, ms - spent) != 1) return false;
        const bool fits = i == 0 ? b == '7' : i == 1 ? b == '!' : i == 10 ? b == 0 : (b == '0' || b == '1');
        if (!fits) {
            DrainUntilQuiet(port, rest, ms);
            return false;
        }
        if (i >= 2 && i < 10) pins += static_cast<char>(b);
    }
    // Nothing may follow: a longer reply is not this one.
    std::uint8_t more = 0;
    return port.ReadWithin(&more, 1, kQuietAfterReplyMs) == 0;
}

} // namespace pw
