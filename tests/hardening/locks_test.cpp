// One owner of the line under what the system's locks allow. The process
// runs once per kind of system (tests/CMakeLists: SCANJNI_LOCK_FAULT for
// the lock_faults interposer): description locks (unset), flock only
// (EINVAL), and no locks at all (EACCES, EPERM); and once with description
// locks but no watch on the device (SCANJNI_WATCH_FAULT). Each runs the
// four situations: per-call alone, a session alone, a session with
// per-call calls of this process, and with those of another process; and
// the wait for the release of another process's session.
#include "session_env.h"

#include <signal.h>
#include <sys/wait.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {

// What the system allows, and what the library then says once.
struct System {
    const char *fault;    // SCANJNI_LOCK_FAULT
    int err;              // the errno in the line said once; 0: none said
    const char *once;     // the line's text after "<sig>, "
    bool guards_others;   // another process's calls and sessions are kept off
    bool busy_at_once;    // another session's open is refused at once
} const kSystems[] = {
    {"", 0, "", true, true},
    {"EINVAL", EINVAL, "no description locks (errno = 22): whole-file locks, cycles of processes not kept apart", true, false},
    {"EACCES", EACCES, "the system refuses locks on the port (errno = 13): other processes cannot be kept off it", false, false},
    {"EPERM", EPERM, "the system refuses locks on the port (errno = 1): other processes cannot be kept off it", false, false},
};

const System &this_system()
{
    const char *f = getenv("SCANJNI_LOCK_FAULT");
    for (const System &s : kSystems) {
        if (strcmp(s.fault, f ? f : "") == 0)
            return s;
    }
    return kSystems[0];
}

// The lines said once, over every test of the process: at most one each.
int g_said_once;
int g_no_watch_said;

bool watch_refused()
{
    return getenv("SCANJNI_WATCH_FAULT") != nullptr;
}

int said_once(const std::vector<LogLine> &lines)
{
    int n = 0;
    for (const LogLine &l : lines) {
        n += l.prio == 5 && this_system().err != 0 &&
             l.text.size() > strlen(this_system().once) &&
             l.text.compare(l.text.size() - strlen(this_system().once), std::string::npos,
                            this_system().once) == 0;
    }
    return n;
}

bool held_elsewhere_said(const std::vector<LogLine> &lines)
{
    for (const LogLine &l : lines) {
        if (l.text.find("port held by another process!") != std::string::npos ||
            l.text.find("port busy!") != std::string::npos)
            return true;
    }
    return false;
}

class Locks : public SessionTest {
protected:
    void TearDown() override
    {
        std::vector<LogLine> lines = logs_taken();
        g_said_once += said_once(lines);
        for (const LogLine &l : lines)
            g_no_watch_said += l.text.find("the port cannot be watched (errno = 13)") != std::string::npos;
        SessionTest::TearDown();
    }
};

// The line is said once per process, as soon as the first lock is asked
// for, and only on a system that does not give description locks.
class SaidOnce : public testing::Environment {
    void TearDown() override
    {
        EXPECT_EQ(g_said_once, this_system().err != 0 ? 1 : 0) << this_system().once;
        EXPECT_EQ(g_no_watch_said, watch_refused() ? 1 : 0);
    }
};
testing::Environment *const g_env = testing::AddGlobalTestEnvironment(new SaidOnce);

TEST_F(Locks, PerCallAlone)
{
    EXPECT_EQ(overlapping_checks_wrong(5), 0) << "overlapping cycles did not take turns";
    EXPECT_EQ(shown(scan_get_timeout()), "\"1234\"");
    EXPECT_FALSE(held_elsewhere_said(logs_taken()));
}

TEST_F(Locks, SessionAlone)
{
    ASSERT_NO_FATAL_FAILURE(open());
    sim_send_scan(sim, sim_scan(bytes_of("LOCKS-SCAN-1"), SimScanTrigger::AfterDelay, 5));
    EXPECT_EQ(wait(2000).bytes, "LOCKS-SCAN-1");
    int error = 0;
    EXPECT_EQ(scan_session_open(&error), nullptr) << "two sessions in one process";
    EXPECT_EQ(error, SCAN_SESSION_BUSY);
    scan_session_close(session);
    session = nullptr;
    ASSERT_NO_FATAL_FAILURE(open());
    EXPECT_EQ(scan_session_wait_free(0), 0) << "this process's session holds the port";
}

TEST_F(Locks, SessionWithPerCallHere)
{
    ASSERT_NO_FATAL_FAILURE(open());
    EXPECT_EQ(scan_type_check(3), true);
    EXPECT_EQ(shown(scan_get_timeout()), "\"1234\"");
    std::vector<LogLine> lines = logs_taken();
    EXPECT_EQ(count_lines(lines, core_line(3, kTimeoutGetSig + ", on the held port")), 1);
    EXPECT_FALSE(held_elsewhere_said(lines));
}

// Another process: its per-call calls and its session are refused at once
// where the system lets the library lock (a session's open waits out the
// cycles it cannot tell from a session where only flock is there). Where
// no lock is given they are not kept off: they end within their bounds,
// and nothing says "held" without a holder.
TEST_F(Locks, SessionWithCallsOfAnotherProcess)
{
    ASSERT_NO_FATAL_FAILURE(open());
    std::string line = in_child([] {
        logs_reset();
        auto start = std::chrono::steady_clock::now();
        bool checked = scan_type_check(3);
        long check_ms = ms_since(start);
        start = std::chrono::steady_clock::now();
        int error = 0;
        // Left out where a forked child cannot start the session's reader.
        ScanSession *s = kForkedChildThreads ? scan_session_open(&error) : nullptr;
        long open_ms = ms_since(start);
        scan_session_close(s);
        char text[160];
        snprintf(text, sizeof text, "%d %ld %d %ld %d", checked, check_ms,
                 s != nullptr ? 0 : error, open_ms, held_elsewhere_said(logs_taken()));
        return std::string(text);
    });
    int checked = -1, open_error = 1, said_held = -1;
    long check_ms = -1, open_ms = -1;
    ASSERT_EQ(sscanf(line.c_str(), "%d %ld %d %ld %d", &checked, &check_ms, &open_error, &open_ms,
                     &said_held),
              5)
        << line;
    printf("another process: check %d in %ld ms, session open %d in %ld ms, held said %d\n",
           checked, check_ms, open_error, open_ms, said_held);
    const System &sys = this_system();
    if (sys.guards_others) {
        EXPECT_EQ(checked, 0);
        EXPECT_LT(check_ms, 500) << "not refused at once";
        EXPECT_EQ(said_held, 1);
    } else {
        EXPECT_LT(check_ms, 3000);
        EXPECT_EQ(said_held, 0);
    }
    if (kForkedChildThreads) {
        EXPECT_EQ(open_error, sys.guards_others ? SCAN_SESSION_BUSY : 0);
    }
    if (kForkedChildThreads && sys.busy_at_once) {
        EXPECT_LT(open_ms, 1000);
    }
    // This process's session is still there and works.
    EXPECT_EQ(scan_session_check_type(session, 3), 1);
}

// A session of another process, closed 300 ms in: the wait sees its
// release where locks tell of it (within the re-check period where the
// watch is refused, said once), and at once where nothing tells of it.
TEST_F(Locks, WaitForTheReleaseOfAnotherProcess)
{
    if (!kForkedChildThreads)
        GTEST_SKIP() << "the holder's session cannot start its reader in a forked child here";
    Child holder([](int out, int) {
        int error = 0;
        ScanSession *s = scan_session_open(&error);
        say(out, s != nullptr ? "held" : "refused");
        usleep(300000);
        scan_session_close(s);
        say(out, std::to_string(sim_now_us()));
        return 0;
    });
    ASSERT_EQ(holder.line(), "held");
    EXPECT_EQ(scan_session_wait_free(5000), 1);
    int64_t free_us = sim_now_us();
    const int64_t closed = atoll(holder.line().c_str());
    holder.end();
    if (this_system().guards_others) {
        EXPECT_GE(free_us, closed - 5000) << "free while held";
        // The re-check period without a watch, and a loaded machine's stalls.
        EXPECT_LT(free_us - closed, 250000) << "the release heard late";
    } else {
        EXPECT_LT(free_us, closed) << "nothing tells of another process's session";
    }
}

} // namespace
