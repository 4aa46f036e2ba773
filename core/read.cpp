// scan_read_data: the bytes that the engine sends on its own.
//
// On a real line a scan arrives one byte every 86.8 us (115200 8N1), over
// many reads. The read waits up to about one second for the first bytes,
// then goes on reading, a batch at a time, until the line has been quiet
// for kScanQuietGapMs or the buffer is full, and returns the whole
// message. A message that was already on the line when the port was
// flushed has lost its start to the flush: its tail is read to its end
// and dropped, and the read waits on for a message of its own.
#include "scanjni.h"
#include "line.h"
#include "log.h"
#include "port.h"
#include "reply.h"
#include "texts.h"

#include <errno.h>
#include <string.h>
#include <unistd.h>

namespace {

const int kReadAttempts = 100;

// Reads on after the first `have` bytes, a batch at a time, until the
// line is quiet, the buffer is full or the message has gone on too long.
// Returns the bytes in the buffer.
size_t read_rest(int fd, char *data, size_t have)
{
    int64_t now_us = port_now_us();
    int64_t give_up_us = now_us + kScanMessageMaxMs * 1000;
    int64_t last_bytes_us = now_us;
    while (have < kScanBufLen && now_us < give_up_us) {
        // The line is busy: let a batch gather before the next read.
        int64_t batch_us = now_us + kBatchUs;
        port_sleep_until(batch_us < give_up_us ? batch_us : give_up_us);
        ssize_t got = read(fd, data + have, kScanBufLen - have);
        now_us = port_now_us();
        if (got > 0) {
            have += static_cast<size_t>(got);
            last_bytes_us = now_us;
            continue;
        }
        if (got == 0 || (errno != EAGAIN && errno != EINTR))
            break; // hung up or failed: the message ends here
        // Nothing in this batch: the message is over once the line stays
        // quiet for the gap after its last bytes.
        int64_t quiet_us = last_bytes_us + kScanQuietGapMs * 1000;
        if (!port_wait_input(fd, quiet_us < give_up_us ? quiet_us : give_up_us))
            break;
        now_us = port_now_us();
    }
    return have;
}

// Reads the tail of an earlier message, whose first `have` bytes are in
// the buffer, to its end, however many buffers it fills (within the read's
// window), and logs its bytes. Returns how many there were; the buffer is
// left zeroed.
size_t drop_tail(int fd, const char *sig, char *data, size_t have, int64_t window_end_us)
{
    size_t dropped = 0;
    for (;;) {
        log_byte_lines(sig, data, have);
        dropped += have;
        memset(data, 0, have);
        if (have < kScanBufLen || port_now_us() >= window_end_us)
            return dropped;
        have = read_rest(fd, data, 0);
    }
}

} // namespace

char *scan_read_data()
{
    static const char sig[] = "char *scan_read_data()";
    ThreadTexts *texts = thread_texts(sig);
    if (texts == nullptr)
        return nullptr;
    char *data = texts->scan;

    memset(data, 0, sizeof texts->scan);
    PortCycle port;
    if (!port_open(sig, PRIO_DEBUG, &port))
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
        ssize_t got = port_read_by(fd, data, kScanBufLen, deadline_us, kBatchUs, &arrival);
        if (got < 0) {
            CORE_LOG(PRIO_ERROR, "%s, read data error! ret = %d", sig, static_cast<int>(got));
            continue;
        }
        // Judged by what had arrived when the port turned readable: later,
        // a short tail may have ended and look like a slow message.
        size_t arrived = static_cast<size_t>(arrival.bytes >= 0 ? arrival.bytes : got);
        bool tail = first_message && got > 0 &&
                    began_before_flush(arrival.at_us - flushed_us, arrived);
        first_message = false;
        // No bytes (the end of the line) ends the attempts as well.
        size_t have = got > 0 ? read_rest(fd, data, static_cast<size_t>(got)) : 0;
        if (tail) {
            size_t dropped = drop_tail(fd, sig, data, have, window_end_us);
            CORE_LOG(PRIO_DEBUG, "%s, dropped %d bytes: tail of an earlier message", sig,
                     static_cast<int>(dropped));
            continue;
        }
        size_t length = text_len(data, static_cast<long>(have));
        CORE_LOG(PRIO_DEBUG, "%s, length = %d ", sig, static_cast<int>(length));
        log_byte_lines(sig, data, length);
        break;
    }
    port_close(&port);
    return data;
}
