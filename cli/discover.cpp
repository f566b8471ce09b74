#include "cli/discover.h"

#include "cli/discover_output.h"
#include "cli/platform.h"
#include "cli/port_job.h"
#include "link/interruptible_device_services.h"
#include "link/network_address.h"
#include "link/tracing_device_services.h"
#include "protocol/printer_probe.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace pw::cli {

namespace {

constexpr int kMostConnections = 256; // a few descriptors and a thread each: well within a process's share
// What one connection may hold open at once: its socket, its worker's wake-up, a name lookup's socket.
constexpr std::size_t kDescriptorsPerConnection = 3;
// Addresses that could not be examined are named on standard error up to this many, then counted.
constexpr std::size_t kNamedUnexamined = 10;
constexpr const char* kDiscoverHelp =
    "find the receipt printers at the addresses of networks you manage: each address's raw port gets "
    "DLE EOT 1 to 4 and GS I 65 to 67 only, nothing that prints or changes a setting";
constexpr const char* kDiscoverFooter =
    "\nWhat takes the connection is a printer when it answers DLE EOT 1 with one status byte within "
    "0.8 s; it is then asked for its firmware, maker and model (GS I 65, 66, 67) and its status (DLE EOT 1 "
    "to 4), and the connection is closed. Addresses that refuse the connection, do not answer within the "
    "connect timeout or cannot be reached are left out. An address this machine could not try (no socket "
    "to be had, with too few open files allowed, say) is no empty address: it is named on standard error "
    "and the exit status is 2.\nExit status: 0 when the sweep ran and tried every address, whether printers "
    "were found or not; 1 usage, also more addresses than --max-addresses; 2 a TARGET host name was "
    "not found, or an address could not be tried (the rest is swept), or even the hard open files limit "
    "(ulimit -Hn) is too low for --connections (nothing is sent); 3 --timeout ran out; 130 Ctrl-C, 129, 141, "
    "143 as for the other "
    "commands; when stopped, the printers found until then are listed.\nSweep only networks you "
    "manage.\n\nExamples:\n"
    "  pinwright-cli discover 192.168.1.0/24\n"
    "  pinwright-cli discover --json 192.168.1.20-60 till3.shop.lan\n"
    "  pinwright-cli discover --inventory 10.0.4.0/24 > printers.yml\n";

using Clock = std::chrono::steady_clock;
using Job = std::function<void(std::uint64_t index, DeviceServices& services)>;

// One worker of the pool, on device services of its own: the platform's, traced when asked, and cut short
// once stopped.
struct PoolWorker {
    std::unique_ptr<DeviceServices> platform;
    std::unique_ptr<TracingDeviceServices> traced;
    std::unique_ptr<InterruptibleDeviceServices> top;
    ThreadHandle thread = 0;
    std::atomic<bool> done{false};
};

struct PoolRun {
    int stopExit = 0;      // 128 + the signal that stopped it, kExitNoAnswer at --timeout, or 0
    bool noThread = false; // not one worker could be started: nothing was done
};

// Runs `job` for every index below `count`, each once, on at most `most` workers at once. A stop request
// (Ctrl-C) or the end of the run's time stops every worker at once; the indexes not yet taken are never
// run.
PoolRun RunPool(std::uint64_t count, int most, TraceSink* trace, StopRequests& requests,
                std::optional<Clock::time_point> deadline, std::atomic<bool>& stop, const Job& job) {
    PoolRun run;
    std::atomic<std::uint64_t> next{0};
    const std::size_t n =
        static_cast<std::size_t>(std::min<std::uint64_t>(count, static_cast<std::uint64_t>(most)));
    std::vector<std::unique_ptr<PoolWorker>> workers;
    for (std::size_t i = 0; i < n; ++i) {
        auto w = std::make_unique<PoolWorker>();
        w->platform = NewPlatformServices();
        DeviceServices* below = w->platform.get();
        if (trace) {
            // Each line names the address it was opened by.
            w->traced = std::make_unique<TracingDeviceServices>(*below, *trace);
            below = w->traced.get();
        }
        w->top = std::make_unique<InterruptibleDeviceServices>(*below, stop);
        workers.push_back(std::move(w));
    }
    bool started = false;
    for (auto& w : workers) {
        PoolWorker* p = w.get();
        p->thread = p->top->StartThread([p, &next, count, &stop, &job] {
            for (;;) {
                if (stop.load()) break;
                const std::uint64_t i = next.fetch_add(1);
                if (i >= count) break;
                job(i, *p->top);
            }
            p->done.store(true);
        });
        if (p->thread == 0) p->done.store(true); // the others take its share
        started = started || p->thread != 0;
    }
    if (!started && count > 0) {
        run.noThread = true;
        return run;
    }
    while (!std::all_of(workers.begin(), workers.end(), [](auto& w) { return w->done.load(); })) {
        int requested = requests.Wait(50);
        if (requested == 0 && deadline && Clock::now() >= *deadline) requested = kExitNoAnswer;
        if (requested == 0 || run.stopExit != 0) continue;
        run.stopExit = requested;
        stop.store(true);
        for (auto& w : workers)
            if (w->thread != 0) w->top->StopThread(w->thread);
    }
    for (auto& w : workers)
        if (w->thread != 0) w->top->JoinThread(w->thread);
    return run;
}

std::string TooMany(std::uint64_t count, std::uint64_t most) {
    return "the TARGETs make " + std::to_string(count) + " addresses, more than the " + std::to_string(most) +
           " of one run: give --max-addresses " + std::to_string(count) +
           " to sweep them all (sweep only networks you manage)";
}

std::string Plural(std::uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Output that cannot be written changes only the exit status.
int Print(std::FILE* f, const std::string& text, int code) {
    return WriteOutput(f, text) ? code : OutputGoneExit();
}

} // namespace

CLI::App* AddDiscoverCommand(CLI::App& app, DiscoverOptions& d) {
    auto* c = app.add_subcommand("discover", kDiscoverHelp);
    c->add_option("TARGET", d.targets,
                  "an IPv4 address, network (192.168.1.0/24: .1 to .254) or range (192.168.1.20-60: .20 to "
                  ".60), an IPv6 address, or a host name (all its addresses); each address is swept once, "
                  "the results in address order")
        ->required();
    c->add_option("--port", d.port, "the raw TCP port tried on every address (default 9100)")
        ->type_name("N")
        ->check(CLI::Range(1, 65535));
    c->add_option("--connections", d.connections,
                  "at most N connections at once (1 to " + std::to_string(kMostConnections) + ", default 64)")
        ->type_name("N")
        ->check(CLI::Range(1, kMostConnections));
    c->add_option("--connect-timeout", d.connectTimeout,
                  "give up on an address that neither takes nor refuses the connection within SECONDS "
                  "(0.1 to 60, default 1); a host name's lookup gets as long")
        ->type_name("SECONDS")
        ->check(CLI::Range(0.1, 60.0));
    c->add_flag("--all", d.all, "also list what took the connection but is no ESC/POS printer");
    c->add_flag("--inventory", d.inventory,
                "print the printers as an Ansible YAML inventory (group receipt_printers; printer_port, "
                "printer_maker, printer_model, the printer's texts tagged !unsafe) instead of the table");
    c->add_option("--max-addresses", d.maxAddresses,
                  "sweep up to N addresses in one run (default 4096); more is a usage error")
        ->type_name("N")
        ->check(CLI::Range(std::uint64_t{1}, std::uint64_t{1} << 32));
    c->footer(kDiscoverFooter);
    return c;
}

std::string CheckDiscover(DiscoverOptions& d, bool json, bool check) {
    if (check) return "--check changes nothing: discover only reads, so it has nothing to check";
    if (json && d.inventory) return "--inventory writes YAML and --json JSON: give one of them";
    d.parsed = Targets{};
    for (const std::string& target : d.targets) {
        std::string error;
        if (!AddTarget(target, d.parsed, error)) return "bad TARGET '" + target + "': " + error;
    }
    const std::uint64_t count = d.parsed.addresses.Count();
    if (count > d.maxAddresses) return TooMany(count, d.maxAddresses);
    return {};
}

int RunDiscover(const Options& o, std::FILE* out, std::FILE* err) {
    const DiscoverOptions& d = o.discover;
    const auto limitMs = static_cast<std::uint32_t>(std::lround(d.connectTimeout * 1000));
    std::unique_ptr<TraceSink> trace;
    if (!OpenTrace(o.trace, err, trace)) return kExitUsage;
    // Ctrl-C is taken here, between waits; blocked in the workers, which start later.
    StopRequests requests;
    std::atomic<bool> stop{false};
    MessageLog log(err);
    int code = kExitOk;
    AddressSet addresses = d.parsed.addresses;
    const std::vector<std::string>& names = d.parsed.names;

    // Every connection needs descriptors: the soft limit is raised to what they need, and a run that even
    // the hard limit cannot hold is refused before anything is sent. A host name may stand for many
    // addresses.
    const std::uint64_t atOnce =
        std::min<std::uint64_t>(names.empty() ? addresses.Count() : std::uint64_t{1} << 32,
                                static_cast<std::uint64_t>(d.connections));
    std::string limitProblem;
    if (!AllowDescriptors(DescriptorsBesidePorts() + kDescriptorsPerConnection * atOnce, limitProblem)) {
        WriteOutput(err, "pinwright-cli: discover with " + Plural(atOnce, "connection", "connections") +
                             " at once: " + limitProblem + "; nothing was sent. Give fewer --connections.\n");
        return kExitCannotOpen;
    }

    // The host names first: each one's addresses join the others.
    struct Lookup {
        bool ok = false;
        std::vector<std::string> found;
        std::string problem;
    };
    std::vector<Lookup> lookups(names.size());
    std::optional<Clock::time_point> deadline;
    if (o.timeout > 0) deadline = Clock::now() + std::chrono::seconds(o.timeout);
    PoolRun run = RunPool(names.size(), d.connections, nullptr, requests, deadline, stop,
                          [&](std::uint64_t i, DeviceServices& os) {
                              NetworkAddress a;
                              a.host = names[i];
                              a.port = static_cast<std::uint16_t>(d.port);
                              Lookup& l = lookups[i];
                              l.ok = os.LookUpHost(a.Name(), limitMs, l.found, l.problem);
                          });
    if (run.stopExit == 0 && !run.noThread) {
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (!lookups[i].ok) {
                log.Line("pinwright-cli: " + lookups[i].problem + " It was not swept.");
                code = kExitCannotOpen;
                continue;
            }
            for (const std::string& address : lookups[i].found) addresses.AddNumeric(address);
        }
        if (addresses.Count() > d.maxAddresses) {
            log.Line("pinwright-cli: " + TooMany(addresses.Count(), d.maxAddresses));
            return kExitUsage;
        }
    }

    // The sweep.
    std::mutex mutex;
    std::vector<std::pair<std::uint64_t, Discovered>> found;
    // Addresses this machine could not try, with why: they say nothing of what is there.
    std::vector<std::pair<std::uint64_t, std::string>> unexamined;
    std::atomic<std::uint64_t> swept{0}, others{0};
    const std::uint64_t count = addresses.Count();
    if (run.stopExit == 0 && !run.noThread)
        run = RunPool(count, d.connections, trace.get(), requests, deadline, stop,
                      [&](std::uint64_t i, DeviceServices& os) {
                          NetworkAddress a;
                          a.host = addresses.At(i);
                          a.port = static_cast<std::uint16_t>(d.port);
                          a.bracketed = addresses.IsIpv6(i);
                          a.numeric = true;
                          CPrinterPort printer(os);
                          printer.m_strPort = a.Name();
                          printer.m_nConnectLimitMs = limitMs;
                          if (printer.Open()) {
                              PrinterProbe probe = ProbePrinter(printer);
                              printer.Close();
                              if (stop.load()) return; // cut short: it says nothing of the address
                              if (!probe.printer) others.fetch_add(1);
                              if (probe.printer || d.all) {
                                  std::lock_guard lock(mutex);
                                  found.emplace_back(i, Discovered{a.host, a.Name(), std::move(probe)});
                              }
                          } else if (stop.load()) {
                              return; // given up on: it says nothing of the address
                          } else if (os.GetLastError() != kErrorGenFailure) {
                              // Not refused, unanswered or unreachable: the connection was never tried.
                              std::lock_guard lock(mutex);
                              unexamined.emplace_back(i, os.LastOpenProblem());
                              return;
                          }
                          swept.fetch_add(1);
                      });
    if (run.noThread) {
        log.Line("pinwright-cli: no thread could be started for discover; nothing was sent.");
        return kExitCannotOpen;
    }

    std::sort(found.begin(), found.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
    std::sort(unexamined.begin(), unexamined.end());
    for (std::size_t k = 0; k < unexamined.size() && k < kNamedUnexamined; ++k)
        log.Line("pinwright-cli: " + addresses.At(unexamined[k].first) +
                 " could not be tried: " + unexamined[k].second);
    if (unexamined.size() > kNamedUnexamined)
        log.Line("pinwright-cli: and " +
                 Plural(unexamined.size() - kNamedUnexamined, "address", "addresses") +
                 " more could not be tried.");
    if (!unexamined.empty()) code = std::max(code, kExitCannotOpen);
    std::vector<Discovered> results;
    std::uint64_t printers = 0;
    for (auto& [index, result] : found) {
        printers += result.probe.printer ? 1 : 0;
        results.push_back(std::move(result));
    }
    const std::string text = d.inventory ? DiscoveredInventory(results)
                             : o.json    ? DiscoveredJson(results)
                                         : DiscoveredTable(results);
    const int printed = Print(out, text, code);
    if (run.stopExit != 0) {
        // The stop's own status; what could not be tried until then was said above.
        log.Line(std::string("pinwright-cli: discover ") +
                 (run.stopExit == kExitNoAnswer ? "ran out of --timeout" : "stopped") + " after " +
                 std::to_string(swept.load()) + " of " + Plural(count, "address", "addresses") +
                 "; the printers found until then are listed.");
        return run.stopExit;
    }
    const std::string tried = unexamined.empty() ? "" : std::to_string(count - unexamined.size()) + " of ";
    std::string summary = "pinwright-cli: " + tried + Plural(count, "address", "addresses") +
                          " tried at port " + std::to_string(d.port) + ": " +
                          Plural(printers, "printer", "printers");
    if (others.load() > 0)
        summary += ", and " + std::to_string(others.load()) + " that took the connection but " +
                   (others.load() == 1 ? "is" : "are") + " no printer" + (d.all ? "" : " (--all lists them)");
    if (!unexamined.empty())
        summary += "; " + Plural(unexamined.size(), "address", "addresses") +
                   " could not be tried, so what is there is not known";
    log.Line(summary + ".");
    return printed;
}

} // namespace pw::cli
