// Runs pinwright-cli for a test: standard output and error go to files, the exit status is waited for
// within a bound, and a signal can be sent while it runs.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace pw::test {

// How the program is started besides its arguments and environment.
struct CliStart {
    bool readerGone = false; // standard output and error are pipes whose reader has gone
    // Nonzero: the process's address space and stack limits (setrlimit), to make thread starts fail.
    unsigned long long addressSpace = 0, stack = 0;
    // Nonzero: the open files limit (RLIMIT_NOFILE), soft and hard.
    unsigned long long openFilesSoft = 0, openFilesHard = 0;
    // Nonempty (root only): run as that user, with that user's groups, from a copy they may run.
    std::string asUser;
};

class CliProcess {
  public:
    // Starts the program with `args`; `env` entries are set in its environment.
    explicit CliProcess(std::vector<std::string> args, std::map<std::string, std::string> env = {},
                        CliStart start = {});
    ~CliProcess();
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    void Signal(int sig);
    // The exit status, or -1 when it had not ended within `timeoutMs` (it is then killed) or did not exit
    // normally (a signal ended it; which one is in KilledBy()). Once it has exited, output of --json that is
    // JSON must follow the schema in docs/ (a test failure otherwise).
    int Wait(int timeoutMs);
    int KilledBy() const { return m_signal; }
    std::string Stdout() const;
    std::string Stderr() const;

    static std::string BinaryPath();

  private:
    int m_pid = -1;
    int m_status = -1;
    int m_signal = 0;
    std::vector<std::string> m_args;
    std::string m_out, m_err, m_copyDir;
};

// Runs to its end within `timeoutMs`.
struct CliRun {
    int exit;
    std::string out, err;
};
CliRun RunCli(std::vector<std::string> args, int timeoutMs = 60000,
              std::map<std::string, std::string> env = {});
// The same as another user (root only).
CliRun RunCliAs(const std::string& user, std::vector<std::string> args, int timeoutMs = 60000,
                std::map<std::string, std::string> env = {});

// Waits until `path` holds `text`, checking every 10 ms for at most `timeoutMs`.
bool WaitForText(const std::string& path, const std::string& text, int timeoutMs);
std::string ReadWhole(const std::string& path);

} // namespace pw::test
