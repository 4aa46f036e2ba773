// The fixture of the held-port session's device tests: the simulated
// engine with known answers (known_engine), and a session that the test
// opens and the fixture closes; and a child process to hold or ask for
// the port from outside this one.
#ifndef SCANJNI_TESTS_SESSION_ENV_H
#define SCANJNI_TESTS_SESSION_ENV_H

#include "device_env.h"
#include "scansession.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>

#include <atomic>
#include <functional>

// A scan's bytes as the simulated engine takes them.
inline std::vector<uint8_t> bytes_of(const std::string &s)
{
    return std::vector<uint8_t>(s.begin(), s.end());
}

// A child forked from a process with threads cannot start a thread of its
// own (a session's reader) under an emulator: tests that need one there
// leave that part out.
#ifdef SIM_UNDER_EMULATOR
constexpr bool kForkedChildThreads = false;
#else
constexpr bool kForkedChildThreads = true;
#endif

constexpr int kChildQuietMs = 10000;

// A child process: started by fork, it runs body and exits with its
// result; the parent reads what it reports through a pipe.
struct Child {
    pid_t pid = -1;
    int from = -1; // what the child writes
    int to = -1;   // what the child reads

    explicit Child(const std::function<int(int out, int in)> &body)
    {
        int up[2], down[2];
        if (pipe2(up, O_CLOEXEC) != 0 || pipe2(down, O_CLOEXEC) != 0)
            return;
        pid = fork();
        if (pid == 0) {
            close(up[0]);
            close(down[1]);
            _exit(body(up[1], down[0]));
        }
        close(up[1]);
        close(down[0]);
        from = up[0];
        to = down[1];
    }

    // A line from the child ("" when it closed the pipe or said nothing
    // for kChildQuietMs: a child that hangs).
    std::string line()
    {
        std::string s;
        char c;
        struct pollfd p = {from, POLLIN, 0};
        while (poll(&p, 1, kChildQuietMs) == 1 && read(from, &c, 1) == 1 && c != '\n')
            s += c;
        return s;
    }

    void tell(char c)
    {
        ssize_t put = write(to, &c, 1);
        (void)put;
    }

    // The child's exit code; 128 + signal when killed. A child still there
    // after kChildQuietMs is killed.
    int end(int sig = 0)
    {
        if (sig != 0)
            kill(pid, sig);
        for (int waited = 0; sig == 0 && waited < kChildQuietMs; waited += 10) {
            siginfo_t info = {};
            if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
                info.si_pid != 0)
                break;
            usleep(10000);
        }
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        close(from);
        close(to);
        return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
    }
};

inline void say(int fd, const std::string &s)
{
    std::string l = s + "\n";
    ssize_t put = write(fd, l.data(), l.size());
    (void)put;
}

inline char hear(int fd)
{
    char c = 0;
    return read(fd, &c, 1) == 1 ? c : 0;
}

// Two threads that ask whether types 3 (enabled) and 4 (not) are enabled,
// rounds times each, their port cycles overlapping: the wrong answers.
inline int overlapping_checks_wrong(int rounds)
{
    std::atomic<int> wrong{0};
    auto asker = [&](int type, bool enabled) {
        for (int i = 0; i < rounds; i++)
            wrong += scan_type_check(type) != enabled;
    };
    std::thread a(asker, 3, true), b(asker, 4, false);
    a.join();
    b.join();
    return wrong;
}

// What a wait for a scan gave: its result, the scan's bytes and its first
// byte's time.
struct Waited {
    int result;
    std::string bytes;
    int64_t first_us;
};

class SessionTest : public DeviceTest {
protected:
    void SetUp() override
    {
        DeviceTest::SetUp();
        known_engine(sim);
    }

    void TearDown() override
    {
        scan_session_close(session);
        DeviceTest::TearDown();
    }

    void open()
    {
        int error = 0;
        session = scan_session_open(&error);
        ASSERT_NE(session, nullptr) << "error " << error;
    }

    // A wait for a scan on the session, into a buffer that holds any.
    Waited wait(int timeout_ms)
    {
        static thread_local unsigned char buf[SCAN_SESSION_MAX_SCAN];
        int64_t first_us = -1;
        int r = scan_session_wait_scan(session, timeout_ms, buf, sizeof buf, &first_us);
        return {r, r > 0 ? std::string(buf, buf + r) : std::string(), first_us};
    }

    ScanSession *session = nullptr;
};

// A fixture run with the engine's bytes handed over one at a time, or in
// the bursts the parameter gives, as a UART's FIFO or DMA does (a short
// remainder at a message's end comes at once, as its receive timeout
// would flush it).
template <typename Base>
class WithBursts : public Base, public testing::WithParamInterface<size_t> {
protected:
    void SetUp() override
    {
        Base::SetUp();
        SimLine line;
        line.burst = this->GetParam();
        sim_set_line(this->sim, line);
    }
};

#endif
