// Runs pinwright-sim for a test: starts it with the given options, learns its printers' pseudo-terminals (or,
// with --listen, their TCP addresses) from its first lines, and stops it with SIGTERM when the test ends.
#pragma once

#include <string>
#include <vector>

namespace pw::test {

class SimProcess {
  public:
    // As many printers as `args` ask for: --count N pseudo-terminals, or one a --listen; else one.
    explicit SimProcess(std::vector<std::string> args = {}, bool captureStderr = false);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // The first printer's pseudo-terminal.
    const std::string& PtyPath() const { return m_pty; }
    // With --listen: the first printer's bound address as the port names it, "tcp://127.0.0.1:40123".
    const std::string& NetworkName() const { return m_tcp; }
    // Every printer's name as the port takes it, in the order of the simulator's lines: the pseudo-terminal's
    // path, or "tcp://ADDRESS:PORT".
    const std::vector<std::string>& Names() const { return m_names; }
    // With --control FILE among the options: writes `lines` to FILE, has the simulator read it (SIGUSR1) and
    // waits, 5 s at most, for its answer. Returns "" once the faults are in force, else what went wrong.
    std::string Control(const std::string& lines);
    // Stops the process; returns its exit status (or -1 when it did not exit normally).
    int Stop();
    // What it wrote to standard error (with captureStderr), after Stop().
    std::string Stderr() const;

    static std::string BinaryPath();

  private:
    // One line of the simulator's standard output, without its newline; false when none came in `timeoutMs`.
    bool ReadLine(std::string& line, int timeoutMs);

    int m_pid = -1;
    int m_out = -1; // the simulator's standard output
    std::string m_pending;
    std::string m_pty;
    std::string m_tcp;
    std::vector<std::string> m_names;
    std::string m_controlPath;
    int m_controls = 0;
    std::string m_stderrFile;
    int m_status = -1;
};

} // namespace pw::test
