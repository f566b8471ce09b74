// Runs pinwright-sim for a test: starts it with the given options, learns its pseudo-terminal (or, with
// --listen, its TCP address) from the first line, and stops it with SIGTERM when the test ends.
#pragma once

#include <string>
#include <vector>

namespace pw::test {

class SimProcess {
  public:
    explicit SimProcess(std::vector<std::string> args = {}, bool captureStderr = false);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    const std::string& PtyPath() const { return m_pty; }
    // With --listen: the bound address as the port names it, "tcp://127.0.0.1:40123".
    const std::string& NetworkName() const { return m_tcp; }
    // Stops the process; returns its exit status (or -1 when it did not exit normally).
    int Stop();
    // What it wrote to standard error (with captureStderr), after Stop().
    std::string Stderr() const;

    static std::string BinaryPath();

  private:
    int m_pid = -1;
    std::string m_pty;
    std::string m_tcp;
    std::string m_stderrFile;
    int m_status = -1;
};

} // namespace pw::test
