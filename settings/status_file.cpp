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

// Field order of the file.
struct Field {
    enum Kind { Sw2, Sw9, Sel } kind;
    int pin;                     // for pins
    int SwitchModel::*selection; // for selections
    int count;                   // list size of a selection
};

constexpr Field kFields[22] = {
    {Field::Sw2, 1, nullptr, 0},
    {Field::Sw2, 2, nullptr, 0},
    {Field::Sw2, 4, nullptr, 0},
    {Field::Sw2, 5, nullptr, 0},
    {Field::Sw2, 6, nullptr, 0},
    {Field::Sw2, 7, nullptr, 0},
    {Field::Sw2, 8, nullptr, 0},
    {Field::Sw9, 1, nullptr, 0},
    {Field::Sw9, 2, nullptr, 0},
    {Field::Sw9, 3, nullptr, 0},
    {Field::Sw9, 4, nullptr, 0},
    {Field::Sw9, 5, nullptr, 0},
    {Field::Sw9, 6, nullptr, 0},
    {Field::Sw9, 7, nullptr, 0},
    {Field::Sw9, 8, nullptr, 0},
    {Field::Sel, 0, &SwitchModel::m_nBaudSel, kBaudRateCount},
    {Field::Sel, 0, &SwitchModel::m_nDataBitsSel, kDataBitsCount},
    {Field::Sel, 0, &SwitchModel::m_nFlowSel, kFlowCount},
    {Field::Sel, 0, &SwitchModel::m_nParitySel, kParityCount},
    {Field::Sel, 0, &SwitchModel::m_nCutterSel, kCutterCount},
    {Field::Sel, 0, &SwitchModel::m_nAutoFeedSel, kAutoFeedCount},
    {Field::Sel, 0, &SwitchModel::m_nCodePageSel, kCodePageCount},
};

int& Slot(SwitchModel& m, const Field& f) {
    switch (f.kind) {
    case Field::Sw2:
        return m.m_sw2[f.pin - 1];
    case Field::Sw9:
        return m.m_sw9[f.pin - 1];
    default:
        return m.*f.selection;
    }
}

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

} // namespace

std::array<std::uint8_t, kStatusFileSize> EncodeStatus(const SwitchModel& model) {
    SwitchModel m = model;
    std::array<std::uint8_t, kStatusFileSize> out{};
    for (std::size_t i = 0; i < 22; ++i) {
        const auto v = static_cast<std::uint32_t>(Slot(m, kFields[i]));
        for (std::size_t b = 0; b < 4; ++b) out[i * 4 + b] = static_cast<std::uint8_t>(v >> (8 * b));
    }
    return out;
}

bool DecodeStatus(const std::vector<std::uint8_t>& bytes, SwitchModel& model) {
    if (bytes.size() != kStatusFileSize) return false;
    SwitchModel m = model;
    for (std::size_t i = 0; i < 22; ++i) {
        std::uint32_t u = 0;
        for (std::size_t b = 0; b < 4; ++b) u |= static_cast<std::uint32_t>(bytes[i * 4 + b]) << (8 * b);
        const auto v = static_cast<std::int32_t>(u);
        const Field& f = kFields[i];
        const bool ok = f.kind == Field::Sel ? (v >= -1 && v < f.count) : (v == 0 || v == 1);
        if (!ok) return false;
        Slot(m, f) = v;
    }
    // The cutter pin travels as the cutter selection; without one the pin stays as it was.
    if (m.m_nCutterSel >= 0) m.m_sw2[2] = m.m_nCutterSel;
    model = m;
    return true;
}

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
    const auto slash = path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    std::string tmp;
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
    // A file that existed keeps its permissions; a new one has those it was created with.
    if (existed && ::fchmod(fd, st.st_mode & 07777) != 0) return fail(Why("Cannot write", requested));
    if (::fsync(fd) != 0) return fail(Why("Cannot write", requested));
    if (::close(fd) != 0) {
        error = Why("Cannot write", requested);
        ::unlink(tmp.c_str());
        return false;
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        error = Why("Cannot save", requested);
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
