// Running the command under test as a child process.
#pragma once

#include <sys/types.h>

// Forks and execs argv (searched in PATH); the child shares stdin, stdout,
// stderr and the mount namespace. Returns the pid or -1.
pid_t start_child(char** argv);

// Waits for the child, passing SIGINT, SIGTERM and SIGHUP on to it.
// Returns its exit code, 128 + signal when killed, 127 when exec failed.
int wait_child(pid_t pid);
