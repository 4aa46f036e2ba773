// The replay's I/O: reading the capture, the namespace and the simulated
// engine, running each operation, comparing the logs.
#include "replay.h"

#include <errno.h>
#include <string.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "capture.h"
#include "replay_steps.h"
#include "devns.h"
#include "hostlog.h"
#include "scanjni.h"
#include "sim_runner.h"

namespace replay_steps {

namespace {

}  // namespace

int prio_number(char letter) {
    static const char kLetters[] = "??VDIWEFA";
    const char* p = strchr(kLetters + 2, letter);
    return p ? static_cast<int>(p - kLetters) : 0;
}

void drop_engine(Bench* b) {
    sim_destroy(b->sim);
    b->sim = nullptr;
    b->pty = false;
}

bool set_shape(Bench* b, PortShape shape) {
    bool want_pty = shape == PortShape::Pty || shape == PortShape::WriteBlocked;
    if (want_pty && b->pty) return true;
    drop_engine(b);
    if (!want_pty) {
        return devns_set_shape(shape == PortShape::Missing ? DevnsShape::Absent : DevnsShape::Regular);
    }
    int master = devns_install_pty();
    b->sim = master < 0 ? nullptr : sim_create(master);
    if (b->sim == nullptr) return false;
    // The engine answers nothing of its own: every byte comes from the capture.
    sim_set_persistent_fault(b->sim, sim_fault(SimFaultKind::Silence));
    b->pty = sim_start(b->sim);
    return b->pty;
}

// The core's lines logged since the record was last cleared, from `from`.
std::vector<NewLine> new_lines(size_t from) {
    std::vector<NewLine> out;
    hostlog_line l;
    for (size_t i = from; hostlog_get(i, &l); ++i) {
        if (strcmp(l.tag, kCoreTag) == 0) out.push_back({l.prio, capture_normalize(l.text)});
    }
    return out;
}

void send_tail(Bench* b, const std::vector<uint8_t>& bytes, size_t burst_most) {
    // The tail of a message that began before the flush: its first
    // bytes are there at once, more than could have crossed the line
    // since; the rest follows at the line's pace.
    size_t burst = bytes.size() < burst_most ? bytes.size() : burst_most;
    SimLine paced = sim_line(b->sim);
    SimLine at_once = paced;
    at_once.baud = 0;
    sim_set_line(b->sim, at_once);
    sim_send_scan(b->sim, sim_scan(std::vector<uint8_t>(bytes.begin(), bytes.begin() + burst),
                                   SimScanTrigger::AfterDelay, 0));
    sim_wait_output_idle(b->sim, kIdleWaitMs);
    sim_set_line(b->sim, paced);
    if (burst < bytes.size()) {
        sim_send_scan(b->sim, sim_scan(std::vector<uint8_t>(bytes.begin() + burst, bytes.end()),
                                       SimScanTrigger::AfterDelay, 0));
    }
}

// A session's open and close lines that differ only in the descriptor's
// number, which is the logging process's own.
bool same_but_descriptor(const std::string& a, const std::string& b) {
    ScanLine x, y;
    if (scan_classify_core(a, &x) != CoreClass::Ours || scan_classify_core(b, &y) != CoreClass::Ours) return false;
    bool names_fd = x.kind == LineKind::SOpen || x.kind == LineKind::SClose;
    return names_fd && x.sig == ScanSig::Session && y.sig == ScanSig::Session && x.fn == y.fn &&
           x.kind == y.kind && x.text == y.text;
}

bool compare(const CapturedOp& op, const std::vector<NewLine>& got, Difference* d) {
    size_t n = op.lines.size() > got.size() ? op.lines.size() : got.size();
    for (size_t i = 0; i < n; ++i) {
        bool have_c = i < op.lines.size(), have_r = i < got.size();
        std::string text = have_c ? capture_normalize(capture_op_text(op, i)) : std::string();
        if (have_c && have_r && prio_number(op.lines[i].prio) == got[i].prio &&
            (text == got[i].text || same_but_descriptor(text, got[i].text))) {
            continue;
        }
        d->index = i;
        d->have_capture = have_c;
        d->have_replay = have_r;
        if (have_r) d->replay = got[i];
        return false;
    }
    return true;
}

}  // namespace replay_steps

using namespace replay_steps;

namespace {

constexpr size_t kReadBlock = 65536;
// A logcat line is at most about 4 KiB; a longer one is kept cut here.
constexpr size_t kMaxLine = 16384;
constexpr int kTries = 3;              // runs of an operation before it counts as differing
constexpr int64_t kUsPerMs = 1000;
constexpr long kNsPerUs = 1000;

// Reads the capture one line at a time, without ever holding more than
// kMaxLine bytes of one line.
struct LineReader {
    FILE* f = nullptr;
    std::vector<char> block = std::vector<char>(kReadBlock);
    size_t pos = 0;
    size_t len = 0;
    std::string line;
    bool overlong = false;
    bool eof = false;
};

bool next_line(LineReader* r) {
    r->line.clear();
    r->overlong = false;
    if (r->eof) return false;
    for (;;) {
        if (r->pos == r->len) {
            r->len = fread(r->block.data(), 1, r->block.size(), r->f);
            r->pos = 0;
            if (r->len == 0) {
                r->eof = true;
                return !r->line.empty() || r->overlong;
            }
        }
        const char* start = r->block.data() + r->pos;
        const char* nl = static_cast<const char*>(memchr(start, '\n', r->len - r->pos));
        size_t n = nl ? static_cast<size_t>(nl - start) : r->len - r->pos;
        size_t room = kMaxLine - r->line.size();
        if (n > room) r->overlong = true;
        r->line.append(start, n < room ? n : room);
        r->pos += n + (nl ? 1 : 0);
        if (nl) return true;
    }
}

char prio_letter(int prio) {
    static const char kLetters[] = "??VDIWEF";
    return prio >= 2 && prio <= 7 ? kLetters[prio] : '?';
}

// A line for a person: control bytes as \xNN.
std::string shown(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20 || c == 0x7F) {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// A session call's messages, by where it read them, and what became of
// the session.
std::string session_parts(const CapturedOp& op) {
    std::string s;
    char part[96];
    if (op.busy_errno != 0) {
        snprintf(part, sizeof part, "  port busy (errno %d)", op.busy_errno);
        s += part;
    }
    if (op.no_session) s += "  no session";
    if (op.no_buffer) s += "  no buffer";
    for (const InChunk& c : op.chunks) {
        const char* where = c.stage == SessionStage::BeforeCall   ? " waiting"
                            : c.stage == SessionStage::AfterWrite ? " in the exchange"
                                                                  : "";
        snprintf(part, sizeof part, "  %s %zu bytes%s", c.tail ? "tail" : c.reply ? "reply" : "scan", c.bytes.size(),
                 where);
        s += part;
    }
    if (op.kept > 0) s += "  " + std::to_string(op.kept) + " kept";
    if (op.no_room > 0) s += "  " + std::to_string(op.no_room) + " dropped";
    if (op.hangup) s += "  hung up";
    return s;
}

std::string describe(const CapturedOp& op, int index) {
    char head[96];
    snprintf(head, sizeof head, "#%d lines %zu-%zu", index, op.first_line, op.last_line);
    std::string s = head;
    if (!op.java.empty()) s += "  " + op.java;
    s += "  " + capture_op_call(op);
    if (op.shape == PortShape::Missing) s += "  device missing";
    if (op.shape == PortShape::NotTty) s += "  device not a terminal";
    if (op.shape == PortShape::WriteBlocked) s += "  write blocked";
    for (const std::vector<uint8_t>& frame : op.written) {
        char part[48];
        snprintf(part, sizeof part, "  wrote %zu bytes", frame.size());
        s += part;
    }
    if (op.sig == ScanSig::Session) {
        s += session_parts(op);
    } else {
        std::vector<int64_t> times = capture_chunk_times(op);
        for (size_t i = 0; i < op.chunks.size(); ++i) {
            char part[96];
            snprintf(part, sizeof part, "  %s %zu bytes at +%.1f ms", op.chunks[i].tail ? "tail" : "in",
                     op.chunks[i].bytes.size(), static_cast<double>(times[i]) / kUsPerMs);
            s += part;
        }
    }
    if (op.gap_us >= 0) {
        char gap[48];
        snprintf(gap, sizeof gap, "  (%.0f ms after the previous)",
                 static_cast<double>(op.gap_us) / kUsPerMs);
        s += gap;
    }
    return s;
}

void call_op(const CapturedOp& op) {
    switch (op.sig) {
        case ScanSig::OpenDev: scan_open_dev(op.flag); break;
        // The log does not show the type index of a valid enable or
        // disable; every index logs the same lines.
        case ScanSig::EnableType: scan_enable_type(op.flag, op.number_known ? op.number : 0); break;
        case ScanSig::SetTimeout: scan_set_timeout(op.number); break;
        case ScanSig::SetCommand: scan_set_command(op.null_text ? nullptr : op.text.c_str()); break;
        case ScanSig::Profile: profile_scan_type(); break;
        case ScanSig::TypeCheck: scan_type_check(op.number); break;
        case ScanSig::GetTimeout: scan_get_timeout(); break;
        case ScanSig::QueryData: scan_query_data(op.number); break;
        case ScanSig::ReadData: scan_read_data(); break;
        default: break;
    }
}

// The line after which the engine's bytes are timed.
bool is_reference(const CapturedOp& op, const std::string& text) {
    ScanLine l;
    if (scan_classify_core(text, &l) != CoreClass::Ours) return false;
    if (op.sig == ScanSig::ReadData) return l.kind == LineKind::UartSummary;
    return l.sig == op.sig && (l.kind == LineKind::WriteOk || l.kind == LineKind::WriteFail);
}

void sleep_until_us(int64_t t_us) {
    timespec ts;
    ts.tv_sec = static_cast<time_t>(t_us / 1000000);
    ts.tv_nsec = static_cast<long>(t_us % 1000000) * kNsPerUs;
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

// A question's first reply bytes go out from the engine's own loop, timed
// from the moment its frame arrives there, which is when the library's poll
// begins: no thread in between to wake late. Returns the chunks it took.
size_t arm_reply(Bench* b, const CapturedOp& op) {
    bool question = op.sig == ScanSig::TypeCheck || op.sig == ScanSig::GetTimeout ||
                    op.sig == ScanSig::QueryData;
    if (!question || op.shape != PortShape::Pty || op.chunks.empty()) return 0;
    SimLine line = sim_line(b->sim);
    line.reply_delay_us = static_cast<int>(capture_chunk_times(op)[0]);
    sim_set_line(b->sim, line);
    sim_push_fault(b->sim, sim_fault_bytes(SimFaultKind::RawReply, op.chunks[0].bytes));
    return 1;
}

void disarm_reply(Bench* b) {
    SimLine line = sim_line(b->sim);
    line.reply_delay_us = 0;
    sim_set_line(b->sim, line);
    sim_with_engine(b->sim, [](SimEngine* e) { e->next_faults.clear(); });
}

// Sends the capture's chunks from `first` on at their times while the
// call runs.
void feed_engine(Bench* b, const CapturedOp& op, size_t first, const std::atomic<bool>& done) {
    std::vector<int64_t> times = capture_chunk_times(op);
    size_t seen = 0;
    int64_t ref_us = -1;
    while (ref_us < 0 && !done.load()) {
        std::vector<NewLine> lines = new_lines(seen);
        for (const NewLine& l : lines) {
            if (is_reference(op, l.text)) ref_us = sim_now_us();
        }
        hostlog_line any;
        while (hostlog_get(seen, &any)) ++seen;
        if (ref_us < 0) {
            timespec pause = {0, kRefPollNs};
            nanosleep(&pause, nullptr);
        }
    }
    for (size_t i = first; ref_us >= 0 && i < op.chunks.size() && !done.load(); ++i) {
        sleep_until_us(ref_us + times[i]);
        std::vector<uint8_t> bytes = op.chunks[i].bytes;
        // A read of nothing at all: the library saw a zero byte first.
        if (bytes.empty()) bytes.push_back(0);
        if (!op.chunks[i].tail) {
            sim_send_scan(b->sim, sim_scan(bytes, SimScanTrigger::AfterDelay, 0));
            continue;
        }
        send_tail(b, bytes, kTailBurst);
    }
}

bool run_once(Bench* b, const CapturedOp& op, Difference* d) {
    if (!set_shape(b, op.shape)) {
        fprintf(stderr, "scanctl: replay: cannot set up %s in the private namespace\n", kDevnsDevice);
        return false;
    }
    if (op.shape == PortShape::WriteBlocked) tcflow(devns_slave_fd(), TCOOFF);
    hostlog_capture(1);
    size_t armed = b->pty ? arm_reply(b, op) : 0;
    std::atomic<bool> done{false};
    std::thread worker([&op, &done] {
        call_op(op);
        done.store(true);
    });
    if (b->pty && op.chunks.size() > armed) feed_engine(b, op, armed, done);
    worker.join();
    if (armed > 0) disarm_reply(b);
    if (op.shape == PortShape::WriteBlocked) tcflow(devns_slave_fd(), TCOON);
    std::vector<NewLine> got = new_lines(0);
    hostlog_capture(0);
    if (b->pty) {
        sim_wait_output_idle(b->sim, kIdleWaitMs);
        sim_cancel_scans(b->sim);
    }
    return compare(op, got, d);
}

void print_difference(const CapturedOp& op, int index, const Difference& d) {
    printf("#%d differs: %s, capture lines %zu-%zu\n", index, capture_op_call(op).c_str(),
           op.first_line, op.last_line);
    if (d.have_capture) {
        const ExpectedLine& l = op.lines[d.index];
        printf("  capture line %zu: %c %s\n", l.line, l.prio, shown(capture_op_text(op, d.index)).c_str());
    } else {
        printf("  capture: (the operation ended at line %zu)\n", op.last_line);
    }
    if (d.have_replay) {
        printf("  replay:          %c %s\n", prio_letter(d.replay.prio), shown(d.replay.text).c_str());
    } else {
        printf("  replay:          (no further line)\n");
    }
}

struct Tally {
    int ops = 0;
    int retried = 0;
    int cut = 0;
    int damaged = 0;
    bool differ = false;
};

void print_note(const CaptureNote& n, Tally* t) {
    printf("skipped lines %zu-%zu (%zu of the scanner's): %s\n", n.first_line, n.last_line, n.lines,
           n.reason.c_str());
    if (n.damage) ++t->damaged;
    else ++t->cut;
}

// Returns false once an operation differs.
bool handle(Bench* b, bool list, const CaptureEvent& ev, Tally* t) {
    if (!ev.is_op) {
        print_note(ev.note, t);
        return true;
    }
    int index = ++t->ops;
    if (list) {
        printf("%s\n", describe(ev.op, index).c_str());
        return true;
    }
    bool session = ev.op.sig == ScanSig::Session;
    int runs = session ? session_runs(ev.op) : kTries;
    Difference d, first;
    for (int attempt = 1; attempt <= runs; ++attempt) {
        if (session ? run_session_call(b, ev.op, &d) : run_once(b, ev.op, &d)) {
            printf("%s  match", describe(ev.op, index).c_str());
            if (attempt > 1) {
                ++t->retried;
                printf(" on run %d (run 1 differed at capture line %zu)", attempt,
                       first.have_capture ? ev.op.lines[first.index].line : ev.op.last_line);
            }
            printf("\n");
            fflush(stdout);
            return true;
        }
        if (attempt == 1) first = d;
    }
    print_difference(ev.op, index, d);
    t->differ = true;
    return false;
}

int verdict(const Tally& t, bool list, bool saw_scanner, size_t lines) {
    if (!saw_scanner) {
        printf("scanctl: replay: no line of %s or %s in %zu lines: not a capture of this library\n",
               kCoreTag, kBridgeTag, lines);
        return kReplayUnusable;
    }
    if (t.ops == 0) {
        printf("scanctl: replay: no complete operation in the capture\n");
        return kReplayUnusable;
    }
    printf("%d operation(s) %s", t.ops, list ? "rebuilt" : "replayed, all match");
    if (t.retried > 0) printf(" (%d on a later run)", t.retried);
    if (t.cut > 0) printf("; %d cut by the capture's start or end", t.cut);
    if (t.damaged > 0) printf("; %d part(s) of the capture unusable (see above)", t.damaged);
    printf("\n");
    return t.damaged > 0 ? kReplayUnusable : kReplayMatch;
}

}  // namespace

void replay_usage(FILE* out) {
    fprintf(out,
            "usage: scanctl replay [--list] FILE\n"
            "Rebuilds the scanner operations of a logcat capture (brief, time, threadtime\n"
            "or long) and runs them again against a simulated engine that sends what the\n"
            "capture shows, in a private mount namespace (root only); then compares the\n"
            "library's new log with the capture's. --list prints the operations only.\n"
            "exit status: 0 every operation matches; 1 one differs (the first difference\n"
            "is printed); 2 the capture, or part of it, cannot be used.\n");
}

int replay_command(int argc, char** argv) {
    if (argc == 1 && (strcmp(argv[0], "--help") == 0 || strcmp(argv[0], "-h") == 0)) {
        replay_usage(stdout);
        return kReplayMatch;
    }
    bool list = argc == 2 && strcmp(argv[0], "--list") == 0;
    if (argc != 1 + (list ? 1 : 0)) {
        replay_usage(stderr);
        return kReplayUnusable;
    }
    const char* path = argv[argc - 1];
    LineReader reader;
    reader.f = fopen(path, "rb");
    if (reader.f == nullptr) {
        fprintf(stderr, "scanctl: replay: cannot read %s: %s\n", path, strerror(errno));
        return kReplayUnusable;
    }
    Bench bench;
    if (!list) {
        if (geteuid() != 0) {
            fprintf(stderr, "scanctl: replay must run as root: it puts the simulated engine at %s "
                            "in a private mount namespace\n", kDevnsDevice);
            fclose(reader.f);
            return kReplayUnusable;
        }
        if (!devns_enter()) {
            fclose(reader.f);
            return kReplayUnusable;
        }
        hostlog_set_echo(0);
    }

    LogcatParser parser;
    CaptureBuilder builder;
    Tally tally;
    size_t number = 0;
    LogEntry entry;
    CaptureEvent ev;
    bool go_on = true;
    while (go_on && next_line(&reader)) {
        ++number;
        LogcatResult r = logcat_feed(&parser, reader.line.data(), reader.line.size(), number, &entry);
        if (reader.overlong && r == LogcatResult::Entry &&
            (entry.tag == kCoreTag || entry.tag == kBridgeTag)) {
            r = LogcatResult::Damaged;
        }
        if (r == LogcatResult::Entry) capture_feed(&builder, entry);
        if (r == LogcatResult::Damaged) capture_damaged_line(&builder, number);
        while (go_on && capture_next(&builder, &ev)) go_on = handle(&bench, list, ev, &tally);
    }
    fclose(reader.f);
    if (go_on) {
        if (logcat_finish(&parser, &entry) == LogcatResult::Entry) capture_feed(&builder, entry);
        capture_finish(&builder);
        while (go_on && capture_next(&builder, &ev)) go_on = handle(&bench, list, ev, &tally);
    }
    if (!list) {
        release_session(&bench);
        drop_engine(&bench);
        devns_teardown();
    }
    if (tally.differ) return kReplayDiffer;
    return verdict(tally, list, builder.saw_scanner, number);
}
