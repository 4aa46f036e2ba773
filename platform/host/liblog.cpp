// Host stand-in for Android's liblog: the one entry point the library
// uses, plus an exact record of every line for tests.
#include <android/log.h>

#include "hostlog.h"

#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#define HOSTLOG_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct Record {
    int prio;
    char *tag;
    char *text;
};

pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;

// A child forked while another thread writes a line must find the lock
// free, as the platform's logger lets a forked child log: the fork waits
// for the line to end.
void lock_for_fork()
{
    pthread_mutex_lock(&g_lock);
}

void unlock_after_fork()
{
    pthread_mutex_unlock(&g_lock);
}

__attribute__((constructor)) void watch_forks()
{
    pthread_atfork(lock_for_fork, unlock_after_fork, unlock_after_fork);
}

Record *g_records;
size_t g_count;
size_t g_cap;
bool g_capture;
int g_echo = -1; // -1: not yet decided from the environment

// The logcat output format of the echo, from HOSTLOG_FORMAT.
enum class Format { Brief, Time, Threadtime, Long };
Format g_format;
bool g_format_read;

char prio_letter(int prio)
{
    static const char letters[] = "??VDIWEFS";
    return (prio >= 0 && prio < 9) ? letters[prio] : '?';
}

void drop_records()
{
    for (size_t i = 0; i < g_count; i++) {
        free(g_records[i].tag);
        free(g_records[i].text);
    }
    free(g_records);
    g_records = nullptr;
    g_count = g_cap = 0;
}

void keep_record(int prio, const char *tag, const char *text)
{
    if (g_count == g_cap) {
        size_t cap = g_cap ? g_cap * 2 : 256;
        Record *grown = static_cast<Record *>(realloc(g_records, cap * sizeof(Record)));
        if (!grown)
            return;
        g_records = grown;
        g_cap = cap;
    }
    g_records[g_count].prio = prio;
    g_records[g_count].tag = strdup(tag);
    g_records[g_count].text = strdup(text);
    g_count++;
}

Format format_from_env()
{
    const char *name = getenv("HOSTLOG_FORMAT");
    if (name == nullptr || strcmp(name, "brief") == 0)
        return Format::Brief;
    if (strcmp(name, "time") == 0)
        return Format::Time;
    if (strcmp(name, "threadtime") == 0)
        return Format::Threadtime;
    if (strcmp(name, "long") == 0)
        return Format::Long;
    fprintf(stderr, "hostlog: HOSTLOG_FORMAT '%s' unknown; brief, time, threadtime or long\n", name);
    return Format::Brief;
}

// "01-02 03:04:05.678", logcat's local wall-clock time.
void format_time(char *out, size_t size)
{
    struct timespec now;
    struct tm tm;
    clock_gettime(CLOCK_REALTIME, &now);
    localtime_r(&now.tv_sec, &tm);
    snprintf(out, size, "%02d-%02d %02d:%02d:%02d.%03d", tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
             tm.tm_min, tm.tm_sec, static_cast<int>(now.tv_nsec / 1000000L));
}

// One output line per line of text, each with logcat's prefix for the
// chosen format; the long format writes a header, the lines and a blank.
// Each line, and each long block, leaves in one write, so that other
// processes writing to the same stream never land inside it.
void echo_line(int prio, const char *tag, const char *text)
{
    const char *p = text;
    int pid = static_cast<int>(getpid());
    int tid = static_cast<int>(syscall(SYS_gettid));
    char when[80];
    format_time(when, sizeof when);
    char letter = prio_letter(prio);
    char *block = nullptr;
    size_t block_len = 0;
    FILE *out = g_format == Format::Long ? open_memstream(&block, &block_len) : stderr;
    if (out == nullptr)
        return;
    if (g_format == Format::Long)
        fprintf(out, "[ %s %5d:%5d %c/%-8s ]\n", when, pid, tid, letter, tag);
    do {
        size_t len = strcspn(p, "\n");
        size_t shown = (len > 0 && p[len - 1] == '\r') ? len - 1 : len;
        int n = static_cast<int>(shown);
        switch (g_format) {
        case Format::Brief:
            fprintf(out, "%c/%s(%5d): %.*s\n", letter, tag, pid, n, p);
            break;
        case Format::Time:
            fprintf(out, "%s %c/%s(%5d): %.*s\n", when, letter, tag, pid, n, p);
            break;
        case Format::Threadtime:
            fprintf(out, "%s %5d %5d %c %-8s: %.*s\n", when, pid, tid, letter, tag, n, p);
            break;
        case Format::Long:
            fprintf(out, "%.*s\n", n, p);
            break;
        }
        p += len;
        if (*p == '\n')
            p++;
    } while (*p);
    if (g_format != Format::Long)
        return;
    fputc('\n', out);
    fclose(out);
    fwrite(block, 1, block_len, stderr);
    free(block);
}

void append_to_file(const char *path, int prio, const char *tag, const char *text)
{
    FILE *f = fopen(path, "a");
    if (!f)
        return;
    fprintf(f, "%d\t%s\t", prio, tag);
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; p++) {
        switch (*p) {
        case '\n': fputs("\\n", f); break;
        case '\r': fputs("\\r", f); break;
        case '\t': fputs("\\t", f); break;
        case '\\': fputs("\\\\", f); break;
        default:
            if (*p < 0x20 || *p >= 0x7F)
                fprintf(f, "\\x%02X", *p);
            else
                fputc(*p, f);
        }
    }
    fputc('\n', f);
    fclose(f);
}

} // namespace

HOSTLOG_EXPORT int __android_log_print(int prio, const char *tag, const char *fmt, ...)
{
    char stack_buf[1024];
    char *text = stack_buf;
    va_list ap;

    va_start(ap, fmt);
    int len = vsnprintf(stack_buf, sizeof stack_buf, fmt, ap);
    va_end(ap);
    if (len < 0)
        return -1;
    if (static_cast<size_t>(len) >= sizeof stack_buf) {
        text = static_cast<char *>(malloc(static_cast<size_t>(len) + 1));
        if (!text)
            return -1;
        va_start(ap, fmt);
        vsnprintf(text, static_cast<size_t>(len) + 1, fmt, ap);
        va_end(ap);
    }
    if (!tag)
        tag = "";

    pthread_mutex_lock(&g_lock);
    if (g_echo < 0)
        g_echo = getenv("HOSTLOG_QUIET") ? 0 : 1;
    if (!g_format_read) {
        g_format = format_from_env();
        g_format_read = true;
    }
    if (g_echo)
        echo_line(prio, tag, text);
    if (g_capture)
        keep_record(prio, tag, text);
    const char *file = getenv("HOSTLOG_FILE");
    if (file && *file)
        append_to_file(file, prio, tag, text);
    pthread_mutex_unlock(&g_lock);

    if (text != stack_buf)
        free(text);
    return len;
}

HOSTLOG_EXPORT void hostlog_capture(int on)
{
    pthread_mutex_lock(&g_lock);
    drop_records();
    g_capture = on != 0;
    pthread_mutex_unlock(&g_lock);
}

HOSTLOG_EXPORT void hostlog_clear(void)
{
    pthread_mutex_lock(&g_lock);
    drop_records();
    pthread_mutex_unlock(&g_lock);
}

HOSTLOG_EXPORT size_t hostlog_count(void)
{
    pthread_mutex_lock(&g_lock);
    size_t n = g_count;
    pthread_mutex_unlock(&g_lock);
    return n;
}

HOSTLOG_EXPORT int hostlog_get(size_t i, struct hostlog_line *out)
{
    pthread_mutex_lock(&g_lock);
    int found = i < g_count;
    if (found) {
        out->prio = g_records[i].prio;
        out->tag = g_records[i].tag;
        out->text = g_records[i].text;
    }
    pthread_mutex_unlock(&g_lock);
    return found;
}

HOSTLOG_EXPORT void hostlog_set_echo(int on)
{
    pthread_mutex_lock(&g_lock);
    g_echo = on != 0;
    pthread_mutex_unlock(&g_lock);
}
