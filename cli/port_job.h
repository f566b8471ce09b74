// The printer work of one port for one command, through the dialogs' own sequences: the connection check,
// a self test, the pre-check with identification, reading and writing the switches, and the read-back that
// tells which settings a printer did not take. Runs on the port's own thread with its own port object.
#pragma once

#include "cli/options.h"
#include "link/device_services.h"
#include "link/tracing_device_services.h"
#include "protocol/printer_status.h"

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace pw::cli {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 1; // also a bad status file
constexpr int kExitCannotOpen = 2;
constexpr int kExitNoAnswer = 3; // also an unreadable reply
constexpr int kExitNotTaken = 4;
constexpr int kExitNeedsAttention = 5; // status: offline, cover open, paper out or an error
constexpr int kExitInterrupted = 130;

// Messages on standard error, "PORT: text", one whole line at a time from any thread.
class MessageLog {
  public:
    explicit MessageLog(std::FILE* out) : m_out(out) {}
    // Lines to a function instead (whole, already escaped, without their line feed).
    explicit MessageLog(std::function<void(const std::string&)> sink)
        : m_out(nullptr), m_sink(std::move(sink)) {}
    void Line(const std::string& port, const std::string& text);
    // A line without a port (the USB discovery's), escaped as every text from outside.
    void Line(const std::string& text);

  private:
    void Put(const std::string& line);

    std::mutex m_mutex;
    std::FILE* m_out;
    std::function<void(const std::string&)> m_sink;
};

// The descriptors a run holds besides its ports: those open at its start (standard streams, inherited ones)
// and the few it opens on the way (the trace, the metrics file, a status file, the system's lookup files).
std::size_t DescriptorsBesidePorts();

// The --trace file for the run, when one is named; false after saying on `err` why it cannot be written.
bool OpenTrace(const std::string& path, std::FILE* err, std::unique_ptr<TraceSink>& trace);

// What one port is asked to do.
struct PortJob {
    Command command = Command::Check;
    LineOptions line;
    int selfTest = 0;
    std::string output;              // get: status file to save
    std::vector<Assignment> changes; // set
    SwitchModel loaded;              // apply: the status file's model
    bool check = false;              // set, apply: compare only
    bool force = false;              // set, apply: write even when nothing differs
    std::string backup;              // set, apply: folder for the settings as read, before a write
    // Set with the stop when the run's --timeout passed: a port stopped then says so, not "interrupted".
    const std::atomic<bool>* timedOut = nullptr;
    int timeout = 0;
    // status: also the identity texts (GS I 65, 66, 67) of a printer that is online, after its status.
    bool identity = false;
};

// How much of a write reached the printer: no change command, some of them (or all, without the end of
// user setting mode that makes the printer take them), or all of them and the end of the mode.
enum class Written { No, Partly, Yes };

struct PortResult {
    std::string port;
    int exit = kExitOk;
    std::string error; // when exit is not 0
    bool interrupted = false;
    // A serial port: the line it talked at last (found by --baud auto, or the one after a change).
    bool serial = false;
    LineOptions line;
    std::string backup; // set, apply: the backup written before the write
    // get, set and apply: the identity and the switches as last read.
    bool haveState = false;
    std::string firmware, maker, model;
    SwitchModel state;
    SwitchPins pins;
    std::vector<std::string> notTaken; // exit 4: the settings whose pins did not take
    // set and apply, once the printer was read: the pins as read and as intended, the settings whose
    // pins differ, and whether writing began (with --check: whether a run would write).
    bool compared = false;
    bool checkOnly = false;
    SwitchPins before, after;
    std::vector<std::string> changes;
    bool changed = false;
    // status: the printer's real-time status, once all four replies were read.
    bool haveStatus = false;
    PrinterStatus status;
    // status with identity: the texts, those not answered empty.
    bool haveIdentity = false;
    // set and apply: how much was written, whatever the run ended in.
    Written written = Written::No;
};

// Runs `job` on `port` (a port name or a device file) over `services`. Once `stop` is set no further
// sequence starts, and the result says how far the port got.
PortResult RunPort(const std::string& port, const PortJob& job, DeviceServices& services,
                   const std::atomic<bool>& stop, MessageLog& log);

} // namespace pw::cli
