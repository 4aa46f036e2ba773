// The adapters of ScanPortNative: the handle check, one session call, one
// log line (see port_bridge.h).
#include "port_bridge.h"
#include "logtext.h"
#include "bridge.h"
#include "scansession.h"

#include <pthread.h>

namespace {

const jlong kNsPerUs = 1000;
// Room for a query's value and its zero (scan_session_query).
const size_t kValueLen = 16;
const size_t kTimeoutLen = 5;

pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t g_idle = PTHREAD_COND_INITIALIZER; // signalled when g_calls drops to 0
ScanSession *g_session; // guarded by g_lock; null when none is open
jlong g_handle;         // guarded by g_lock; the open session's handle, 0 when none
jlong g_opens;          // guarded by g_lock; the last handle given out
int g_calls;            // guarded by g_lock; calls in progress on a session

// The open session when the handle is its own, else null. A session
// taken here is not closed until release() has been called for it.
ScanSession *acquire(jlong handle)
{
    pthread_mutex_lock(&g_lock);
    ScanSession *s = handle > 0 && handle == g_handle ? g_session : nullptr;
    if (s != nullptr)
        g_calls++;
    pthread_mutex_unlock(&g_lock);
    return s;
}

void release()
{
    pthread_mutex_lock(&g_lock);
    if (--g_calls == 0)
        pthread_cond_broadcast(&g_idle);
    pthread_mutex_unlock(&g_lock);
}

jint logged(const char *sig, jint result)
{
    JNI_LOG(ANDROID_LOG_DEBUG, FMT_J_RET, sig, result);
    return result;
}

// One call on the handle's session, logged with its result: kPortClosed
// when the handle is not the open session's, SCAN_SESSION_INVALID when
// the Java object the call needs (a string, an array) is null. A result
// of 0 goes unlogged when log_zero is false (a wait that found nothing).
template <typename Call>
jint on_session(const char *sig, jlong handle, const void *needed, Call call, bool log_zero = true)
{
    ScanSession *s = acquire(handle);
    if (s == nullptr)
        return logged(sig, kPortClosed);
    jint result = needed != nullptr ? call(s) : SCAN_SESSION_INVALID;
    release();
    return result != 0 || log_zero ? logged(sig, result) : result;
}

template <typename Call>
jint on_session(const char *sig, jlong handle, Call call)
{
    return on_session(sig, handle, sig, call);
}

// A text answer's bytes into out, as many of them as fit; passes on the
// answer's length or error.
jint put_text(JNIEnv *env, jbyteArray out, const char *value, jint len)
{
    if (len > 0) {
        jsize room = env->GetArrayLength(out);
        env->SetByteArrayRegion(out, 0, len < room ? len : room,
                                reinterpret_cast<const jbyte *>(value));
    }
    return len;
}

} // namespace

jlong portOpen(JNIEnv *, jclass)
{
    int error = SCAN_SESSION_NO_PORT;
    ScanSession *s = scan_session_open(&error);
    jlong result = error;
    if (s != nullptr) {
        pthread_mutex_lock(&g_lock);
        g_session = s;
        g_handle = ++g_opens;
        result = g_handle;
        pthread_mutex_unlock(&g_lock);
    }
    JNI_LOG(ANDROID_LOG_DEBUG, FMT_J_RET_LONG, SIG_J_PORT_OPEN,
            static_cast<long long>(result));
    return result;
}

// Any thread. The session leaves the table first, so no call can begin on
// it any more (a wake holds the lock while it wakes); a wait in progress
// is woken, and the close waits for the calls in progress to end.
void portClose(JNIEnv *, jclass, jlong handle)
{
    pthread_mutex_lock(&g_lock);
    ScanSession *s = handle > 0 && handle == g_handle ? g_session : nullptr;
    if (s != nullptr) {
        g_session = nullptr;
        g_handle = 0;
        scan_session_wake(s);
        while (g_calls > 0)
            pthread_cond_wait(&g_idle, &g_lock);
    }
    pthread_mutex_unlock(&g_lock);
    if (s != nullptr)
        scan_session_close(s);
    logged(SIG_J_PORT_CLOSE, s != nullptr ? 0 : kPortClosed);
}

void portWake(JNIEnv *, jclass, jlong handle)
{
    pthread_mutex_lock(&g_lock);
    if (handle > 0 && handle == g_handle)
        scan_session_wake(g_session);
    pthread_mutex_unlock(&g_lock);
}

jint portWriteOpen(JNIEnv *, jclass, jlong handle, jboolean open)
{
    return on_session(SIG_J_PORT_WRITE_OPEN, handle,
                      [=](ScanSession *s) { return scan_session_open_dev(s, open == JNI_TRUE); });
}

jint portEnableType(JNIEnv *, jclass, jlong handle, jboolean enable, jint type)
{
    return on_session(SIG_J_PORT_ENABLE_TYPE, handle,
                      [=](ScanSession *s) {
                          return scan_session_enable_type(s, enable == JNI_TRUE, type);
                      });
}

jint portSetTimeout(JNIEnv *, jclass, jlong handle, jint timeout)
{
    return on_session(SIG_J_PORT_SET_TIMEOUT, handle,
                      [=](ScanSession *s) { return scan_session_set_timeout(s, timeout); });
}

// The command's modified UTF-8 as the VM gives it, as ScanNative's
// sendCommand sends it. A null command, or characters the VM cannot give
// (its exception stays pending for the caller), send nothing.
jint portSendCommand(JNIEnv *env, jclass, jlong handle, jstring command)
{
    return on_session(SIG_J_PORT_SEND_COMMAND, handle, command,
                      [=](ScanSession *s) {
                          const char *chars = env->GetStringUTFChars(command, nullptr);
                          if (chars == nullptr)
                              return static_cast<int>(SCAN_SESSION_INVALID);
                          int result = scan_session_set_command(s, chars);
                          env->ReleaseStringUTFChars(command, chars);
                          return result;
                      });
}

jint portProfile(JNIEnv *, jclass, jlong handle)
{
    return on_session(SIG_J_PORT_PROFILE, handle,
                      [](ScanSession *s) { return scan_session_profile(s); });
}

jint portCheckType(JNIEnv *, jclass, jlong handle, jint type)
{
    return on_session(SIG_J_PORT_CHECK_TYPE, handle,
                      [=](ScanSession *s) { return scan_session_check_type(s, type); });
}

jint portGetTimeout(JNIEnv *env, jclass, jlong handle, jbyteArray out)
{
    return on_session(SIG_J_PORT_GET_TIMEOUT, handle, out,
                      [=](ScanSession *s) {
                          char value[kTimeoutLen];
                          return put_text(env, out, value, scan_session_get_timeout(s, value));
                      });
}

jint portQuery(JNIEnv *env, jclass, jlong handle, jint number, jbyteArray out)
{
    return on_session(SIG_J_PORT_QUERY, handle, out,
                      [=](ScanSession *s) {
                          char value[kValueLen];
                          return put_text(env, out, value, scan_session_query(s, number, value));
                      });
}

// The scan goes through a buffer on this thread's stack (8 KiB; see the
// frame limit in CMakeLists.txt), so that the wait holds nothing of the
// VM's: the Java array is written once the scan is whole.
jint portWaitScan(JNIEnv *env, jclass, jlong handle, jint timeoutMs, jbyteArray buf,
                  jlongArray firstByteNanos)
{
    static const char sig[] = SIG_J_PORT_WAIT_SCAN;
    unsigned char scan[SCAN_SESSION_MAX_SCAN];
    size_t cap = 0;
    int64_t first_us = 0;
    jint len = on_session(sig, handle, buf, [&](ScanSession *s) {
        jsize room = env->GetArrayLength(buf);
        cap = static_cast<size_t>(room) < sizeof scan ? static_cast<size_t>(room) : sizeof scan;
        return scan_session_wait_scan(s, timeoutMs, scan, cap, &first_us);
    }, false);
    if (len > 0) {
        // A message longer than the array was cut to it.
        jsize copied = static_cast<size_t>(len) < cap ? len : static_cast<jsize>(cap);
        env->SetByteArrayRegion(buf, 0, copied, reinterpret_cast<const jbyte *>(scan));
        if (firstByteNanos != nullptr && env->GetArrayLength(firstByteNanos) > 0) {
            jlong nanos = first_us * kNsPerUs;
            env->SetLongArrayRegion(firstByteNanos, 0, 1, &nanos);
        }
    }
    return len;
}

jint portWaitFree(JNIEnv *, jclass, jint timeoutMs)
{
    jint result = scan_session_wait_free(timeoutMs);
    return result != 0 ? logged(SIG_J_PORT_WAIT_FREE, result) : result;
}

void portWakeFree(JNIEnv *, jclass)
{
    scan_session_wake_free();
}
