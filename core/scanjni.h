// libscanjni: the scan engine on the serial port "/dev/ttyMT1".
//
// Every operation below runs one complete port cycle of its own: it opens
// the device, configures the line (115200 8N1, raw), writes at most one
// frame, polls for the engine's reply or for scan data where it has to,
// and closes the device again before it returns. Nothing is kept between
// calls. Calls that overlap (threads or processes) take turns on the line,
// so each gets its own reply. While a session (scansession.h) holds the
// port, a call of the same process runs on the session and a call of
// another process fails at once with its failure result. Every step is
// written to the Android log under "SCANLIB_CORE".
//
// Returned texts live in per-thread storage owned by the function that
// returns them: they stay valid until the same thread calls the same
// function again. A null result means the port could not be opened or
// configured; an empty text means the engine gave no usable answer.
#ifndef SCANJNI_SCANJNI_H
#define SCANJNI_SCANJNI_H

// Everything else in the library is hidden; this marks what is exported.
#define SCANJNI_EXPORT __attribute__((visibility("default")))

// Line settings on an open terminal descriptor. Returns 0, or -1 when the
// descriptor is -1 or a termios call fails.
SCANJNI_EXPORT int set_uart_parm(int fd, unsigned int nSpeed, int nBits, char nEvent, int nStop);

// Sends the open frame (true) or the close frame (false). Returns the
// byte count written (3), or -1 on any failure.
SCANJNI_EXPORT int scan_open_dev(bool open);

// Enables (true) or disables (false) the scan type with index 0..34.
// Returns the byte count written (11), or -1 on any failure.
SCANJNI_EXPORT int scan_enable_type(bool enable, int type);

// Sets the engine's timeout, -999..9999. Returns the byte count written
// (14); 0 when the value is out of range or the port fails; -1 when the
// frame could not be written. Blocks about 100 ms.
SCANJNI_EXPORT int scan_set_timeout(int timeout);

// Sends a free command text of 0..255 bytes wrapped in a command frame.
// Returns the byte count written (length + 4); 0 for a null or too long
// text or when the port fails; -1 when the frame could not be written.
// Blocks about 100 ms.
SCANJNI_EXPORT int scan_set_command(const char *command);

// Sends the fixed profile command. Returns 20, or -1 on any failure.
// Blocks about 100 ms.
SCANJNI_EXPORT int profile_scan_type();

// Asks whether the scan type with index 0..34 is enabled. False also on
// any failure. Blocks up to about 100 ms.
SCANJNI_EXPORT bool scan_type_check(int type);

// Reads the timeout setting back as four characters; "" when the engine
// gives no answer, null when the port fails. Blocks up to about 100 ms.
SCANJNI_EXPORT char *scan_get_timeout();

// Reads any setting by its number; "" when the engine gives no answer,
// null when the port fails. Blocks up to about 100 ms.
SCANJNI_EXPORT char *scan_query_data(int number);

// Reads the scan data that the engine sends; "" when nothing arrives
// within about one second, null when the port fails.
SCANJNI_EXPORT char *scan_read_data();

#endif
