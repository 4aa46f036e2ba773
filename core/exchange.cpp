#include "exchange.h"
#include "log.h"
#include "port.h"
#include "reply.h"

#include <unistd.h>

namespace {

const int kReplyAttempts = 10;
const unsigned int kSettleMs = 100;

} // namespace

int send_frame(const WriteOp &op, const void *frame, size_t len)
{
    int fd = port_open(op.sig, op.cfg_fail_prio);
    if (fd == -1)
        return op.fail_result;

    int ret = port_write_frame(fd, frame, len);
    log_write_result(op.sig, op.what, ret, op.write_fail_prio);
    if (op.settle)
        port_wait_ms(kSettleMs);
    port_close(fd);
    return ret;
}

int ask(int fd, const char *sig, const char *what, const void *frame, size_t len,
        unsigned char *reply, size_t min_len)
{
    int ret = port_write_frame(fd, frame, len);
    log_write_result(sig, what, ret, PRIO_ERROR);
    return poll_reply(fd, sig, reply, min_len);
}

int poll_reply(int fd, const char *sig, unsigned char *reply, size_t min_len)
{
    for (int attempt = 0; attempt < kReplyAttempts; attempt++) {
        port_wait_ms(kPollIntervalMs);
        ssize_t got = read(fd, reply, kReplyBufLen);
        if (got < 0) {
            CORE_LOG(PRIO_ERROR, "%s, check type error! ret = %d", sig, static_cast<int>(got));
            continue;
        }
        size_t n = text_len(reply, got);
        log_byte_lines(sig, reply, n);
        if (reply_accepted(reply, n, min_len))
            return static_cast<int>(n);
    }
    return -1;
}
