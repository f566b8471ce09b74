#include "cli/run.h"

#include "cli/discover.h"
#include "cli/doctor.h"
#include "cli/metrics.h"
#include "cli/outside_text.h"
#include "cli/platform.h"
#include "cli/port_job.h"
#include "cli/render.h"
#include "link/interruptible_device_services.h"
#include "link/port_info.h"
#include "link/printer_port.h"
#include "link/tracing_device_services.h"
#include "link/usb_discovery.h"
#include "settings/status_file.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <filesystem>
#include <memory>

namespace pw::cli {

namespace {

constexpr const char* kWrongFormat = "Wrong format files loaded.";
// What one port may hold open at once: its device or connection, its worker's wake-up, a name lookup's
// socket, a backup being written.
constexpr std::size_t kDescriptorsPerPort = 4;

// One port's device services: the platform's own, traced when asked, and cut short once stopped.
struct PortServices {
    std::unique_ptr<DeviceServices> platform;
    std::unique_ptr<TracingDeviceServices> traced;
    std::unique_ptr<InterruptibleDeviceServices> top;
    ThreadHandle worker = 0;
    PortResult result;
    std::atomic<bool> done{false};
};

// Output that cannot be written changes only the exit status.
int Print(std::FILE* f, const std::string& text, int code) {
    return WriteOutput(f, text) ? code : OutputGoneExit();
}

} // namespace

bool LoadStatus(const std::string& path, SwitchModel& m, std::string& error) {
    const std::string name = std::filesystem::path(path).filename().string();
    if (name.size() < 3 || name.compare(name.size() - 3, 3, "sts") != 0) {
        error = kWrongFormat;
        return false;
    }
    std::vector<std::uint8_t> bytes;
    if (!ReadStatusFile(path, bytes, error)) return false;
    if (!DecodeStatus(bytes, m)) {
        error = kWrongFormat;
        return false;
    }
    return true;
}

int Run(const Options& o, std::FILE* out, std::FILE* err) {
    PortJob job;
    job.command = o.command;
    job.line = o.line;
    job.selfTest = o.selfTest;
    job.output = o.output;
    job.changes = o.changes;
    job.check = o.check;
    job.force = o.force;
    job.backup = o.backup;
    std::atomic<bool> timedOut{false};
    job.timedOut = &timedOut;
    job.timeout = o.timeout;
    if (o.command == Command::Show || o.command == Command::Apply) {
        std::string error;
        if (!LoadStatus(o.file, job.loaded, error)) {
            WriteOutput(err, ForTerminal(o.file) + ": " + ForTerminal(error) + "\n");
            return kExitUsage;
        }
        if (o.command == Command::Show)
            return Print(out,
                         o.json ? RenderShowJson(o.file, job.loaded) : RenderShowText(o.file, job.loaded),
                         kExitOk);
    }
    if (o.command == Command::Ports) {
        const std::vector<PortInfo> ports = DescribePorts();
        return Print(out, o.json ? RenderPortsJson(ports) : RenderPortsText(ports), kExitOk);
    }
    if (o.command == Command::Discover) return RunDiscover(o, out, err);
    if (o.command == Command::Doctor) return RunDoctor(o, out, err);

    std::unique_ptr<TraceSink> trace;
    if (!OpenTrace(o.trace, err, trace)) return kExitUsage;
    // Ctrl-C is taken here, between waits, never in the middle of a port's work.
    StopRequests requests;

    std::atomic<bool> stop{false};
    MessageLog log(err);
    // The USB discovery's lines are diagnostics: standard output is for results. The device paths in them
    // are text from outside.
    SetDiscoveryLineSink([&log](const std::string& line) { log.Line(line); });
    std::string limitProblem;
    if (!AllowDescriptors(DescriptorsBesidePorts() + kDescriptorsPerPort * o.ports.size(), limitProblem)) {
        WriteOutput(err, "pinwright-cli: " + std::to_string(o.ports.size()) + " ports at once: " +
                             limitProblem + "; nothing was sent. Give fewer ports in one run.\n");
        return kExitCannotOpen;
    }
    // The last port to finish wakes the wait below at once, so that one quick printer costs no polling.
    std::mutex finishedMutex;
    std::condition_variable finished;
    std::vector<std::unique_ptr<PortServices>> ports;
    auto allDone = [&] {
        return std::all_of(ports.begin(), ports.end(), [](auto& p) { return p->done.load(); });
    };
    for (const std::string& name : o.ports) {
        auto p = std::make_unique<PortServices>();
        p->platform = NewPlatformServices();
        DeviceServices* below = p->platform.get();
        if (trace) {
            p->traced = std::make_unique<TracingDeviceServices>(*below, *trace, name);
            below = p->traced.get();
        }
        p->top = std::make_unique<InterruptibleDeviceServices>(*below, stop);
        ports.push_back(std::move(p));
    }
    // Each port works on a worker of its own services, so that a stop also wakes a read it is blocked in.
    for (std::size_t i = 0; i < ports.size(); ++i) {
        PortServices* p = ports[i].get();
        const std::string name = o.ports[i];
        p->worker = p->top->StartThread([p, name, &job, &stop, &log, &finishedMutex, &finished] {
            p->result = RunPort(name, job, *p->top, stop, log);
            std::lock_guard lock(finishedMutex);
            p->done.store(true);
            finished.notify_all();
        });
        if (p->worker == 0) {
            // Nothing was sent to this printer; the others go on.
            p->result.port = name;
            p->result.exit = kExitCannotOpen;
            p->result.error = "No thread could be started for this port; nothing was sent.";
            log.Line(name, p->result.error);
            p->done.store(true);
        }
    }

    int stopExit = 0;
    bool warned = false;
    const auto started = std::chrono::steady_clock::now();
    auto stopAll = [&] {
        stop.store(true);
        for (auto& p : ports)
            if (p->worker != 0) p->top->StopThread(p->worker);
    };
    for (;;) {
        if (allDone()) break;
        const int requested = requests.Wait(0);
        if (requested == 0) {
            {
                std::unique_lock lock(finishedMutex);
                finished.wait_for(lock, std::chrono::milliseconds(50), allDone);
            }
            if (o.timeout > 0 && !stop.load() &&
                std::chrono::steady_clock::now() - started >= std::chrono::seconds(o.timeout)) {
                timedOut.store(true);
                stopAll();
            }
            continue;
        }
        if (stopExit == 0) {
            stopExit = requested;
            stopAll();
        } else if (!warned) {
            warned = true;
            WriteOutput(err,
                        "pinwright-cli: stopping; every printer is first taken out of user setting mode\n");
        }
    }
    for (auto& p : ports)
        if (p->worker != 0) p->top->JoinThread(p->worker);
    SetDiscoveryLineSink(nullptr);

    std::vector<PortResult> results;
    int code = kExitOk;
    for (auto& p : ports) {
        // A port stopped by the --timeout did not answer in time; by a signal, it was stopped.
        if (p->result.interrupted) p->result.exit = stopExit != 0 ? stopExit : kExitNoAnswer;
        results.push_back(p->result);
        code = std::max(code, p->result.exit);
    }
    // An interrupted run leaves the last complete file for the collector.
    if (!o.metrics.empty() && stopExit == 0) {
        std::string error;
        if (!WriteFileReplacing(o.metrics, MetricsText(results, std::time(nullptr)), error)) {
            WriteOutput(err, "pinwright-cli: " + ForTerminal(error) + "\n");
            code = std::max(code, kExitUsage);
        }
    }
    const int printed =
        Print(out, o.json ? RenderJson(results, o.command) : RenderText(results, o.command), code);
    return stopExit != 0 ? stopExit : printed;
}

} // namespace pw::cli
