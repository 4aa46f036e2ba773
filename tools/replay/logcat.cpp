#include "logcat.h"

#include <cstring>
#include <ctime>

namespace {

constexpr int64_t kUsPerSecond = 1000000;
constexpr int kMonths = 12;
// Logcat leaves the year out; only differences of nearby times are used,
// so any year does, one without Feb 29 as well as another.
constexpr int kSomeYear = 2001;
constexpr int kTmYearBase = 1900;
constexpr int kMaxPid = 1 << 22;  // Linux's pid_max limit
constexpr const char* kOurTagMark = "SCANLIB_";

// A cursor over one line.
struct Cur {
    const char* p;
    const char* end;
    bool at_end() const { return p >= end; }
    char peek() const { return p < end ? *p : '\0'; }
    bool eat(char c) {
        if (p < end && *p == c) {
            ++p;
            return true;
        }
        return false;
    }
    // Fields are separated by blanks or tabs.
    void blanks() {
        while (p < end && (*p == ' ' || *p == '\t')) ++p;
    }
    bool sep() {
        const char* from = p;
        blanks();
        return p > from;
    }
};

bool digit(char c) { return c >= '0' && c <= '9'; }

// Exactly n digits.
bool fixed_digits(Cur* c, int n, int* value) {
    int v = 0;
    for (int i = 0; i < n; ++i) {
        if (!digit(c->peek())) return false;
        v = v * 10 + (*c->p++ - '0');
    }
    *value = v;
    return true;
}

// 1 to 7 digits (a pid or tid), or "0x" and hex digits for a long
// format's thread id.
bool id_number(Cur* c, int* value) {
    long v = 0;
    int n = 0;
    if (c->end - c->p > 2 && c->p[0] == '0' && c->p[1] == 'x') {
        c->p += 2;
        for (; n < 8 && c->p < c->end; ++n, ++c->p) {
            char ch = *c->p;
            int d = digit(ch) ? ch - '0' : (ch >= 'a' && ch <= 'f') ? ch - 'a' + 10 : -1;
            if (d < 0) break;
            v = v * 16 + d;
        }
    } else {
        for (; n < 8 && digit(c->peek()); ++n) v = v * 10 + (*c->p++ - '0');
    }
    if (n == 0 || v > kMaxPid) return false;
    *value = static_cast<int>(v);
    return true;
}

bool prio_letter(char c) { return c != '\0' && std::strchr("VDIWEFA", c) != nullptr; }

bool name_char(char c) {
    return digit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

// `-v uid`: the user ("root", "u0_a123", "10123") before a pid, followed
// by ':' or blanks and another number. Nothing is taken when none is there.
void uid(Cur* c) {
    Cur u = *c;
    while (!u.at_end() && name_char(u.peek())) ++u.p;
    if (u.p == c->p) return;
    bool colon = u.eat(':');
    bool blank = u.sep();
    if ((colon || blank) && digit(u.peek())) *c = u;
}

// Seconds and 3, 6 or 9 decimals: `-v epoch` and `-v monotonic`.
bool seconds_at(Cur* c, int64_t* us) {
    Cur t = *c;
    t.blanks();
    int64_t secs = 0;
    int n = 0;
    for (; n < 12 && digit(t.peek()); ++n) secs = secs * 10 + (*t.p++ - '0');
    if (n == 0 || !t.eat('.')) return false;
    int64_t fraction_us = 0;
    int decimals = 0;
    for (; decimals < 9 && digit(t.peek()); ++decimals, ++t.p) {
        if (decimals < 6) fraction_us = fraction_us * 10 + (*t.p - '0');
    }
    if (decimals != 3 && decimals != 6 && decimals != 9) return false;
    for (int d = decimals; d < 6; ++d) fraction_us *= 10;
    *us = secs * kUsPerSecond + fraction_us;
    *c = t;
    return true;
}

// A time in any of logcat's forms, and `-v zone`'s zone after it.
bool time_at(Cur* c, int64_t* us) {
    size_t used = 0;
    if (logcat_parse_time(c->p, static_cast<size_t>(c->end - c->p), &used, us)) {
        c->p += used;
    } else if (!seconds_at(c, us)) {
        return false;
    }
    Cur z = *c;
    z.blanks();
    if (z.eat('+') || z.eat('-')) {
        int hhmm = 0;
        if (fixed_digits(&z, 4, &hhmm)) *c = z;
    } else {
        const char* from = z.p;
        while (!z.at_end() && z.peek() >= 'A' && z.peek() <= 'Z') ++z.p;
        if (z.p - from >= 3 && (z.at_end() || z.peek() == ' ' || z.peek() == '\t')) *c = z;
    }
    return true;
}

// `-v printable` shows a '\r' as an escape.
size_t escaped_cr(const char* p, const char* end) {
    static const char* const kForms[] = {"\\r", "\\015", "\\15", "\\x0D", "\\x0d"};
    for (const char* form : kForms) {
        size_t n = std::strlen(form);
        if (static_cast<size_t>(end - p) >= n && std::memcmp(end - n, form, n) == 0) return n;
    }
    return 0;
}

std::string trimmed(const char* p, const char* end) {
    for (;;) {
        while (end > p && (end[-1] == ' ' || end[-1] == '\t' || end[-1] == '\r')) --end;
        size_t n = escaped_cr(p, end);
        if (n == 0) break;
        end -= n;
    }
    return std::string(p, static_cast<size_t>(end - p));
}

bool ends_in_blank(const char* p, const char* end) { return end > p && end[-1] == ' '; }

// The message begins after the tag's ':' and one blank (or tab).
void take_message(Cur* c, LogEntry* e) {
    if (!c->eat(' ')) c->eat('\t');
    e->trailing_blank = ends_in_blank(c->p, c->end);
    e->message = trimmed(c->p, c->end);
}

// "P/TAG( PID): text", as brief and time print it.
bool slash_form(Cur c, LogEntry* e) {
    if (!prio_letter(c.peek())) return false;
    e->prio = *c.p++;
    if (!c.eat('/')) return false;
    const char* tag = c.p;
    for (const char* q = c.p; q < c.end; ++q) {
        if (*q != '(') continue;
        Cur r = {q + 1, c.end};
        r.blanks();
        uid(&r);  // never a pid: that is followed by ')'
        int pid = 0;
        if (!id_number(&r, &pid) || !r.eat(')') || !r.eat(':')) continue;
        e->tag = trimmed(tag, q);
        e->pid = pid;
        take_message(&r, e);
        return !e->tag.empty();
    }
    return false;
}

// "  [UID]  PID  TID P TAG: text" after threadtime's date.
bool threadtime_rest(Cur c, LogEntry* e, bool with_uid = false) {
    c.blanks();
    if (with_uid) uid(&c);
    if (!id_number(&c, &e->pid) || !c.sep() || !id_number(&c, &e->tid) || !c.sep() ||
        !prio_letter(c.peek())) {
        return false;
    }
    e->prio = *c.p++;
    if (!c.sep()) return false;
    const char* tag = c.p;
    while (!c.at_end() && !(c.peek() == ':' && (c.p + 1 == c.end || c.p[1] == ' ' || c.p[1] == '\t'))) ++c.p;
    if (c.at_end()) return false;
    e->tag = trimmed(tag, c.p);
    ++c.p;
    take_message(&c, e);
    return !e->tag.empty();
}

// A word up to the next blank.
const char* word_end(const Cur& c) {
    const char* q = c.p;
    while (q < c.end && *q != ' ' && *q != '\t') ++q;
    return q;
}

// Android Studio's saved Logcat window after its date, in either layout:
//   "PID-TID/PACKAGE P/TAG: text"
//   "PID-TID  TAG  [PACKAGE]  P  text"
bool studio_rest(Cur c, LogEntry* e) {
    c.blanks();
    if (!id_number(&c, &e->pid) || !c.eat('-') || !id_number(&c, &e->tid)) return false;
    if (c.eat('/')) {
        c.p = word_end(c);
        if (!c.sep() || !prio_letter(c.peek())) return false;
        e->prio = *c.p++;
        if (!c.eat('/')) return false;
        const char* tag = c.p;
        while (!c.at_end() && !(c.peek() == ':' && (c.p + 1 == c.end || c.p[1] == ' '))) ++c.p;
        if (c.at_end()) return false;
        e->tag = trimmed(tag, c.p++);
        take_message(&c, e);
        return !e->tag.empty();
    }
    if (!c.sep()) return false;
    const char* tag = c.p;
    c.p = word_end(c);
    e->tag.assign(tag, static_cast<size_t>(c.p - tag));
    for (int word = 0; word < 2 && c.sep(); ++word) {
        const char* end = word_end(c);
        if (end == c.p + 1 && prio_letter(c.peek())) {
            e->prio = *c.p++;
            c.blanks();
            e->trailing_blank = ends_in_blank(c.p, c.end);
            e->message = trimmed(c.p, c.end);
            return !e->tag.empty();
        }
        c.p = end;  // the package
    }
    return false;
}

// "[ DATE  PID: TID P/TAG ]", the header of a long-format block.
bool long_header(Cur c, LogEntry* e, bool with_uid = false) {
    if (!c.eat('[') || !c.sep()) return false;
    if (!time_at(&c, &e->time_us)) return false;
    c.blanks();
    if (with_uid) uid(&c);
    if (!id_number(&c, &e->pid) || !c.eat(':')) return false;
    c.blanks();
    if (!id_number(&c, &e->tid) || !c.sep() || !prio_letter(c.peek())) return false;
    e->prio = *c.p++;
    if (!c.eat('/')) return false;
    const char* close = c.end;
    while (close > c.p && (close[-1] == ' ' || close[-1] == '\t')) --close;
    if (close == c.p || close[-1] != ']') return false;
    e->tag = trimmed(c.p, close - 1);
    return !e->tag.empty();
}

bool mentions_our_tags(const char* text, size_t len) {
    size_t n = std::strlen(kOurTagMark);
    for (size_t i = 0; i + n <= len; ++i) {
        if (std::memcmp(text + i, kOurTagMark, n) == 0) return true;
    }
    return false;
}

bool is_banner(const char* text, size_t len) {
    static const char kBanner[] = "--------- ";
    return len >= sizeof kBanner - 1 && std::memcmp(text, kBanner, sizeof kBanner - 1) == 0;
}

LogcatResult end_block(LogcatParser* p, LogEntry* out) {
    p->in_block = false;
    if (p->block_damaged) {
        p->block_damaged = false;
        return LogcatResult::Damaged;
    }
    *out = std::move(p->block);
    return LogcatResult::Entry;
}

}  // namespace

bool logcat_parse_time(const char* text, size_t len, size_t* used, int64_t* us) {
    Cur c = {text, text + len};
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    Cur y = c;
    if (fixed_digits(&y, 4, &year) && y.eat('-')) c = y;
    if (!fixed_digits(&c, 2, &month) || !c.eat('-') || !fixed_digits(&c, 2, &day) ||
        !c.eat(' ') || !fixed_digits(&c, 2, &hour) || !c.eat(':') ||
        !fixed_digits(&c, 2, &minute) || !c.eat(':') || !fixed_digits(&c, 2, &second) ||
        !c.eat('.')) {
        return false;
    }
    int64_t fraction_us = 0;
    int decimals = 0;
    for (; decimals < 9 && digit(c.peek()); ++decimals) {
        if (decimals < 6) fraction_us = fraction_us * 10 + (*c.p - '0');
        ++c.p;
    }
    if (decimals != 3 && decimals != 6 && decimals != 9) return false;
    for (int d = decimals; d < 6; ++d) fraction_us *= 10;
    if (month < 1 || month > kMonths || day < 1 || day > 31 || hour > 23 || minute > 59 ||
        second > 60) {
        return false;
    }
    struct tm tm = {};
    tm.tm_year = kSomeYear - kTmYearBase;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    *us = static_cast<int64_t>(timegm(&tm)) * kUsPerSecond + fraction_us;
    *used = static_cast<size_t>(c.p - text);
    return true;
}

LogcatResult logcat_feed(LogcatParser* p, const char* text, size_t len, size_t line,
                         LogEntry* out) {
    while (len > 0 && text[len - 1] == '\r') --len;
    LogEntry e;
    e.line = line;
    Cur c = {text, text + len};
    if (long_header(c, &e) || long_header(c, &e, true)) {
        LogcatResult r = p->in_block ? end_block(p, out) : LogcatResult::None;
        e.format = LogcatFormat::Long;
        p->block = std::move(e);
        p->in_block = true;
        p->long_seen = true;
        p->block_lines = 0;
        return r;
    }
    if (p->in_block) {
        if (len == 0) return end_block(p, out);
        std::string& m = p->block.message;
        if (m.size() + len + 1 > kLogcatMaxMessage) {
            p->block_damaged = true;
        } else {
            if (p->block_lines++ > 0) m += '\n';
            m += trimmed(text, text + len);
            p->block.trailing_blank = ends_in_blank(text, text + len);
        }
        return LogcatResult::None;
    }
    if (len == 0 || is_banner(text, len)) return LogcatResult::None;
    // In the long format a message's text may hold blank lines: what
    // follows one, up to the next header, is still that message's (another
    // app's, or the tail of ours, already ended).
    if (p->long_seen) return LogcatResult::Foreign;

    Cur after_time = c;
    if (time_at(&after_time, &e.time_us)) {
        Cur brief = after_time;
        if (brief.sep() && slash_form(brief, &e)) {
            e.format = LogcatFormat::Time;
        } else if (threadtime_rest(after_time, &e) || threadtime_rest(after_time, &e, true) ||
                   studio_rest(after_time, &e)) {
            e.format = LogcatFormat::Threadtime;
        } else {
            e.format = LogcatFormat::Long;  // marks "not parsed" below
        }
    } else {
        e.time_us = -1;
        e.format = slash_form(c, &e) ? LogcatFormat::Brief : LogcatFormat::Long;
    }
    if (e.format == LogcatFormat::Long) {
        // Only a line that begins as a logcat line does can be one of ours
        // cut; another's text that mentions our tags (a stack trace's
        // line, Android Studio's next line of a message) is not.
        bool header_like = len > 0 && (digit(text[0]) || text[0] == '[' || (len > 1 && prio_letter(text[0]) && text[1] == '/'));
        return header_like && mentions_our_tags(text, len) ? LogcatResult::Damaged : LogcatResult::Foreign;
    }
    *out = std::move(e);
    return LogcatResult::Entry;
}

LogcatResult logcat_finish(LogcatParser* p, LogEntry* out) {
    return p->in_block ? end_block(p, out) : LogcatResult::None;
}
