// pinwright-sim: a virtual LTX-58x receipt printer on a pseudo-terminal, or on a raw TCP port as a network
// printer.
#include "pinwright_version.h"
#include "sim/printer_engine.h"
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
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

const char* kHelp = R"(Usage: pinwright-sim [options]

A virtual LTX-58x ESC/POS receipt printer on a pseudo-terminal. Prints "pty: PATH" as its first line,
then serves until SIGINT or SIGTERM and exits 0.

Options:
  --listen [HOST:]PORT  be a network printer instead: take ESC/POS on that TCP port and answer on the
                        same connection. HOST defaults to 127.0.0.1 (give 0.0.0.0 or [::] to serve the
                        network); PORT 0 picks a free port. Prints "tcp: ADDRESS:PORT" as its first line.
                        One client is served at a time; another one's connection waits until the first
                        client has closed its own.
  --link PATH           also make PATH a symbolic link to the pseudo-terminal (an old link is replaced)
  --usb-dir DIR         also create DIR/lp0 as a link to it, where the tool's USB discovery looks
  --state FILE          load the switches from FILE at start (if it exists) and save them whenever user
                        setting mode ends. Format: one line a switch, "switch N = PPPPPPPP", pin 8 first;
                        '#' starts a comment.
  --maker TEXT          maker name (default "MERIDOX")
  --model TEXT          model name (default "LTX-580")
  --firmware TEXT       firmware version (default "2.10 SIM")
                        In these three texts \xHH stands for the byte HH (any but 00) and \\ for a
                        backslash, so a printer can answer with bytes that are not text.
  --switch N=PPPPPPPP   set memory switch N (1-9), pin 8 first. Defaults: 1 = 00000000,
                        2 = 00010100 (PC850, full cut), 9 = 10000000 (115200 baud, 8 bits, no parity,
                        DTR/DSR)
  --trace               log every byte received and sent, in hex with a millisecond timestamp, on
                        standard error
  --pace BAUD           send and take bytes at that line rate, ten bits a byte, as a serial line would
  --enforce-line        understand only the line rate that switch 9 holds (pins 6 to 8): bytes that come
                        while the pseudo-terminal is set to another rate (the rate the tool set is seen
                        from this side) arrive garbled: traced with --trace, never understood, never
                        answered; replies sent while the rates differ are garbled too. Once user setting
                        mode ends with a new switch 9, the printer listens at the new rate. Garbled bytes
                        wait in the print buffer until ESC @ clears it; what is left at the end is traced
                        as "would print". A Linux pseudo-terminal keeps neither data length nor parity (it
                        forces 8 bits without parity), so those two are not enforced. Not with --listen.
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
  --help                show this text
  --version             show the version

Replies: GS I 1 -> "."; GS I 65/66/67 -> 5F text 00; GS ( E fn 1 -> 37 20 00; fn 4 -> 37 21, eight
characters (pin 8 first), 00; DLE EOT 1 -> one status byte. Changes of fn 3 apply when fn 2 ends user
setting mode; print data is ignored while in that mode.
)";

volatile std::sig_atomic_t stopRequested = 0;
void OnSignal(int) {
    stopRequested = 1;
}

std::chrono::steady_clock::time_point started;

long long NowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started)
        .count();
}

// One direction of the line: with a pace, each byte takes ten bit times and bytes queue behind each other.
struct Line {
    long long byteUs = 0; // 0: no pace
    long long freeAt = 0;
    // The time the last bit of a byte that is ready at `ready` arrives.
    long long Take(long long ready) {
        freeAt = std::max(ready, freeAt) + byteUs;
        return freeAt;
    }
};

long long NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started)
        .count();
}

void Trace(bool on, const char* dir, const sim::Bytes& bytes) {
    if (!on || bytes.empty()) return;
    std::string hex;
    char b[4];
    for (auto c : bytes) {
        std::snprintf(b, sizeof b, " %02X", c);
        hex += b;
    }
    std::fprintf(stderr, "[%8lld ms] %s%s\n", NowMs(), dir, hex.c_str());
}

bool ParseHex(const std::string& text, sim::Bytes& out) {
    std::string digits;
    for (char c : text)
        if (!std::isspace(static_cast<unsigned char>(c))) digits += c;
    if (digits.size() % 2) return false;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        char* end = nullptr;
        std::string pair = digits.substr(i, 2);
        long v = std::strtol(pair.c_str(), &end, 16);
        if (*end) return false;
        out.push_back(static_cast<std::uint8_t>(v));
    }
    return true;
}

bool ParseInt(const std::string& text, int& out) {
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end || v < 0 || v > 1000000) return false;
    out = static_cast<int>(v);
    return true;
}

bool ParseIntList(const std::string& text, std::vector<int>& out) {
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        int v = 0;
        if (!ParseInt(text.substr(start, comma - start), v)) return false;
        out.push_back(v);
        start = comma + 1;
    }
    return !out.empty();
}

// A text with \xHH for a byte and \\ for a backslash; false when malformed or when it holds a NUL.
bool ParseText(const std::string& text, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == '\\') {
            out += '\\';
            ++i;
            continue;
        }
        sim::Bytes byte;
        if (i + 3 >= text.size() || text[i + 1] != 'x' || !ParseHex(text.substr(i + 2, 2), byte) ||
            byte[0] == 0)
            return false;
        out += static_cast<char>(byte[0]);
        i += 3;
    }
    return true;
}

int Usage(const std::string& problem) {
    std::fprintf(stderr, "pinwright-sim: %s (see --help)\n", problem.c_str());
    return 2;
}

// The rate switch 9 holds: pins 6, 7 and 8 read as an index; 5 to 7 hold no rate.
int RateOfSwitch9(std::uint8_t pins) {
    static const int kRates[] = {9600, 19200, 38400, 57600, 115200};
    const int index = (pins >> 5) & 7;
    return index < 5 ? kRates[index] : 0;
}

// The rate the other side set on the pseudo-terminal, as the master sees it.
int LineRate(int master) {
    termios t{};
    if (master < 0 || ::tcgetattr(master, &t) != 0) return 0;
    switch (cfgetospeed(&t)) {
    case B1200:
        return 1200;
    case B2400:
        return 2400;
    case B4800:
        return 4800;
    case B9600:
        return 9600;
    case B19200:
        return 19200;
    case B38400:
        return 38400;
    case B57600:
        return 57600;
    case B115200:
        return 115200;
    case B230400:
        return 230400;
    default:
        return 0;
    }
}

// What a UART at one rate makes of bytes sent at another: something else, the same way each time.
std::uint8_t Garbled(std::uint8_t b) {
    return static_cast<std::uint8_t>((b * 37u + 11u) ^ 0xA5u);
}

bool MakeLink(const std::string& target, const std::string& link) {
    std::error_code ec;
    std::filesystem::remove(link, ec);
    std::filesystem::create_symlink(target, link, ec);
    return !ec;
}

} // namespace

int main(int argc, char** argv) {
    started = std::chrono::steady_clock::now();
    sim::PrinterEngine engine;
    std::string linkPath, usbDir, statePath, listenAddress;
    bool trace = false;
    long long byteUs = 0;
    int trickleMs = 0;
    bool enforceLine = false;

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
            if (!value(v) || !ParseInt(v, baud) || baud < 50) return Usage("--pace needs a baud rate");
            byteUs = 10'000'000LL / baud; // ten bits a byte: start, eight data, stop
        } else if (arg == "--enforce-line") {
            enforceLine = true;
        } else if (arg == "--listen") {
            std::string host, port;
            if (!value(listenAddress) || !sim::SplitListenAddress(listenAddress, host, port))
                return Usage("--listen needs [HOST:]PORT, an IPv6 HOST in brackets");
        } else if (arg == "--link") {
            if (!value(linkPath)) return Usage("--link needs a path");
        } else if (arg == "--usb-dir") {
            if (!value(usbDir)) return Usage("--usb-dir needs a folder");
        } else if (arg == "--state") {
            if (!value(statePath)) return Usage("--state needs a file");
        } else if (arg == "--maker") {
            if (!value(v) || !ParseText(v, engine.maker)) return Usage("--maker needs a text");
        } else if (arg == "--model") {
            if (!value(v) || !ParseText(v, engine.model)) return Usage("--model needs a text");
        } else if (arg == "--firmware") {
            if (!value(v) || !ParseText(v, engine.firmware)) return Usage("--firmware needs a text");
        } else if (arg == "--switch") {
            if (!value(v)) return Usage("--switch needs N=PPPPPPPP");
            auto eq = v.find('=');
            int n = 0;
            if (eq == std::string::npos || !ParseInt(v.substr(0, eq), n) ||
                !engine.SetSwitchText(n, v.substr(eq + 1)))
                return Usage("bad --switch " + v);
        } else if (arg == "--fault") {
            if (!value(v)) return Usage("--fault needs a name");
            auto eq = v.find('=');
            std::string name = v.substr(0, eq), val = eq == std::string::npos ? "" : v.substr(eq + 1);
            sim::Faults& f = engine.faults;
            bool ok = true;
            if (name == "silent")
                f.silent = true;
            else if (name == "garbage")
                f.garbage = true;
            else if (name == "short")
                f.shortReplies = true;
            else if (name == "delay")
                ok = ParseInt(val, f.delayMs);
            else if (name == "stray")
                ok = ParseHex(val, f.stray) && !f.stray.empty();
            else if (name == "no-dot")
                ok = ParseInt(val, f.noDot);
            else if (name == "hangup-after")
                ok = ParseInt(val, f.hangupAfter);
            else if (name == "info-no-nul")
                f.infoNoNul = true;
            else if (name == "ignore-writes")
                f.ignoreWrites = true;
            else if (name == "info-silent")
                ok = ParseIntList(val, f.infoSilent);
            else if (name == "from")
                ok = ParseInt(val, f.from);
            else if (name == "trickle")
                ok = ParseInt(val, trickleMs) && trickleMs > 0;
            else
                ok = false;
            if (!ok) return Usage("bad --fault " + v);
        } else {
            return Usage("unknown option " + arg);
        }
    }

    if (!listenAddress.empty() && (!linkPath.empty() || !usbDir.empty()))
        return Usage("--link and --usb-dir name the pseudo-terminal, which --listen does not open");
    if (!listenAddress.empty() && enforceLine)
        return Usage("--enforce-line is for the pseudo-terminal, not --listen");

    if (!statePath.empty() && std::filesystem::exists(statePath)) {
        std::string error;
        if (!sim::LoadState(statePath, engine, error)) return Usage(error);
    }

    int master = -1, keepSlave = -1, listener = -1;
    std::string slavePath, bound;
    if (!listenAddress.empty()) {
        std::string error;
        listener = sim::ListenTcp(listenAddress, bound, error);
        if (listener < 0) {
            std::fprintf(stderr, "pinwright-sim: %s\n", error.c_str());
            return 1;
        }
    } else {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
            std::fprintf(stderr, "pinwright-sim: no pseudo-terminal: %s\n", std::strerror(errno));
            return 1;
        }
        slavePath = ::ptsname(master);
        termios t{};
        if (::tcgetattr(master, &t) != 0) {
            std::fprintf(stderr, "pinwright-sim: cannot read the terminal settings: %s\n",
                         std::strerror(errno));
            return 1;
        }
        ::cfmakeraw(&t);
        if (::tcsetattr(master, TCSANOW, &t) != 0) {
            std::fprintf(stderr, "pinwright-sim: cannot set the terminal raw: %s\n", std::strerror(errno));
            return 1;
        }
        // Hold the slave open so the master does not see a hang-up between the tool's sessions.
        keepSlave = ::open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);

        if (!linkPath.empty() && !MakeLink(slavePath, linkPath)) {
            std::fprintf(stderr, "pinwright-sim: cannot link %s\n", linkPath.c_str());
            return 1;
        }
        if (!usbDir.empty()) {
            std::error_code ec;
            std::filesystem::create_directories(usbDir, ec);
            if (!MakeLink(slavePath, usbDir + "/lp0")) {
                std::fprintf(stderr, "pinwright-sim: cannot link %s/lp0\n", usbDir.c_str());
                return 1;
            }
        }
    }

    engine.onEvent = [&](const std::string& what) {
        if (trace) std::fprintf(stderr, "[%8lld ms] -- %s\n", NowMs(), what.c_str());
    };
    long long garbledPending = 0; // garbled bytes in the print buffer
    engine.onInitialize = [&] {
        if (garbledPending > 0)
            engine.onEvent("print buffer cleared: " + std::to_string(garbledPending) +
                           " garbled bytes dropped");
        garbledPending = 0;
    };
    // With --enforce-line: the rate the tool talks at, when it is not the printer's; 0 when they agree.
    auto wrongRate = [&]() -> int {
        if (!enforceLine) return 0;
        const int tool = LineRate(master);
        return tool == RateOfSwitch9(engine.Switch(9)) ? 0 : (tool == 0 ? -1 : tool);
    };
    auto garbleNote = [&](int tool) {
        return " (garbled: line at " + std::to_string(tool) + " baud, printer at " +
               std::to_string(RateOfSwitch9(engine.Switch(9))) + ")";
    };
    engine.onSettingsApplied = [&] {
        if (!statePath.empty() && !sim::SaveState(statePath, engine))
            std::fprintf(stderr, "pinwright-sim: cannot save %s\n", statePath.c_str());
    };

    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    if (listener >= 0)
        std::printf("tcp: %s\n", bound.c_str());
    else
        std::printf("pty: %s\n", slavePath.c_str());
    std::fflush(stdout);

    // Bytes in flight on the line, each with the time its last bit arrives (microseconds).
    std::deque<std::pair<long long, std::uint8_t>> incoming, outgoing;
    Line inLine{byteUs}, outLine{byteUs};
    long long lastSent = 0;
    // Where bytes come and go: the pseudo-terminal's master side, or the connection of the client served.
    int line = master;
    auto dropClient = [&](const char* why) {
        ::close(line);
        line = -1;
        incoming.clear();
        outgoing.clear();
        engine.onEvent(std::string("client ") + why);
    };
    while (!stopRequested) {
        long long next = NowUs() + (engine.HungUp() ? 20000 : 1000000);
        if (!incoming.empty()) next = std::min(next, incoming.front().first);
        if (!outgoing.empty()) next = std::min(next, outgoing.front().first);
        const long long waitUs = std::max(0LL, next - NowUs());
        timespec timeout{static_cast<time_t>(waitUs / 1000000), static_cast<long>(waitUs % 1000000) * 1000};
        // While no client is served, the next one waiting is taken.
        const int watched = line >= 0 ? line : listener;
        pollfd p{watched, POLLIN, 0};
        int r = ::ppoll(watched >= 0 ? &p : nullptr, watched >= 0 ? 1 : 0, &timeout, nullptr);
        if (r < 0 && errno != EINTR) break;
        if (line < 0 && listener >= 0 && r > 0 && (p.revents & POLLIN)) {
            std::string peer;
            line = sim::AcceptClient(listener, peer);
            if (line >= 0) engine.onEvent("client " + peer + " connected");
        } else if (line >= 0 && r > 0 &&
                   (p.revents & (listener >= 0 ? POLLIN | POLLHUP | POLLERR : POLLIN))) {
            std::uint8_t buf[512];
            ssize_t n = ::read(line, buf, sizeof buf);
            const int tool = n > 0 ? wrongRate() : 0;
            if (n > 0 && tool != 0) {
                // Never understood: they wait as print data, and nothing answers them.
                Trace(trace, ("<-" + garbleNote(tool)).c_str(), sim::Bytes(buf, buf + n));
                garbledPending += n;
            } else if (n > 0) {
                Trace(trace, "<-", sim::Bytes(buf, buf + n));
                const long long now = NowUs();
                for (ssize_t i = 0; i < n; ++i) incoming.emplace_back(inLine.Take(now), buf[i]);
            } else if (listener >= 0 && (n == 0 || (errno != EAGAIN && errno != EINTR))) {
                dropClient("left");
            }
        }
        // Bytes that have come in whole go to the printer; its replies go out after any delay, at the pace.
        sim::Bytes arrived;
        while (!incoming.empty() && incoming.front().first <= NowUs()) {
            arrived.push_back(incoming.front().second);
            incoming.pop_front();
        }
        if (!arrived.empty()) {
            const long long delay = engine.FaultsActive() ? engine.faults.delayMs * 1000LL : 0;
            const sim::Bytes reply = engine.Feed(arrived);
            long long from = NowUs() + delay;
            for (auto b : reply) {
                outgoing.emplace_back(outLine.Take(from), b);
                if (trickleMs > 0 && engine.FaultsActive()) from = outgoing.back().first + trickleMs * 1000LL;
            }
        }
        // Replies that are due go out; what the line does not take now stays queued, in order.
        std::size_t dueCount = 0;
        while (line >= 0 && dueCount < outgoing.size() && outgoing[dueCount].first <= NowUs()) ++dueCount;
        if (dueCount > 0) {
            sim::Bytes due;
            for (std::size_t i = 0; i < dueCount; ++i) due.push_back(outgoing[i].second);
            // A reply that goes out after the tool changed its rate reaches it garbled.
            const int tool = wrongRate();
            if (tool != 0)
                for (auto& b : due) b = Garbled(b);
            const ssize_t w = ::write(line, due.data(), due.size());
            if (w > 0) {
                Trace(trace, tool != 0 ? ("->" + garbleNote(tool)).c_str() : "->",
                      sim::Bytes(due.begin(), due.begin() + w));
                outgoing.erase(outgoing.begin(), outgoing.begin() + w);
                lastSent = NowMs();
            } else if (w < 0 && errno != EAGAIN && errno != EINTR) {
                if (listener >= 0) {
                    dropClient("gone");
                } else {
                    std::fprintf(stderr, "pinwright-sim: write: %s\n", std::strerror(errno));
                    outgoing.clear();
                }
            }
        }
        // The cable is pulled once the last reply had time to reach the other side. On the network the
        // printer is gone: its connection closes and it takes no more.
        if (engine.HungUp() && outgoing.empty() && NowMs() - lastSent >= 100 &&
            (line >= 0 || listener >= 0)) {
            if (keepSlave >= 0) ::close(keepSlave);
            keepSlave = -1;
            if (line >= 0) ::close(line);
            if (listener >= 0) ::close(listener);
            line = master = listener = -1;
        }
    }
    if (garbledPending > 0)
        engine.onEvent("would print " + std::to_string(garbledPending) +
                       " garbled bytes left in the print buffer");
    if (line >= 0) ::close(line);
    if (listener >= 0) ::close(listener);
    if (keepSlave >= 0) ::close(keepSlave);
    return 0;
}
