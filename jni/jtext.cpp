// Core texts on their way to Java.
#include "jtext.h"
#include "mutf8.h"

#include <string.h>

namespace {

// The longest text the core returns: a full scan data buffer.
const size_t kMaxCoreText = 8192;

// Only texts that need conversion come here, so the 16 KiB buffer is
// taken from the stack on that path alone. Java threads run native code
// with far more stack than that free (their stacks are hundreds of KiB
// to 1 MiB); the build limits every bridge frame to this one's size. A
// text longer than the core ever returns would be cut at a character
// boundary, never overrun the buffer.
__attribute__((noinline)) jstring new_converted_text(JNIEnv *env, const char *text)
{
    char converted[2 * kMaxCoreText + 1];
    mutf8_convert(text, converted, sizeof converted);
    return env->NewStringUTF(converted);
}

} // namespace

const char *shown_text(const char *text)
{
    return text != nullptr ? text : "(null)";
}

jstring new_java_text(JNIEnv *env, const char *text)
{
    if (text == nullptr)
        return nullptr;
    if (mutf8_convert(text, nullptr, 0) == strlen(text))
        return env->NewStringUTF(text);
    return new_converted_text(env, text);
}
