#include "tests/support/cli_process.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace pw::test {

namespace {
std::string TempFile(const char* what) {
    std::string name = std::string("/tmp/pw-cli-") + what + "-XXXXXX";
    int fd = ::mkstemp(name.data());
    if (fd < 0) throw std::runtime_error("mkstemp");
    ::close(fd);
    return name;
}
} // namespace

std::string CliProcess::BinaryPath() {
    // A copy of the tests run elsewhere (as another user, say) finds the program through the environment.
    if (const char* path = std::getenv("PINWRIGHT_CLI"); path && *path) return path;
    return PINWRIGHT_CLI_PATH;
}

CliProcess::CliProcess(std::vector<std::string> args, std::map<std::string, std::string> env, CliStart start)
    : m_out(TempFile("out")), m_err(TempFile("err")) {
    int gone[2] = {-1, -1};
    if (start.readerGone && ::pipe(gone) != 0) throw std::runtime_error("pipe");
    m_pid = ::fork();
    if (m_pid == 0) {
        if (start.readerGone) {
            ::close(gone[0]); // nobody reads: every write fails with EPIPE
            ::dup2(gone[1], 1);
            ::dup2(gone[1], 2);
        } else {
            int out = ::open(m_out.c_str(), O_WRONLY | O_TRUNC);
            int err = ::open(m_err.c_str(), O_WRONLY | O_TRUNC);
            ::dup2(out, 1);
            ::dup2(err, 2);
        }
        if (start.addressSpace) {
            const rlimit as{start.addressSpace, start.addressSpace};
            ::setrlimit(RLIMIT_AS, &as);
        }
        if (start.stack) {
            const rlimit stack{start.stack, start.stack};
            ::setrlimit(RLIMIT_STACK, &stack);
        }
        for (auto& [k, v] : env) ::setenv(k.c_str(), v.c_str(), 1);
        std::vector<char*> argv;
        std::string bin = BinaryPath();
        argv.push_back(bin.data());
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(bin.c_str(), argv.data());
        ::_exit(127);
    }
    if (start.readerGone) {
        ::close(gone[0]);
        ::close(gone[1]);
    }
}

CliProcess::~CliProcess() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    ::unlink(m_out.c_str());
    ::unlink(m_err.c_str());
}

void CliProcess::Signal(int sig) {
    if (m_pid > 0) ::kill(m_pid, sig);
}

int CliProcess::Wait(int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (m_pid > 0) {
        int status = 0;
        const int r = ::waitpid(m_pid, &status, WNOHANG);
        if (r == m_pid) {
            m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            m_signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
            m_pid = -1;
            break;
        }
        if (std::chrono::steady_clock::now() >= end) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            m_pid = -1;
            m_status = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return m_status;
}

std::string CliProcess::Stdout() const {
    return ReadWhole(m_out);
}

std::string CliProcess::Stderr() const {
    return ReadWhole(m_err);
}

CliRun RunCli(std::vector<std::string> args, int timeoutMs, std::map<std::string, std::string> env) {
    CliProcess p(std::move(args), std::move(env));
    const int exit = p.Wait(timeoutMs);
    return {exit, p.Stdout(), p.Stderr()};
}

bool WaitForText(const std::string& path, const std::string& text, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (ReadWhole(path).find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace pw::test
