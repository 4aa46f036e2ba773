// Registration of a native method table for a class found by its path.
#include "bridge.h"

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
        JNI_LOG(ANDROID_LOG_ERROR, "Native registration unable to find class '%s'", className);
        return JNI_FALSE;
    }
    if (env->RegisterNatives(clazz, methods, numMethods) < 0) {
        JNI_LOG(ANDROID_LOG_ERROR, "RegisterNatives failed for '%s'", className);
        return JNI_FALSE;
    }
    JNI_LOG(ANDROID_LOG_DEBUG, "%s, success\n",
            "jint registerNativeMethods(JNIEnv *, const char *, JNINativeMethod *, int)");
    return JNI_TRUE;
}
