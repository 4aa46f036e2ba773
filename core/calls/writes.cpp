// The five operations that send one frame and read nothing back, and the
// line settings of set_uart_parm.
#include "scanjni.h"
#include "logtext.h"
#include "exchange.h"
#include "log.h"
#include "operations.h"
#include "serial.h"

int set_uart_parm(int fd, unsigned int nSpeed, int nBits, char nEvent, int nStop)
{
    return uart_configure(fd, nSpeed, nBits, nEvent, nStop, nullptr);
}

int scan_open_dev(bool open)
{
    static const char sig[] = SIG_OPEN_DEV;
    OpCall c = op_call(OP_OPEN_DEV, open, 0, nullptr);
    op_frame(&c);
    const WriteOp op = {sig, open ? WHAT_OPEN : WHAT_CLOSE, PRIO_DEBUG, PRIO_DEBUG, -1, false};
    return send_frame(op, c.frame, c.len);
}

int scan_enable_type(bool enable, int type)
{
    static const char sig[] = SIG_ENABLE_TYPE;
    OpCall c = op_call(OP_ENABLE_TYPE, enable, type, nullptr);
    if (!op_accepted(sig, &c))
        return -1;
    op_frame(&c);
    const WriteOp op = {sig, enable ? WHAT_ENABLE : WHAT_DISABLE,
                        PRIO_ERROR, PRIO_ERROR, -1, false};
    return send_frame(op, c.frame, c.len);
}

int scan_set_timeout(int timeout)
{
    static const char sig[] = SIG_SET_TIMEOUT;
    OpCall c = op_call(OP_SET_TIMEOUT, false, timeout, nullptr);
    if (!op_accepted(sig, &c))
        return 0;
    op_frame(&c);
    CORE_LOG(PRIO_DEBUG, FMT_TIME_IS, sig, timeout, c.text);
    log_byte_lines(sig, c.text, c.text_len);
    log_byte_lines(sig, c.frame, c.len);

    const WriteOp op = {sig, WHAT_TIMEOUT, PRIO_DEBUG, PRIO_ERROR, 0, true};
    return send_frame(op, c.frame, c.len);
}

int scan_set_command(const char *command)
{
    static const char sig[] = SIG_SET_COMMAND;
    OpCall c = op_call(OP_SET_COMMAND, false, 0, command);
    if (!op_accepted(sig, &c))
        return 0;
    CORE_LOG(PRIO_DEBUG, FMT_COMMAND_IS, sig, command, static_cast<int>(c.command_len));

    op_frame(&c);
    CORE_LOG(PRIO_DEBUG, FMT_FRAME_LENGTH, sig, static_cast<int>(c.len));
    log_byte_lines(sig, c.frame, c.len);

    const WriteOp op = {sig, WHAT_COMMAND, PRIO_DEBUG, PRIO_ERROR, 0, true};
    return send_frame(op, c.frame, c.len);
}

int profile_scan_type()
{
    static const char sig[] = SIG_PROFILE;
    OpCall c = op_call(OP_PROFILE, false, 0, nullptr);
    op_frame(&c);
    const WriteOp op = {sig, WHAT_PROFILE, PRIO_DEBUG, PRIO_DEBUG, -1, true};
    return send_frame(op, c.frame, c.len);
}
