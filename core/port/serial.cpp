// set_uart_parm: every termios change the library makes, in one place.
#include "logtext.h"
#include "clock.h"
#include "serial.h"
#include "log.h"

#include <termios.h>

namespace {

const char kSig[] = SIG_UART;

struct BaudRow {
    unsigned int speed;
    speed_t code;
};

// Searched from the top; the first exact match wins.
const BaudRow kBaudTable[] = {
    {0, B0},             {50, B50},           {75, B75},           {110, B110},
    {134, B134},         {150, B150},         {200, B200},         {300, B300},
    {600, B600},         {1200, B1200},       {1800, B1800},       {2400, B2400},
    {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},
    {500000, B500000},   {576000, B576000},   {921600, B921600},   {1000000, B1000000},
    {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000},
    {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};
static_assert(sizeof(kBaudTable) / sizeof(kBaudTable[0]) == 31, "baud table has 31 rows");

const BaudRow *find_baud(unsigned int speed)
{
    for (const BaudRow &row : kBaudTable)
        if (row.speed == speed)
            return &row;
    return nullptr;
}

// Framing and raw mode on the record read from the device. Only the bits
// named here change; receiver, modem-control and flow-control flags and
// everything else stay as the device had them.
void apply_line_format(struct termios *tio, int nBits, char nEvent, int nStop)
{
    tio->c_cc[VTIME] = 1; // reads never wait: the port is non-blocking
    tio->c_cc[VMIN] = 0;

    tio->c_cflag &= ~CSIZE;
    switch (nBits) {
    case 5: tio->c_cflag |= CS5; break;
    case 6: tio->c_cflag |= CS6; break;
    case 7: tio->c_cflag |= CS7; break;
    default: tio->c_cflag |= CS8; break;
    }

    tio->c_cflag &= ~(PARENB | PARODD);
    switch (nEvent) {
    case 'E': case 'e':
        tio->c_cflag |= PARENB;
        tio->c_iflag |= INPCK;
        break;
    case 'O': case 'o':
        tio->c_cflag |= PARENB | PARODD;
        tio->c_iflag |= INPCK;
        break;
    default:
        tio->c_iflag &= ~INPCK;
        break;
    }

    if (nStop == 2)
        tio->c_cflag |= CSTOPB;
    else
        tio->c_cflag &= ~CSTOPB;

    tio->c_lflag &= ~(ISIG | ICANON | ECHO | ECHOE);
    tio->c_iflag &= ~(INLCR | IGNCR | ICRNL | IXON | IXOFF);
    tio->c_oflag &= ~(ONLCR | OCRNL | OFILL | OFDEL | NLDLY);
}

} // namespace

int uart_configure(int fd, unsigned int nSpeed, int nBits, char nEvent, int nStop,
                   int64_t *flushed_us)
{
    struct termios tio;

    if (fd == -1)
        return -1;
    if (tcgetattr(fd, &tio) == -1)
        return -1;
    tcflush(fd, TCIOFLUSH);

    // Stage one: the speed alone. A speed missing from the table keeps the
    // device's own speeds and is no failure.
    const BaudRow *row = find_baud(nSpeed);
    if (row) {
        cfsetospeed(&tio, row->code);
        cfsetispeed(&tio, row->code);
        CORE_LOG(PRIO_DEBUG, FMT_STANDARD_BAUD, kSig);
    } else {
        CORE_LOG(PRIO_DEBUG, FMT_CUSTOM_BAUD, kSig);
    }
    if (tcsetattr(fd, TCSANOW, &tio) == -1)
        return -1;

    // Stage two: framing and raw mode on the same record.
    apply_line_format(&tio, nBits, nEvent, nStop);
    if (tcsetattr(fd, TCSANOW, &tio) == -1)
        return -1;
    tcflush(fd, TCIOFLUSH);
    if (flushed_us != nullptr)
        *flushed_us = port_now_us();

    CORE_LOG(PRIO_DEBUG, FMT_UART_SUMMARY, kSig,
             static_cast<int>(nSpeed), nBits, nEvent, nStop);
    return 0;
}
