#include "protocol/printer_probe.h"

#include "protocol/commands.h"
#include "protocol/line_finder.h"
#include "protocol/reply_frames.h"

namespace pw {

namespace {

// What came instead of one status byte is shown up to this many bytes.
constexpr int kShownBytes = 8;

// "48 54 54 50"
std::string Hex(const std::uint8_t* bytes, int n) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    for (int i = 0; i < n; ++i) {
        if (i) hex += ' ';
        hex += kDigits[bytes[i] >> 4];
        hex += kDigits[bytes[i] & 15];
    }
    return hex;
}

std::optional<std::string> IdentityText(CPrinterPort& port, const Cmd<3>& query, std::uint32_t limitMs) {
    if (SendQuery(port, query) != query.size()) return std::nullopt;
    std::string text;
    if (!ReadNetworkText(port, text, limitMs)) return std::nullopt;
    return text;
}

} // namespace

void AskIdentity(CPrinterPort& port, PrinterProbe& p, std::uint32_t textMs) {
    p.firmware = IdentityText(port, CMD_QUERY_FIRMWARE, textMs);
    p.maker = IdentityText(port, CMD_QUERY_MAKER, textMs);
    p.model = IdentityText(port, CMD_QUERY_MODEL_NAME, textMs);
}

PrinterProbe ProbePrinter(CPrinterPort& port, std::uint32_t statusMs, std::uint32_t textMs) {
    PrinterProbe p;
    if (SendQuery(port, CMD_REALTIME_STATUS) != CMD_REALTIME_STATUS.size()) {
        p.notPrinter = "DLE EOT 1 did not go out";
        p.unsent = true;
        return p;
    }
    // A printer's answer is one byte; a server that answers with text sends more at once.
    std::uint8_t reply[kShownBytes + 1] = {};
    const int n = port.ReadWithin(reply, static_cast<int>(sizeof reply), statusMs);
    if (n <= 0) {
        p.notPrinter = "no answer to DLE EOT 1 within " + std::to_string(statusMs) + " ms";
        return p;
    }
    if (n > 1 || !IsStatusByte(reply[0])) {
        const int shown = n > kShownBytes ? kShownBytes : n;
        p.notPrinter = "DLE EOT 1 was answered with " + Hex(reply, shown) + (n > kShownBytes ? " ..." : "") +
                       ", not with one status byte";
        return p;
    }
    p.printer = true;
    const bool offline = (reply[0] & 0x08) != 0;
    if (!offline) AskIdentity(port, p, textMs);
    p.status = ReadPrinterStatus(port, statusMs);
    return p;
}

} // namespace pw
