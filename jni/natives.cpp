// The native methods of com.morvek.scanner.ScanNative, bound to the
// adapters in one registration.
#include "bridge.h"
#include "logtext.h"

namespace {

const char kClassPath[] = "com/morvek/scanner/ScanNative";

#define NATIVE(name, signature) { #name, signature, reinterpret_cast<void *>(name) }

JNINativeMethod gMethods[] = {
    NATIVE(openDev, "()Z"),
    NATIVE(closeDev, "()Z"),
    NATIVE(readData, "()Ljava/lang/String;"),
    NATIVE(checkType, "(I)Z"),
    NATIVE(enableType, "(I)Z"),
    NATIVE(disableType, "(I)Z"),
    NATIVE(setTimeout, "(I)Z"),
    NATIVE(getTimeout, "()Ljava/lang/String;"),
    NATIVE(sendCommand, "(Ljava/lang/String;)Z"),
    NATIVE(queryData, "(I)Ljava/lang/String;"),
    NATIVE(profileScanType, "()Z"),
};

#undef NATIVE

} // namespace

jint registerNatives(JNIEnv *env)
{
    jint registered = registerNativeMethods(env, kClassPath, gMethods,
                                            sizeof gMethods / sizeof gMethods[0]);
    JNI_LOG(ANDROID_LOG_DEBUG, FMT_J_DONE, SIG_J_REGISTER_NATIVES);
    return registered;
}
