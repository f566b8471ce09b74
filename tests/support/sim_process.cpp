#include "tests/support/sim_process.h"

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
    std::string line;
    char c;
    pollfd p{out[0], POLLIN, 0};
    while (::poll(&p, 1, 5000) > 0 && ::read(out[0], &c, 1) == 1 && c != '\n') line += c;
    ::close(out[0]);
    if (line.rfind("tcp: ", 0) == 0) {
        m_tcp = "tcp://" + line.substr(5);
        return;
    }
    if (line.rfind("pty: ", 0) != 0) {
        Stop();
        throw std::runtime_error("pinwright-sim did not announce its pty or address: '" + line + "'");
    }
    m_pty = line.substr(5);
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
    return m_status;
}

std::string SimProcess::Stderr() const {
    std::ifstream in(m_stderrFile);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace pw::test
