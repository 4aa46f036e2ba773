// Reading a logcat capture, free of any I/O: one physical line at a time
// (as normalise.h leaves it), in logcat's brief, time, threadtime or long
// output, with banners and other apps' lines mixed in.
//
//   brief       D/SCANLIB_CORE( 1234): text
//   time        01-02 03:04:05.678 D/SCANLIB_CORE( 1234): text
//   threadtime  01-02 03:04:05.678  1234  1240 D SCANLIB_CORE: text
//   long        [ 01-02 03:04:05.678  1234: 1240 D/SCANLIB_CORE ]
//               text
//               (blank line)
//   Android Studio's saved Logcat window, either layout:
//               2024-01-02 03:04:05.678 1234-1240/com.app D/SCANLIB_CORE: text
//               2024-01-02 03:04:05.678  1234-1240  SCANLIB_CORE  com.app  D  text
//
// A date may carry a year ("2024-01-02"), the seconds 3, 6 or 9 decimals;
// the time may be seconds (`-v epoch`, `-v monotonic`) and be followed by
// a zone (`-v zone`); a user may come before the pid (`-v uid`); fields
// may be separated by tabs. Usage:
//   LogcatParser p;
//   LogEntry e;
//   for each line (without its '\n'), numbered from 1:
//     switch (logcat_feed(&p, text, len, number, &e)) { case LogcatResult::Entry: ... }
//   at the end: if (logcat_finish(&p, &e) == LogcatResult::Entry) ...
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum class LogcatFormat { Brief, Time, Threadtime, Long };

// Longest message kept from one long-format block; a longer one is
// reported as damaged (logcat itself cuts messages near 4 KiB).
constexpr size_t kLogcatMaxMessage = 16384;

struct LogEntry {
    size_t line = 0;             // capture line of the entry's (first) line, from 1
    LogcatFormat format = LogcatFormat::Brief;
    char prio = '?';             // V D I W E F A
    std::string tag;
    int pid = -1;
    int tid = -1;                // -1 where the format has no thread id
    int64_t time_us = -1;        // -1 where the format has no time
    std::string message;         // the text, trailing blanks and '\r' removed
    bool trailing_blank = false; // the (last) line of the text ended in a blank
};

enum class LogcatResult {
    None,     // nothing to report yet (banner, blank, part of a long block)
    Entry,    // *out holds one entry
    Foreign,  // not a logcat line: another tool's output
    Damaged,  // mentions the scanner's tags but is no whole logcat line
};

struct LogcatParser {
    bool in_block = false;       // inside a long-format block
    bool long_seen = false;      // the capture is in the long format
    bool block_damaged = false;  // its message grew past kLogcatMaxMessage
    size_t block_lines = 0;
    LogEntry block;
};

LogcatResult logcat_feed(LogcatParser* p, const char* text, size_t len, size_t line,
                         LogEntry* out);
// Ends a long-format block that the capture cut before its blank line.
LogcatResult logcat_finish(LogcatParser* p, LogEntry* out);

// Microseconds of "MM-DD HH:MM:SS.fff" (with an optional year, which is
// not used) on a scale of its own; only the difference of two such times
// is meaningful.
bool logcat_parse_time(const char* text, size_t len, size_t* used, int64_t* us);
