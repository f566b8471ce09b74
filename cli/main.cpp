// pinwright-cli: the printer work of the dialogs from scripts, on many printers at once.
#include "cli/options.h"
#include "cli/run.h"

#include <cstdio>
#include <string>
#include <vector>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "link/win32/wide_text.h"
#endif

namespace {

// The rest of the program takes its arguments, and writes its output, as UTF-8.
int RunCli(const std::vector<std::string>& args) {
    pw::cli::Options options;
    const pw::cli::ParseOutcome parsed = pw::cli::ParseArguments(args, options);
    std::fputs(parsed.out.c_str(), stdout);
    std::fputs(parsed.err.c_str(), stderr);
    if (parsed.exit >= 0) return parsed.exit;
    return pw::cli::Run(options, stdout, stderr);
}

#ifdef _WIN32
// A console shows what is written to it in its output code page: UTF-8 while the program runs, and the
// console's own again after, for the programs that follow. Pipes and files take the bytes as they are.
class Utf8Console {
  public:
    Utf8Console() : m_previous(::GetConsoleOutputCP()) {
        if (m_previous != 0 && m_previous != CP_UTF8) ::SetConsoleOutputCP(CP_UTF8);
    }
    ~Utf8Console() {
        if (m_previous != 0 && m_previous != CP_UTF8) ::SetConsoleOutputCP(m_previous);
    }
    Utf8Console(const Utf8Console&) = delete;
    Utf8Console& operator=(const Utf8Console&) = delete;

  private:
    UINT m_previous;
};
#endif

} // namespace

#ifdef _WIN32
// The arguments as the system has them, in UTF-16: a name outside the ANSI code page ("C:\Users\José",
// "Ωmega.sts") reaches the program whole.
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(pw::win32::Narrow(argv[i]));
    Utf8Console console;
    return RunCli(args);
}
#else
int main(int argc, char** argv) {
    return RunCli({argv + 1, argv + argc});
}
#endif
