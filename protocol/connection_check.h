// The handshake that proves a printer of the family answers: initialise, select, automatic status back
// off, model ID query, and wait for the "." reply. On USB and network links the first reply is taken by a
// short-lived reader thread that can be abandoned.
#pragma once

#include "link/printer_port.h"

#include <atomic>
#include <cstdint>

namespace pw {

enum class HandshakeResult {
    Connected, // "." came
    PortError, // a command of the handshake did not go out
    ReadError, // USB: ten reader attempts brought nothing
    NoAnswer,  // no "." within the first read and ten retries
};

// Runs the handshake on an open port. `interfaceKind` picks the reading path.
HandshakeResult RunConnectionHandshake(CPrinterPort& port, int interfaceKind);

// What one handshake shares with its USB reader thread. The handshake owns it and hands the reader a
// pointer, so handshakes on several ports at once never meet.
struct UsbReaderState {
    std::uint8_t g_usbReply[20] = {};
    std::atomic<int> g_nUsbReplyLen{0};
    std::atomic<int> g_bReaderStarted{0};
    ThreadHandle g_hReaderThread = 0; // touched by the handshake's thread only
};

int ReaderThreadProc(CPrinterPort* port, UsbReaderState* state);

// Up to ten reader attempts; true with the reply in `reply` as soon as one brings bytes; false after ten
// empty attempts or when the query could not be sent again.
bool RunUsbReaderAttempts(CPrinterPort& port, UsbReaderState& state, std::uint8_t* reply,
                          int firstAttempt = 1);

} // namespace pw
