// The program's only arguments: --help and --version, answered before any window system starts.
#pragma once

namespace pw {

// --help prints `help` under the usage line and --version the version, each with status 0; anything
// else is refused with status 2. Returns -1 when there are no arguments and the program should start.
int HandleArguments(int argc, char** argv, const char* help);

} // namespace pw
