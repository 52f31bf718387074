/* Preloaded into Wine (or a native test): answers the modem-control requests that
 * pseudo-terminals refuse, and records every change of RTS and DTR.
 *
 * Wine's serial layer asks the device for its modem status before every event wait; a
 * pseudo-terminal says ENOTTY and Wine cancels the wait at once. This library keeps a modem
 * state per pseudo-terminal instead: TIOCMGET reports it (with CTS, DSR and CD on, as a peer
 * that is present would), TIOCMSET/TIOCMBIS/TIOCMBIC change it, TIOCGICOUNT reports no line
 * events. Every other request, and every request on any other device, goes to the C library.
 *
 * When KLP_MODEM_LOG names a file, each change of RTS or DTR is appended to it as one line:
 *   <monotonic milliseconds> <device path> <RTS|DTR> <0|1>
 * The variable is read at each change, so a test may set it after start-up. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#define MAX_TERMINALS 64

struct modem_state {
    dev_t device;
    int bits; /* TIOCM_RTS | TIOCM_DTR as last set */
};

static struct modem_state g_states[MAX_TERMINALS];
static int g_count;
static pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;

typedef int (*ioctl_fn)(int, unsigned long, ...);

static ioctl_fn real_ioctl(void)
{
    static ioctl_fn real;
    if (!real)
        real = (ioctl_fn)dlsym(RTLD_NEXT, "ioctl");
    return real;
}

/* Unix98 pseudo-terminal slaves have the major numbers 136 to 143. */
static int pty_device(int fd, dev_t *device)
{
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return 0;
    if (major(st.st_rdev) < 136 || major(st.st_rdev) > 143)
        return 0;
    *device = st.st_rdev;
    return 1;
}

/* The state of one terminal; a terminal not seen before starts with both lines low.
 * Called with g_lock held. */
static struct modem_state *state_of(dev_t device)
{
    int i;
    for (i = 0; i < g_count; ++i) {
        if (g_states[i].device == device)
            return &g_states[i];
    }
    if (g_count == MAX_TERMINALS)
        g_count = 0; /* more terminals than a test uses: start over rather than fail */
    g_states[g_count].device = device;
    g_states[g_count].bits = 0;
    return &g_states[g_count++];
}

static void record(int fd, const char *line, int level)
{
    const char *path = getenv("KLP_MODEM_LOG");
    char link[64], device[256], text[400];
    struct timespec now;
    ssize_t n;
    int out, len;

    if (!path || !*path)
        return;
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    n = readlink(link, device, sizeof device - 1);
    device[n > 0 ? n : 0] = '\0';
    clock_gettime(CLOCK_MONOTONIC, &now);
    len = snprintf(text, sizeof text, "%lld %s %s %d\n",
                   (long long)now.tv_sec * 1000 + now.tv_nsec / 1000000,
                   device[0] ? device : "?", line, level);
    out = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (out < 0)
        return;
    /* One write per line: lines from several threads or processes never interleave. */
    if (write(out, text, (size_t)len) < 0) {
        /* nothing to do: the record is a test aid */
    }
    close(out);
}

/* Applies new line levels and records the lines that changed, RTS before DTR. */
static void apply(int fd, struct modem_state *st, int bits)
{
    const int old = st->bits;
    st->bits = bits & (TIOCM_RTS | TIOCM_DTR);
    if ((old ^ st->bits) & TIOCM_RTS)
        record(fd, "RTS", (st->bits & TIOCM_RTS) != 0);
    if ((old ^ st->bits) & TIOCM_DTR)
        record(fd, "DTR", (st->bits & TIOCM_DTR) != 0);
}

static int modem_request(int fd, dev_t device, unsigned long request, void *arg)
{
    struct modem_state *st;
    int result = 0;

    if (request == TIOCGICOUNT) {
        memset(arg, 0, sizeof(struct serial_icounter_struct));
        return 0;
    }
    pthread_mutex_lock(&g_lock);
    st = state_of(device);
    switch (request) {
    case TIOCMGET:
        *(int *)arg = st->bits | TIOCM_CTS | TIOCM_DSR | TIOCM_CD;
        break;
    case TIOCMSET:
        apply(fd, st, *(const int *)arg);
        break;
    case TIOCMBIS:
        apply(fd, st, st->bits | *(const int *)arg);
        break;
    case TIOCMBIC:
        apply(fd, st, st->bits & ~*(const int *)arg);
        break;
    default:
        result = -1;
    }
    pthread_mutex_unlock(&g_lock);
    return result;
}

static int is_modem_request(unsigned long request)
{
    return request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS ||
           request == TIOCMBIC || request == TIOCGICOUNT;
}

int ioctl(int fd, unsigned long request, ...)
{
    va_list ap;
    void *arg;
    dev_t device;
    ioctl_fn real;

    va_start(ap, request);
    arg = va_arg(ap, void *);
    va_end(ap);
    if (is_modem_request(request) && arg && pty_device(fd, &device))
        return modem_request(fd, device, request, arg);
    real = real_ioctl();
    if (!real) {
        errno = ENOSYS;
        return -1;
    }
    return real(fd, request, arg);
}

/* Lets a test tell whether the library is loaded. */
int klp_ptyshim_loaded(void) { return 1; }
