// Test harness: a private mount namespace in which "/dev/ttyMT1" is whatever
// a test needs: a pseudo-terminal, nothing, a regular file, a directory or a
// FIFO. Nothing is visible outside the test process (and its children), and
// everything disappears when the process exits.
//
// Usage (link devns_gtest_main, which calls devns_enter() before any test):
//   int master = devns_install_pty();      // the engine's side; caller owns it
//   SimRunner* sim = sim_create(master);    // see tools/sim/sim_runner.h
//   ...library calls open /dev/ttyMT1...
//   tcflow(devns_slave_fd(), TCOOFF);      // stop the library's output
//   devns_set_shape(DevnsShape::Fifo);     // or Absent, Regular, Directory
//   DevnsRun run = devns_run({"/bin/sh", "-c", "ls -l /dev"}, 5000);
//   devns_teardown();
//
// devns_enter() must run first thing in main(), before any thread exists:
// it unshares the mount namespace, makes every mount private, covers /dev
// with a tmpfs and brings back null, zero, random, urandom, pts and ptmx
// (and the fd/stdin/stdout/stderr links). It needs root (CAP_SYS_ADMIN).
#pragma once

#include <string>
#include <vector>

extern const char kDevnsDevice[];  // "/dev/ttyMT1"

enum class DevnsShape { Absent, Regular, Directory, Fifo, Pty };

// False (with the reason on stderr) when the namespace cannot be set up.
bool devns_enter();

// Replaces the device with a fresh pty. Returns the master descriptor
// (O_CLOEXEC, owned by the caller) or -1. The harness keeps a slave
// descriptor open so that the pty outlives the library's open/close cycles.
int devns_install_pty();

// The harness's slave descriptor of the current pty, or -1.
int devns_slave_fd();

// Replaces the device with the given shape (not Pty: use devns_install_pty).
bool devns_set_shape(DevnsShape shape);
DevnsShape devns_shape();

// Removes the device and closes the slave descriptor.
void devns_teardown();

struct DevnsRun {
    int status = -1;     // exit code; 128 + signal; -1 start failure; -2 timeout
    std::string output;  // stdout and stderr together
};

// Runs argv[0] (searched in PATH) inside the namespace with the device as it
// stands, and waits for it at most timeout_ms (then kills it).
DevnsRun devns_run(const std::vector<std::string>& argv, int timeout_ms);

// For a test main without GoogleTest: enters the namespace, then runs body.
int devns_main(int argc, char** argv, int (*body)(int, char**));
