// Runs pinwright-cli for a test: standard output and error go to files, the exit status is waited for
// within a bound, and a signal can be sent while it runs.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace pw::test {

class CliProcess {
  public:
    // Starts the program with `args`; `env` entries are set in its environment. With `asUser` (root only)
    // it runs as that user, with that user's groups, from a copy they may run.
    explicit CliProcess(std::vector<std::string> args, std::map<std::string, std::string> env = {},
                        const std::string& asUser = {});
    ~CliProcess();
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    void Signal(int sig);
    // The exit status, or -1 when it had not ended within `timeoutMs` (it is then killed) or did not exit
    // normally. Once it has exited, output of --json that is JSON must follow the schema in docs/ (a test
    // failure otherwise).
    int Wait(int timeoutMs);
    std::string Stdout() const;
    std::string Stderr() const;

    static std::string BinaryPath();

  private:
    int m_pid = -1;
    int m_status = -1;
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
