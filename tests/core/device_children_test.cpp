// The port among processes as an app meets them: children started while
// a call is under way (fork + exec, and fork alone), a process killed in
// the middle of a call, a holder in another process that lets the port go
// while this one waits for it, and cycles of another process that hold
// the port for a long time.
#include "session_env.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <atomic>

namespace {

// Starts "/bin/sleep 8" as the JVM's process launcher does: posix_spawn,
// a fork + exec that runs no fork handler of the library, so that only
// close-on-exec keeps the port's descriptors from the child.
pid_t start_sleeper()
{
    char sleep_path[] = "/bin/sleep", seconds[] = "8";
    char *argv[] = {sleep_path, seconds, nullptr};
    pid_t pid = -1;
    return posix_spawn(&pid, sleep_path, nullptr, nullptr, argv, environ) == 0 ? pid : -1;
}

void end_sleeper(pid_t pid)
{
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

// The descriptors of the device that a process has open.
int device_fds(pid_t pid)
{
    std::string dir = "/proc/" + std::to_string(pid) + "/fd";
    DIR *d = opendir(dir.c_str());
    if (!d)
        return -1;
    int n = 0;
    struct stat dev;
    if (stat(kDevnsDevice, &dev) != 0) {
        closedir(d);
        return -1;
    }
    while (struct dirent *e = readdir(d)) {
        struct stat st;
        if (stat((dir + "/" + e->d_name).c_str(), &st) == 0 && st.st_rdev == dev.st_rdev &&
            S_ISCHR(st.st_mode))
            n++;
    }
    closedir(d);
    return n;
}

// A question of another process: its answer, or "null".
std::string timeout_elsewhere()
{
    Child asker([](int out, int) {
        say(out, shown(scan_get_timeout()));
        return 0;
    });
    std::string got = asker.line();
    asker.end();
    return got;
}

class Children : public SessionTest {};

// A child started with fork + exec while a call runs, from another thread
// of the app: it holds neither the port nor its lock, so the next call of
// this process and of another works at once.
TEST_F(Children, ExecDuringACallKeepsNothing)
{
    struct Case {
        const char *what;
        int fork_after_ms;
        std::function<void()> call;
    } const cases[] = {
        {"a scan data read", 200, [] { scan_read_data(); }},
        {"a question", 20, [] { scan_get_timeout(); }},
        {"a session", 20,
         [] {
             int error = 0;
             ScanSession *s = scan_session_open(&error);
             usleep(100000);
             scan_session_close(s);
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        sim_set_line(sim, [] {
            SimLine l;
            l.reply_delay_us = 60000; // a question that lasts
            return l;
        }());
        std::atomic<pid_t> sleeper{-1};
        std::thread starter([&] {
            usleep(static_cast<useconds_t>(c.fork_after_ms * 1000));
            sleeper = start_sleeper();
        });
        c.call();
        starter.join();
        ASSERT_GT(sleeper.load(), 0);
        usleep(50000); // the exec is done
        EXPECT_EQ(device_fds(sleeper), 0) << "the child kept the port";
        sim_set_line(sim, SimLine());
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(shown(scan_get_timeout()), "\"1234\"");
        EXPECT_LT(ms_since(start), 1000) << "this process waited for the child";
        EXPECT_EQ(timeout_elsewhere(), "\"1234\"");
        int error = 0;
        ScanSession *s = scan_session_open(&error);
        EXPECT_NE(s, nullptr) << error;
        scan_session_close(s);
        end_sleeper(sleeper);
    }
}

// A child forked (without exec) while another thread's port cycle runs:
// it holds no turn and no lock of its parent, so its own call waits for
// nothing of the parent's but the cycle under way on the line.
TEST_F(Children, ForkDuringACycleOfAnotherThread)
{
    std::thread reader([] { scan_read_data(); });
    ASSERT_TRUE(sim_wait_configures(sim, 1, 2000));
    usleep(100000);
    Child child([](int out, int) {
        auto start = std::chrono::steady_clock::now();
        std::string got = shown(scan_get_timeout());
        say(out, got + " after " + std::to_string(ms_since(start)));
        got = shown(scan_get_timeout());
        say(out, got + " again after " + std::to_string(ms_since(start)));
        return 0;
    });
    std::string first = child.line(), second = child.line();
    EXPECT_EQ(child.end(), 0);
    reader.join();
    long took = -1, again = -1;
    char got[32] = "";
    EXPECT_EQ(sscanf(first.c_str(), "%31s after %ld", got, &took), 2) << first;
    EXPECT_STREQ(got, "\"1234\"") << first;
    EXPECT_LT(took, 2500) << "the child waited for its parent's lock: " << first;
    EXPECT_EQ(sscanf(second.c_str(), "%31s again after %ld", got, &again), 2) << second;
    EXPECT_STREQ(got, "\"1234\"") << second;
}

// A process killed in the middle of a per-call cycle, or of a session's
// request, gives the port up with its descriptors: the next process takes
// it at once.
TEST_F(Children, KilledInTheMiddleOfACall)
{
    struct Case {
        const char *what;
        bool silent; // the engine leaves the question unanswered
        std::function<int(int)> body; // says "in" just before its call
    } const cases[] = {
        {"a scan data read", false,
         [](int out) {
             say(out, "in");
             scan_read_data();
             return 0;
         }},
        {"a session's question", true,
         [](int out) {
             int error = 0;
             ScanSession *s = scan_session_open(&error);
             say(out, "in");
             scan_session_check_type(s, 3);
             return 0;
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        if (c.silent && !kForkedChildThreads)
            continue; // the child's session cannot start its reader
        if (c.silent)
            sim_push_fault(sim, sim_fault(SimFaultKind::Silence));
        Child victim([&](int out, int) { return c.body(out); });
        ASSERT_EQ(victim.line(), "in");
        usleep(40000); // inside its read or its question's wait
        EXPECT_EQ(victim.end(SIGKILL), 128 + SIGKILL);
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(shown(scan_get_timeout()), "\"1234\"");
        EXPECT_LT(ms_since(start), 1000) << "the port was not free at once";
        int error = 0;
        ScanSession *s = scan_session_open(&error);
        EXPECT_NE(s, nullptr) << error;
        scan_session_close(s);
    }
}

// A session of another process: a second open is refused at once, and a
// wait for the port ends within a few milliseconds of the holder's close
// (measured against the holder's own clock reading: the same monotonic
// clock); a wake ends it at once; a port free now is free at once.
TEST_F(Children, WaitForTheHoldersRelease)
{
    if (!kForkedChildThreads)
        GTEST_SKIP() << "the holder's session cannot start its reader in a forked child here";
    Child holder([](int out, int in) {
        int error = 0;
        ScanSession *s = scan_session_open(&error);
        say(out, s != nullptr ? "held" : "refused");
        hear(in);
        scan_session_close(s);
        say(out, std::to_string(sim_now_us()));
        return 0;
    });
    ASSERT_EQ(holder.line(), "held");

    int error = 0;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(scan_session_open(&error), nullptr);
    EXPECT_EQ(error, SCAN_SESSION_BUSY);
    EXPECT_LT(ms_since(start), 1000) << "a held port taken for port cycles";

    start = std::chrono::steady_clock::now();
    EXPECT_EQ(scan_session_wait_free(200), 0) << "free while held";
    EXPECT_GE(ms_since(start), 190);
    std::thread waker([] {
        usleep(100000);
        scan_session_wake_free();
    });
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(scan_session_wait_free(10000), 0);
    EXPECT_LT(ms_since(start), 2000) << "the wake did not end the wait";
    waker.join();

    std::atomic<int64_t> free_us{0};
    std::thread waiter([&] {
        if (scan_session_wait_free(20000) == 1)
            free_us = sim_now_us();
    });
    usleep(300000);
    holder.tell('c');
    int64_t closed_us = atoll(holder.line().c_str());
    waiter.join();
    EXPECT_EQ(holder.end(), 0);
    ASSERT_GT(free_us.load(), 0) << "the wait did not see the release";
    printf("the wait ended %.1f ms after the holder's close\n", (free_us - closed_us) / 1000.0);
    // A few ms here; 250 ms leaves room for a loaded machine's stalls
    // while failing a wait that polls on a back-off.
    EXPECT_LT((free_us - closed_us) / 1000, 250) << "heard the release late";
    EXPECT_EQ(scan_session_wait_free(0), 1) << "a free port";
    ASSERT_NO_FATAL_FAILURE(open());
    EXPECT_EQ(scan_session_wait_free(0), 0) << "this process's own session holds it";
}

// What the device path gives a wait: SCAN_SESSION_NO_PORT when it cannot
// be opened, SCAN_SESSION_INVALID for a negative time.
TEST_F(Children, WaitForAPortThatIsNot)
{
    EXPECT_EQ(scan_session_wait_free(-1), SCAN_SESSION_INVALID);
    ASSERT_TRUE(devns_set_shape(DevnsShape::Absent));
    EXPECT_EQ(scan_session_wait_free(100), SCAN_SESSION_NO_PORT);
}

// The cycle byte held on a description of its own stands for another
// process's port cycle. A cycle of this process waits for it up to its
// bound (a long one is waited for, not given up early), gives up after
// the bound and then leaves its turn, so that the next cycle runs at once.
TEST_F(Children, LongCycleOfAnotherProcess)
{
    int other = ::open(kDevnsDevice, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(other, 0);
    struct flock cycle = {};
    cycle.l_type = F_WRLCK;
    cycle.l_whence = SEEK_SET;
    cycle.l_start = 1;
    cycle.l_len = 1;
    ASSERT_EQ(fcntl(other, 37 /* F_OFD_SETLK */, &cycle), 0);

    std::thread release([other] {
        usleep(1000000);
        struct flock unlock = {};
        unlock.l_type = F_UNLCK;
        unlock.l_whence = SEEK_SET;
        unlock.l_start = 1;
        unlock.l_len = 1;
        fcntl(other, 37, &unlock);
    });
    EXPECT_EQ(shown(scan_get_timeout()), "\"1234\"") << "gave up a one-second cycle";
    release.join();
    int waited = 0;
    for (const LogLine &l : logs_taken())
        sscanf(l.text.c_str(), "char *scan_get_timeout(), port in use by another call: waited %d",
               &waited);
    EXPECT_GE(waited, 900);

    ASSERT_EQ(fcntl(other, 37, &cycle), 0);
    logs_reset();
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(shown(scan_get_timeout()), "null");
    long took = ms_since(start);
    EXPECT_GE(took, 3400);
    EXPECT_LT(took, 6000) << "no give-up";
    EXPECT_EQ(count_lines(logs_taken(),
                          core_line(6, kTimeoutGetSig + ", port in use by another call! errno = 11")),
              1);
    close(other);
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(shown(scan_get_timeout()), "\"1234\"");
    EXPECT_LT(ms_since(start), 1000) << "the cycle that gave up kept its turn";
}

} // namespace
