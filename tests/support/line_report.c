/* Preloaded into the tool in tests (LD_PRELOAD): each tcsetattr of a terminal is reported to the virtual
 * printer, which cannot see the data length and parity on a pseudo-terminal (the pty forces 8 bits without
 * parity). The request, as the tool made it, goes to $PINWRIGHT_LINE_REPORT_DIR/<the terminal's path with
 * '/' as '_'> as "CFLAG IFLAG" in hex, replaced whole, before the call returns: the printer reads it when
 * bytes come. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

int tcsetattr(int fd, int when, const struct termios* t) {
    typedef int (*Real)(int, int, const struct termios*);
    static Real real;
    if (!real) real = (Real)dlsym(RTLD_NEXT, "tcsetattr");
    const char* dir = getenv("PINWRIGHT_LINE_REPORT_DIR");
    int result = real(fd, when, t);
    if (result != 0 && dir && t && (t->c_cflag & PARENB)) {
        /* A pseudo-terminal may refuse parity that a UART takes: it gets the rest, the printer the whole. */
        struct termios rest = *t;
        rest.c_cflag &= ~(tcflag_t)(PARENB | PARODD);
        result = real(fd, when, &rest);
    }
    char tty[256];
    if (result != 0 || !dir || !t || ttyname_r(fd, tty, sizeof tty) != 0) return result;
    for (char* c = tty; *c; ++c)
        if (*c == '/') *c = '_';
    char path[1024], tmp[1100], text[64];
    snprintf(path, sizeof path, "%s/%s", dir, tty);
    snprintf(tmp, sizeof tmp, "%s.%d", path, (int)getpid());
    const int n = snprintf(text, sizeof text, "%x %x\n", (unsigned)t->c_cflag, (unsigned)t->c_iflag);
    const int out = open(tmp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) return result;
    const int ok = write(out, text, (size_t)n) == n;
    close(out);
    if (!ok || rename(tmp, path) != 0) unlink(tmp);
    return result;
}
