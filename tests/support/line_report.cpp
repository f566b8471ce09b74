// Preloaded into the tool in tests (LD_PRELOAD): each tcsetattr of a terminal is reported to the virtual
// printer, which cannot see the data length and parity on a pseudo-terminal (the pty forces 8 bits without
// parity). The request, as the tool made it, goes to $PINWRIGHT_LINE_REPORT_DIR/<the terminal's path with
// '/' as '_'> as "CFLAG IFLAG" in hex, replaced whole, before the call returns: the printer reads it when
// bytes come. Built without sanitizers: it runs before any of their runtimes.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <cstddef>

extern "C" int tcsetattr(int fd, int when, const struct termios* t) noexcept {
    using Real = int (*)(int, int, const struct termios*);
    static Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "tcsetattr"));
    const char* dir = getenv("PINWRIGHT_LINE_REPORT_DIR");
    int result = real(fd, when, t);
    if (result != 0 && errno == EINVAL && dir && t) {
        // A pseudo-terminal takes the rest of a request but forces 8 bits without parity, which the C
        // library then reports as refused. A UART takes them: the printer is told, the tool goes on.
        const tcflag_t kept = ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD);
        struct termios now {};
        if (tcgetattr(fd, &now) == 0 && (now.c_cflag & kept) == (t->c_cflag & kept) &&
            cfgetospeed(&now) == cfgetospeed(t))
            result = 0;
    }
    char tty[256];
    if (result != 0 || !dir || !t || ttyname_r(fd, tty, sizeof tty) != 0) return result;
    for (char* c = tty; *c; ++c)
        if (*c == '/') *c = '_';
    char path[1024], tmp[1100], text[64];
    snprintf(path, sizeof path, "%s/%s", dir, tty);
    snprintf(tmp, sizeof tmp, "%s.%d", path, static_cast<int>(getpid()));
    const int n = snprintf(text, sizeof text, "%x %x\n", static_cast<unsigned>(t->c_cflag),
                           static_cast<unsigned>(t->c_iflag));
    const int out = open(tmp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) return result;
    const bool ok = write(out, text, static_cast<std::size_t>(n)) == n;
    close(out);
    if (!ok || rename(tmp, path) != 0) unlink(tmp);
    return result;
}
