#include "protocol/connection_check.h"

#include "protocol/commands.h"

#include <cstring>

namespace pw {

std::uint8_t g_usbReply[20];
std::atomic<int> g_nUsbReplyLen{0};
std::atomic<int> g_bReaderStarted{0};
ThreadHandle g_hReaderThread = 0;

namespace {
constexpr int kReaderAttempts = 10;
constexpr int kRetryReads = 10;
constexpr std::uint32_t kReaderWaitMs = 100;
constexpr std::uint32_t kRetryWaitMs = 100;
constexpr std::uint32_t kFirstReadWaitMs = 10;
constexpr int kStartPollLimit = 5000; // 1 ms polls for the reader to start
} // namespace

int ReaderThreadProc(CPrinterPort* port) {
    g_bReaderStarted.store(1);
    std::uint8_t local[kReplyBufferSize] = {};
    int n = port->Read(local, static_cast<int>(kReplyBufferSize));
    if (n > 0) {
        std::memcpy(g_usbReply, local, static_cast<std::size_t>(n));
        g_nUsbReplyLen.store(n, std::memory_order_release); // the count last
    }
    return 0;
}

bool RunUsbReaderAttempts(CPrinterPort& port, std::uint8_t* reply) {
    DeviceServices& os = port.Services();
    for (int attempt = 1; attempt <= kReaderAttempts; ++attempt) {
        std::memset(g_usbReply, 0, sizeof g_usbReply);
        std::memset(reply, 0, kReplyBufferSize);
        g_nUsbReplyLen.store(0);
        g_hReaderThread = 0;
        g_hReaderThread = os.StartThread([&port] { ReaderThreadProc(&port); });
        os.Sleep(kReaderWaitMs);
        for (int polls = 0; !g_bReaderStarted.load() && polls < kStartPollLimit; ++polls) os.Sleep(1);
        os.Sleep(kReaderWaitMs);
        const int count = g_nUsbReplyLen.load(std::memory_order_acquire);
        g_bReaderStarted.store(0);
        if (count != 0) {
            std::memcpy(reply, g_usbReply, static_cast<std::size_t>(count));
            os.JoinThread(g_hReaderThread);
            g_hReaderThread = 0;
            return true;
        }
        // Abandon the attempt: the read is woken and the thread ends; nothing of it reaches the shared
        // reply or count after this.
        os.StopThread(g_hReaderThread);
        os.JoinThread(g_hReaderThread);
        g_hReaderThread = 0;
        os.Sleep(kReaderWaitMs);
        g_nUsbReplyLen.store(0);
        if (attempt == kReaderAttempts) return false;
        if (Send(port, CMD_QUERY_MODEL_ID) != CMD_QUERY_MODEL_ID.size()) return false;
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
        Send(port, CMD_QUERY_MODEL_ID) != CMD_QUERY_MODEL_ID.size())
        return HandshakeResult::PortError;

    std::uint8_t reply[kReplyBufferSize] = {};
    if (ReadsWholeReplies(interfaceKind)) {
        if (!RunUsbReaderAttempts(port, reply)) return HandshakeResult::ReadError;
    } else {
        os.Sleep(kFirstReadWaitMs);
        port.Read(reply, 1);
    }
    if (reply[0] == '.') return HandshakeResult::Connected;
    for (int i = 0; i < kRetryReads; ++i) {
        os.Sleep(kRetryWaitMs);
        port.Read(reply, 1);
        if (reply[0] == '.') return HandshakeResult::Connected;
    }
    return HandshakeResult::NoAnswer;
}

} // namespace pw
