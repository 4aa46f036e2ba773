// scan_read_data: the bytes that the engine sends on its own.
//
// On a real line a scan arrives one byte every 86.8 us (115200 8N1), over
// many reads. The read waits up to about one second for the first bytes,
// then goes on reading, a batch at a time, until the line has been quiet
// for kScanQuietGapMs or the buffer is full, and returns the whole
// message. A message that was already on the line when the port was
// flushed has lost its start to the flush: its tail is read to its end
// and dropped, and the read waits on for a message of its own.
//
// A process that holds the port in a session gets its scans there: this
// call takes none of them and returns no text.
#include "scanjni.h"
#include "logtext.h"
#include "clock.h"
#include "exchange.h"
#include "line.h"
#include "log.h"
#include "port.h"
#include "reader.h"
#include "reply.h"
#include "session_route.h"
#include "texts.h"

#include <string.h>

namespace {

// True when this process's session holds the port: its scans are its own.
bool held_here(const char *sig)
{
    Session *s = session_enter();
    if (s == nullptr)
        return false;
    session_leave(s);
    CORE_LOG(PRIO_ERROR, FMT_HELD_NO_SCAN, sig);
    return true;
}

} // namespace

char *scan_read_data()
{
    static const char sig[] = SIG_READ_DATA;
    ThreadTexts *texts = thread_texts(sig);
    if (texts == nullptr)
        return nullptr;
    char *data = texts->scan;

    memset(data, 0, sizeof texts->scan);
    if (held_here(sig))
        return nullptr;
    PortCycle port;
    bool opened = port_open(sig, PRIO_DEBUG, &port);
    session_cycle_locked();
    if (!opened)
        return nullptr;
    int fd = port.fd;

    int64_t flushed_us = port.flushed_us;
    int64_t deadline_us = flushed_us;
    int64_t window_end_us = flushed_us + kReadAttempts * kPollIntervalMs * 1000;
    bool first_message = true;
    for (int attempt = 0; attempt < kReadAttempts; attempt++) {
        deadline_us += kPollIntervalMs * 1000;
        // Attempts whose time went by while a tail was being dropped.
        if (!first_message && deadline_us <= port_now_us())
            continue;
        PortArrival arrival = {0, -1};
        ssize_t got = line_read_by(fd, data, kScanBufLen, deadline_us, kBatchUs, &arrival);
        if (got < 0) {
            CORE_LOG(PRIO_ERROR, FMT_READ_ERROR, sig, static_cast<int>(got));
            continue;
        }
        // Judged by what had arrived when the port turned readable: later,
        // a short tail may have ended and look like a slow message.
        int arrived = arrival.bytes >= 0 ? arrival.bytes : static_cast<int>(got);
        bool tail = first_message && got > 0 &&
                    line_first_is_tail(flushed_us, arrival.at_us, arrived);
        first_message = false;
        // No bytes (the end of the line) ends the attempts as well.
        const LineReader reader = {fd, -1};
        LineMessage m = {reinterpret_cast<unsigned char *>(data), kScanBufLen,
                         got > 0 ? static_cast<size_t>(got) : 0, arrival.at_us, port_now_us()};
        if (got > 0)
            line_read_message(&reader, &m, nullptr);
        size_t have = m.len;
        if (tail) {
            size_t dropped = line_drop_tail(&reader, &m, window_end_us, log_byte_lines, sig);
            CORE_LOG(PRIO_DEBUG, FMT_TAIL, sig,
                     static_cast<int>(dropped));
            continue;
        }
        size_t length = text_len(data, static_cast<long>(have));
        CORE_LOG(PRIO_DEBUG, FMT_SCAN_LENGTH, sig, static_cast<int>(length));
        log_byte_lines(sig, data, length);
        break;
    }
    port_close(&port);
    return data;
}
