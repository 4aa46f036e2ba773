// The VM's load hook: registers the native methods of ScanNative, then
// those of ScanPortNative when the app has that class.
#include "bridge.h"
#include "logtext.h"
#include "port_bridge.h"

extern "C" SCANJNI_EXPORT jint JNI_OnLoad(JavaVM *vm, void *)
{
    JNIEnv *env = nullptr;

    JNI_LOG(ANDROID_LOG_INFO, FMT_J_ONLOAD);
    if (vm->GetEnv(reinterpret_cast<void **>(&env), JNI_VERSION_1_4) != JNI_OK) {
        JNI_LOG(ANDROID_LOG_ERROR, FMT_J_GETENV_FAIL);
        return -1;
    }
    if (registerNatives(env) != JNI_TRUE) {
        JNI_LOG(ANDROID_LOG_ERROR, FMT_J_NATIVES_FAIL);
        return -1;
    }
    if (registerPortNatives(env) != JNI_TRUE) {
        JNI_LOG(ANDROID_LOG_ERROR, FMT_J_PORT_NATIVES_FAIL);
        return -1;
    }
    return JNI_VERSION_1_4;
}
