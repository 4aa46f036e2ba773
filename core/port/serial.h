// The line settings of set_uart_parm, for the library's own port opens.
#ifndef SCANJNI_CORE_SERIAL_H
#define SCANJNI_CORE_SERIAL_H

#include "line.h"

#include <stdint.h>

// set_uart_parm, same calls, log lines and result, which also tells when
// its last flush was made (port_now_us; when flushed_us is given and the
// flush was reached). A message whose bytes cross the line before that
// moment began before the port was the caller's: its log line is not yet
// written then, so a slow log does not widen the moment.
int uart_configure(int fd, unsigned int nSpeed, int nBits, char nEvent, int nStop,
                   int64_t *flushed_us);

// The scan engine's line settings, 115200 8N1, with uart_configure.
inline int uart_configure_line(int fd, int64_t *flushed_us)
{
    return uart_configure(fd, kLineBaud, 8, 'N', 1, flushed_us);
}

#endif
