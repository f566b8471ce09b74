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

// How long the line must stay quiet after a text that came without its NUL for the text to count as whole.
constexpr std::uint32_t kAfterTextQuietMs = 300;

// Drops what comes until the line has been quiet for `quietMs`, within `limitMs` in all; how many bytes.
int DropUntilQuiet(CPrinterPort& port, std::uint32_t quietMs, std::uint32_t limitMs) {
    DeviceServices& os = port.Services();
    const std::uint32_t start = os.GetTickCount();
    std::uint8_t b = 0;
    int dropped = 0;
    while (os.GetTickCount() - start < limitMs && port.ReadWithin(&b, 1, quietMs) == 1) ++dropped;
    return dropped;
}

// A text without its NUL is taken when nothing more comes (a printer that leaves the NUL out); one cut off
// by the limit while more was on its way is not, and `cut` tells the caller to ask nothing more, since the
// rest (dropped here) would be read as the next reply.
std::optional<std::string> IdentityText(CPrinterPort& port, const Cmd<3>& query, std::uint32_t limitMs,
                                        bool& cut) {
    if (SendQuery(port, query) != query.size()) return std::nullopt;
    std::string text;
    bool whole = false;
    if (!ReadNetworkText(port, text, limitMs, &whole)) return std::nullopt;
    if (!whole && DropUntilQuiet(port, kAfterTextQuietMs, 2 * limitMs) > 0) {
        cut = true;
        return std::nullopt;
    }
    return text;
}

} // namespace

void AskIdentity(CPrinterPort& port, PrinterProbe& p, std::uint32_t textMs) {
    // Once a text came cut off, no further query is asked: what is still on its way would answer it.
    bool cut = false;
    p.firmware = IdentityText(port, CMD_QUERY_FIRMWARE, textMs, cut);
    if (!cut) p.maker = IdentityText(port, CMD_QUERY_MAKER, textMs, cut);
    if (!cut) p.model = IdentityText(port, CMD_QUERY_MODEL_NAME, textMs, cut);
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
