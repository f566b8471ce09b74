#include "link/posix/posix_device_services.h"

#include "link/posix/device_names.h"
#include "link/posix/network_connect.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <grp.h>
#include <limits>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace pw::posix {

namespace {

thread_local std::uint32_t lastError = 0;

std::uint64_t NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
}

// Milliseconds left until `deadline`, for poll().
int Remaining(std::uint64_t deadline) {
    return PollTimeout(deadline, NowMs());
}

// The slave side of a pseudo-terminal (Unix 98 ptys: majors 136 to 143).
bool IsPseudoTerminal(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 &&
           major(st.st_rdev) <= 143;
}

bool ModemLinesUnsupported(int err) {
    return err == ENOTTY || err == EINVAL || err == ENOTSUP;
}

speed_t SpeedFor(std::uint32_t baud, bool& ok) {
    ok = true;
    switch (baud) {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    default:
        ok = false;
        return B0;
    }
}

std::uint32_t BaudFor(speed_t s) {
    switch (s) {
    case B1200:
        return 1200;
    case B2400:
        return 2400;
    case B4800:
        return 4800;
    case B9600:
        return 9600;
    case B19200:
        return 19200;
    case B38400:
        return 38400;
    case B57600:
        return 57600;
    case B115200:
        return 115200;
    case B230400:
        return 230400;
    default:
        return 0;
    }
}

} // namespace

struct PosixDeviceServices::Device {
    int fd = -1;
    bool tty = false;
    bool socket = false;    // a connection to a network printer
    bool exclusive = false; // TIOCEXCL set by us
    std::string path;
    TimeLimits limits{};
    std::uint32_t flags = 0x0001;
    bool dsrGate = false;
};

struct PosixDeviceServices::Worker {
    std::thread thread;
    std::atomic<bool> stopped{false};
    int wakeFd = -1;
};

namespace {
// The worker the calling thread is, if any: its reads also wake on the worker's stop signal.
thread_local PosixDeviceServices::Worker* currentWorker = nullptr;
} // namespace

int PollTimeout(std::uint64_t deadlineMs, std::uint64_t nowMs) {
    if (nowMs >= deadlineMs) return 0;
    return static_cast<int>(std::min<std::uint64_t>(deadlineMs - nowMs, std::numeric_limits<int>::max()));
}

std::uint32_t ErrorFromErrno(int err) {
    switch (err) {
    case ENOENT:
    case ENXIO:
    case ENOTDIR:
        return kErrorFileNotFound;
    case EACCES:
    case EPERM:
        return kErrorAccessDenied;
    case EBADF:
    case ENODEV:
        return kErrorInvalidHandle;
    case EBUSY:
    case EWOULDBLOCK:
        return kErrorSharingViolation;
    default:
        return kErrorGenFailure;
    }
}

PosixDeviceServices::PosixDeviceServices() = default;

namespace {
// Wakes a worker blocked in a read; without a wake descriptor its read still ends at its time limit.
void Wake(PosixDeviceServices::Worker& w) {
    w.stopped = true;
    if (w.wakeFd < 0) return;
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(w.wakeFd, &one, sizeof one);
}
} // namespace

PosixDeviceServices::~PosixDeviceServices() {
    for (auto& [id, w] : m_workers) {
        Wake(*w);
        if (w->thread.joinable()) w->thread.join();
        if (w->wakeFd >= 0) ::close(w->wakeFd);
    }
    for (auto& [h, d] : m_devices) {
        if (d->fd < 0) continue;
        if (d->tty && d->exclusive) ::ioctl(d->fd, TIOCNXCL);
        ::close(d->fd);
    }
}

bool PosixDeviceServices::Fail(std::uint32_t error) {
    lastError = error;
    return false;
}

std::shared_ptr<PosixDeviceServices::Device> PosixDeviceServices::Find(DeviceHandle h) {
    std::lock_guard lock(m_mutex);
    auto it = m_devices.find(h);
    if (it == m_devices.end()) return nullptr;
    return it->second;
}

DeviceHandle PosixDeviceServices::Add(std::shared_ptr<Device> dev) {
    std::lock_guard lock(m_mutex);
    DeviceHandle h = m_nextHandle++;
    m_devices[h] = std::move(dev);
    m_openProblem.clear();
    return h;
}

DeviceHandle PosixDeviceServices::Connect(const std::string& name) {
    NetworkAddress address;
    std::string detail;
    ConnectFailure why = ConnectFailure::BadName;
    const int fd =
        ParseNetworkAddress(name, address, detail) ? ConnectTcp(address, kConnectLimitMs, why, detail) : -1;
    if (fd < 0) {
        lastError = why == ConnectFailure::BadName || why == ConnectFailure::HostNotFound ? kErrorFileNotFound
                                                                                          : kErrorGenFailure;
        std::lock_guard lock(m_mutex);
        m_openProblem = ConnectProblem(name, why, detail);
        return kInvalidHandle;
    }
    auto dev = std::make_shared<Device>();
    dev->fd = fd;
    dev->socket = true;
    dev->path = address.Name();
    return Add(dev);
}

DeviceHandle PosixDeviceServices::CreateFile(const std::string& name, ShareMode share) {
    if (IsNetworkName(name)) return Connect(name);
    const std::string path = ResolveDeviceName(name);
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        int err = errno;
        lastError = ErrorFromErrno(err);
        std::string problem;
        if (err == EACCES || err == EPERM) {
            struct stat st {};
            std::string groupName;
            if (::stat(path.c_str(), &st) == 0)
                if (const ::group* g = ::getgrgid(st.st_gid)) groupName = g->gr_name;
            problem = "No permission to open " + path + " (" + name + ").";
            if (!groupName.empty() && groupName != "root")
                problem += " Add your user to the '" + groupName + "' group (sudo usermod -aG " + groupName +
                           " $USER), then log in again.";
        } else if (err == EBUSY) {
            problem = path + " (" + name + ") is busy: another program, such as the print spooler, holds it.";
        } else if (err == ENOENT || err == ENXIO || err == ENODEV) {
            problem = "No device at " + path + " (" + name + ").";
        } else {
            problem = "Cannot open " + path + " (" + name + "): " + std::strerror(err) + ".";
        }
        std::lock_guard lock(m_mutex);
        m_openProblem = problem;
        return kInvalidHandle;
    }
    // Exclusive opens hold a lock that a second open, ours or another program's, cannot take.
    int how = (share == ShareMode::Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
    if (::flock(fd, how) != 0) {
        ::close(fd);
        lastError = kErrorSharingViolation;
        std::lock_guard lock(m_mutex);
        m_openProblem = path + " (" + name + ") is in use by another program.";
        return kInvalidHandle;
    }
    auto dev = std::make_shared<Device>();
    dev->fd = fd;
    dev->tty = ::isatty(fd) == 1;
    dev->path = path;
    // TIOCEXCL keeps out programs that do not take the lock; it may be refused, and the lock holds anyway.
    dev->exclusive = dev->tty && share == ShareMode::Exclusive && ::ioctl(fd, TIOCEXCL) == 0;
    return Add(dev);
}

std::string PosixDeviceServices::LastOpenProblem() {
    std::lock_guard lock(m_mutex);
    return m_openProblem;
}

bool PosixDeviceServices::CloseHandle(DeviceHandle h) {
    std::shared_ptr<Device> dev;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_devices.find(h);
        if (it == m_devices.end()) return Fail(kErrorInvalidHandle);
        dev = it->second;
        m_devices.erase(it);
    }
    // The exclusive flag belongs to the terminal, not to our descriptor: it outlives our close while
    // anyone else holds the terminal open, and would then refuse our next open. Drop it first.
    if (dev->tty && dev->exclusive) ::ioctl(dev->fd, TIOCNXCL);
    if (dev->socket)
        CloseTcp(dev->fd, kCloseLingerMs);
    else
        ::close(dev->fd);
    dev->fd = -1;
    return true;
}

bool PosixDeviceServices::GetCommState(DeviceHandle h, LineSettings& settings) {
    auto dev = Find(h);
    if (!dev) return Fail(kErrorInvalidHandle);
    termios t{};
    if (::tcgetattr(dev->fd, &t) != 0) {
        const int err = errno;
        std::lock_guard lock(m_mutex);
        m_openProblem = dev->path + " is not a serial port (" + std::strerror(err) + ").";
        return Fail(ErrorFromErrno(err));
    }
    settings.baudRate = BaudFor(cfgetospeed(&t));
    switch (t.c_cflag & CSIZE) {
    case CS5:
        settings.byteSize = 5;
        break;
    case CS6:
        settings.byteSize = 6;
        break;
    case CS7:
        settings.byteSize = 7;
        break;
    default:
        settings.byteSize = 8;
        break;
    }
    settings.parity = !(t.c_cflag & PARENB) ? 0 : (t.c_cflag & PARODD) ? 1 : 2;
    settings.stopBits = (t.c_cflag & CSTOPB) ? 2 : 0;
    settings.flags = dev->flags;
    return true;
}

bool PosixDeviceServices::SetCommState(DeviceHandle h, const LineSettings& s) {
    auto dev = Find(h);
    if (!dev) return Fail(kErrorInvalidHandle);
    termios t{};
    if (::tcgetattr(dev->fd, &t) != 0) return Fail(ErrorFromErrno(errno));
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | CMSPAR);
    switch (s.byteSize) {
    case 5:
        t.c_cflag |= CS5;
        break;
    case 6:
        t.c_cflag |= CS6;
        break;
    case 7:
        t.c_cflag |= CS7;
        break;
    case 8:
        t.c_cflag |= CS8;
        break;
    default:
        return Fail(kErrorGenFailure);
    }
    switch (s.parity) {
    case 0:
        break;
    case 1:
        t.c_cflag |= PARENB | PARODD;
        break;
    case 2:
        t.c_cflag |= PARENB;
        break;
    case 3:
        t.c_cflag |= PARENB | PARODD | CMSPAR;
        break; // mark
    case 4:
        t.c_cflag |= PARENB | CMSPAR;
        break; // space
    default:
        return Fail(kErrorGenFailure);
    }
    t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
    if (s.flags & kFlagParity) t.c_iflag |= INPCK;
    if (s.stopBits == 1 || s.stopBits == 2) t.c_cflag |= CSTOPB; // Linux has no 1.5 stop bits
    bool ok = false;
    speed_t speed = SpeedFor(s.baudRate, ok);
    if (!ok) return Fail(kErrorGenFailure);
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (::tcsetattr(dev->fd, TCSANOW, &t) != 0) {
        // A pseudo-terminal carries no parity: the first request is dropped quietly, a repeated one is
        // refused. Like its missing modem lines, that is "not supported", not a failed open.
        if (errno != EINVAL || !(t.c_cflag & PARENB) || !IsPseudoTerminal(dev->fd))
            return Fail(ErrorFromErrno(errno));
        t.c_cflag &= ~(PARENB | PARODD | CMSPAR);
        t.c_iflag &= ~INPCK;
        if (::tcsetattr(dev->fd, TCSANOW, &t) != 0) return Fail(ErrorFromErrno(errno));
    }
    // DTR and RTS held on while the port is open. A pseudo-terminal has no modem lines.
    int lines = 0;
    if ((s.flags & kFlagDtrMask) == kFlagDtrEnable) lines |= TIOCM_DTR;
    if ((s.flags & kFlagRtsMask) == kFlagRtsEnable) lines |= TIOCM_RTS;
    if (lines && ::ioctl(dev->fd, TIOCMBIS, &lines) != 0 && !ModemLinesUnsupported(errno))
        return Fail(ErrorFromErrno(errno));
    dev->flags = s.flags;
    dev->dsrGate = (s.flags & kFlagOutxDsrFlow) != 0;
    return true;
}

bool PosixDeviceServices::SetCommTimeouts(DeviceHandle h, const TimeLimits& limits) {
    auto dev = Find(h);
    if (!dev) return Fail(kErrorInvalidHandle);
    dev->limits = limits;
    return true;
}

void PosixDeviceServices::SetCommMask(DeviceHandle, std::uint32_t) {}

void PosixDeviceServices::PurgeComm(DeviceHandle h, std::uint32_t) {
    auto dev = Find(h);
    if (!dev) return;
    if (dev->tty) {
        ::tcflush(dev->fd, TCIOFLUSH);
        return;
    }
    std::uint8_t scratch[256];
    while (::read(dev->fd, scratch, sizeof scratch) > 0) {}
}

bool PosixDeviceServices::WriteFile(DeviceHandle h, const std::uint8_t* data, std::uint32_t length,
                                    std::uint32_t& written, PendingWrite&) {
    written = 0;
    auto dev = Find(h);
    if (!dev) return Fail(kErrorInvalidHandle);
    const TimeLimits& l = dev->limits;
    std::uint64_t budget = static_cast<std::uint64_t>(l.writeTotalMultiplier) * length + l.writeTotalConstant;
    if (budget == 0) budget = 5ull * length + 1000; // a device without limits still gets one
    const std::uint64_t deadline = NowMs() + budget;
    // Output waits while the printer holds DSR off; the kernel has no DSR flow control, so poll the line.
    if (dev->tty && dev->dsrGate) {
        for (;;) {
            int status = 0;
            if (::ioctl(dev->fd, TIOCMGET, &status) != 0) break; // no modem lines: nothing to wait for
            if (status & TIOCM_DSR) break;
            if (Remaining(deadline) == 0) return true; // timed out, nothing written
            ::usleep(10000);
        }
    }
    while (written < length) {
        // A printer never half-closes its connection: once it closed its side, the connection is gone and
        // the bytes would only draw a reset. Tell it at once, as a pulled cable.
        pollfd p{dev->fd, static_cast<short>(POLLOUT | (dev->socket ? POLLRDHUP : 0)), 0};
        int r = ::poll(&p, 1, Remaining(deadline));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return Fail(ErrorFromErrno(errno));
        if (r == 0) break; // the attempt's time limit: report what went out
        if (p.revents & (POLLERR | POLLNVAL | POLLRDHUP)) return Fail(kErrorGenFailure);
        // A connection the printer reset fails the write with EPIPE, not with a signal that ends us.
        ssize_t n = dev->socket ? ::send(dev->fd, data + written, length - written, MSG_NOSIGNAL)
                                : ::write(dev->fd, data + written, length - written);
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) continue;
            return Fail(ErrorFromErrno(errno));
        }
        written += static_cast<std::uint32_t>(n);
    }
    return true;
}

bool PosixDeviceServices::GetOverlappedResult(DeviceHandle, PendingWrite&, std::uint32_t& written, bool) {
    written = 0; // writes here finish inside WriteFile; nothing is ever pending
    return true;
}

void PosixDeviceServices::CancelIo(DeviceHandle) {}

bool PosixDeviceServices::ReadFile(DeviceHandle h, std::uint8_t* buffer, std::uint32_t length,
                                   std::uint32_t& read) {
    read = 0;
    auto dev = Find(h);
    if (!dev) return Fail(kErrorInvalidHandle);
    Worker* worker = currentWorker;
    if (worker && worker->stopped) return true;
    const TimeLimits& l = dev->limits;
    const bool anyBytes = l.readInterval == kMaxDword && l.readTotalMultiplier == kMaxDword;
    std::uint64_t budget =
        anyBytes ? l.readTotalConstant
                 : static_cast<std::uint64_t>(l.readTotalMultiplier) * length + l.readTotalConstant;
    if (budget == 0) budget = 5000; // nothing here waits without a limit
    const std::uint64_t deadline = NowMs() + budget;
    while (read < length) {
        // A negative descriptor is ignored by poll(): a worker without a wake descriptor waits its limit.
        pollfd p[2] = {{dev->fd, POLLIN, 0}, {worker ? worker->wakeFd : -1, POLLIN, 0}};
        int r = ::poll(p, worker ? 2 : 1, Remaining(deadline));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break; // the time limit, or a poll that cannot wait: what came is the result
        if (worker && (p[1].revents & POLLIN)) break; // stopped
        if (p[0].revents & POLLIN) {
            ssize_t n = ::read(dev->fd, buffer + read, length - read);
            if (n > 0) {
                read += static_cast<std::uint32_t>(n);
                if (anyBytes) break;
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
            break;
        }
        if (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) break; // the other end is gone
    }
    return true;
}

std::uint32_t PosixDeviceServices::GetLastError() {
    return lastError;
}

void PosixDeviceServices::SetLastError(std::uint32_t error) {
    lastError = error;
}

std::uint32_t PosixDeviceServices::GetTickCount() {
    return static_cast<std::uint32_t>(NowMs());
}

void PosixDeviceServices::Sleep(std::uint32_t ms) {
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {}
}

bool PosixDeviceServices::GetVersionEx(OsVersion& version, bool) {
    version = OsVersion{0x100, 0, 0}; // not a Windows platform id: USB is allowed
    return true;
}

bool PosixDeviceServices::EnumUsbInterface(std::uint32_t index, std::string& path) {
    // One walk is one snapshot, taken at index 0: a printer plugged in or out during the walk does not
    // shift the indexes under it.
    std::vector<std::string> devices;
    if (index == 0) {
        devices = UsbPrinterDevices();
        std::lock_guard lock(m_mutex);
        m_usbSnapshot[std::this_thread::get_id()] = devices;
    } else {
        std::lock_guard lock(m_mutex);
        devices = m_usbSnapshot[std::this_thread::get_id()];
    }
    if (index == 0 && devices.empty()) {
        const char* dir = std::getenv("PINWRIGHT_USB_DIR");
        std::lock_guard lock(m_mutex);
        m_openProblem = std::string("No USB printer found in ") + (dir && *dir ? dir : "/dev/usb") +
                        ": is the printer switched on and its cable plugged in?";
    }
    if (index >= devices.size()) return Fail(kErrorNoMoreItems);
    path = devices[index];
    return true;
}

ThreadHandle PosixDeviceServices::StartThread(std::function<void()> body) {
    auto w = std::make_shared<Worker>();
    w->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); // -1 when none can be had: see Wake()
    Worker* raw = w.get();
    ThreadHandle id;
    {
        std::lock_guard lock(m_mutex);
        id = m_nextThread++;
        m_workers[id] = w;
    }
    w->thread = std::thread([raw, body = std::move(body)] {
        currentWorker = raw;
        body();
        currentWorker = nullptr;
    });
    return id;
}

void PosixDeviceServices::StopThread(ThreadHandle t) {
    std::shared_ptr<Worker> w;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_workers.find(t);
        if (it == m_workers.end()) return;
        w = it->second;
    }
    Wake(*w);
}

void PosixDeviceServices::JoinThread(ThreadHandle t) {
    std::shared_ptr<Worker> w;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_workers.find(t);
        if (it == m_workers.end()) return;
        w = it->second;
        m_workers.erase(it);
    }
    if (w->thread.joinable()) w->thread.join();
    if (w->wakeFd >= 0) ::close(w->wakeFd);
}

} // namespace pw::posix
