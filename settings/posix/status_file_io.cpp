// Saving and reading status files on POSIX: a temporary file beside the target, fsync, rename.
#include "settings/status_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pw {

namespace {

mode_t CurrentUmask() {
    const mode_t u = ::umask(0);
    ::umask(u);
    return u;
}

std::string Why(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno) + ".";
}

} // namespace

bool SaveStatusFile(const std::string& path, const SwitchModel& m, std::string& error) {
    const auto bytes = EncodeStatus(m);
    struct stat st {};
    const bool existed = ::stat(path.c_str(), &st) == 0;
    if (existed && !S_ISREG(st.st_mode)) {
        error = "Cannot save " + path + ": it is not a regular file.";
        return false;
    }
    // The new file gets the old one's permissions, or those a newly created file would get.
    const mode_t mode = existed ? (st.st_mode & 07777) : (0666 & ~CurrentUmask());
    const auto slash = path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    std::string tmp =
        (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + ".pinwright-XXXXXX";
    int fd = ::mkstemp(tmp.data());
    if (fd < 0) {
        error = Why("Cannot write in the folder of", path);
        return false;
    }
    auto fail = [&](const std::string& what) {
        error = Why(what, path);
        ::close(fd);
        ::unlink(tmp.c_str());
        return false;
    };
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return fail("Cannot write");
        done += static_cast<std::size_t>(n);
    }
    if (::fchmod(fd, mode) != 0 || ::fsync(fd) != 0) return fail("Cannot write");
    if (::close(fd) != 0) {
        error = Why("Cannot write", path);
        ::unlink(tmp.c_str());
        return false;
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        error = Why("Cannot save", path);
        ::unlink(tmp.c_str());
        return false;
    }
    if (int d = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); d >= 0) {
        ::fsync(d);
        ::close(d);
    }
    return true;
}

bool ReadStatusFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        error = Why("Cannot open", path);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        error = "Cannot load " + path + ": it is not a regular file.";
        return false;
    }
    bytes.assign(kStatusFileSize + 1, 0);
    std::size_t got = 0;
    while (got < bytes.size()) {
        ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = Why("Cannot read", path);
            ::close(fd);
            return false;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    bytes.resize(got);
    return true;
}

} // namespace pw
