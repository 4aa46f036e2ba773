// The capture parser (scanctl replay) on arbitrary bytes: the input is a
// capture file, normalised, split into lines at '\n', fed through the
// logcat line parser and the operation builder as scanctl replay feeds
// them.
//
// Checked: the normaliser gives the same text whatever blocks the file
// comes in, and lines without escapes or a '\r' at the end; every
// operation and note names lines that the input has, in order; an operation's lines and texts stay within their bounds; the
// engine's bytes are timed in order and never before the reference line;
// no more threads are kept than the bound; comparing forms is stable.
#include "fuzz_check.h"

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "capture.h"
#include "logcat.h"
#include "normalise.h"

namespace {

void check_op(const CapturedOp& op, size_t lines_read) {
    FUZZ_REQUIRE(op.first_line >= 1 && op.first_line <= op.last_line && op.last_line <= lines_read);
    FUZZ_REQUIRE(!op.lines.empty() && op.lines.size() <= kCaptureMaxOpLines);
    size_t previous = 0;
    for (size_t i = 0; i < op.lines.size(); ++i) {
        const ExpectedLine& l = op.lines[i];
        // In order; the log daemon's counted copies share their mark's line.
        FUZZ_REQUIRE(l.line >= previous && l.line >= op.first_line && l.line <= op.last_line);
        FUZZ_REQUIRE(static_cast<size_t>(l.off) + l.len <= op.texts.size());
        previous = l.line;
        std::string once = capture_normalize(capture_op_text(op, i));
        FUZZ_REQUIRE(capture_normalize(once) == once);
    }
    size_t in = 0;
    for (const InChunk& c : op.chunks) in += c.bytes.size();
    // One byte a line, or up to kHexLineMax on a session's hex lines.
    FUZZ_REQUIRE(in <= op.lines.size() * (op.sig == ScanSig::Session ? kHexLineMax : 1));
    std::vector<int64_t> times = capture_chunk_times(op);
    FUZZ_REQUIRE(times.size() == op.chunks.size());
    for (size_t i = 0; i < times.size(); ++i) FUZZ_REQUIRE(times[i] >= (i > 0 ? times[i - 1] : 0));
    FUZZ_REQUIRE(!capture_op_call(op).empty());
}

void drain(CaptureBuilder* b, size_t lines_read) {
    CaptureEvent ev;
    while (capture_next(b, &ev)) {
        if (ev.is_op) {
            check_op(ev.op, lines_read);
            continue;
        }
        const CaptureNote& n = ev.note;
        FUZZ_REQUIRE(n.first_line >= 1 && n.first_line <= n.last_line && n.last_line <= lines_read);
        FUZZ_REQUIRE(n.reason.compare(0, 5, "line ") == 0);
    }
    FUZZ_REQUIRE(b->threads.size() <= kCaptureMaxThreads);
}

}  // namespace

// The file's text, read in two blocks split at `at`.
std::string decoded(const uint8_t* data, size_t size, size_t at) {
    Normaliser n;
    std::string text;
    normalise_bytes(&n, data, at, &text);
    normalise_bytes(&n, data + at, size - at, &text);
    normalise_end(&n, &text);
    return text;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text = decoded(data, size, size);
    FUZZ_REQUIRE(text == decoded(data, size, size > 0 ? data[0] % size : 0));
    LogcatParser parser;
    CaptureBuilder builder;
    LogEntry entry;
    size_t number = 0;
    for (size_t start = 0; start < text.size();) {
        size_t nl = text.find('\n', start);
        size_t end = nl == std::string::npos ? text.size() : nl;
        std::string clean = text.substr(start, end - start);
        normalise_line(&clean);
        FUZZ_REQUIRE(clean.find('\x1b') == std::string::npos && (clean.empty() || clean.back() != '\r'));
        // The line in a buffer of its exact size, so that a read past it is caught.
        auto line = exact_buffer<char>(clean.size());
        if (!clean.empty()) memcpy(line.get(), clean.data(), clean.size());
        ++number;
        LogcatResult r = logcat_feed(&parser, line.get(), clean.size(), number, &entry);
        if (r == LogcatResult::Entry) {
            FUZZ_REQUIRE(entry.line >= 1 && entry.line <= number);
            capture_feed(&builder, entry);
        } else if (r == LogcatResult::Damaged) {
            capture_damaged_line(&builder, number);
        }
        drain(&builder, number);
        start = end + 1;
    }
    if (logcat_finish(&parser, &entry) == LogcatResult::Entry) capture_feed(&builder, entry);
    capture_finish(&builder);
    drain(&builder, number);
    return 0;
}
