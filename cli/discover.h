// pinwright-cli discover: the receipt printers at the addresses of networks the user manages. A fixed pool
// of workers, each with device services of its own (so that Ctrl-C wakes the one wait each is in), takes
// the addresses in turn: a connection to the raw port within a short limit of its own, and for what takes
// it ProbePrinter's status and identity queries, nothing else; then the connection is closed at once.
// Host names are looked up first, by the same pool.
#pragma once

#include "cli/options.h"

#include <cstdio>
#include <string>

namespace CLI {
class App;
}

namespace pw::cli {

// The command and its options, on `app`.
CLI::App* AddDiscoverCommand(CLI::App& app, DiscoverOptions& d);

// After parsing: reads the TARGETs into d.parsed and counts their addresses. The usage error, or empty.
std::string CheckDiscover(DiscoverOptions& d, bool json, bool check);

// Results to `out`, messages to `err`. The exit status: 0 when the sweep ran and tried every address,
// found printers or not; 2 when a TARGET host name could not be looked up or an address could not be tried
// (the rest is swept), or when even the hard open files limit cannot hold --connections (nothing is
// sent); 1 when a name's addresses make too many;
// 128 + the signal when stopped, 3 when --timeout ended it, after the printers found until then are listed.
int RunDiscover(const Options& o, std::FILE* out, std::FILE* err);

} // namespace pw::cli
