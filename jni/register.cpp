// Registration of a native method table for a class found by its path.
#include "bridge.h"
#include "logtext.h"

jint registerNativeMethods(JNIEnv *env, const char *className,
                           JNINativeMethod *methods, int numMethods)
{
    jclass clazz = env->FindClass(className);
    // A failed lookup leaves an exception pending; describe it (to the
    // VM's error output) and clear it before anything else is asked of
    // the VM.
    if (env->ExceptionCheck()) {
        env->ExceptionDescribe();
        env->ExceptionClear();
    }
    if (clazz == nullptr) {
        JNI_LOG(ANDROID_LOG_ERROR, FMT_J_NO_CLASS, className);
        return JNI_FALSE;
    }
    if (env->RegisterNatives(clazz, methods, numMethods) < 0) {
        JNI_LOG(ANDROID_LOG_ERROR, FMT_J_REGISTER_FAIL, className);
        return JNI_FALSE;
    }
    JNI_LOG(ANDROID_LOG_DEBUG, FMT_J_SUCCESS,
            SIG_J_REGISTER_METHODS);
    return JNI_TRUE;
}
