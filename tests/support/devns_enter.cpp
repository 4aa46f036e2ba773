// Entering the private mount namespace and laying out its /dev.
#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "devns.h"

namespace {

bool g_entered = false;

bool fail(const char* what, const char* path) {
    std::fprintf(stderr, "devns: %s %s failed: %s\n", what, path,
                 std::strerror(errno));
    return false;
}

struct Node {
    const char* path;
    bool dir;
};

// Device nodes the tests and a JVM need in the new /dev. They are opened
// as O_PATH descriptors after the unshare and bound back through
// /proc/self/fd once the tmpfs covers /dev.
const Node kNodes[] = {
    {"/dev/null", false},   {"/dev/zero", false}, {"/dev/random", false},
    {"/dev/urandom", false}, {"/dev/pts", true},
};
constexpr size_t kNodeCount = sizeof(kNodes) / sizeof(kNodes[0]);

struct Link {
    const char* target;
    const char* path;
};

// /dev/ptmx must be a link into the devpts mount: a bound ptmx node would
// not find its devpts instance from inside the tmpfs.
const Link kLinks[] = {
    {"pts/ptmx", "/dev/ptmx"},
    {"/proc/self/fd", "/dev/fd"},
    {"/proc/self/fd/0", "/dev/stdin"},
    {"/proc/self/fd/1", "/dev/stdout"},
    {"/proc/self/fd/2", "/dev/stderr"},
};

bool bind_fd(int fd, const char* path, bool dir) {
    if (dir ? mkdir(path, 0755) != 0 : mknod(path, S_IFREG | 0666, 0) != 0) {
        return fail("create", path);
    }
    char src[64];
    std::snprintf(src, sizeof src, "/proc/self/fd/%d", fd);
    if (mount(src, path, "none", MS_BIND, nullptr) != 0) {
        return fail("bind mount onto", path);
    }
    return true;
}

bool populate(const int* fds) {
    for (size_t i = 0; i < kNodeCount; ++i) {
        if (!bind_fd(fds[i], kNodes[i].path, kNodes[i].dir)) return false;
    }
    for (const Link& l : kLinks) {
        if (symlink(l.target, l.path) != 0) return fail("symlink", l.path);
    }
    return true;
}

}  // namespace

bool devns_enter() {
    if (g_entered) return true;
    if (unshare(CLONE_NEWNS) != 0) {
        return fail("unshare(CLONE_NEWNS) (needs root, before any thread)",
                    "");
    }
    if (mount("none", "/", "none", MS_REC | MS_PRIVATE, nullptr) != 0) {
        return fail("making mounts private under", "/");
    }
    int fds[kNodeCount];
    size_t opened = 0;
    bool ok = true;
    for (; opened < kNodeCount; ++opened) {
        fds[opened] = open(kNodes[opened].path, O_PATH | O_CLOEXEC);
        if (fds[opened] < 0) {
            ok = fail("open", kNodes[opened].path);
            break;
        }
    }
    if (ok && mount("tmpfs", "/dev", "tmpfs", 0, "mode=755") != 0) {
        ok = fail("tmpfs mount on", "/dev");
    }
    ok = ok && populate(fds);
    for (size_t i = 0; i < opened; ++i) close(fds[i]);
    g_entered = ok;
    return ok;
}

int devns_main(int argc, char** argv, int (*body)(int, char**)) {
    if (!devns_enter()) {
        std::fprintf(stderr, "devns: cannot set up the test namespace\n");
        return 1;
    }
    return body(argc, argv);
}
