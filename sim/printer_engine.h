// The printer side of an LTX-58x: an ESC/POS command parser with memory switches, identity texts, user
// setting mode and injectable faults. Bytes in, reply bytes out; no I/O of its own.
#pragma once

#include "sim/print_model.h"

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace sim {

using Bytes = std::vector<std::uint8_t>;

// What the printer's sensors and error logic say, as the real-time status (DLE EOT n) reports it.
struct StatusFaults {
    bool drawerOpen = false;   // drawer kick-out connector pin 3 high
    bool offline = false;      // offline with no other cause (waiting to go online again)
    bool coverOpen = false;    // the roll paper cover is open: offline
    bool feedButton = false;   // paper is being fed by the feed button: offline
    bool paperNearEnd = false; // the near-end sensor sees the roll running low
    bool paperOut = false;     // no paper (both sensors): printing stops, offline
    bool cutterError = false;  // the errors: offline, "an error occurred" and their own bit
    bool unrecoverableError = false;
    bool autoRecoverableError = false; // e.g. the head too hot
    std::vector<int> silent;           // DLE EOT n that get no reply
    std::map<int, Bytes> replies;      // DLE EOT n answered with these bytes instead, whatever they are
};

struct Faults {
    bool silent = false;
    int delayMs = 0;
    Bytes stray;          // sent before every memory switch reply
    bool garbage = false; // switch replies carry characters other than '0'/'1'
    bool shortReplies = false;
    int noDot = 0;               // the first K model-ID queries get no reply
    int hangupAfter = -1;        // the line drops after this many commands
    std::vector<int> infoSilent; // GS I n queries (65 firmware, 66 maker, 67 model) that get no reply
    bool infoNoNul = false;      // identity texts end without their NUL
    bool ignoreWrites = false;   // switch changes are taken and answered as usual but never stored
    int from = 0;                // the other faults start after this many commands
    StatusFaults status;
};

class PrinterEngine {
  public:
    PrinterEngine();

    std::string maker = "MERIDOX";
    std::string model = "LTX-580";
    std::string firmware = "2.10 SIM";
    Faults faults;

    // Memory switches 1..9; pin p is bit p-1.
    std::uint8_t Switch(int n) const { return m_switches.at(n); }
    void SetSwitch(int n, std::uint8_t pins) { m_switches.at(n) = pins; }
    // "PPPPPPPP", pin 8 first.
    std::string SwitchText(int n) const;
    bool SetSwitchText(int n, const std::string& pins);

    // Feeds received bytes; returns what the printer sends back.
    Bytes Feed(const Bytes& data);
    // The byte DLE EOT n (1 to 4) brings with the status faults in force, before status replies and silence.
    std::uint8_t StatusByte(int n) const;
    bool InSettingMode() const { return m_settingMode; }
    // Offline (cover open, paper out, an error, ...): only real-time commands are carried out; the rest
    // waits, unanswered, until the printer is back online and Feed is called again.
    bool Offline() const { return (StatusByte(1) & 0x08) != 0; }
    // Bytes received and not yet carried out (held while offline, or a command not yet whole).
    std::size_t Waiting() const { return m_in.size(); }
    // What the mechanism did with print data and the commands that print, feed, cut or kick.
    PrintModel print;
    bool HungUp() const { return m_hungUp; }
    // Whether the faults other than the hang-up are in force (they start after `faults.from` commands).
    bool FaultsActive() const { return m_commands >= faults.from; }
    int Commands() const { return m_commands; }

    // When user setting mode ends the printer restarts: with this, what came after the command that ended
    // it is lost, as it is on a printer whose restart takes time.
    bool restartLosesInput = false;

    // Called when user setting mode ends (the switches were applied and the printer reset).
    std::function<void()> onSettingsApplied;
    // One line per event worth a log: self tests, resets, mode changes.
    std::function<void(const std::string&)> onEvent;

  private:
    // Tries to take one command from the front of the buffer; returns the bytes it used, 0 if more are
    // needed.
    std::size_t ParseOne(Bytes& out);
    // Offline: carries out the whole real-time commands among the waiting bytes and takes them out.
    void RealTimeOnly(Bytes& out);
    // DLE EOT n, DLE DC4 n ... at the front of `b` (whole); 0 when it is none or not whole yet.
    std::size_t RealTime(const Bytes& b, std::size_t at, Bytes& out);
    std::size_t PrintData(Bytes& out);
    void Command(Bytes& out, const Bytes& reply);
    void SwitchReply(Bytes& out, int n);
    void Event(const std::string& what);

    Bytes m_in;
    std::array<std::uint8_t, 10> m_switches{};
    std::array<int, 10> m_staged{}; // -1 nothing staged, else the new pin bits
    std::array<std::uint8_t, 10> m_stagedMask{};
    bool m_settingMode = false;
    bool m_restarting = false; // user setting mode just ended: the rest of the input is lost
    bool m_hungUp = false;
    bool m_asb = false;
    int m_commands = 0;
    int m_modelIdQueries = 0;
};

// The state file: one line a switch, "switch N = PPPPPPPP" (pin 8 first); '#' starts a comment.
bool LoadState(const std::string& path, PrinterEngine& engine, std::string& error);
bool SaveState(const std::string& path, const PrinterEngine& engine);

} // namespace sim
