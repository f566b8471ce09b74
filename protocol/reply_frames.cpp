#include "protocol/reply_frames.h"

namespace pw {

namespace {

constexpr std::size_t kMaxTextChars = 64;
constexpr int kMaxTextBytes = 256;
constexpr int kMaxStrays = 64;

// The time left of a reply's limit.
class ReplyClock {
  public:
    explicit ReplyClock(CPrinterPort& port, std::uint32_t limitMs = kReplyLimitMs)
        : m_os(port.Services()), m_start(m_os.GetTickCount()), m_limit(limitMs) {}
    std::uint32_t Left() const {
        const std::uint32_t spent = m_os.GetTickCount() - m_start;
        return spent >= m_limit ? 0 : m_limit - spent;
    }

  private:
    DeviceServices& m_os;
    std::uint32_t m_start;
    std::uint32_t m_limit;
};

// One byte within what is left; false when none came.
bool NextByte(CPrinterPort& port, const ReplyClock& clock, std::uint8_t& b) {
    const std::uint32_t left = clock.Left();
    return left > 0 && port.ReadWithin(&b, 1, left) == 1;
}

} // namespace

int ReadCount(CPrinterPort& port, std::uint8_t* buffer, int count) {
    if (port.m_nKind != kNetwork && !(port.m_bFramedReplies && port.m_nKind != kSerial))
        return port.Read(buffer, count);
    const ReplyClock clock(port);
    int got = 0;
    while (got < count) {
        const std::uint32_t left = clock.Left();
        const int n = left > 0 ? port.ReadWithin(buffer + got, count - got, left) : 0;
        if (n <= 0) break;
        got += n;
    }
    return got;
}

bool ReadNetworkText(CPrinterPort& port, std::string& text, std::uint32_t limitMs, bool* whole) {
    const ReplyClock clock(port, limitMs);
    text.clear();
    if (whole) *whole = false;
    std::uint8_t b = 0;
    if (!NextByte(port, clock, b)) return false;
    int read = 1;
    if (b == '_') { // the header; a printer that leaves it out still gives its text
        if (!NextByte(port, clock, b)) return true;
        ++read;
    }
    while (b != 0) {
        if (text.size() < kMaxTextChars) text += static_cast<char>(b);
        if (read >= kMaxTextBytes || !NextByte(port, clock, b)) return true;
        ++read;
    }
    if (whole) *whole = true;
    return true;
}

SwitchFrame ReadNetworkSwitchReply(CPrinterPort& port, std::uint8_t (&body)[10]) {
    const ReplyClock clock(port);
    std::uint8_t b = 0;
    for (int strays = 0;; ++strays) {
        if (!NextByte(port, clock, b)) return SwitchFrame::NoHeader;
        if (b == '7') break;
        if (strays >= kMaxStrays) return SwitchFrame::TooManyStrays;
    }
    int got = 0;
    while (got < 10) {
        const std::uint32_t left = clock.Left();
        const int n = left > 0 ? port.ReadWithin(body + got, 10 - got, left) : 0;
        if (n <= 0) return SwitchFrame::Cut;
        got += n;
    }
    return SwitchFrame::Whole;
}

} // namespace pw
