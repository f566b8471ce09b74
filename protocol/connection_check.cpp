#include "protocol/connection_check.h"

#include "protocol/commands.h"

#include <cstring>

namespace pw {

namespace {
constexpr int kReaderAttempts = 10;
constexpr int kRetryReads = 10;
constexpr std::uint32_t kReaderWaitMs = 100;
constexpr std::uint32_t kRetryWaitMs = 100;
constexpr std::uint32_t kFirstReadWaitMs = 10;
constexpr int kStartPollLimit = 5000; // 1 ms polls for the reader to start
} // namespace

int ReaderThreadProc(CPrinterPort* port, UsbReaderState* state) {
    state->g_bReaderStarted.store(1);
    std::uint8_t local[kReplyBufferSize] = {};
    int n = port->Read(local, static_cast<int>(kReplyBufferSize));
    if (n > 0) {
        std::memcpy(state->g_usbReply, local, static_cast<std::size_t>(n));
        state->g_nUsbReplyLen.store(n, std::memory_order_release); // the count last
    }
    return 0;
}

bool RunUsbReaderAttempts(CPrinterPort& port, UsbReaderState& state, std::uint8_t* reply, int firstAttempt) {
    DeviceServices& os = port.Services();
    UsbReaderState* const st = &state;
    if (firstAttempt > 1) { // the attempts before it were made: ask again, as after a failed one
        os.Sleep(kReaderWaitMs);
        if (SendQuery(port, CMD_QUERY_MODEL_ID) != CMD_QUERY_MODEL_ID.size()) return false;
        os.Sleep(kReaderWaitMs);
    }
    for (int attempt = firstAttempt; attempt <= kReaderAttempts; ++attempt) {
        std::memset(st->g_usbReply, 0, sizeof st->g_usbReply);
        std::memset(reply, 0, kReplyBufferSize);
        st->g_nUsbReplyLen.store(0);
        st->g_hReaderThread = 0;
        st->g_hReaderThread = os.StartThread([&port, st] { ReaderThreadProc(&port, st); });
        // No reader, no reply: waiting for one to start would only hold the check.
        if (st->g_hReaderThread == 0) return false;
        os.Sleep(kReaderWaitMs);
        for (int polls = 0; !st->g_bReaderStarted.load() && polls < kStartPollLimit; ++polls) os.Sleep(1);
        os.Sleep(kReaderWaitMs);
        const int count = st->g_nUsbReplyLen.load(std::memory_order_acquire);
        st->g_bReaderStarted.store(0);
        if (count != 0) {
            std::memcpy(reply, st->g_usbReply, static_cast<std::size_t>(count));
            os.JoinThread(st->g_hReaderThread);
            st->g_hReaderThread = 0;
            return true;
        }
        // Abandon the attempt: the read is woken and the thread ends; nothing of it reaches the shared
        // reply or count after this. Bytes it took between the look above and the stop are the printer's
        // answer all the same.
        os.StopThread(st->g_hReaderThread);
        os.JoinThread(st->g_hReaderThread);
        st->g_hReaderThread = 0;
        if (const int late = st->g_nUsbReplyLen.load(std::memory_order_acquire); late != 0) {
            std::memcpy(reply, st->g_usbReply, static_cast<std::size_t>(late));
            return true;
        }
        os.Sleep(kReaderWaitMs);
        st->g_nUsbReplyLen.store(0);
        if (attempt == kReaderAttempts) return false;
        if (SendQuery(port, CMD_QUERY_MODEL_ID) != CMD_QUERY_MODEL_ID.size()) return false;
        os.Sleep(kReaderWaitMs);
    }
    return false;
}

HandshakeResult RunConnectionHandshake(CPrinterPort& port, int interfaceKind) {
    DeviceServices& os = port.Services();
    if (Send(port, CMD_INIT) == 0) return HandshakeResult::PortError;
    // A command that did not go out whole cannot be answered: the port is at fault, not the printer, and
    // waiting out every retry on a dead line would only hold the dialog.
    if (Send(port, CMD_SELECT_PRINTER) != CMD_SELECT_PRINTER.size() ||
        Send(port, CMD_ASB_OFF) != CMD_ASB_OFF.size() ||
        SendQuery(port, CMD_QUERY_MODEL_ID) != CMD_QUERY_MODEL_ID.size())
        return HandshakeResult::PortError;

    std::uint8_t reply[kReplyBufferSize] = {};
    const bool framed = port.m_bFramedReplies;
    if (ReadsWholeReplies(interfaceKind)) {
        // Framed: the first attempt's wait ends with the reply; only without one do the attempts go on
        // as they would, from the second, with its query sent again.
        if (!framed || port.ReadWithin(reply, 1, 2 * kReaderWaitMs) != 1) {
            UsbReaderState reader; // the reader thread is joined before every return below
            if (!RunUsbReaderAttempts(port, reader, reply, framed ? 2 : 1)) return HandshakeResult::ReadError;
        }
    } else {
        if (!framed) os.Sleep(kFirstReadWaitMs);
        port.Read(reply, 1);
    }
    if (reply[0] == '.') return HandshakeResult::Connected;
    for (int i = 0; i < kRetryReads; ++i) {
        if (!framed) os.Sleep(kRetryWaitMs);
        port.Read(reply, 1);
        if (reply[0] == '.') return HandshakeResult::Connected;
    }
    return HandshakeResult::NoAnswer;
}

} // namespace pw
