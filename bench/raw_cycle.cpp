#include "raw_cycle.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

int raw_open_cycle() {
    static const unsigned char kFrame[3] = {0xFF, 'T', 0x0D};
    int fd = open("/dev/ttyMT1", O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return -1;
    termios t;
    if (tcgetattr(fd, &t) != 0) {
        close(fd);
        return -1;
    }
    tcflush(fd, TCIOFLUSH);
    cfsetospeed(&t, B115200);
    cfsetispeed(&t, B115200);
    int rc = tcsetattr(fd, TCSANOW, &t);
    t.c_cc[VTIME] = 1;
    t.c_cc[VMIN] = 0;
    t.c_cflag = (t.c_cflag & ~(CSIZE | PARENB | PARODD | CSTOPB)) | CS8;
    t.c_iflag &= ~(INPCK | INLCR | IGNCR | ICRNL | IXON | IXOFF);
    t.c_lflag &= ~(ISIG | ICANON | ECHO | ECHOE);
    t.c_oflag &= ~(ONLCR | OCRNL | OFILL | OFDEL | NLDLY);
    if (rc != 0 || tcsetattr(fd, TCSANOW, &t) != 0) {
        close(fd);
        return -1;
    }
    tcflush(fd, TCIOFLUSH);
    ssize_t n = write(fd, kFrame, sizeof kFrame);
    close(fd);
    return static_cast<int>(n);
}
