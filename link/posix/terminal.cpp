// Device files: serial terminals (termios: raw, DTR and RTS held on, output gated on DSR), /dev/lpN and
// the USB printer class devices /dev/usb/lpN. Only character devices are taken.
#include "link/posix/posix_device.h"

#include "link/posix/device_names.h"
#include "link/posix/waits.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace pw::posix {

namespace {

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

// Why an open of `path` (the device of port `name`) failed, in words a user can act on.
std::string OpenProblem(const std::string& path, const std::string& name, int err) {
    if (err == EACCES || err == EPERM) {
        struct stat st {};
        std::string groupName;
        if (::stat(path.c_str(), &st) == 0)
            if (const ::group* g = ::getgrgid(st.st_gid)) groupName = g->gr_name;
        std::string problem = "No permission to open " + path + " (" + name + ").";
        if (!groupName.empty() && groupName != "root")
            problem += " Add your user to the '" + groupName + "' group (sudo usermod -aG " + groupName +
                       " $USER), then log in again.";
        return problem;
    }
    if (err == EBUSY)
        return path + " (" + name + ") is busy: another program, such as the print spooler, holds it.";
    if (err == ENOENT || err == ENXIO || err == ENODEV) return "No device at " + path + " (" + name + ").";
    return "Cannot open " + path + " (" + name + "): " + std::strerror(err) + ".";
}

class DeviceFile : public PosixDevice {
  public:
    DeviceFile(int fd, std::string devicePath, bool exclusive) : m_fd(fd), m_tty(::isatty(fd) == 1) {
        path = std::move(devicePath);
        // TIOCEXCL keeps out programs that do not take the lock; it may be refused, and the lock holds.
        m_exclusive = m_tty && exclusive && ::ioctl(fd, TIOCEXCL) == 0;
    }
    ~DeviceFile() override { DeviceFile::Close(); }

    bool GetLine(LineSettings& settings, std::string& problem) override {
        termios t{};
        if (::tcgetattr(m_fd, &t) != 0) {
            const int err = errno;
            problem = path + " is not a serial port (" + std::strerror(err) + ").";
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
        settings.flags = m_flags;
        return true;
    }

    bool SetLine(const LineSettings& s) override {
        termios t{};
        if (::tcgetattr(m_fd, &t) != 0) return Fail(ErrorFromErrno(errno));
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
        const speed_t speed = SpeedFor(s.baudRate, ok);
        if (!ok) return Fail(kErrorGenFailure);
        ::cfsetispeed(&t, speed);
        ::cfsetospeed(&t, speed);
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;
        if (::tcsetattr(m_fd, TCSANOW, &t) != 0) {
            // A pseudo-terminal carries no parity: the first request is dropped quietly, a repeated one is
            // refused. Like its missing modem lines, that is "not supported", not a failed open.
            if (errno != EINVAL || !(t.c_cflag & PARENB) || !IsPseudoTerminal(m_fd))
                return Fail(ErrorFromErrno(errno));
            t.c_cflag &= ~(PARENB | PARODD | CMSPAR);
            t.c_iflag &= ~INPCK;
            if (::tcsetattr(m_fd, TCSANOW, &t) != 0) return Fail(ErrorFromErrno(errno));
        }
        // DTR and RTS held on while the port is open. A pseudo-terminal has no modem lines.
        int lines = 0;
        if ((s.flags & kFlagDtrMask) == kFlagDtrEnable) lines |= TIOCM_DTR;
        if ((s.flags & kFlagRtsMask) == kFlagRtsEnable) lines |= TIOCM_RTS;
        if (lines && ::ioctl(m_fd, TIOCMBIS, &lines) != 0 && !ModemLinesUnsupported(errno))
            return Fail(ErrorFromErrno(errno));
        m_flags = s.flags;
        m_dsrGate = (s.flags & kFlagOutxDsrFlow) != 0;
        return true;
    }

    void Purge(std::uint32_t flags) override {
        if (m_tty) {
            const bool in = (flags & kPurgeInput) != 0, out = (flags & kPurgeOutput) != 0;
            if (in || out) ::tcflush(m_fd, in && out ? TCIOFLUSH : in ? TCIFLUSH : TCOFLUSH);
            return;
        }
        if (!(flags & kPurgeInput)) return;
        // A printer that keeps talking cannot hold the purge: what is waiting now, up to a bound.
        std::uint8_t scratch[256];
        for (int i = 0; i < 256 && ::read(m_fd, scratch, sizeof scratch) > 0; ++i) {}
    }

    bool OutputQueue(std::uint32_t& queued) override {
        queued = 0;
        if (!m_tty) return true;
        int n = 0;
        if (::ioctl(m_fd, TIOCOUTQ, &n) != 0) return Fail(ErrorFromErrno(errno));
        queued = n > 0 ? static_cast<std::uint32_t>(n) : 0;
        return true;
    }

    bool Write(const std::uint8_t* data, std::uint32_t length, std::uint32_t& written) override {
        written = 0;
        const std::uint64_t deadline = WriteDeadline(limits, length);
        // Output waits while the printer holds DSR off; the kernel has no DSR flow control: poll the line.
        if (m_tty && m_dsrGate) {
            for (;;) {
                int status = 0;
                if (::ioctl(m_fd, TIOCMGET, &status) != 0) break; // no modem lines: nothing to wait for
                if (status & TIOCM_DSR) break;
                if (PollTimeout(deadline, NowMs()) == 0) return true; // timed out, nothing written
                ::usleep(10000);
            }
        }
        return WriteWithin(m_fd, data, length, deadline, false, written);
    }

    std::uint32_t Read(std::uint8_t* buffer, std::uint32_t length) override {
        return ReadWithin(m_fd, buffer, length, limits);
    }

    void Close() override {
        if (m_fd < 0) return;
        // The exclusive flag belongs to the terminal, not to our descriptor: it outlives our close while
        // anyone else holds the terminal open, and would then refuse our next open. Drop it first.
        if (m_exclusive) ::ioctl(m_fd, TIOCNXCL);
        ::close(m_fd);
        m_fd = -1;
    }

  private:
    int m_fd;
    bool m_tty;
    bool m_exclusive = false;
    std::uint32_t m_flags = 0x0001;
    bool m_dsrGate = false;
};

} // namespace

std::unique_ptr<PosixDevice> OpenDeviceFile(const std::string& name, ShareMode share, std::string& problem) {
    const std::string path = ResolveDeviceName(name);
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        problem = OpenProblem(path, name, err);
        Fail(ErrorFromErrno(err));
        return nullptr;
    }
    // A printer port is a character device. Anything else (a file, a pipe, a socket) would take printer
    // commands as data: refused before a byte is written.
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
        ::close(fd);
        problem = path + " (" + name + ") is not a device: a printer port is a character device such as " +
                  "/dev/ttyUSB0 or /dev/usb/lp0.";
        Fail(kErrorGenFailure);
        return nullptr;
    }
    // Exclusive opens hold a lock that a second open, ours or another program's, cannot take.
    const int how = (share == ShareMode::Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
    if (::flock(fd, how) != 0) {
        ::close(fd);
        problem = path + " (" + name + ") is in use by another program.";
        Fail(kErrorSharingViolation);
        return nullptr;
    }
    return std::make_unique<DeviceFile>(fd, path, share == ShareMode::Exclusive);
}

} // namespace pw::posix
