// The eleven adapters: each one core call, one or two log lines, and the
// core's result as a Java value. A byte count is true when greater than
// zero, a truth value passes through, a text becomes a new string (null
// for no text).
#include "bridge.h"
#include "logtext.h"
#include "jtext.h"
#include "scanjni.h"

namespace {

jboolean count_result(const char *sig, int count)
{
    JNI_LOG(ANDROID_LOG_DEBUG, FMT_J_RET, sig, count);
    return count > 0 ? JNI_TRUE : JNI_FALSE;
}

jstring logged_text(JNIEnv *env, const char *sig, const char *text)
{
    JNI_LOG(ANDROID_LOG_DEBUG, FMT_J_DATA, sig, shown_text(text));
    return new_java_text(env, text);
}

} // namespace

jboolean openDev(JNIEnv *, jobject)
{
    return count_result(SIG_J_OPEN_DEV, scan_open_dev(true));
}

jboolean closeDev(JNIEnv *, jobject)
{
    return count_result(SIG_J_CLOSE_DEV, scan_open_dev(false));
}

jstring readData(JNIEnv *env, jobject)
{
    return new_java_text(env, scan_read_data());
}

jboolean checkType(JNIEnv *, jobject, jint type)
{
    bool enable = scan_type_check(type);
    JNI_LOG(ANDROID_LOG_DEBUG, FMT_J_ENABLE,
            SIG_J_CHECK_TYPE, enable ? 1 : 0);
    return enable ? JNI_TRUE : JNI_FALSE;
}

jboolean enableType(JNIEnv *, jobject, jint type)
{
    return count_result(SIG_J_ENABLE_TYPE,
                        scan_enable_type(true, type));
}

jboolean disableType(JNIEnv *, jobject, jint type)
{
    return count_result(SIG_J_DISABLE_TYPE,
                        scan_enable_type(false, type));
}

jboolean setTimeout(JNIEnv *, jobject, jint timeout)
{
    return count_result(SIG_J_SET_TIMEOUT,
                        scan_set_timeout(timeout));
}

jstring getTimeout(JNIEnv *env, jobject)
{
    return logged_text(env, SIG_J_GET_TIMEOUT, scan_get_timeout());
}

// A null command gets no GetStringUTFChars call (the VM would reject it):
// it is logged as "(null)" and answered with false, like characters the
// VM cannot give, which leaves the VM's exception pending for the caller.
jboolean sendCommand(JNIEnv *env, jobject, jstring command)
{
    static const char sig[] = SIG_J_SEND_COMMAND;
    const char *chars = command != nullptr ? env->GetStringUTFChars(command, nullptr) : nullptr;
    JNI_LOG(ANDROID_LOG_DEBUG, FMT_J_STR, sig, shown_text(chars));
    if (chars == nullptr)
        return JNI_FALSE;
    int count = scan_set_command(chars);
    JNI_LOG(ANDROID_LOG_DEBUG, FMT_J_RET, sig, count);
    env->ReleaseStringUTFChars(command, chars);
    return count > 0 ? JNI_TRUE : JNI_FALSE;
}

jstring queryData(JNIEnv *env, jobject, jint number)
{
    return logged_text(env, SIG_J_QUERY_DATA,
                       scan_query_data(number));
}

jboolean profileScanType(JNIEnv *, jobject)
{
    return count_result(SIG_J_PROFILE, profile_scan_type());
}
