// Every text the library writes to the Android log, in one place: the
// signature texts (the first "%s" of each line), the formats, and the
// words that fill a format's "%s". The core and the bridge log with these
// names, and the log's readers (scanctl replay) parse with the same ones,
// so a format changed here changes both. The formats are macros so that
// the compiler checks each call's arguments against its format.
#ifndef SCANJNI_CORE_LOGTEXT_H
#define SCANJNI_CORE_LOGTEXT_H

#define LOG_TAG_CORE "SCANLIB_CORE"
#define LOG_TAG_JNI "SCANLIB_JNI"

// Signature texts of the per-call functions.
#define SIG_OPEN_DEV "int scan_open_dev(bool)"
#define SIG_ENABLE_TYPE "int scan_enable_type(bool, int)"
#define SIG_SET_TIMEOUT "int scan_set_timeout(int)"
#define SIG_SET_COMMAND "int scan_set_command(const char *)"
#define SIG_PROFILE "int profile_scan_type()"
#define SIG_TYPE_CHECK "bool scan_type_check(int)"
#define SIG_GET_TIMEOUT "char *scan_get_timeout()"
#define SIG_QUERY_DATA "char *scan_query_data(int)"
#define SIG_READ_DATA "char *scan_read_data()"
#define SIG_UART "int set_uart_parm(int, unsigned int, int, char, int)"

// Signature texts of the held-port session.
#define SIG_S_OPEN "ScanSession *scan_session_open(int *)"
#define SIG_S_CLOSE "void scan_session_close(ScanSession *)"
#define SIG_S_WAIT_FREE "int scan_session_wait_free(int)"
#define SIG_S_OPEN_DEV "int scan_session_open_dev(ScanSession *, bool)"
#define SIG_S_ENABLE_TYPE "int scan_session_enable_type(ScanSession *, bool, int)"
#define SIG_S_SET_TIMEOUT "int scan_session_set_timeout(ScanSession *, int)"
#define SIG_S_SET_COMMAND "int scan_session_set_command(ScanSession *, const char *)"
#define SIG_S_PROFILE "int scan_session_profile(ScanSession *)"
#define SIG_S_CHECK_TYPE "int scan_session_check_type(ScanSession *, int)"
#define SIG_S_GET_TIMEOUT "int scan_session_get_timeout(ScanSession *, char *)"
#define SIG_S_QUERY "int scan_session_query(ScanSession *, int, char *)"
#define SIG_S_WAIT_SCAN \
    "int scan_session_wait_scan(ScanSession *, int, unsigned char *, size_t, int64_t *)"
#define SIG_S_READER "void *session_reader(void *)"

// The port cycle and the line settings.
#define FMT_OPEN_FAIL "%s, open device fail! Fd = %d"
#define FMT_CFG_FAIL "%s, set uart parm fail! ret = %d"
#define FMT_STANDARD_BAUD "%s, Standard baud\r\n"
#define FMT_CUSTOM_BAUD "%s, Custom baud\r\n"
#define FMT_UART_SUMMARY "%s,nSpeed = %d,nBits = %d,nEvent = %c,nStop = %d\n"

// The per-call functions.
#define FMT_BYTE "%s, %.2X "
#define FMT_WRITE_OK "%s, %s successful! ret = %d"
#define FMT_WRITE_FAIL "%s, %s fail! ret = %d"
#define FMT_REPLY_ERROR "%s, check type error! ret = %d"
#define FMT_READ_ERROR "%s, read data error! ret = %d"
#define FMT_TAIL "%s, dropped %d bytes: tail of an earlier message"
#define FMT_SCAN_LENGTH "%s, length = %d "
#define FMT_TYPE_IS "%s, type = %d"
#define FMT_INVALID_TYPE "%s, invalid type index! type = %d"
#define FMT_ENABLE "%s, [enable=%d]\n"
#define FMT_VALUE "%s, %s"
#define FMT_QUERY_COMMAND "%s, commandlength = %d, commandArray = %s\n"
#define FMT_QUERY_WRITE_LEN "%s, writelength = %d"
#define FMT_TIMEOUT_RANGE "%s, timeout out of range -999..9999! time = %d"
#define FMT_TIME_IS "%s, time = %d, timeArray = %s\n"
#define FMT_COMMAND_NULL "%s, command is null!"
#define FMT_COMMAND_LONG "%s, command longer than %d bytes! length = %zu"
#define FMT_COMMAND_IS "%s, command = %s, length = %d\n"
#define FMT_FRAME_LENGTH "%s, length = %d"
#define FMT_NO_MEMORY "%s, no memory for the result!"
// A per-call function while the port is held.
#define FMT_HELD_ELSEWHERE "%s, port held by another process! errno = %d"
#define FMT_ON_HELD_PORT "%s, on the held port"
#define FMT_HELD_NO_SCAN "%s, port held by this process's session: no scan taken"
#define FMT_CALL_WAITED "%s, port in use by another call: waited %d ms"
#define FMT_CALL_BUSY "%s, port in use by another call! errno = %d"
// What the system's locks allow, logged once per process.
#define FMT_LOCKS_REFUSED                                                                        \
    "%s, the system refuses locks on the port (errno = %d): other processes cannot be kept off it"
#define FMT_LOCKS_WHOLE_FILE                                                                     \
    "%s, no description locks (errno = %d): whole-file locks, cycles of processes not kept apart"

// The "%s" of FMT_WRITE_OK and FMT_WRITE_FAIL, per function.
#define WHAT_OPEN "open"
#define WHAT_CLOSE "close"
#define WHAT_ENABLE "write enable"
#define WHAT_DISABLE "write disable"
#define WHAT_TIMEOUT "write timeout"
#define WHAT_COMMAND "write command"
#define WHAT_PROFILE "profile_cmd"
#define WHAT_CHECK "write check"
#define WHAT_GET_TIMEOUT "write"
#define WHAT_QUERY "write query"

// The held-port session.
#define FMT_S_OPEN "%s, open %s fd = %d, 115200 8N1"
#define FMT_S_OPEN_FAIL "%s, open device fail! errno = %d"
#define FMT_S_BUSY "%s, port busy! errno = %d"
#define FMT_S_CFG_FAIL "%s, set uart parm fail! errno = %d"
#define FMT_S_CLOSE "%s, close fd = %d"
#define FMT_S_FREE "%s, port free after %d ms"
#define FMT_S_NO_WATCH "%s, the port cannot be watched (errno = %d): looked at every %d ms"
#define FMT_S_NO_SESSION "%s, no open session!"
#define FMT_S_NO_BUFFER "%s, no buffer!"
#define FMT_S_WRITE "%s, write %d bytes"
#define FMT_S_WRITE_FAIL "%s, write fail! errno = %d"
#define FMT_S_REPLY "%s, reply %d bytes"
#define FMT_S_SCAN "%s, scan %d bytes"
#define FMT_S_TAIL FMT_TAIL
#define FMT_S_NO_ROOM "%s, dropped %d bytes: no room for another scan"
#define FMT_S_ANSWER "%s, answer %s"
#define FMT_S_NO_ANSWER "%s, no answer"
#define FMT_S_HUNG_UP "%s, port hung up"
#define FMT_S_LOST "%s, %s fail! errno = %d"
#define WHAT_POLL "poll" // the call of FMT_S_LOST that failed
// Hex lines: "%s, > FF 4D 0D" for bytes written, "%s, < ..." for bytes read.
#define FMT_S_HEX "%s, %s %s"
#define HEX_OUT ">"
#define HEX_IN "<"
#define ANSWER_ENABLED "enabled"
#define ANSWER_DISABLED "disabled"

// The bridge: ScanNative's adapters, then ScanPortNative's.
#define SIG_J_OPEN_DEV "jboolean openDev(JNIEnv *, jobject)"
#define SIG_J_CLOSE_DEV "jboolean closeDev(JNIEnv *, jobject)"
#define SIG_J_CHECK_TYPE "jboolean checkType(JNIEnv *, jobject, jint)"
#define SIG_J_ENABLE_TYPE "jboolean enableType(JNIEnv *, jobject, jint)"
#define SIG_J_DISABLE_TYPE "jboolean disableType(JNIEnv *, jobject, jint)"
#define SIG_J_SET_TIMEOUT "jboolean setTimeout(JNIEnv *, jobject, jint)"
#define SIG_J_GET_TIMEOUT "jstring getTimeout(JNIEnv *, jobject)"
#define SIG_J_SEND_COMMAND "jboolean sendCommand(JNIEnv *, jobject, jstring)"
#define SIG_J_QUERY_DATA "jstring queryData(JNIEnv *, jobject, jint)"
#define SIG_J_PROFILE "jboolean profileScanType(JNIEnv *, jobject)"
#define SIG_J_PORT_OPEN "jlong portOpen(JNIEnv *, jclass)"
#define SIG_J_PORT_CLOSE "void portClose(JNIEnv *, jclass, jlong)"
#define SIG_J_PORT_WRITE_OPEN "jint portWriteOpen(JNIEnv *, jclass, jlong, jboolean)"
#define SIG_J_PORT_ENABLE_TYPE "jint portEnableType(JNIEnv *, jclass, jlong, jboolean, jint)"
#define SIG_J_PORT_SET_TIMEOUT "jint portSetTimeout(JNIEnv *, jclass, jlong, jint)"
#define SIG_J_PORT_SEND_COMMAND "jint portSendCommand(JNIEnv *, jclass, jlong, jstring)"
#define SIG_J_PORT_PROFILE "jint portProfile(JNIEnv *, jclass, jlong)"
#define SIG_J_PORT_CHECK_TYPE "jint portCheckType(JNIEnv *, jclass, jlong, jint)"
#define SIG_J_PORT_GET_TIMEOUT "jint portGetTimeout(JNIEnv *, jclass, jlong, jbyteArray)"
#define SIG_J_PORT_QUERY "jint portQuery(JNIEnv *, jclass, jlong, jint, jbyteArray)"
#define SIG_J_PORT_WAIT_SCAN "jint portWaitScan(JNIEnv *, jclass, jlong, jint, jbyteArray, jlongArray)"
#define SIG_J_PORT_WAIT_FREE "jint portWaitFree(JNIEnv *, jclass, jint)"
#define FMT_J_RET "%s, [ret=%d]\n"
#define FMT_J_RET_LONG "%s, [ret=%lld]\n"
#define FMT_J_DATA "%s, [data=%s]\n"
#define FMT_J_ENABLE "%s, [enable=%d]\n"
#define FMT_J_STR "%s, [str=%s]"
#define FMT_J_DONE "%s, done\n"
#define FMT_J_SUCCESS "%s, success\n"
#define FMT_J_ONLOAD "JNI_OnLoad"
#define FMT_J_GETENV_FAIL "ERROR: GetEnv failed"
#define FMT_J_NATIVES_FAIL "ERROR: registerNatives failed"
#define FMT_J_PORT_NATIVES_FAIL "ERROR: registerPortNatives failed"
#define FMT_J_NO_CLASS "Native registration unable to find class '%s'"
#define FMT_J_REGISTER_FAIL "RegisterNatives failed for '%s'"
#define SIG_J_REGISTER_METHODS "jint registerNativeMethods(JNIEnv *, const char *, JNINativeMethod *, int)"
#define SIG_J_REGISTER_NATIVES "jint registerNatives(JNIEnv *)"
#define SIG_J_REGISTER_PORT_NATIVES "jint registerPortNatives(JNIEnv *)"

#endif
