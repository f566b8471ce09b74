// pinwright-cli: the printer work of the dialogs from scripts, on many printers at once.
#include "cli/options.h"
#include "cli/run.h"

#include <cstdio>

int main(int argc, char** argv) {
    pw::cli::Options options;
    const pw::cli::ParseOutcome parsed = pw::cli::ParseArguments({argv + 1, argv + argc}, options);
    std::fputs(parsed.out.c_str(), stdout);
    std::fputs(parsed.err.c_str(), stderr);
    if (parsed.exit >= 0) return parsed.exit;
    return pw::cli::Run(options, stdout, stderr);
}
