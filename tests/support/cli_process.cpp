#include "tests/support/cli_process.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <pwd.h>
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
std::string Quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string FromEnvironment(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

// The command of a command line: the first word that is not an option or an option's value.
std::string CommandOf(const std::vector<std::string>& args) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-p" || a == "--port" || a == "--baud" || a == "--data-bits" || a == "--parity" ||
            a == "--stop-bits" || a == "--trace" || a == "--backup" || a == "--timeout") {
            ++i;
            continue;
        }
        if (!a.empty() && a[0] != '-') return a;
    }
    return {};
}

// What the program printed with --json, when it is JSON, against the schema's definition for its command.
// Bounded: the validator is ended after 30 s.
void ExpectOutputFollowsTheSchema(const std::vector<std::string>& args, const std::string& outFile) {
    if (std::find(args.begin(), args.end(), "--json") == args.end()) return;
    const std::string command = CommandOf(args), out = ReadWhole(outFile);
    if (command.empty() || !nlohmann::json::accept(out)) return;
    // A copy of the tests run elsewhere (as another user) is told where the schema and validator are.
    const std::string schema = FromEnvironment("PINWRIGHT_CLI_SCHEMA", PINWRIGHT_CLI_SCHEMA_PATH);
    const std::string validator =
        FromEnvironment("PINWRIGHT_CLI_JSON_VALIDATOR", PINWRIGHT_CLI_JSON_VALIDATOR_PATH);
    const std::string line = "timeout -k 5 30 /usr/bin/python3 " + Quoted(validator) + " " + Quoted(schema) +
                             " " + Quoted(command) + " " + Quoted(outFile) + " 2>&1";
    std::string report;
    int status = -1;
    if (std::FILE* p = ::popen(line.c_str(), "r")) {
        char buffer[512];
        while (std::size_t n = std::fread(buffer, 1, sizeof buffer, p)) report.append(buffer, n);
        status = ::pclose(p);
    }
    if (status != 0)
        ADD_FAILURE() << "pinwright-cli's --json output of " << command
                      << " does not follow docs/pinwright-cli.schema.json:\n"
                      << report << "the output:\n"
                      << out;
}

} // namespace

std::string CliProcess::BinaryPath() {
    // A copy of the tests run elsewhere (as another user, say) finds the program through the environment.
    if (const char* path = std::getenv("PINWRIGHT_CLI"); path && *path) return path;
    return PINWRIGHT_CLI_PATH;
}

CliProcess::CliProcess(std::vector<std::string> args, std::map<std::string, std::string> env, CliStart start)
    : m_args(args), m_out(TempFile("out")), m_err(TempFile("err")) {
    const std::string& asUser = start.asUser;
    std::string bin = BinaryPath();
    const ::passwd* user = nullptr;
    if (!asUser.empty()) {
        user = ::getpwnam(asUser.c_str());
        if (!user) throw std::runtime_error("no user " + asUser);
        // The build folder may be closed to that user: the program runs from a copy in a folder of its own.
        std::string dir = "/tmp/pw-cli-as-XXXXXX";
        if (!::mkdtemp(dir.data())) throw std::runtime_error("mkdtemp");
        m_copyDir = dir;
        namespace fs = std::filesystem;
        fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec);
        fs::copy_file(bin, dir + "/pinwright-cli");
        bin = dir + "/pinwright-cli";
    }
    const uid_t uid = user ? user->pw_uid : 0;
    const gid_t gid = user ? user->pw_gid : 0;
    const std::string name = asUser;
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
        if (start.openFilesHard) {
            const rlimit files{start.openFilesSoft, start.openFilesHard};
            ::setrlimit(RLIMIT_NOFILE, &files);
        }
        if (start.stack) {
            const rlimit stack{start.stack, start.stack};
            ::setrlimit(RLIMIT_STACK, &stack);
        }
        for (auto& [k, v] : env) ::setenv(k.c_str(), v.c_str(), 1);
        if (!name.empty() &&
            (::initgroups(name.c_str(), gid) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0))
            ::_exit(126);
        std::vector<char*> argv;
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
    if (!m_copyDir.empty()) std::filesystem::remove_all(m_copyDir);
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
            if (m_status >= 0) ExpectOutputFollowsTheSchema(m_args, m_out);
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

CliRun RunCliAs(const std::string& user, std::vector<std::string> args, int timeoutMs,
                std::map<std::string, std::string> env) {
    CliStart start;
    start.asUser = user;
    CliProcess p(std::move(args), std::move(env), start);
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
