// The port cycle of a write operation done with bare system calls and no
// logging: the baseline that the library's own cycle is compared with.
#pragma once

// open, tcgetattr, tcflush, speed + tcsetattr, raw 8N1 + tcsetattr,
// tcflush, one write of the 3-byte open frame, close. Returns the write's
// result, or -1 when the port could not be opened or configured.
int raw_open_cycle();
