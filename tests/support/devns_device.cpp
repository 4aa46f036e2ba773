// The shape of /dev/ttyMT1 inside the namespace.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "devns.h"

const char kDevnsDevice[] = "/dev/ttyMT1";

namespace {

DevnsShape g_shape = DevnsShape::Absent;
int g_slave = -1;

bool fail(const char* what) {
    std::fprintf(stderr, "devns: %s %s failed: %s\n", what, kDevnsDevice,
                 std::strerror(errno));
    return false;
}

// A device that someone else already took away (a command run inside the
// namespace may do that on purpose) counts as removed.
bool gone() { return errno == ENOENT || errno == EINVAL; }

bool remove_device() {
    switch (g_shape) {
        case DevnsShape::Absent:
            return true;
        case DevnsShape::Pty:
            if (umount2(kDevnsDevice, MNT_DETACH) != 0 && !gone()) return fail("umount");
            close(g_slave);
            g_slave = -1;
            break;
        case DevnsShape::Directory:
            if (rmdir(kDevnsDevice) != 0 && !gone()) return fail("rmdir");
            g_shape = DevnsShape::Absent;
            return true;
        default:
            break;
    }
    g_shape = DevnsShape::Absent;
    if (unlink(kDevnsDevice) != 0 && !gone()) return fail("unlink");
    return true;
}

// Opens a new pty pair; the slave is opened after the namespace was
// entered, which the bind mount of its /proc/self/fd path requires.
int open_pty(int* slave) {
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) return -1;
    char name[64];
    if (grantpt(master) != 0 || unlockpt(master) != 0 ||
        ptsname_r(master, name, sizeof name) != 0 ||
        (*slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC)) < 0) {
        close(master);
        return -1;
    }
    return master;
}

}  // namespace

int devns_install_pty() {
    if (!remove_device()) return -1;
    int slave = -1;
    int master = open_pty(&slave);
    if (master < 0) {
        fail("opening a pty for");
        return -1;
    }
    char src[64];
    std::snprintf(src, sizeof src, "/proc/self/fd/%d", slave);
    if (mknod(kDevnsDevice, S_IFREG | 0666, 0) != 0 ||
        mount(src, kDevnsDevice, "none", MS_BIND, nullptr) != 0) {
        fail("binding the pty onto");
        unlink(kDevnsDevice);
        close(slave);
        close(master);
        return -1;
    }
    g_slave = slave;
    g_shape = DevnsShape::Pty;
    return master;
}

int devns_slave_fd() { return g_slave; }

bool devns_set_shape(DevnsShape shape) {
    if (shape == DevnsShape::Pty || !remove_device()) return false;
    int rc = 0;
    switch (shape) {
        case DevnsShape::Regular:
            rc = mknod(kDevnsDevice, S_IFREG | 0666, 0);
            break;
        case DevnsShape::Directory:
            rc = mkdir(kDevnsDevice, 0755);
            break;
        case DevnsShape::Fifo:
            rc = mkfifo(kDevnsDevice, 0666);
            break;
        default:
            break;
    }
    if (rc != 0) return fail("creating");
    g_shape = shape;
    return true;
}

DevnsShape devns_shape() { return g_shape; }

void devns_teardown() { remove_device(); }
