// The exporter's two files: --config.file (what may be probed, and how) and --web.config.file (TLS and
// basic authentication, in the format other Prometheus exporters read). Both are strict: a key the
// exporter does not know is an error, never ignored, so that a misspelt setting cannot pass unseen.
#pragma once

#include "cli/settings_table.h"
#include "exporter/target_policy.h"

#include <map>
#include <string>
#include <vector>

namespace pw::exporter {

struct Module {
    cli::LineOptions line; // serial ports; baud: auto searches the line with status queries only
    bool identity = false; // GS I 65, 66, 67 after the status, for pinwright_printer_info
    double timeoutSeconds = 5;
};

struct ExporterConfig {
    std::vector<AllowEntry> allow;
    std::map<std::string, Module> modules; // always holds "default"
    double minIntervalSeconds = 5;         // a target's result is reused this long
    int maxConcurrentProbes = 32;          // exchanges at once; more are answered 503
    std::size_t maxTargetLength = 512;
};

// Parses YAML text; false with `error` naming the key or value that is wrong.
bool ParseExporterConfig(const std::string& text, ExporterConfig& config, std::string& error);

struct WebConfig {
    bool tls = false;
    std::string certFile, keyFile, clientCaFile;
    std::string clientAuthType = "NoClientCert";
    std::string minVersion = "TLS12", maxVersion = "TLS13";
    std::map<std::string, std::string> users; // name -> bcrypt hash
};

bool ParseWebConfig(const std::string& text, WebConfig& config, std::string& error);

// A whole file as text; false with `error` when it cannot be read.
bool ReadTextFile(const std::string& path, std::string& text, std::string& error);

// "5s", "1.5s", "500ms", "1m", or a bare number of seconds. False when it is none of them or not above 0.
bool ParseDuration(const std::string& text, double& seconds);

} // namespace pw::exporter
