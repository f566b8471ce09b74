#include "tests/support/sim_process.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pw::test {

std::string SimProcess::BinaryPath() {
    // A copy of the tests run elsewhere (as another user, say) finds the program through the environment.
    if (const char* path = std::getenv("PINWRIGHT_SIM"); path && *path) return path;
    return PINWRIGHT_SIM_PATH;
}

SimProcess::SimProcess(std::vector<std::string> args, bool captureStderr) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    if (captureStderr) {
        char name[] = "/tmp/pw-sim-stderr-XXXXXX";
        int fd = ::mkstemp(name);
        ::close(fd);
        m_stderrFile = name;
    }
    m_pid = ::fork();
    if (m_pid == 0) {
        // The simulator ends with the test, even one that crashed: an orphan would hold the test's
        // output open and keep its runner waiting.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() == 1) ::_exit(127);
        ::dup2(out[1], 1);
        if (!m_stderrFile.empty()) {
            int fd = ::open(m_stderrFile.c_str(), O_WRONLY | O_TRUNC);
            ::dup2(fd, 2);
        }
        std::vector<char*> argv;
        std::string bin = BinaryPath();
        argv.push_back(bin.data());
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(bin.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    m_out = out[0];
    std::size_t printers = 1, listeners = 0;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--listen") ++listeners;
        if (i + 1 < args.size() && args[i] == "--count")
            printers = std::max(1ul, std::strtoul(args[i + 1].c_str(), nullptr, 10));
        if (i + 1 < args.size() && args[i] == "--control") m_controlPath = args[i + 1];
    }
    if (listeners > 0) printers = listeners;
    for (std::size_t i = 0; i < printers; ++i) {
        std::string line;
        const bool got = ReadLine(line, 5000);
        if (got && line.rfind("tcp: ", 0) == 0) {
            m_names.push_back("tcp://" + line.substr(5));
        } else if (got && line.rfind("pty: ", 0) == 0) {
            m_names.push_back(line.substr(5));
        } else {
            Stop();
            throw std::runtime_error("pinwright-sim did not announce printer " + std::to_string(i + 1) +
                                     "'s pty or address: '" + line + "'");
        }
    }
    (m_names.front().rfind("tcp://", 0) == 0 ? m_tcp : m_pty) = m_names.front();
}

bool SimProcess::ReadLine(std::string& line, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (const auto nl = m_pending.find('\n'); nl != std::string::npos) {
            line = m_pending.substr(0, nl);
            m_pending.erase(0, nl + 1);
            return true;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd p{m_out, POLLIN, 0};
        char buf[4096];
        ssize_t n = 0;
        if (m_out < 0 || left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0 ||
            (n = ::read(m_out, buf, sizeof buf)) <= 0) {
            line = m_pending;
            return false;
        }
        m_pending.append(buf, static_cast<std::size_t>(n));
    }
}

std::string SimProcess::Control(const std::string& lines) {
    if (m_controlPath.empty()) return "pinwright-sim was started without --control";
    {
        // Written whole before the simulator reads it: a new file put in the old one's place.
        const std::string tmp = m_controlPath + ".new";
        std::ofstream f(tmp, std::ios::trunc);
        f << lines << "\n";
        if (!f.flush()) return "cannot write " + tmp;
        f.close();
        if (std::rename(tmp.c_str(), m_controlPath.c_str()) != 0) return "cannot write " + m_controlPath;
    }
    const std::string expected = "control: " + std::to_string(++m_controls) + " ";
    if (m_pid <= 0 || ::kill(m_pid, SIGUSR1) != 0) return "pinwright-sim is not running";
    std::string line;
    while (ReadLine(line, 5000))
        if (line.rfind(expected, 0) == 0) return line == expected + "ok" ? "" : line;
    return "no answer from pinwright-sim within 5 s to " + expected + "(got '" + line + "')";
}

SimProcess::~SimProcess() {
    Stop();
    if (!m_stderrFile.empty()) ::unlink(m_stderrFile.c_str());
}

int SimProcess::Stop() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        int status = 0;
        // It ends within milliseconds of SIGTERM; one that does not is killed after 5 s.
        for (int i = 0; i < 500 && ::waitpid(m_pid, &status, WNOHANG) == 0; ++i) ::usleep(10000);
        if (::waitpid(m_pid, &status, WNOHANG) == 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, &status, 0);
        }
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        m_pid = -1;
    }
    if (m_out >= 0) ::close(m_out);
    m_out = -1;
    return m_status;
}

std::string SimProcess::Stderr() const {
    std::ifstream in(m_stderrFile);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace pw::test
