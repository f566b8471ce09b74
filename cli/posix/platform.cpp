// pinwright-cli on Linux: device files are paths; SIGINT, SIGTERM, SIGHUP and SIGPIPE are blocked in every
// thread and taken with sigtimedwait.
#include "cli/platform.h"

#include "link/network_address.h"
#include "link/posix/device_names.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pw::cli {

namespace {
sigset_t StopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    sigaddset(&signals, SIGPIPE);
    return signals;
}
} // namespace

bool IsDevicePath(const std::string& port) {
    return !IsNetworkName(port) && port.find('/') != std::string::npos;
}

int DeviceFileKind(const std::string& path) {
    return posix::DeviceFileKind(path);
}

// A device file by where it leads.
std::string PortIdentity(const std::string& port) {
    if (!IsDevicePath(port)) return port;
    std::error_code ec;
    auto p = std::filesystem::weakly_canonical(port, ec);
    return ec ? port : p.string();
}

const char* PortHelp() {
    return "COM1..COM7, LPT1..LPT4, USB, a device file (/dev/ttyUSB0, /dev/usb/lp0, /dev/lp0), or a network "
           "printer tcp://HOST[:PORT] (port 9100 when left out; an IPv6 HOST in brackets)";
}

const char* UsageExamples() {
    return "  pinwright-cli -p COM1 get\n"
           "  pinwright-cli -p /dev/ttyUSB0 --baud 115200 set baud-rate=19200 code-page=PC858\n"
           "  pinwright-cli --json -p /dev/ttyUSB0 -p /dev/ttyUSB1 apply shop.sts\n"
           "  pinwright-cli -p tcp://192.168.1.50 -p tcp://till3.shop.lan apply shop.sts\n"
           "  pinwright-cli ports\n";
}

// Threads started later inherit the blocked mask. The signals stay blocked to the end: a late one must
// not kill the process before it prints the results.
StopRequests::StopRequests() {
    const sigset_t signals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

StopRequests::~StopRequests() = default;

int StopRequests::Wait(unsigned ms) {
    const sigset_t signals = StopSignals();
    const timespec wait{static_cast<std::time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000 * 1000};
    const int sig = sigtimedwait(&signals, nullptr, &wait);
    return sig > 0 ? 128 + sig : 0;
}

bool AllowDescriptors(std::size_t needed, std::string& problem) {
    rlimit l{};
    if (::getrlimit(RLIMIT_NOFILE, &l) != 0) return true; // nothing to go by: let the opens say
    if (l.rlim_cur == RLIM_INFINITY || l.rlim_cur >= needed) return true;
    if (l.rlim_max != RLIM_INFINITY && l.rlim_max < needed) {
        problem = "they need about " + std::to_string(needed) + " open files, and this process may open " +
                  std::to_string(l.rlim_max) + " at most (ulimit -Hn)";
        return false;
    }
    const rlim_t soft = l.rlim_cur;
    l.rlim_cur = l.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &l) == 0) return true;
    problem = "they need about " + std::to_string(needed) + " open files; this process may open " +
              std::to_string(soft) + " and could not raise that";
    return false;
}

std::size_t DescriptorsInUse() {
    // /proc/self/fd lists them, and the folder's own descriptor while it is read.
    if (DIR* d = ::opendir("/proc/self/fd")) {
        std::size_t n = 0;
        while (const dirent* e = ::readdir(d))
            if (e->d_name[0] != '.') ++n;
        ::closedir(d);
        return n > 0 ? n - 1 : 0;
    }
    // Without /proc: every number below the soft limit that is open.
    rlimit l{};
    const long most = ::getrlimit(RLIMIT_NOFILE, &l) == 0 && l.rlim_cur != RLIM_INFINITY
                          ? static_cast<long>(std::min<rlim_t>(l.rlim_cur, 65536))
                          : 1024;
    std::size_t n = 0;
    for (int fd = 0; fd < most; ++fd) n += ::fcntl(fd, F_GETFD) != -1 || errno != EBADF;
    return n;
}

bool WriteNewFileLike(const std::string& path, const std::string& like, const std::string& text,
                      std::string& error) {
    struct stat old {};
    const bool keep = ::stat(like.c_str(), &old) == 0 && S_ISREG(old.st_mode);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    bool ok = true;
    // The owner first: a change of owner clears the set-id bits a mode may then give back. Only root may
    // give a file away; others keep their own (EPERM), as any file they write.
    if (keep && ::fchown(fd, old.st_uid, old.st_gid) != 0 && errno != EPERM) ok = false;
    if (ok && ::fchmod(fd, keep ? old.st_mode & 07777 : 0644) != 0) ok = false;
    for (std::size_t done = 0; ok && done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            ok = false;
        } else {
            done += static_cast<std::size_t>(n);
        }
    }
    if (ok && ::fsync(fd) != 0) ok = false;
    if (!ok) error = path + ": " + std::strerror(errno);
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = path + ": " + std::strerror(errno);
    }
    if (!ok) ::unlink(path.c_str());
    return ok;
}

bool WriteOutput(std::FILE* out, const std::string& text) {
    errno = 0;
    const bool written = std::fputs(text.c_str(), out) >= 0 && std::fflush(out) == 0;
    if (!written) {
        // A worker thread's SIGPIPE would stay with that thread: make it the process's, where it is taken.
        if (errno == EPIPE) ::kill(::getpid(), SIGPIPE);
        std::clearerr(out);
    }
    return written;
}

int OutputGoneExit() {
    return 128 + SIGPIPE;
}

} // namespace pw::cli
