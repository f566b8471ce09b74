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

// Shared between the user-interface thread and the USB reader thread.
extern std::uint8_t g_usbReply[20];
extern std::atomic<int> g_nUsbReplyLen;
extern std::atomic<int> g_bReaderStarted;
extern ThreadHandle g_hReaderThread; // touched by the user-interface thread only

int ReaderThreadProc(CPrinterPort* port);

// Up to ten reader attempts; true with the reply in `reply` as soon as one brings bytes; false after ten
// empty attempts or when the query could not be sent again.
bool RunUsbReaderAttempts(CPrinterPort& port, std::uint8_t* reply);

} // namespace pw
