// The Java bridge of libscanjni: the load hook, the registration of the
// native methods of com.morvek.scanner.ScanNative and the eleven adapters
// bound to them. Every adapter makes exactly one call into the scanner
// core and logs under "SCANLIB_JNI". The bridge keeps no state, tests no
// argument, raises no exception of its own and serialises nothing.
#ifndef SCANJNI_JNI_BRIDGE_H
#define SCANJNI_JNI_BRIDGE_H

#include "scanjni.h"
#include "logtext.h"

#include <android/log.h>
#include <jni.h>

#define JNI_TAG LOG_TAG_JNI
#define JNI_LOG(prio, ...) __android_log_print((prio), JNI_TAG, __VA_ARGS__)

// Registration. Both return JNI_TRUE when the methods are registered and
// JNI_FALSE otherwise; failures are logged, and a pending exception left
// by the class lookup is described and cleared.
SCANJNI_EXPORT jint registerNatives(JNIEnv *env);
SCANJNI_EXPORT jint registerNativeMethods(JNIEnv *env, const char *className,
                                         JNINativeMethod *methods, int numMethods);

// The adapters, one per native method. The jobject receiver is ignored.
SCANJNI_EXPORT jboolean openDev(JNIEnv *env, jobject thiz);
SCANJNI_EXPORT jboolean closeDev(JNIEnv *env, jobject thiz);
SCANJNI_EXPORT jstring readData(JNIEnv *env, jobject thiz);
SCANJNI_EXPORT jboolean checkType(JNIEnv *env, jobject thiz, jint type);
SCANJNI_EXPORT jboolean enableType(JNIEnv *env, jobject thiz, jint type);
SCANJNI_EXPORT jboolean disableType(JNIEnv *env, jobject thiz, jint type);
SCANJNI_EXPORT jboolean setTimeout(JNIEnv *env, jobject thiz, jint timeout);
SCANJNI_EXPORT jstring getTimeout(JNIEnv *env, jobject thiz);
SCANJNI_EXPORT jboolean sendCommand(JNIEnv *env, jobject thiz, jstring command);
SCANJNI_EXPORT jstring queryData(JNIEnv *env, jobject thiz, jint number);
SCANJNI_EXPORT jboolean profileScanType(JNIEnv *env, jobject thiz);

#endif
