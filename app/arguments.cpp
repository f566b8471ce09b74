#include "app/arguments.h"

#include "pinwright_version.h"

#include <cstdio>
#include <string>

namespace pw {

int HandleArguments(int argc, char** argv, const char* help) {
    static const char* kUsage = "Usage: pinwright [--help | --version]\n";
    if (argc < 2) return -1;
    const std::string first = argv[1];
    const bool isHelp = first == "--help" || first == "-h", isVersion = first == "--version";
    if (argc == 2 && isHelp) {
        std::fputs(kUsage, stdout);
        std::fputs(help, stdout);
        return 0;
    }
    if (argc == 2 && isVersion) {
        std::puts("pinwright " PINWRIGHT_VERSION);
        return 0;
    }
    const char* unexpected = (isHelp || isVersion) ? argv[2] : argv[1];
    std::fprintf(stderr, "pinwright: unexpected argument '%s'\n%sTry 'pinwright --help'.\n", unexpected,
                 kUsage);
    return 2;
}

} // namespace pw
