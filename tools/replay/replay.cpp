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
#include "devns.h"
#include "hostlog.h"
#include "scanjni.h"
#include "sim_runner.h"

namespace {

constexpr size_t kReadBlock = 65536;
// A logcat line is at most about 4 KiB; a longer one is kept cut here.
constexpr size_t kMaxLine = 16384;
constexpr int kTries = 3;              // runs of an operation before it counts as differing
constexpr int kIdleWaitMs = 3000;      // for the engine to finish sending
constexpr long kRefPollNs = 50000;     // looking for the reference line
constexpr int64_t kUsPerMs = 1000;
// Bytes of a dropped tail that arrive at once, as the bytes waiting at a
// flush do: more than the line could carry since the flush for as long as
// the replay may take to send them (64 bytes: 5.6 ms, where a loaded or
// sanitized run has been seen to need more than 1 ms).
constexpr size_t kTailBurst = 64;
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

int prio_number(char letter) {
    static const char kLetters[] = "??VDIWEFA";
    const char* p = strchr(kLetters + 2, letter);
    return p ? static_cast<int>(p - kLetters) : 0;
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
    std::vector<int64_t> times = capture_chunk_times(op);
    for (size_t i = 0; i < op.chunks.size(); ++i) {
        const InChunk& c = op.chunks[i];
        // A session's bytes: when its log shows them, from the call's first line.
        if (op.sig == ScanSig::Session) times[i] = c.offset_us > 0 ? c.offset_us : 0;
        char part[96];
        snprintf(part, sizeof part, "  %s %zu bytes at +%.1f ms", c.tail ? "tail" : "in",
                 c.bytes.size(), static_cast<double>(times[i]) / kUsPerMs);
        s += part;
    }
    if (op.gap_us >= 0) {
        char gap[48];
        snprintf(gap, sizeof gap, "  (%.0f ms after the previous)",
                 static_cast<double>(op.gap_us) / kUsPerMs);
        s += gap;
    }
    return s;
}

// The simulated engine and the shape of /dev/ttyMT1.
struct Bench {
    SimRunner* sim = nullptr;
    bool pty = false;
    bool ready = false;
};

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

struct NewLine {
    int prio;
    std::string text;
};

// The core's lines logged since the record was last cleared, from `from`.
std::vector<NewLine> new_lines(size_t from) {
    std::vector<NewLine> out;
    hostlog_line l;
    for (size_t i = from; hostlog_get(i, &l); ++i) {
        if (strcmp(l.tag, kCoreTag) == 0) out.push_back({l.prio, capture_normalize(l.text)});
    }
    return out;
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
        // The tail of a message that began before the flush: its first
        // bytes are there at once, more than could have crossed the line
        // since; the rest follows at the line's pace.
        size_t burst = bytes.size() < kTailBurst ? bytes.size() : kTailBurst;
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
}

struct Difference {
    size_t index = 0;  // line of the operation
    bool have_capture = false;
    bool have_replay = false;
    NewLine replay;
};

bool compare(const CapturedOp& op, const std::vector<NewLine>& got, Difference* d) {
    size_t n = op.lines.size() > got.size() ? op.lines.size() : got.size();
    for (size_t i = 0; i < n; ++i) {
        bool have_c = i < op.lines.size(), have_r = i < got.size();
        if (have_c && have_r && prio_number(op.lines[i].prio) == got[i].prio &&
            capture_normalize(capture_op_text(op, i)) == got[i].text) {
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
    int session_ops = 0;
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
    if (ev.op.sig == ScanSig::Session) {
        printf("%s  not replayed: this build has no held-port session functions\n",
               describe(ev.op, index).c_str());
        ++t->session_ops;
        return true;
    }
    Difference d, first;
    for (int attempt = 1; attempt <= kTries; ++attempt) {
        if (run_once(b, ev.op, &d)) {
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
    if (t.session_ops > 0) printf("; %d session operation(s) not replayed", t.session_ops);
    printf("\n");
    return t.damaged > 0 || t.session_ops > 0 ? kReplayUnusable : kReplayMatch;
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
        drop_engine(&bench);
        devns_teardown();
    }
    if (tally.differ) return kReplayDiffer;
    return verdict(tally, list, builder.saw_scanner, number);
}
