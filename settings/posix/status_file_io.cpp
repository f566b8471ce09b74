// Saving and reading status files on POSIX: a temporary file beside the target, fsync, then rename (a save)
// or link (a new file that must not replace one).
#include "settings/status_file.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace pw {

namespace {

// The file a save writes: a symbolic link is followed to its target, so the link stays a link.
bool SaveTarget(const std::string& path, std::string& target, std::string& error) {
    namespace fs = std::filesystem;
    fs::path p = path;
    std::error_code ec;
    for (int hops = 0; fs::is_symlink(fs::symlink_status(p, ec)); ++hops) {
        if (hops == 40) {
            error = "Cannot save " + path + ": too many levels of symbolic links.";
            return false;
        }
        const fs::path link = fs::read_symlink(p, ec);
        if (ec) {
            error = "Cannot save " + path + ": " + ec.message() + ".";
            return false;
        }
        p = link.is_absolute() ? link : p.parent_path() / link;
    }
    target = p.string();
    return true;
}

// A new file beside `path` with a name of its own; created 0666 less the umask, as any new file is.
int CreateBeside(const std::string& path, std::string& tmp) {
    const auto slash = path.find_last_of('/');
    const std::string prefix = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        tmp = prefix + ".pinwright-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
        const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

std::string Why(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno) + ".";
}

// Writes `bytes` to a new file beside `path`, flushed and closed, with the mode `keep` gives (else the
// one it was created with); its name in `tmp`. On failure nothing is left behind.
bool WriteBeside(const std::string& path, const std::string& requested,
                 const std::array<std::uint8_t, kStatusFileSize>& bytes, const struct stat* keep,
                 std::string& tmp, std::string& error) {
    int fd = CreateBeside(path, tmp);
    if (fd < 0) {
        error = Why("Cannot write in the folder of", requested);
        return false;
    }
    auto fail = [&](const std::string& why) {
        error = why;
        ::close(fd);
        ::unlink(tmp.c_str());
        return false;
    };
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return fail(Why("Cannot write", requested));
        if (n == 0) return fail("Cannot write " + requested + ": the disk took no more bytes.");
        done += static_cast<std::size_t>(n);
    }
    if (keep && ::fchmod(fd, keep->st_mode & 07777) != 0) return fail(Why("Cannot write", requested));
    if (::fsync(fd) != 0) return fail(Why("Cannot write", requested));
    if (::close(fd) != 0) {
        error = Why("Cannot write", requested);
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

void SyncFolder(const std::string& dir) {
    if (int d = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); d >= 0) {
        ::fsync(d);
        ::close(d);
    }
}

// Writes the file at `path` only if nothing has that name: O_EXCL never opens a link, dangling or not.
// For folders whose file system has no hard links.
bool CreateInPlace(const std::string& path, const std::array<std::uint8_t, kStatusFileSize>& bytes,
                   bool& taken, std::string& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        taken = errno == EEXIST;
        error = Why("Cannot write", path);
        return false;
    }
    std::size_t done = 0;
    bool ok = true;
    while (ok && done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<std::size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    if (!ok) error = Why("Cannot write", path);
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = Why("Cannot write", path);
    }
    if (!ok) ::unlink(path.c_str());
    return ok;
}

} // namespace

bool SaveStatusFile(const std::string& requested, const SwitchModel& m, std::string& error) {
    const auto bytes = EncodeStatus(m);
    std::string path;
    if (!SaveTarget(requested, path, error)) return false;
    struct stat st {};
    const bool existed = ::stat(path.c_str(), &st) == 0;
    if (existed && !S_ISREG(st.st_mode)) {
        error = "Cannot save " + requested + ": it is not a regular file.";
        return false;
    }
    std::string tmp;
    // A file that existed keeps its permissions; a new one has those it was created with.
    if (!WriteBeside(path, requested, bytes, existed ? &st : nullptr, tmp, error)) return false;
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        error = Why("Cannot save", requested);
        ::unlink(tmp.c_str());
        return false;
    }
    SyncFolder(FolderOf(path));
    return true;
}

bool CreateStatusFile(const std::string& path, const SwitchModel& m, bool& taken, std::string& error) {
    taken = false;
    const auto bytes = EncodeStatus(m);
    std::string tmp;
    if (!WriteBeside(path, path, bytes, nullptr, tmp, error)) return false;
    // link() puts the whole file in place, and fails with EEXIST when anything has the name.
    const bool linked = ::link(tmp.c_str(), path.c_str()) == 0;
    const int linkError = errno;
    ::unlink(tmp.c_str());
    if (linked) {
        SyncFolder(FolderOf(path));
        return true;
    }
    if (linkError == EEXIST) {
        taken = true;
        error = "Cannot write " + path + ": the name is taken.";
        return false;
    }
    if (linkError != EPERM && linkError != EOPNOTSUPP && linkError != ENOSYS && linkError != EMLINK) {
        errno = linkError;
        error = Why("Cannot write", path);
        return false;
    }
    if (!CreateInPlace(path, bytes, taken, error)) return false;
    SyncFolder(FolderOf(path));
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
