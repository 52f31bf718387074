/* Null-modem cables between pseudo-terminals, for serial tests under Wine.
 *
 *   ptywire [--control LINK] [--ready FILE] LINK_A LINK_B [LINK_A LINK_B ...]
 *
 * Each pair of links gets two pseudo-terminals whose traffic is copied across, so a Windows
 * test can open one end as COMn and play the far end on the other as COMm. Both terminal
 * sides are held open here (never read), so a side nobody has open keeps what is sent to it
 * and its master never reports a hang-up.
 *
 * With --control, one more terminal takes commands, one a line:
 *   U<name>  unplug the end whose link is named <name> (e.g. "Ucom9"), as a removed USB
 *            adapter would: its terminal is hung up, and a fresh terminal takes its link
 *            (still wired to the same far end), so the next open finds a working device.
 * --ready FILE is written once every link is in place. SIGTERM or SIGINT ends the program,
 * which removes its links. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#define MAX_PAIRS 8

struct end {
    const char *link;
    int master;
    int slave; /* held open so the master sees no hang-up; never read */
};

static struct end g_ends[2 * MAX_PAIRS];
static int g_endCount;
static struct end g_control;
static volatile sig_atomic_t g_stop;

static void on_signal(int sig)
{
    (void)sig;
    g_stop = 1;
}

static int open_end(struct end *e)
{
    struct termios tio;
    const char *name;
    char temp[4096];

    e->master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (e->master < 0 || grantpt(e->master) != 0 || unlockpt(e->master) != 0 ||
        (name = ptsname(e->master)) == NULL)
        return -1;
    e->slave = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (e->slave < 0 || tcgetattr(e->slave, &tio) != 0)
        return -1;
    cfmakeraw(&tio); /* nothing sent before a program opens it is echoed or translated */
    if (tcsetattr(e->slave, TCSANOW, &tio) != 0)
        return -1;
    snprintf(temp, sizeof temp, "%s.new", e->link);
    unlink(temp);
    if (symlink(name, temp) != 0 || rename(temp, e->link) != 0)
        return -1;
    return 0;
}

static void close_end(struct end *e)
{
    if (e->slave >= 0)
        close(e->slave);
    if (e->master >= 0)
        close(e->master);
    e->slave = e->master = -1;
}

/* Copies what one end's program sent to the other end, waiting for room as needed. */
static void copy_across(struct end *from, struct end *to)
{
    char buf[4096];
    ssize_t n = read(from->master, buf, sizeof buf);
    ssize_t done = 0;
    while (n > 0 && done < n) {
        ssize_t w = write(to->master, buf + done, (size_t)(n - done));
        if (w > 0) {
            done += w;
        } else if (w < 0 && errno == EAGAIN) {
            struct pollfd p = {to->master, POLLOUT, 0};
            if (poll(&p, 1, 1000) <= 0)
                break; /* nobody is draining the far end: drop the rest */
        } else if (w < 0 && errno != EINTR) {
            break;
        }
    }
}

/* Unplugs the end whose link has the given base name (an A or a B side). */
static void unplug(const char *name)
{
    int i;
    for (i = 0; i < g_endCount; ++i) {
        const char *slash = strrchr(g_ends[i].link, '/');
        const char *base = slash ? slash + 1 : g_ends[i].link;
        if (strcmp(base, name) != 0)
            continue;
        close_end(&g_ends[i]);
        if (open_end(&g_ends[i]) != 0)
            fprintf(stderr, "ptywire: cannot replace %s\n", g_ends[i].link);
        return;
    }
    fprintf(stderr, "ptywire: no terminal named %s\n", name);
}

/* Commands arrive as lines; a line may come in pieces. */
static void serve_control(void)
{
    static char line[128];
    static size_t used;
    char buf[64];
    ssize_t n = read(g_control.master, buf, sizeof buf);
    for (ssize_t i = 0; i < n; ++i) {
        if (buf[i] != '\n' && buf[i] != '\r') {
            if (used + 1 < sizeof line)
                line[used++] = buf[i];
            continue;
        }
        line[used] = '\0';
        if (line[0] == 'U')
            unplug(line + 1);
        used = 0;
    }
}

static int parse(int argc, char **argv, const char **ready)
{
    int i;
    g_control.link = NULL;
    for (i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--control") == 0 && i + 1 < argc) {
            g_control.link = argv[++i];
        } else if (strcmp(argv[i], "--ready") == 0 && i + 1 < argc) {
            *ready = argv[++i];
        } else if (g_endCount < 2 * MAX_PAIRS) {
            g_ends[g_endCount].link = argv[i];
            g_ends[g_endCount].master = g_ends[g_endCount].slave = -1;
            ++g_endCount;
        } else {
            return -1;
        }
    }
    return g_endCount >= 2 && g_endCount % 2 == 0 ? 0 : -1;
}

int main(int argc, char **argv)
{
    const char *ready = NULL;
    struct pollfd fds[2 * MAX_PAIRS + 1];
    struct sigaction sa;
    int i, count;

    if (parse(argc, argv, &ready) != 0) {
        fprintf(stderr, "usage: ptywire [--control LINK] [--ready FILE] LINK_A LINK_B ...\n");
        return 2;
    }
    for (i = 0; i < g_endCount; ++i) {
        if (open_end(&g_ends[i]) != 0) {
            perror(g_ends[i].link);
            return 1;
        }
    }
    g_control.master = g_control.slave = -1;
    if (g_control.link && open_end(&g_control) != 0) {
        perror(g_control.link);
        return 1;
    }
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_signal;
    sigaction(SIGTERM, &sa, NULL);
    sigaction(SIGINT, &sa, NULL);
    if (ready) {
        FILE *f = fopen(ready, "w");
        if (f)
            fclose(f);
    }
    while (!g_stop) {
        for (i = 0; i < g_endCount; ++i)
            fds[i] = (struct pollfd){g_ends[i].master, POLLIN, 0};
        count = g_endCount;
        if (g_control.master >= 0)
            fds[count++] = (struct pollfd){g_control.master, POLLIN, 0};
        if (poll(fds, (nfds_t)count, 200) <= 0)
            continue;
        for (i = 0; i < g_endCount; ++i) {
            if (fds[i].revents & POLLIN)
                copy_across(&g_ends[i], &g_ends[i ^ 1]);
        }
        if (g_control.master >= 0 && (fds[g_endCount].revents & POLLIN))
            serve_control();
    }
    for (i = 0; i < g_endCount; ++i) {
        close_end(&g_ends[i]);
        unlink(g_ends[i].link);
    }
    if (g_control.link) {
        close_end(&g_control);
        unlink(g_control.link);
    }
    return 0;
}
