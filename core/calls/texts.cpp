#include "texts.h"
#include "logtext.h"
#include "log.h"

#include <pthread.h>
#include <stdlib.h>

namespace {

pthread_once_t g_once = PTHREAD_ONCE_INIT;
pthread_key_t g_key;
bool g_key_ready;

// The destructor is libc's free, not code of this library, so a thread
// that exits after the library was unloaded still frees its storage safely.
void make_key()
{
    g_key_ready = pthread_key_create(&g_key, free) == 0;
}

} // namespace

namespace {

void *make_texts()
{
    void *texts = calloc(1, sizeof(ThreadTexts));
    if (texts != nullptr && pthread_setspecific(g_key, texts) != 0) {
        free(texts);
        texts = nullptr;
    }
    return texts;
}

} // namespace

ThreadTexts *thread_texts(const char *sig)
{
    pthread_once(&g_once, make_key);
    void *texts = g_key_ready ? pthread_getspecific(g_key) : nullptr;
    if (texts == nullptr && g_key_ready)
        texts = make_texts();
    if (texts == nullptr)
        CORE_LOG(PRIO_ERROR, FMT_NO_MEMORY, sig);
    return static_cast<ThreadTexts *>(texts);
}
