// The five operations that send one frame and read nothing back.
#include "scanjni.h"
#include "arg_checks.h"
#include "exchange.h"
#include "frames.h"
#include "log.h"


int scan_open_dev(bool open)
{
    static const char sig[] = "int scan_open_dev(bool)";
    const WriteOp op = {sig, open ? "open" : "close", PRIO_DEBUG, PRIO_DEBUG, -1, false};
    return send_frame(op, open ? kOpenFrame : kCloseFrame, kControlFrameLen);
}

int scan_enable_type(bool enable, int type)
{
    static const char sig[] = "int scan_enable_type(bool, int)";
    if (!type_accepted(sig, type))
        return -1;
    unsigned char frame[kTypeFrameLen];
    size_t len = type_frame(enable ? TYPE_ENABLE : TYPE_DISABLE, type, frame);
    const WriteOp op = {sig, enable ? "write enable" : "write disable",
                        PRIO_ERROR, PRIO_ERROR, -1, false};
    return send_frame(op, frame, len);
}

int scan_set_timeout(int timeout)
{
    static const char sig[] = "int scan_set_timeout(int)";
    if (!timeout_accepted(sig, timeout))
        return 0;
    char text[5];
    unsigned char frame[kTimeoutFrameLen];
    timeout_text(timeout, text);
    CORE_LOG(PRIO_DEBUG, "%s, time = %d, timeArray = %s\n", sig, timeout, text);
    log_byte_lines(sig, text, 4);
    timeout_frame(text, frame);
    log_byte_lines(sig, frame, kTimeoutFrameLen);

    const WriteOp op = {sig, "write timeout", PRIO_DEBUG, PRIO_ERROR, 0, true};
    return send_frame(op, frame, kTimeoutFrameLen);
}

int scan_set_command(const char *command)
{
    static const char sig[] = "int scan_set_command(const char *)";
    size_t n = 0;
    if (!command_accepted(sig, command, &n))
        return 0;
    CORE_LOG(PRIO_DEBUG, "%s, command = %s, length = %d\n", sig, command, static_cast<int>(n));

    unsigned char frame[kCommandFrameMax];
    size_t m = command_frame(command, n, frame);
    CORE_LOG(PRIO_DEBUG, "%s, length = %d", sig, static_cast<int>(m));
    log_byte_lines(sig, frame, m);

    const WriteOp op = {sig, "write command", PRIO_DEBUG, PRIO_ERROR, 0, true};
    return send_frame(op, frame, m);
}

int profile_scan_type()
{
    static const char sig[] = "int profile_scan_type()";
    const WriteOp op = {sig, "profile_cmd", PRIO_DEBUG, PRIO_DEBUG, -1, true};
    return send_frame(op, kProfileFrame, kProfileFrameLen);
}
