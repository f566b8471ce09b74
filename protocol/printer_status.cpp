#include "protocol/printer_status.h"

#include "protocol/line_finder.h"

#include <cstdio>

namespace pw {

bool PrinterStatus::NeedsAttention() const {
    return !online || coverOpen || paper == Paper::Out || !errors.empty();
}

const char* PaperText(Paper p) {
    return p == Paper::Out ? "paper out" : p == Paper::NearEnd ? "paper near end" : "paper ok";
}

const char* PaperKey(Paper p) {
    return p == Paper::Out ? "out" : p == Paper::NearEnd ? "near-end" : "ok";
}

std::string AttentionText(const PrinterStatus& s) {
    std::vector<std::string> parts;
    if (!s.online) parts.push_back("offline");
    if (s.coverOpen) parts.push_back("cover open");
    if (s.paper == Paper::Out) parts.push_back("paper out");
    for (const std::string& e : s.errors) parts.push_back(e + " error");
    std::string out;
    for (const std::string& p : parts) out += (out.empty() ? "" : ", ") + p;
    return out;
}

std::string StatusSummary(const PrinterStatus& s) {
    if (s.NeedsAttention()) return "needs attention: " + AttentionText(s);
    return s.paper == Paper::NearEnd ? "ok, paper near end" : "ok";
}

bool DecodeRealTimeStatus(const std::array<std::uint8_t, 4>& b, PrinterStatus& out) {
    for (std::uint8_t reply : b)
        if (!IsStatusByte(reply)) return false;
    PrinterStatus s;
    // DLE EOT 1: bit 2 drawer kick-out connector pin 3, bit 3 offline.
    s.drawerOpen = (b[0] & 0x04) != 0;
    s.online = (b[0] & 0x08) == 0;
    // DLE EOT 2: bit 2 cover open, bit 3 feed button, bit 5 printing stopped at paper end, bit 6 error.
    s.coverOpen = (b[1] & 0x04) != 0;
    s.feedButton = (b[1] & 0x08) != 0;
    const bool stoppedAtPaperEnd = (b[1] & 0x20) != 0;
    const bool error = (b[1] & 0x40) != 0;
    // DLE EOT 3: bit 3 auto-cutter, bit 5 unrecoverable, bit 6 auto-recoverable.
    if (b[2] & 0x08) s.errors.push_back("cutter");
    if (b[2] & 0x20) s.errors.push_back("unrecoverable");
    if (b[2] & 0x40) s.errors.push_back("auto-recoverable");
    if (error && s.errors.empty()) s.errors.push_back("unknown");
    // DLE EOT 4: bits 2 and 3 near end, bits 5 and 6 paper end; a printer may set one bit of each pair.
    if ((b[3] & 0x60) != 0 || stoppedAtPaperEnd)
        s.paper = Paper::Out;
    else if ((b[3] & 0x0C) != 0)
        s.paper = Paper::NearEnd;
    out = s;
    return true;
}

StatusReading ReadPrinterStatus(CPrinterPort& port, std::uint32_t replyMs) {
    static const Cmd<3>* const kQueries[] = {&CMD_REALTIME_STATUS, &CMD_STATUS_OFFLINE, &CMD_STATUS_ERROR,
                                             &CMD_STATUS_PAPER};
    StatusReading r;
    auto extra = [&](int after, std::uint32_t ms) {
        std::uint8_t b = 0;
        if (port.ReadWithin(&b, 1, ms) != 1) return false;
        r.result = StatusRead::ExtraBytes;
        r.query = after;
        r.badByte = b;
        return true;
    };
    for (int i = 0; i < 4; ++i) {
        r.query = i + 1;
        // Before the first query, what a network printer sent earlier is not a reply of ours.
        const std::uint32_t sent = i == 0 ? SendQuery(port, *kQueries[i]) : Send(port, *kQueries[i]);
        if (sent != kQueries[i]->size()) {
            r.result = StatusRead::NotSent;
            return r;
        }
        std::uint8_t b = 0;
        if (port.ReadWithin(&b, 1, replyMs) != 1) {
            r.result = StatusRead::NoAnswer;
            return r;
        }
        if (!IsStatusByte(b)) {
            r.result = StatusRead::BadReply;
            r.badByte = b;
            return r;
        }
        r.replies[static_cast<std::size_t>(i)] = b;
        if (extra(i + 1, kStatusQuietMs)) return r;
    }
    DecodeRealTimeStatus(r.replies, r.status);
    r.result = StatusRead::Ok;
    r.query = 0;
    return r;
}

std::string StatusReadProblem(const StatusReading& r) {
    const std::string query = "DLE EOT " + std::to_string(r.query);
    switch (r.result) {
    case StatusRead::Ok:
        return {};
    case StatusRead::NotSent:
        return "the status query " + query + " did not go out";
    case StatusRead::NoAnswer:
        return "the printer did not answer " + query;
    case StatusRead::BadReply: {
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02X", r.badByte);
        return "the printer answered " + query + " with " + hex + ", which is no status byte";
    }
    case StatusRead::ExtraBytes: {
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02X", r.badByte);
        return "the printer sent a byte too many (" + std::string(hex) + ") by the reply to " + query +
               ": a reply of more than one byte cannot be told from the next one";
    }
    }
    return {};
}

} // namespace pw
