// Eight threads calling every operation at once on one device, through
// the core and through the Java bridge's adapters.
//
// Calls that overlap take turns on the line (one port cycle after the
// other), so every answer is the one its own question got. Each thread
// makes every kind of call once, in an order of its own. The tests check:
//   - no crash, no hang, no sanitizer report;
//   - every result is one a call of its kind can give;
//   - every returned text is made of bytes that the engine sent, and has
//     a length its operation can give (four characters for a timeout, at
//     most 13 for a query value);
//   - a returned text stays as it was while other threads call the same
//     function, until its own thread calls that function again, and no two
//     threads are ever handed the same storage.
#include "bridge.h"
#include "engine_fixture.h"
#include "hardening.h"
#include "hostlog.h"
#include "scanjni.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kThreads = 8;
// Every thread's calls, one after the other on the line, end within this.
constexpr long kRunMs = 12000;

const int kTimeouts[] = {1000, 2000, 3000};
const int kQueryNumbers[] = {100002, 800001, 2147483647, -5, 861001, 424242};
const char kScanData[] = "SCANDATA";
const char kCommand[] = "PING";

// The bytes before the ACK byte of every reply that the engine can send
// here, and every byte that it can send at all.
struct EngineOutput {
    std::vector<std::string> prefixes;
    std::string alphabet;
};

EngineOutput engine_output()
{
    EngineOutput out;
    for (const char *code : kSimTypeCodes) {
        out.prefixes.push_back(std::string(code) + "0");
        out.prefixes.push_back(std::string(code) + "1");
    }
    for (int t : kTimeouts)
        out.prefixes.push_back(kSimTimeoutCode + sim_timeout_text(t));
    SimEngine fresh;
    sim_engine_init(&fresh);
    for (int number : kQueryNumbers) {
        const std::string *value = sim_engine_setting(&fresh, std::to_string(number));
        if (value != nullptr)
            out.prefixes.push_back(std::to_string(number) + *value);
    }
    for (const std::string &p : out.prefixes)
        out.alphabet += p;
    out.alphabet += std::string(kScanData) + "424242" + char(kSimAck) + char(kSimNak) +
                    char(kSimFinal);
    return out;
}

bool from_alphabet(const std::string &s, const EngineOutput &e)
{
    return s.find_first_not_of(e.alphabet) == std::string::npos;
}

bool valid_timeout(const std::string &s, const EngineOutput &e)
{
    return s.empty() || (s.size() == 4 && from_alphabet(s, e));
}

bool valid_query(const std::string &s, const EngineOutput &e)
{
    return s.empty() || (s.size() <= 13 && from_alphabet(s, e));
}

bool valid_scan(const std::string &s, const EngineOutput &e)
{
    return s.size() < 8192 && from_alphabet(s, e);
}

// The operations as one caller sees them: through the core, or through
// the adapters with a scripted JNIEnv of the calling thread.
struct Api {
    bool (*write)(int op, int i); // true when the result is one the op can give
    bool (*check)(int type);
    const char *(*timeout)();
    const char *(*query)(int number);
    const char *(*read)();
    bool texts_from_core;         // the texts are the core's own storage
};
constexpr int kWriteOps = 6;

bool core_write(int op, int i)
{
    switch (op) {
    case 0: { int r = scan_open_dev(i % 2 == 0); return r == 3 || r == -1; }
    case 1: { int r = scan_enable_type(i % 2 == 0, i % 35); return r == 11 || r == -1; }
    case 2: { int r = scan_set_timeout(kTimeouts[i % 3]); return r == 14 || r == -1; }
    case 3: { int r = scan_set_command(kCommand); return r == 8 || r == -1; }
    case 4: { int r = profile_scan_type(); return r == 20 || r == -1; }
    default:
        return scan_enable_type(true, 35) == -1 && scan_set_timeout(10000) == 0 &&
               scan_set_command(std::string(256, 'x').c_str()) == 0;
    }
}

const Api kCoreApi = {core_write, scan_type_check, []() -> const char * { return scan_get_timeout(); },
                      [](int number) -> const char * { return scan_query_data(number); },
                      []() -> const char * { return scan_read_data(); }, true};

// The scripted VM: each thread has its own environment; a new string
// keeps a copy of its characters in the calling thread.
thread_local std::string t_made;
thread_local int t_string_token;

jstring new_string_utf(JNIEnv *, const char *chars)
{
    t_made = chars;
    return reinterpret_cast<jstring>(&t_string_token);
}

const char *get_string_utf_chars(JNIEnv *, jstring, jboolean *)
{
    return kCommand;
}

void release_string_utf_chars(JNIEnv *, jstring, const char *) {}

JNINativeInterface make_functions()
{
    JNINativeInterface f{};
    f.NewStringUTF = new_string_utf;
    f.GetStringUTFChars = get_string_utf_chars;
    f.ReleaseStringUTFChars = release_string_utf_chars;
    return f;
}
const JNINativeInterface kFunctions = make_functions();

JNIEnv *thread_env()
{
    thread_local JNIEnv env{&kFunctions};
    return &env;
}

const char *made_text(jstring s)
{
    return s != nullptr ? t_made.c_str() : nullptr;
}

bool bridge_write(int op, int i)
{
    JNIEnv *env = thread_env();
    jboolean r = JNI_FALSE;
    switch (op) {
    case 0: r = i % 2 == 0 ? openDev(env, nullptr) : closeDev(env, nullptr); break;
    case 1: r = i % 2 == 0 ? enableType(env, nullptr, i % 35) : disableType(env, nullptr, i % 35); break;
    case 2: r = setTimeout(env, nullptr, kTimeouts[i % 3]); break;
    case 3: r = sendCommand(env, nullptr, reinterpret_cast<jstring>(&t_string_token)); break;
    case 4: r = profileScanType(env, nullptr); break;
    default: return enableType(env, nullptr, -1) == JNI_FALSE && setTimeout(env, nullptr, -1000) == JNI_FALSE;
    }
    return r == JNI_TRUE || r == JNI_FALSE;
}

const Api kBridgeApi = {
    bridge_write,
    [](int type) { return checkType(thread_env(), nullptr, type) == JNI_TRUE; },
    [] { return made_text(getTimeout(thread_env(), nullptr)); },
    [](int number) { return made_text(queryData(thread_env(), nullptr, number)); },
    [] { return made_text(readData(thread_env(), nullptr)); },
    false,
};

// A text as it was returned, to be compared with what its storage holds
// later.
struct Kept {
    const char *where = nullptr;
    std::string copy;
};

struct Worker {
    int id = 0;
    int calls[kWriteOps + 4] = {};
    int texts_with_content = 0;
    std::vector<std::string> errors;
    std::set<const void *> storage; // every text pointer this thread got

    void error(const std::string &what)
    {
        if (errors.size() < 10)
            errors.push_back(what);
    }
};

enum TextFn { TIMEOUT, QUERY, READ };

class Storm {
public:
    Storm(const Api &api) : api_(api), engine_(engine_output()) {}

    void run()
    {
        workers_.resize(kThreads);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; t++) {
            workers_[t].id = t;
            threads.emplace_back([this, t] { body(&workers_[t]); });
        }
        for (std::thread &th : threads)
            th.join();
    }

    const std::vector<Worker> &workers() const { return workers_; }

private:
    // Before a text function runs again on this thread: its last text and
    // the other functions' texts must still read as they were returned.
    void check_kept(Worker *w, const Kept *kept)
    {
        for (int f = TIMEOUT; f <= READ; f++)
            if (kept[f].where != nullptr && kept[f].copy != kept[f].where)
                w->error("text " + std::to_string(f) + " changed from \"" + kept[f].copy +
                         "\" to \"" + kept[f].where + "\"");
    }

    void take_text(Worker *w, Kept *kept, TextFn f, const char *text,
                   bool (*valid)(const std::string &, const EngineOutput &))
    {
        if (text == nullptr) {
            w->error("null text from function " + std::to_string(f));
            return;
        }
        w->texts_with_content += *text != '\0';
        if (!valid(text, engine_))
            w->error("text " + std::to_string(f) + " not from the engine: \"" + text + "\"");
        if (api_.texts_from_core) {
            kept[f].where = text;
            kept[f].copy = text;
            w->storage.insert(text);
        }
    }

    void body(Worker *w)
    {
        Kept kept[3];
        for (int i = w->id; i < w->id + kWriteOps + 4; i++) {
            int op = i % (kWriteOps + 4);
            check_kept(w, kept);
            w->calls[op]++;
            if (op < kWriteOps) {
                if (!api_.write(op, i))
                    w->error("write op " + std::to_string(op) + " gave an impossible result");
            } else if (op == kWriteOps) {
                api_.check(i % 35);
            } else if (op == kWriteOps + 1) {
                take_text(w, kept, TIMEOUT, api_.timeout(), valid_timeout);
            } else if (op == kWriteOps + 2) {
                int number = kQueryNumbers[i % (sizeof kQueryNumbers / sizeof kQueryNumbers[0])];
                take_text(w, kept, QUERY, api_.query(number), valid_query);
            } else {
                take_text(w, kept, READ, api_.read(), valid_scan);
            }
        }
        check_kept(w, kept);
        // Stay alive until every thread is done, so that no thread's
        // storage is freed and handed to another while texts are compared.
        finished_++;
        while (finished_.load() < kThreads)
            usleep(1000);
    }

    const Api &api_;
    const EngineOutput engine_;
    std::vector<Worker> workers_;
    std::atomic<int> finished_{0};
};

class ThreadStorm : public EngineFixture {
protected:
    void SetUp() override
    {
        EngineFixture::SetUp();
        hostlog_capture(0);
        hostlog_set_echo(0);
        // One call first leaves the line raw, echo off, before the threads
        // start: a pty's first settings would echo frames back.
        ASSERT_EQ(scan_open_dev(true), 3);
        sim_send_scan(sim, sim_scan(std::vector<uint8_t>(kScanData, kScanData + strlen(kScanData)),
                                    SimScanTrigger::Every, 0, 40));
    }

    void run(const Api &api)
    {
        Storm storm(api);
        Stopwatch clock;
        storm.run();
        EXPECT_LT(clock.ms(), kRunMs + kReadBoundMs);
        std::set<const void *> seen;
        int calls = 0;
        int texts = 0;
        for (const Worker &w : storm.workers()) {
            for (int n : w.calls)
                calls += n;
            texts += w.texts_with_content;
            SCOPED_TRACE("thread " + std::to_string(w.id));
            for (const std::string &e : w.errors)
                ADD_FAILURE() << e;
            for (int op = 0; op < kWriteOps + 4; op++)
                EXPECT_GT(w.calls[op], 0) << "operation " << op << " never ran";
            for (const void *p : w.storage)
                EXPECT_TRUE(seen.insert(p).second) << "storage shared with another thread";
        }
        printf("%d threads: %d calls, %d texts with content\n", kThreads, calls, texts);
        EXPECT_GT(sim_frames(sim).size(), static_cast<size_t>(kThreads * kWriteOps));
    }
};

TEST_F(ThreadStorm, EightThreadsCallEveryCoreOperation)
{
    run(kCoreApi);
}

TEST_F(ThreadStorm, EightThreadsCallEveryAdapter)
{
    run(kBridgeApi);
}

} // namespace
