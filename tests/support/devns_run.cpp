// Running a program inside the namespace with the device as it stands.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include "devns.h"

namespace {

int64_t now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch())
        .count();
}

int decode(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

// Collects the child's output until it closes the pipe or time runs out.
bool collect(int fd, int64_t deadline, std::string* out) {
    char buf[4096];
    for (;;) {
        int64_t left = deadline - now_ms();
        if (left <= 0) return false;
        pollfd p = {fd, POLLIN, 0};
        int rc = poll(&p, 1, static_cast<int>(left));
        if (rc < 0 && errno == EINTR) continue;
        if (rc <= 0) return false;
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return true;
        out->append(buf, static_cast<size_t>(n));
    }
}

}  // namespace

DevnsRun devns_run(const std::vector<std::string>& argv, int timeout_ms) {
    DevnsRun run;
    if (argv.empty()) return run;
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    int pipefd[2];
    if (pipe2(pipefd, O_CLOEXEC) != 0) return run;
    pid_t pid = fork();
    if (pid < 0) {
        close(pipefd[0]);
        close(pipefd[1]);
        return run;
    }
    if (pid == 0) {
        // Only async-signal-safe calls here: the parent may have threads.
        dup2(pipefd[1], 1);
        dup2(pipefd[1], 2);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(pipefd[1]);
    bool finished = collect(pipefd[0], now_ms() + timeout_ms, &run.output);
    close(pipefd[0]);
    int status = 0;
    if (!finished) kill(pid, SIGKILL);
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.status = finished ? decode(status) : -2;
    return run;
}
