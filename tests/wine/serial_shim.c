/* Test equipment, never part of the product: stands in for a serial
 * driver's modem-line and error-counter requests on a pseudo-terminal.
 *
 * Wine's serial layer asks the device for its modem lines (TIOCMGET) before
 * every WaitCommEvent and for its error counters; a pseudo-terminal answers
 * "inappropriate ioctl" (ENOTTY) and Wine then aborts the wait. Preloaded
 * into Wine (LD_PRELOAD), this library answers those requests as an idle
 * UART would whenever the real call fails with ENOTTY. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <linux/serial.h>
#include <stdarg.h>
#include <string.h>
#include <sys/ioctl.h>

typedef int (*IoctlFunction)(int, unsigned long, ...);

int ioctl(int fd, unsigned long request, ...) {
    static IoctlFunction real_ioctl;
    va_list args;
    va_start(args, request);
    void* argument = va_arg(args, void*);
    va_end(args);
    if (real_ioctl == NULL) {
        real_ioctl = (IoctlFunction)dlsym(RTLD_NEXT, "ioctl");
    }
    const int result = real_ioctl(fd, request, argument);
    if (result == 0 || errno != ENOTTY) {
        return result;
    }
    switch (request) {
        case TIOCMGET: /* lines of a connected, idle peer */
            *(int*)argument = TIOCM_DTR | TIOCM_RTS | TIOCM_CTS | TIOCM_DSR | TIOCM_CAR;
            return 0;
        case TIOCMBIS:
        case TIOCMBIC:
        case TIOCMSET:
            return 0;
        case TIOCGICOUNT: /* no line errors, no breaks */
            memset(argument, 0, sizeof(struct serial_icounter_struct));
            return 0;
        case TIOCSERGETLSR: /* transmitter empty */
            *(unsigned int*)argument = TIOCSER_TEMT;
            return 0;
        default:
            errno = ENOTTY;
            return result;
    }
}
