// The command line of pinwright-cli: what to do, on which ports, with which line settings.
#pragma once

#include "cli/address_targets.h"
#include "cli/settings_table.h"

#include <string>
#include <vector>

namespace pw::cli {

enum class Command { Check, SelfTest, Get, Set, Apply, Show, Ports, Status, Discover, Doctor };

// discover: where to look, and how.
struct DiscoverOptions {
    std::vector<std::string> targets; // as given
    int port = 9100;                  // the raw port tried on every address
    int connections = 64;             // at most this many at once
    double connectTimeout = 1;        // seconds
    bool all = false;                 // also list what answered as no printer
    bool inventory = false;           // an Ansible inventory instead of the table
    std::uint64_t maxAddresses = 4096;
    Targets parsed; // the targets as read, before the host names are looked up
};

struct Options {
    std::vector<std::string> ports; // as given; COMn, LPTn and USB in upper case; addresses with their port
    LineOptions line;
    bool json = false;
    bool check = false; // set, apply: read and compare only, never write
    bool force = false; // set, apply: write even when the printer holds every setting
    std::string trace;
    std::string backup; // set, apply: folder for the settings as read, before a write
    Command command = Command::Check;
    int selfTest = 0;                // self-test
    std::string output;              // get -o
    std::vector<Assignment> changes; // set
    std::string file;                // apply, show
    std::string metrics;             // status: Prometheus textfile to write
    int timeout = 0;                 // seconds for the whole run; 0 none
    DiscoverOptions discover;
    bool doctorProbe = false; // doctor --probe: ask the printers on local ports too
};

// How parsing ended: `exit` -1 to go on; otherwise end at once with that code after printing `out` on
// standard output (help, version) and `err` on standard error (a usage error).
struct ParseOutcome {
    int exit = -1;
    std::string out, err;
};

ParseOutcome ParseArguments(const std::vector<std::string>& args, Options& options);

} // namespace pw::cli
