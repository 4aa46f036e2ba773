// The five operations that send one frame and read nothing back, and the
// line settings of set_uart_parm.
#include "scanjni.h"
#include "logtext.h"
#include "arg_checks.h"
#include "exchange.h"
#include "frames.h"
#include "log.h"
#include "serial.h"


int set_uart_parm(int fd, unsigned int nSpeed, int nBits, char nEvent, int nStop)
{
    return uart_configure(fd, nSpeed, nBits, nEvent, nStop, nullptr);
}

int scan_open_dev(bool open)
{
    static const char sig[] = SIG_OPEN_DEV;
    const WriteOp op = {sig, open ? WHAT_OPEN : WHAT_CLOSE, PRIO_DEBUG, PRIO_DEBUG, -1, false};
    return send_frame(op, open ? kOpenFrame : kCloseFrame, kControlFrameLen);
}

int scan_enable_type(bool enable, int type)
{
    static const char sig[] = SIG_ENABLE_TYPE;
    if (!type_accepted(sig, type))
        return -1;
    unsigned char frame[kTypeFrameLen];
    size_t len = type_frame(enable ? TYPE_ENABLE : TYPE_DISABLE, type, frame);
    const WriteOp op = {sig, enable ? WHAT_ENABLE : WHAT_DISABLE,
                        PRIO_ERROR, PRIO_ERROR, -1, false};
    return send_frame(op, frame, len);
}

int scan_set_timeout(int timeout)
{
    static const char sig[] = SIG_SET_TIMEOUT;
    if (!timeout_accepted(sig, timeout))
        return 0;
    char text[5];
    unsigned char frame[kTimeoutFrameLen];
    timeout_text(timeout, text);
    CORE_LOG(PRIO_DEBUG, FMT_TIME_IS, sig, timeout, text);
    log_byte_lines(sig, text, 4);
    timeout_frame(text, frame);
    log_byte_lines(sig, frame, kTimeoutFrameLen);

    const WriteOp op = {sig, WHAT_TIMEOUT, PRIO_DEBUG, PRIO_ERROR, 0, true};
    return send_frame(op, frame, kTimeoutFrameLen);
}

int scan_set_command(const char *command)
{
    static const char sig[] = SIG_SET_COMMAND;
    size_t n = 0;
    if (!command_accepted(sig, command, &n))
        return 0;
    CORE_LOG(PRIO_DEBUG, FMT_COMMAND_IS, sig, command, static_cast<int>(n));

    unsigned char frame[kCommandFrameMax];
    size_t m = command_frame(command, n, frame);
    CORE_LOG(PRIO_DEBUG, FMT_FRAME_LENGTH, sig, static_cast<int>(m));
    log_byte_lines(sig, frame, m);

    const WriteOp op = {sig, WHAT_COMMAND, PRIO_DEBUG, PRIO_ERROR, 0, true};
    return send_frame(op, frame, m);
}

int profile_scan_type()
{
    static const char sig[] = SIG_PROFILE;
    const WriteOp op = {sig, WHAT_PROFILE, PRIO_DEBUG, PRIO_DEBUG, -1, true};
    return send_frame(op, kProfileFrame, kProfileFrameLen);
}
