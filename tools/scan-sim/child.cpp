#include "child.h"

#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

volatile sig_atomic_t g_child = 0;

void forward(int sig) {
    if (g_child > 0) kill(static_cast<pid_t>(g_child), sig);
}

}  // namespace

pid_t start_child(char** argv) {
    pid_t pid = fork();
    if (pid < 0) {
        fprintf(stderr, "scan-sim: fork failed: %s\n", strerror(errno));
        return -1;
    }
    if (pid == 0) {
        // The simulator's thread exists in the parent: only exec here.
        execvp(argv[0], argv);
        const char msg[] = "scan-sim: cannot run the command\n";
        ssize_t ignored = write(2, msg, sizeof msg - 1);
        (void)ignored;
        _exit(127);
    }
    g_child = pid;
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = forward;
    sigemptyset(&sa.sa_mask);
    const int kForwarded[] = {SIGINT, SIGTERM, SIGHUP};
    for (int sig : kForwarded) sigaction(sig, &sa, nullptr);
    return pid;
}

int wait_child(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return 127;
    }
    g_child = 0;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return 127;
}
