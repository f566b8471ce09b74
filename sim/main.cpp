// pinwright-sim: a virtual LTX-58x receipt printer on a pseudo-terminal, or on a raw TCP port as a network
// printer.
#include "pinwright_version.h"
#include "sim/fault_options.h"
#include "sim/line_pace.h"
#include "sim/printer_engine.h"
#include "sim/pty_line.h"
#include "sim/tcp_line.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace {

const char* kHelp = R"help(Usage: pinwright-sim [options]

A virtual LTX-58x ESC/POS receipt printer on a pseudo-terminal, or several in one process. Prints one line a
printer, in order, "pty: PATH" (or "tcp: ADDRESS:PORT" with --listen), then serves them all until SIGINT or
SIGTERM and exits 0. Each printer has its own switches, state, faults in force, line and pace; the options
apply to every printer of the process. One thread serves them all, hundreds at once.

Options:
  --listen [HOST:]PORT  be a network printer instead: take ESC/POS on that TCP port and answer on the
                        same connection. HOST defaults to 127.0.0.1; any loopback address serves
                        (127.0.0.21:9100, [::1]:9100; on Linux all of 127.0.0.0/8 is this machine); give
                        0.0.0.0 or [::] to serve the network. PORT 0 picks a free port. Prints
                        "tcp: ADDRESS:PORT". One client is served at a time; another one's connection waits
                        until the first client has closed its own. Repeatable: each --listen is a printer of
                        its own.
  --count N             N printers on N pseudo-terminals (default 1), each with its "pty: PATH" line. Not
                        with --listen.
  --link PATH           also make PATH a symbolic link to the pseudo-terminal (an old link is replaced);
                        with --count N, PATH.1 to PATH.N
  --usb-dir DIR         also create DIR/lp0 as a link to it, where the tool's USB discovery looks; with
                        --count N, DIR/lp0 to DIR/lpN-1
  --state FILE          load the switches from FILE at start (if it exists) and save them whenever user
                        setting mode ends. Format: one line a switch, "switch N = PPPPPPPP", pin 8 first;
                        '#' starts a comment. With several printers, FILE.1 to FILE.N in the order of the
                        first lines.
  --control FILE        change faults while running: on SIGUSR1, read FILE (see Control below)
  --maker TEXT          maker name (default "MERIDOX")
  --model TEXT          model name (default "LTX-580")
  --firmware TEXT       firmware version (default "2.10 SIM")
                        In these three texts \xHH stands for the byte HH (any but 00) and \\ for a
                        backslash, so a printer can answer with bytes that are not text.
  --switch N=PPPPPPPP   set memory switch N (1-9), pin 8 first. Defaults: 1 = 00000000,
                        2 = 00010100 (PC850, full cut), 9 = 10000000 (115200 baud, 8 bits, no parity,
                        DTR/DSR)
  --trace               log every byte received and sent, in hex with a millisecond timestamp, on
                        standard error; with several printers "#N" (1 = the first line) before each
  --pace BAUD           send and take bytes at that line rate, ten bits a byte, as a serial line would
  --think MS            take MS milliseconds to answer each query (0, the default: at once)
  --restart MS          after the end of user setting mode the printer restarts for MS milliseconds: what
                        comes meanwhile, and what came with the command that ended the mode, is lost and
                        nothing is answered (0, the default: at once)
  --enforce-line        listen at the line switch 9 holds (rate, data length, parity; one stop bit), as
                        a UART does: what the tool sends at its own line (seen from this side of the
                        pseudo-terminal) is taken apart bit by bit at the printer's, and the printer
                        acts on what that makes of it, answers and all; replies reach the tool as its
                        UART at its line reads them, passed on as a Linux serial driver does (with INPCK
                        a character with a framing or parity error is dropped with IGNPAR, marked with
                        PARMRK, else read as 00). Traced with --trace: "<- (garbled: line at ...)" and
                        what the printer's UART read. Once user setting mode ends with a new switch 9,
                        the printer listens at the new line. A pseudo-terminal forces 8 data bits without
                        parity: give --line-report to see the tool's own. Not with --listen.
  --line-report DIR     with --enforce-line: the tool's data length and parity as its tcsetattr asked,
                        from the reports that tests/support/line_report.c (preloaded into the tool)
                        writes to DIR; without it the tool is taken to send 8 bits without parity
  --line-errors WHAT    with --enforce-line, what the printer does with a character its UART read with a
                        framing or parity error: "process" it as read (the default) or "drop" it
  --columns N           the print line's width: 32 (58 mm, the default) or 48 (80 mm). Printable bytes
                        wait in the line buffer until LF (or CR with automatic line feed, switch 1 pin 5)
                        prints them or the line is full; ESC @ clears it; ESC d and ESC J print and feed;
                        GS V, ESC i and ESC m cut; ESC p and DLE DC4 1 kick the drawer. Each is traced,
                        and at the end "-- print: ..." counts them and shows what waits in the buffer
                        ("would print ..." when something does).
  --fault NAME[=VALUE]  repeatable:
                          silent          never reply
                          delay=MS        send each reply MS milliseconds late
                          stray=HEX       send these bytes before every memory switch reply
                          garbage         switch replies carry characters other than '0'/'1'
                          short           switch replies cut after 5 bytes
                          no-dot=K        the first K model-ID queries get no reply
                          hangup-after=N  close the pseudo-terminal after N commands (a pulled cable);
                                          with --listen, close the connection and stop listening
                          info-silent=N[,N]  GS I N (65 firmware, 66 maker, 67 model) gets no reply
                          info-no-nul     identity texts end without their NUL
                          ignore-writes   take switch changes in user setting mode but keep the old
                                          switches (a printer whose settings do not take)
                          trickle=MS      send every reply a byte at a time, MS milliseconds apart (a
                                          serial-to-network bridge passing on what it has)
                          from=N          the other faults start after N commands (hangup-after
                                          still counts from the start)
                        The status faults, what DLE EOT n (n = 1 to 4) reports; each sets the bits a real
                        printer sets together (n=1 bit 3 is offline, n=2 bit 6 an error occurred):
                          drawer-open     drawer kick-out connector pin 3 high (else low): n=1 bit 2
                          offline         offline: n=1 bit 3
                          cover-open      cover open: n=2 bit 2; offline
                          feed-button     paper being fed by the feed button: n=2 bit 3; offline
                          paper-near-end  the roll near its end: n=4 bits 2 and 3
                          paper-out       no paper: n=4 bits 5 and 6 (and 2, 3: the roll is past the
                                          near-end sensor too), n=2 bit 5 (printing stopped); offline
                          cutter-error    autocutter error: n=3 bit 3; error, offline
                          unrecoverable-error     n=3 bit 5; error, offline
                          auto-recoverable-error  n=3 bit 6 (a head too hot, say); error, offline
                          status-silent=N[,N]     DLE EOT N gets no reply
                          status-byte=N:HEX       DLE EOT N is answered with these bytes instead, whatever
                                                  they are (a printer that sends a wrong byte); repeatable
  --help                show this text
  --version             show the version

An offline printer (offline, cover-open, feed-button, paper-out or an error) carries out only real-time
commands (DLE EOT n, DLE DC4 1); everything else waits, unanswered, until it is back online.

Replies: GS I 1 -> "."; GS I 65/66/67 -> 5F text 00; GS ( E fn 1 -> 37 20 00; fn 4 -> 37 21, eight
characters (pin 8 first), 00; DLE EOT n (1-4) -> one status byte, 12 (bits 1 and 4 alone) when nothing is
wrong, also in user setting mode. Changes of fn 3 apply when fn 2 ends user setting mode; print data is
ignored while in that mode.

Control: each SIGUSR1 makes the simulator read the --control FILE, and answer on standard output with
"control: K ok" (K counts the SIGUSR1 from 1) or "control: K failed: WHY" (then nothing changed). A read
replaces every printer's status faults and silent with those FILE names; the other faults stay, and from=N
still holds. Each line names status faults or silent as --fault does, separated by spaces, for every
printer, or after "N:" for printer N alone (1 = the first line printed); '#' starts a comment; an empty FILE
clears them all:
    paper-near-end
    2: paper-out cover-open
)help";

volatile std::sig_atomic_t stopRequested = 0;
void OnSignal(int) {
    stopRequested = 1;
}

std::chrono::steady_clock::time_point started;

long long NowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started)
        .count();
}

long long NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started)
        .count();
}

std::string HexOf(const sim::Bytes& bytes) {
    std::string hex;
    char b[4];
    for (auto c : bytes) {
        std::snprintf(b, sizeof b, " %02X", c);
        hex += b;
    }
    return hex;
}

// `who` is "" for the only printer of the process, else "#N " before the direction.
void Trace(bool on, const std::string& who, const std::string& dir, const sim::Bytes& bytes) {
    if (!on || bytes.empty()) return;
    std::fprintf(stderr, "[%8lld ms] %s%s%s\n", NowMs(), who.c_str(), dir.c_str(), HexOf(bytes).c_str());
}

int Usage(const std::string& problem) {
    std::fprintf(stderr, "pinwright-sim: %s (see --help)\n", problem.c_str());
    return 2;
}

bool MakeLink(const std::string& target, const std::string& link) {
    std::error_code ec;
    std::filesystem::remove(link, ec);
    std::filesystem::create_symlink(target, link, ec);
    return !ec;
}

// Room for every printer's descriptors: the soft limit goes up towards the hard one when it is too low.
void MakeRoomForDescriptors(std::size_t printers) {
    const rlim_t needed = static_cast<rlim_t>(2 * printers + 32);
    rlimit lim{};
    if (::getrlimit(RLIMIT_NOFILE, &lim) != 0 || lim.rlim_cur == RLIM_INFINITY || lim.rlim_cur >= needed)
        return;
    lim.rlim_cur = lim.rlim_max == RLIM_INFINITY ? needed : std::min(lim.rlim_max, needed);
    ::setrlimit(RLIMIT_NOFILE, &lim);
}

// One printer of the process with its line: a pseudo-terminal's master side, or a listening port and the
// connection of the client it serves.
struct Printer {
    sim::PrinterEngine engine;
    std::string who; // "#N " in the trace when the process has several printers
    std::string name, statePath;
    int master = -1, keepSlave = -1, listener = -1, line = -1;
    // Bytes in flight on the line, each with the time its last bit arrives (microseconds).
    std::deque<std::pair<long long, std::uint8_t>> incoming, outgoing;
    sim::LinePace inLine, outLine;
    long long lastSent = 0;
    bool writeBlocked = false;  // the line takes no more for now: wait until it can
    bool faultsChanged = false; // back online, held commands may go on
    long long restartUntil = 0; // restarting after user setting mode: takes nothing until then (us)
};

bool OpenPseudoTerminal(Printer& p, std::string& error) {
    p.master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (p.master < 0 || ::grantpt(p.master) != 0 || ::unlockpt(p.master) != 0) {
        error = std::string("no pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    p.name = ::ptsname(p.master);
    termios t{};
    if (::tcgetattr(p.master, &t) != 0) {
        error = std::string("cannot read the terminal settings: ") + std::strerror(errno);
        return false;
    }
    ::cfmakeraw(&t);
    if (::tcsetattr(p.master, TCSANOW, &t) != 0) {
        error = std::string("cannot set the terminal raw: ") + std::strerror(errno);
        return false;
    }
    // A printer whose other side reads nothing must not hold up the others.
    ::fcntl(p.master, F_SETFL, ::fcntl(p.master, F_GETFL) | O_NONBLOCK);
    // Hold the slave open so the master does not see a hang-up between the tool's sessions.
    p.keepSlave = ::open(p.name.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    p.line = p.master;
    return true;
}

volatile std::sig_atomic_t controlRequested = 0;
void OnControlSignal(int) {
    controlRequested = 1;
}

} // namespace

int main(int argc, char** argv) {
    started = std::chrono::steady_clock::now();
    sim::PrinterEngine prototype;
    std::string linkPath, usbDir, statePath, controlPath;
    std::vector<std::string> listenAddresses;
    int count = 1;
    bool countGiven = false;
    bool trace = false;
    long long byteUs = 0;
    int trickleMs = 0;
    bool enforceLine = false;
    int thinkMs = 0, restartMs = 0;
    bool dropLineErrors = false;
    std::string lineReportDir;
    int columns = 32;

    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        std::string v;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kHelp, stdout);
            return 0;
        } else if (arg == "--version") {
            std::puts("pinwright-sim " PINWRIGHT_VERSION);
            return 0;
        } else if (arg == "--trace") {
            trace = true;
        } else if (arg == "--pace") {
            int baud = 0;
            if (!value(v) || !sim::ParseInt(v, baud) || baud < 50) return Usage("--pace needs a baud rate");
            byteUs = 10'000'000LL / baud; // ten bits a byte: start, eight data, stop
        } else if (arg == "--think") {
            if (!value(v) || !sim::ParseInt(v, thinkMs)) return Usage("--think needs milliseconds");
        } else if (arg == "--restart") {
            if (!value(v) || !sim::ParseInt(v, restartMs)) return Usage("--restart needs milliseconds");
        } else if (arg == "--enforce-line") {
            enforceLine = true;
        } else if (arg == "--line-report") {
            if (!value(lineReportDir)) return Usage("--line-report needs a folder");
        } else if (arg == "--line-errors") {
            if (!value(v) || (v != "process" && v != "drop"))
                return Usage("--line-errors takes process or drop");
            dropLineErrors = v == "drop";
        } else if (arg == "--columns") {
            if (!value(v) || (v != "32" && v != "48")) return Usage("--columns takes 32 or 48");
            columns = std::stoi(v);
        } else if (arg == "--listen") {
            std::string host, port;
            if (!value(v) || !sim::SplitListenAddress(v, host, port))
                return Usage("--listen needs [HOST:]PORT, an IPv6 HOST in brackets");
            listenAddresses.push_back(v);
        } else if (arg == "--count") {
            if (!value(v) || !sim::ParseInt(v, count) || count < 1)
                return Usage("--count needs a number from 1");
            countGiven = true;
        } else if (arg == "--link") {
            if (!value(linkPath)) return Usage("--link needs a path");
        } else if (arg == "--usb-dir") {
            if (!value(usbDir)) return Usage("--usb-dir needs a folder");
        } else if (arg == "--state") {
            if (!value(statePath)) return Usage("--state needs a file");
        } else if (arg == "--control") {
            if (!value(controlPath)) return Usage("--control needs a file");
        } else if (arg == "--maker") {
            if (!value(v) || !sim::ParseText(v, prototype.maker)) return Usage("--maker needs a text");
        } else if (arg == "--model") {
            if (!value(v) || !sim::ParseText(v, prototype.model)) return Usage("--model needs a text");
        } else if (arg == "--firmware") {
            if (!value(v) || !sim::ParseText(v, prototype.firmware)) return Usage("--firmware needs a text");
        } else if (arg == "--switch") {
            if (!value(v)) return Usage("--switch needs N=PPPPPPPP");
            auto eq = v.find('=');
            int n = 0;
            if (eq == std::string::npos || !sim::ParseInt(v.substr(0, eq), n) ||
                !prototype.SetSwitchText(n, v.substr(eq + 1)))
                return Usage("bad --switch " + v);
        } else if (arg == "--fault") {
            if (!value(v)) return Usage("--fault needs a name");
            if (!sim::ParseFault(v, prototype.faults, trickleMs)) return Usage("bad --fault " + v);
        } else {
            return Usage("unknown option " + arg);
        }
    }

    const bool network = !listenAddresses.empty();
    if (network && (!linkPath.empty() || !usbDir.empty()))
        return Usage("--link and --usb-dir name the pseudo-terminal, which --listen does not open");
    if (network && enforceLine) return Usage("--enforce-line is for the pseudo-terminal, not --listen");
    if (network && countGiven)
        return Usage("--count is for pseudo-terminals; give --listen once for each network printer");
    const std::size_t printerCount = network ? listenAddresses.size() : static_cast<std::size_t>(count);
    const bool several = printerCount > 1;
    auto numbered = [&](const std::string& path, std::size_t i) {
        return several ? path + "." + std::to_string(i + 1) : path;
    };
    MakeRoomForDescriptors(printerCount);

    std::vector<std::unique_ptr<Printer>> printers;
    for (std::size_t i = 0; i < printerCount; ++i) {
        auto p = std::make_unique<Printer>();
        p->engine = prototype;
        p->engine.print = sim::PrintModel(columns);
        p->engine.restartLosesInput = restartMs > 0;
        if (several) p->who = "#" + std::to_string(i + 1) + " ";
        p->inLine.byteUs = p->outLine.byteUs = byteUs;
        std::string error;
        if (!statePath.empty()) {
            p->statePath = numbered(statePath, i);
            if (std::filesystem::exists(p->statePath) && !sim::LoadState(p->statePath, p->engine, error))
                return Usage(error);
        }
        if (network) {
            p->listener = sim::ListenTcp(listenAddresses[i], p->name, error);
            if (p->listener < 0) {
                std::fprintf(stderr, "pinwright-sim: %s\n", error.c_str());
                return 1;
            }
        } else {
            if (!OpenPseudoTerminal(*p, error)) {
                std::fprintf(stderr, "pinwright-sim: %s\n", error.c_str());
                return 1;
            }
            if (!linkPath.empty() && !MakeLink(p->name, numbered(linkPath, i))) {
                std::fprintf(stderr, "pinwright-sim: cannot link %s\n", numbered(linkPath, i).c_str());
                return 1;
            }
            if (!usbDir.empty()) {
                std::error_code ec;
                std::filesystem::create_directories(usbDir, ec);
                const std::string lp = usbDir + "/lp" + std::to_string(i);
                if (!MakeLink(p->name, lp)) {
                    std::fprintf(stderr, "pinwright-sim: cannot link %s\n", lp.c_str());
                    return 1;
                }
            }
        }
        printers.push_back(std::move(p));
    }

    for (auto& each : printers) {
        Printer& p = *each;
        p.engine.onEvent = [&p, trace](const std::string& what) {
            if (trace) std::fprintf(stderr, "[%8lld ms] %s-- %s\n", NowMs(), p.who.c_str(), what.c_str());
        };
        p.engine.print.onEvent = p.engine.onEvent;
        p.engine.onSettingsApplied = [&p, restartMs] {
            if (restartMs > 0) {
                p.restartUntil = NowUs() + restartMs * 1000LL;
                p.engine.onEvent("restarting for " + std::to_string(restartMs) + " ms");
            }
            if (!p.statePath.empty() && !sim::SaveState(p.statePath, p.engine))
                std::fprintf(stderr, "pinwright-sim: cannot save %s\n", p.statePath.c_str());
        };
    }
    // With --enforce-line, when the tool's line is not the printer's: both ends, for the bits between them.
    struct Mismatch {
        sim::ToolSide tool;
        sim::UartFrame printer;
    };
    auto mismatch = [&](const Printer& p) -> std::optional<Mismatch> {
        if (!enforceLine) return std::nullopt;
        Mismatch m{sim::ReadToolSide(p.master, p.name, lineReportDir),
                   sim::FrameOfSwitch9(p.engine.Switch(9))};
        if (m.tool.known && m.tool.frame == m.printer) return std::nullopt;
        return m;
    };
    auto garbleNote = [](const Mismatch& m) {
        return " (garbled: line at " + std::to_string(m.tool.frame.baud) + " baud, printer at " +
               std::to_string(m.printer.baud) + "; " + sim::FrameText(m.tool.frame) + " -> " +
               sim::FrameText(m.printer) + ")";
    };
    // What a UART read, for the trace: each character in hex, "!" after one read with an error.
    auto readText = [](const std::vector<sim::UartChar>& chars) {
        std::string text;
        char b[8];
        for (const sim::UartChar& c : chars) {
            std::snprintf(b, sizeof b, " %02X%s", c.value, c.framingError || c.parityError ? "!" : "");
            text += b;
        }
        return text.empty() ? std::string(" nothing") : text;
    };

    // The signals are held while the printers are served and come in only during ppoll, so none is missed.
    sigset_t handled, unblocked;
    sigemptyset(&handled);
    sigaddset(&handled, SIGINT);
    sigaddset(&handled, SIGTERM);
    sigaddset(&handled, SIGUSR1);
    ::sigprocmask(SIG_BLOCK, &handled, &unblocked);
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    sa.sa_handler = OnControlSignal;
    ::sigaction(SIGUSR1, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    for (const auto& p : printers) std::printf("%s: %s\n", network ? "tcp" : "pty", p->name.c_str());
    std::fflush(stdout);

    int controlReads = 0;
    auto control = [&] {
        ++controlReads;
        std::vector<sim::Faults> read;
        std::string error;
        if (controlPath.empty()) {
            error = "no --control file";
        } else if (sim::ReadControl(controlPath, printers.size(), read, error)) {
            for (std::size_t i = 0; i < printers.size(); ++i) {
                sim::Faults& f = printers[i]->engine.faults;
                f.status = read[i].status;
                f.silent = read[i].silent;
                printers[i]->engine.onEvent("faults from " + controlPath);
                printers[i]->faultsChanged = true;
            }
        }
        if (error.empty())
            std::printf("control: %d ok\n", controlReads);
        else
            std::printf("control: %d failed: %s\n", controlReads, error.c_str());
        std::fflush(stdout);
    };

    auto dropClient = [](Printer& p, const char* why) {
        ::close(p.line);
        p.line = -1;
        p.writeBlocked = false;
        p.incoming.clear();
        p.outgoing.clear();
        p.engine.onEvent(std::string("client ") + why);
    };
    // What a printer does once its line has woken it (`revents`) or its time has come.
    auto serve = [&](Printer& p, short revents) {
        const bool net = p.listener >= 0;
        if (p.line < 0 && net && (revents & POLLIN)) {
            std::string peer;
            p.line = sim::AcceptClient(p.listener, peer);
            if (p.line >= 0) p.engine.onEvent("client " + peer + " connected");
        } else if (p.line >= 0 && (revents & (net ? POLLIN | POLLHUP | POLLERR : POLLIN))) {
            std::uint8_t buf[512];
            ssize_t n = ::read(p.line, buf, sizeof buf);
            const auto wrong = n > 0 ? mismatch(p) : std::nullopt;
            if (n > 0 && wrong) {
                // The printer's UART makes what it makes of the bits; the printer acts on that.
                const sim::Bytes sent(buf, buf + n);
                Trace(trace, p.who, "<-" + garbleNote(*wrong), sent);
                std::vector<sim::UartChar> chars;
                if (wrong->tool.frame.baud > 0 && wrong->printer.baud > 0)
                    chars = sim::ReceiveBurst(sent, wrong->tool.frame, wrong->printer);
                p.engine.onEvent("the printer's UART read" + readText(chars) +
                                 (dropLineErrors ? " (those with an error dropped)" : ""));
                const long long now = NowUs();
                long long last = now;
                for (ssize_t i = 0; i < n; ++i) last = p.inLine.Take(now);
                for (const sim::UartChar& c : chars)
                    if (!dropLineErrors || !(c.framingError || c.parityError))
                        p.incoming.emplace_back(last, c.value);
            } else if (n > 0) {
                Trace(trace, p.who, "<-", sim::Bytes(buf, buf + n));
                const long long now = NowUs();
                for (ssize_t i = 0; i < n; ++i) p.incoming.emplace_back(p.inLine.Take(now), buf[i]);
            } else if (net && (n == 0 || (errno != EAGAIN && errno != EINTR))) {
                dropClient(p, "left");
            }
        }
        if (revents & (POLLOUT | POLLHUP | POLLERR)) p.writeBlocked = false;
        // Bytes that have come in whole go to the printer; its replies go out after any delay, at the pace.
        sim::Bytes arrived;
        while (!p.incoming.empty() && p.incoming.front().first <= NowUs()) {
            arrived.push_back(p.incoming.front().second);
            p.incoming.pop_front();
        }
        if (!arrived.empty() && NowUs() < p.restartUntil) {
            p.engine.onEvent("restarting: lost" + HexOf(arrived));
            arrived.clear();
        }
        if (!arrived.empty() || std::exchange(p.faultsChanged, false)) {
            const long long delay =
                thinkMs * 1000LL + (p.engine.FaultsActive() ? p.engine.faults.delayMs * 1000LL : 0);
            const sim::Bytes reply = p.engine.Feed(arrived);
            long long from = NowUs() + delay;
            for (auto b : reply) {
                p.outgoing.emplace_back(p.outLine.Take(from), b);
                if (trickleMs > 0 && p.engine.FaultsActive())
                    from = p.outgoing.back().first + trickleMs * 1000LL;
            }
        }
        // Replies that are due go out; what the line does not take now stays queued, in order.
        std::size_t dueCount = 0;
        while (p.line >= 0 && !p.writeBlocked && dueCount < p.outgoing.size() &&
               p.outgoing[dueCount].first <= NowUs())
            ++dueCount;
        if (dueCount > 0) {
            sim::Bytes due;
            for (std::size_t i = 0; i < dueCount; ++i) due.push_back(p.outgoing[i].second);
            // A reply reaches the tool as its UART at its line reads it.
            if (const auto wrong = mismatch(p)) {
                std::vector<sim::UartChar> chars;
                if (wrong->tool.frame.baud > 0 && wrong->printer.baud > 0)
                    chars = sim::ReceiveBurst(due, wrong->printer, wrong->tool.frame);
                const sim::Bytes delivered = sim::DeliveredToReader(chars, wrong->tool.iflag);
                Trace(trace, p.who, "->" + garbleNote(*wrong), due);
                p.engine.onEvent("the tool's UART read" + readText(chars) + ", its driver passed on" +
                                 (delivered.empty() ? std::string(" nothing") : HexOf(delivered)));
                // The burst has left the printer whole; what the tool makes of it is written at once.
                if (!delivered.empty() && ::write(p.line, delivered.data(), delivered.size()) < 0 &&
                    errno != EAGAIN)
                    std::fprintf(stderr, "pinwright-sim: write: %s\n", std::strerror(errno));
                p.outgoing.erase(p.outgoing.begin(), p.outgoing.begin() + static_cast<long>(due.size()));
                p.lastSent = NowMs();
            } else {
                const ssize_t w = ::write(p.line, due.data(), due.size());
                if (w > 0) {
                    Trace(trace, p.who, "->", sim::Bytes(due.begin(), due.begin() + w));
                    p.outgoing.erase(p.outgoing.begin(), p.outgoing.begin() + w);
                    p.lastSent = NowMs();
                }
                if ((w >= 0 && static_cast<std::size_t>(w) < due.size()) || (w < 0 && errno == EAGAIN)) {
                    p.writeBlocked = true;
                } else if (w < 0 && errno != EINTR) {
                    if (net) {
                        dropClient(p, "gone");
                    } else {
                        std::fprintf(stderr, "pinwright-sim: write: %s\n", std::strerror(errno));
                        p.outgoing.clear();
                    }
                }
            }
        }
        // The cable is pulled once the last reply had time to reach the other side. On the network the
        // printer is gone: its connection closes and it takes no more.
        if (p.engine.HungUp() && p.outgoing.empty() && NowMs() - p.lastSent >= 100 &&
            (p.line >= 0 || p.listener >= 0)) {
            if (p.keepSlave >= 0) ::close(p.keepSlave);
            p.keepSlave = -1;
            if (p.line >= 0) ::close(p.line);
            if (p.listener >= 0) ::close(p.listener);
            p.line = p.master = p.listener = -1;
            p.writeBlocked = false;
        }
    };

    // One thread serves them all: one poll over every printer's line, then each printer in turn.
    std::vector<pollfd> watched;
    std::vector<std::size_t> watcher; // the printer of each entry of `watched`
    std::vector<short> woken(printers.size());
    while (!stopRequested) {
        if (controlRequested) {
            controlRequested = 0;
            control();
        }
        long long next = NowUs() + 1000000;
        watched.clear();
        watcher.clear();
        for (std::size_t k = 0; k < printers.size(); ++k) {
            const Printer& p = *printers[k];
            if (p.engine.HungUp() && (p.line >= 0 || p.listener >= 0)) next = std::min(next, NowUs() + 20000);
            if (!p.incoming.empty()) next = std::min(next, p.incoming.front().first);
            if (!p.outgoing.empty() && !p.writeBlocked) next = std::min(next, p.outgoing.front().first);
            // While no client is served, the next one waiting is taken.
            const int fd = p.line >= 0 ? p.line : p.listener;
            if (fd < 0) continue;
            watched.push_back({fd, static_cast<short>(POLLIN | (p.writeBlocked ? POLLOUT : 0)), 0});
            watcher.push_back(k);
        }
        const long long waitUs = std::max(0LL, next - NowUs());
        timespec timeout{static_cast<time_t>(waitUs / 1000000), static_cast<long>(waitUs % 1000000) * 1000};
        const int r = ::ppoll(watched.data(), watched.size(), &timeout, &unblocked);
        if (r < 0 && errno != EINTR) break;
        std::fill(woken.begin(), woken.end(), 0);
        for (std::size_t i = 0; r > 0 && i < watched.size(); ++i) woken[watcher[i]] = watched[i].revents;
        for (std::size_t k = 0; k < printers.size(); ++k) serve(*printers[k], woken[k]);
    }
    for (const auto& p : printers) {
        const sim::PrintModel& print = p->engine.print;
        p->engine.onEvent("print: " + print.Summary());
        if (!print.Buffer().empty())
            p->engine.onEvent("would print" +
                              HexOf(sim::Bytes(print.Buffer().begin(), print.Buffer().end())) +
                              " with the next line feed");
        if (p->line >= 0) ::close(p->line);
        if (p->listener >= 0) ::close(p->listener);
        if (p->keepSlave >= 0) ::close(p->keepSlave);
    }
    return 0;
}
