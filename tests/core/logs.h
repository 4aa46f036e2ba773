// Reading back the exact log record kept by the host liblog stand-in.
#ifndef SCANJNI_TESTS_LOGS_H
#define SCANJNI_TESTS_LOGS_H

#include "hostlog.h"

#include <ostream>
#include <string>
#include <vector>

struct LogLine {
    int prio;
    std::string tag;
    std::string text;
    bool operator==(const LogLine &o) const
    {
        return prio == o.prio && tag == o.tag && text == o.text;
    }
};

inline std::ostream &operator<<(std::ostream &os, const LogLine &l)
{
    os << l.prio << " " << l.tag << " \"";
    for (unsigned char c : l.text) {
        if (c == '\n') os << "\\n";
        else if (c == '\r') os << "\\r";
        else if (c < 0x20 || c >= 0x7F) { char b[8]; snprintf(b, sizeof b, "\\x%02X", c); os << b; }
        else os << c;
    }
    return os << "\"";
}

// Starts a fresh record.
inline void logs_reset()
{
    hostlog_capture(1);
}

inline std::vector<LogLine> logs_taken()
{
    std::vector<LogLine> out;
    hostlog_line l;
    for (size_t i = 0; hostlog_get(i, &l); i++)
        out.push_back({l.prio, l.tag, l.text});
    return out;
}

inline LogLine core_line(int prio, const std::string &text)
{
    return {prio, "SCANLIB_CORE", text};
}

// The byte line of one byte under a signature text.
inline LogLine byte_line(const std::string &sig, unsigned char b)
{
    char buf[8];
    snprintf(buf, sizeof buf, "%.2X ", b);
    return core_line(3, sig + ", " + buf);
}

inline void add_byte_lines(std::vector<LogLine> *lines, const std::string &sig, const std::string &bytes)
{
    for (unsigned char b : bytes)
        lines->push_back(byte_line(sig, b));
}

#endif
