// scan_read_data: the bytes that the engine sends on its own.
#include "scanjni.h"
#include "log.h"
#include "port.h"
#include "reply.h"
#include "texts.h"

#include <string.h>
#include <unistd.h>

namespace {

const int kReadAttempts = 100;

} // namespace

char *scan_read_data()
{
    static const char sig[] = "char *scan_read_data()";
    ThreadTexts *texts = thread_texts(sig);
    if (texts == nullptr)
        return nullptr;
    char *data = texts->scan;

    memset(data, 0, sizeof texts->scan);
    int fd = port_open(sig, PRIO_DEBUG);
    if (fd == -1)
        return nullptr;

    for (int attempt = 0; attempt < kReadAttempts; attempt++) {
        port_wait_ms(kPollIntervalMs);
        ssize_t got = read(fd, data, kScanBufLen);
        if (got < 0) {
            CORE_LOG(PRIO_ERROR, "%s, read data error! ret = %d", sig, static_cast<int>(got));
            continue;
        }
        size_t length = text_len(data, got);
        CORE_LOG(PRIO_DEBUG, "%s, length = %d ", sig, static_cast<int>(length));
        log_byte_lines(sig, data, length);
        break;
    }
    port_close(fd);
    return data;
}
