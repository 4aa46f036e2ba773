/* A device's refusals of locks, for a test process only (LD_PRELOAD):
 * SCANJNI_LOCK_FAULT names the errno that lock requests on a terminal
 * get, as the device would give it; SCANJNI_WATCH_FAULT=EACCES refuses
 * every inotify watch, as a policy without "watch" does.
 *   EACCES, EPERM: every fcntl lock command and every flock fail, as under
 *                  a security policy that grants the tty no "lock";
 *   EINVAL:        the open-file-description commands fail, flock works,
 *                  as on a kernel before 3.15.
 * Unset, or any other descriptor: the real calls. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <unistd.h>

#ifndef F_OFD_GETLK
#define F_OFD_GETLK 36
#define F_OFD_SETLK 37
#define F_OFD_SETLKW 38
#endif

static int fault(void)
{
    const char *name = getenv("SCANJNI_LOCK_FAULT");
    if (name == NULL)
        return 0;
    if (strcmp(name, "EACCES") == 0)
        return EACCES;
    if (strcmp(name, "EPERM") == 0)
        return EPERM;
    if (strcmp(name, "EINVAL") == 0)
        return EINVAL;
    return 0;
}

static int description_lock(int cmd)
{
    return cmd == F_OFD_GETLK || cmd == F_OFD_SETLK || cmd == F_OFD_SETLKW;
}

static int process_lock(int cmd)
{
    return cmd == F_GETLK || cmd == F_SETLK || cmd == F_SETLKW;
}

/* The errno that the device gives this request, or 0. */
static int refused(int fd, int cmd)
{
    int err = fault();
    if (err == 0 || !(description_lock(cmd) || process_lock(cmd)) || !isatty(fd))
        return 0;
    return err != EINVAL || description_lock(cmd) ? err : 0;
}

typedef int (*fcntl_fn)(int, int, ...);

static int forward(const char *name, int fd, int cmd, void *arg)
{
    fcntl_fn real = (fcntl_fn)dlsym(RTLD_NEXT, name);
    int err = refused(fd, cmd);
    if (err != 0) {
        errno = err;
        return -1;
    }
    return real(fd, cmd, arg);
}

/* Every fcntl command takes an int or a pointer; passed on as a pointer-
 * sized word, as the C library does. */
#define FORWARDED(name)                                                                            \
    int name(int fd, int cmd, ...)                                                                 \
    {                                                                                              \
        va_list ap;                                                                                \
        va_start(ap, cmd);                                                                         \
        void *arg = va_arg(ap, void *);                                                            \
        va_end(ap);                                                                                \
        return forward(#name, fd, cmd, arg);                                                       \
    }
FORWARDED(fcntl)
FORWARDED(fcntl64)

int flock(int fd, int op)
{
    int (*real)(int, int) = (int (*)(int, int))dlsym(RTLD_NEXT, "flock");
    int err = fault();
    if ((err == EACCES || err == EPERM) && isatty(fd)) {
        errno = err;
        return -1;
    }
    return real(fd, op);
}

int inotify_add_watch(int fd, const char *path, uint32_t mask)
{
    int (*real)(int, const char *, uint32_t) =
        (int (*)(int, const char *, uint32_t))dlsym(RTLD_NEXT, "inotify_add_watch");
    const char *name = getenv("SCANJNI_WATCH_FAULT");
    if (name != NULL && strcmp(name, "EACCES") == 0) {
        errno = EACCES;
        return -1;
    }
    return real(fd, path, mask);
}
