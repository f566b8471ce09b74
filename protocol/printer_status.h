// The printer's real-time status: DLE EOT 1 (printer), 2 (offline cause), 3 (error cause) and 4 (paper roll
// sensor), one byte each, answered at once whatever the printer is doing. A byte is decoded only when it has
// the shape every one of them has (bits 1 and 4 on, 0 and 7 off); anything else is an unreadable reply.
#pragma once

#include "link/printer_port.h"
#include "protocol/commands.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace pw {

enum class Paper { Ok, NearEnd, Out };

struct PrinterStatus {
    bool online = true;
    bool coverOpen = false;
    Paper paper = Paper::Ok;
    bool feedButton = false; // paper being fed by the feed button
    bool drawerOpen = false; // drawer kick-out connector pin 3 high
    // "cutter", "unrecoverable", "auto-recoverable"; "unknown" when the printer says an error occurred
    // but names none.
    std::vector<std::string> errors;

    // Offline, cover open, out of paper or an error: the printer cannot print until someone sees to it.
    bool NeedsAttention() const;
    bool operator==(const PrinterStatus&) const = default;
};

// "paper ok", "paper near end", "paper out"
const char* PaperText(Paper p);
// "ok", "near-end", "out": as the JSON gives it.
const char* PaperKey(Paper p);

// What needs a person, in words: "offline, cover open, paper out, cutter error"; empty when nothing does.
std::string AttentionText(const PrinterStatus& s);
// One line for a table: "ok", "ok, paper near end" or "needs attention: ...".
std::string StatusSummary(const PrinterStatus& s);

// The four replies in the order of their queries (1, 2, 3, 4). False when one has not the status shape.
bool DecodeRealTimeStatus(const std::array<std::uint8_t, 4>& replies, PrinterStatus& out);

enum class StatusRead { Ok, NotSent, NoAnswer, BadReply, ExtraBytes };

struct StatusReading {
    StatusRead result = StatusRead::NoAnswer;
    int query = 0;            // not Ok: the DLE EOT n that failed (1..4)
    std::uint8_t badByte = 0; // BadReply: what came instead of a status byte; ExtraBytes: the byte too many
    std::array<std::uint8_t, 4> replies{};
    PrinterStatus status; // Ok
};

// How long each query's reply is waited for.
constexpr std::uint32_t kStatusReplyMs = 2000;

// After each reply, how long the line must stay quiet before the next query: a byte that comes then was
// one too many. Longer than a USB-serial bridge's latency timer (16 ms) and a byte's time at 9600.
constexpr std::uint32_t kStatusQuietMs = 25;

// Sends DLE EOT 1 to 4 in turn on an open port, each reply read within `replyMs`, and decodes them. Stops
// at the first query that fails. Each reply is one byte and alone: a byte that comes within kStatusQuietMs
// after it means the query was answered with more than one, and then no reply can be told from the next
// (ExtraBytes, `query` the one it followed).
StatusReading ReadPrinterStatus(CPrinterPort& port, std::uint32_t replyMs = kStatusReplyMs);

// What a failed reading means, for a message: "the printer did not answer DLE EOT 3", ...
std::string StatusReadProblem(const StatusReading& reading);

} // namespace pw
