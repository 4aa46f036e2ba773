// The Java bridge of the held-port session: the native methods of
// com.morvek.scanner.ScanPortNative, registered after ScanNative's by the
// load hook when the class is there, and the adapters bound to them.
//
// Unlike ScanNative's adapters these keep state: the one open session and
// its handle. Each open that succeeds gets a new handle (a count of the
// opens, never reused), and every other method takes the handle and acts
// only when it names the session still open; otherwise it returns
// kPortClosed at once. So a handle kept after its close cannot reach a
// session that another owner has opened since. wake and close may be
// called from any thread at any time: close takes the session out of
// reach of new calls, wakes a wait in progress and closes the session once
// the calls in progress have ended. Otherwise the caller makes one call at
// a time on a session (the Java class's user serialises); the adapters
// lock only to look the handle up and count the call, never for its
// length.
//
// Results: a handle (> 0) or byte count or value as the method says, or a
// negative ScanSessionError (scansession.h), or kPortClosed. One debug
// line under "SCANLIB_JNI" per call with its result, except a wait that
// ended with nothing (time out or woken) and the wakes, which log nothing.
#ifndef SCANJNI_JNI_PORT_BRIDGE_H
#define SCANJNI_JNI_PORT_BRIDGE_H

#include "scanjni.h"

#include <jni.h>

// The result of a call with a handle that is not the open session's.
constexpr jint kPortClosed = -7;

// Registers ScanPortNative's methods. A process without the class (an app
// that ships ScanNative alone) gets JNI_TRUE, nothing logged and the
// lookup's exception cleared without a word; JNI_FALSE, logged, when the
// class is there but the VM refuses its methods.
jint registerPortNatives(JNIEnv *env);

jlong portOpen(JNIEnv *env, jclass clazz);
void portClose(JNIEnv *env, jclass clazz, jlong handle);
void portWake(JNIEnv *env, jclass clazz, jlong handle);
jint portWriteOpen(JNIEnv *env, jclass clazz, jlong handle, jboolean open);
jint portEnableType(JNIEnv *env, jclass clazz, jlong handle, jboolean enable,
                    jint type);
jint portSetTimeout(JNIEnv *env, jclass clazz, jlong handle, jint timeout);
jint portSendCommand(JNIEnv *env, jclass clazz, jlong handle, jstring command);
jint portProfile(JNIEnv *env, jclass clazz, jlong handle);
jint portCheckType(JNIEnv *env, jclass clazz, jlong handle, jint type);
jint portGetTimeout(JNIEnv *env, jclass clazz, jlong handle, jbyteArray out);
jint portQuery(JNIEnv *env, jclass clazz, jlong handle, jint number,
                              jbyteArray out);
jint portWaitScan(JNIEnv *env, jclass clazz, jlong handle, jint timeoutMs,
                                 jbyteArray buf, jlongArray firstByteNanos);

// The wait for a free port and its wake: no handle, they concern no
// session of this bridge (scan_session_wait_free, scan_session_wake_free).
jint portWaitFree(JNIEnv *env, jclass clazz, jint timeoutMs);
void portWakeFree(JNIEnv *env, jclass clazz);

#endif
