// The native methods of com.morvek.scanner.ScanPortNative, bound to the
// session's adapters in one registration, when the class is there.
#include "port_bridge.h"
#include "logtext.h"
#include "bridge.h"

namespace {

const char kPortClassPath[] = "com/morvek/scanner/ScanPortNative";

#define PORT_NATIVE(name, signature, fn) { name, signature, reinterpret_cast<void *>(fn) }

JNINativeMethod gPortMethods[] = {
    PORT_NATIVE("open", "()J", portOpen),
    PORT_NATIVE("close", "(J)V", portClose),
    PORT_NATIVE("wake", "(J)V", portWake),
    PORT_NATIVE("writeOpen", "(JZ)I", portWriteOpen),
    PORT_NATIVE("enableType", "(JZI)I", portEnableType),
    PORT_NATIVE("setTimeout", "(JI)I", portSetTimeout),
    PORT_NATIVE("sendCommand", "(JLjava/lang/String;)I", portSendCommand),
    PORT_NATIVE("profile", "(J)I", portProfile),
    PORT_NATIVE("checkType", "(JI)I", portCheckType),
    PORT_NATIVE("getTimeout", "(J[B)I", portGetTimeout),
    PORT_NATIVE("query", "(JI[B)I", portQuery),
    PORT_NATIVE("waitScan", "(JI[B[J)I", portWaitScan),
    PORT_NATIVE("waitFree", "(I)I", portWaitFree),
    PORT_NATIVE("wakeFree", "()V", portWakeFree),
};

#undef PORT_NATIVE

} // namespace

jint registerPortNatives(JNIEnv *env)
{
    jclass clazz = env->FindClass(kPortClassPath);
    if (clazz == nullptr) {
        // An app that ships ScanNative alone: the lookup's exception is
        // expected, so it is cleared without being described, and the
        // load goes on exactly as it did before this class existed.
        env->ExceptionClear();
        return JNI_TRUE;
    }
    if (env->RegisterNatives(clazz, gPortMethods, sizeof gPortMethods / sizeof gPortMethods[0]) < 0) {
        JNI_LOG(ANDROID_LOG_ERROR, FMT_J_REGISTER_FAIL, kPortClassPath);
        return JNI_FALSE;
    }
    JNI_LOG(ANDROID_LOG_DEBUG, FMT_J_SUCCESS, SIG_J_REGISTER_PORT_NATIVES);
    return JNI_TRUE;
}
