// Runs a parsed command: a status file is checked first, then every port works on its own thread with its
// own device services, and the results are printed in the order the ports were given.
#pragma once

#include "cli/options.h"

#include <cstdio>
#include <string>

namespace pw::cli {

// Load Status's checks: the name must end in "sts", the file must read and decode; `error` tells why not.
bool LoadStatus(const std::string& path, SwitchModel& m, std::string& error);

// Results to `out`, messages to `err`; Ctrl-C (SIGINT, SIGTERM) stops the ports cleanly (exit 130).
// Returns the exit status.
int Run(const Options& options, std::FILE* out, std::FILE* err);

} // namespace pw::cli
