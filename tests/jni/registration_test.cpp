// JNI_OnLoad, the registration and sendCommand's failure paths against a
// scripted VM: the paths a real VM does not take on demand (no
// environment, characters it cannot give) and the exact order of the
// calls made into the VM.
#include "bridge.h"
#include "hostlog.h"
#include "logs.h"
#include "port_bridge.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char kClassPath[] = "com/morvek/scanner/ScanNative";
const char kPortClassPath[] = "com/morvek/scanner/ScanPortNative";
const char kRegisterNativesSig[] = "jint registerNatives(JNIEnv *)";
const char kRegisterMethodsSig[] =
    "jint registerNativeMethods(JNIEnv *, const char *, JNINativeMethod *, int)";
const char kRegisterPortSig[] = "jint registerPortNatives(JNIEnv *)";

LogLine jni(int prio, const std::string &text)
{
    return {prio, "SCANLIB_JNI", text};
}

// What the scripted VM answers, and every call it received.
struct Script {
    jint get_env_result = JNI_OK;
    jint get_env_version = 0;
    bool find_class_finds = true;
    bool port_class_found = true;
    bool exception_pending = false;
    jint register_result = 0;
    jint port_register_result = 0;
    bool utf_chars_given = true;
    std::string class_asked; // the first class looked up
    std::vector<JNINativeMethod> table;
    std::vector<JNINativeMethod> port_table;
    std::vector<std::string> calls;
    const char *released = nullptr; // the characters given back last
    jstring released_from = nullptr;
};
Script g_vm;
char g_class_token;
char g_port_class_token;

jclass find_class(JNIEnv *, const char *name)
{
    bool port = std::string(name) == kPortClassPath;
    g_vm.calls.push_back(port ? "FindClass(port)" : "FindClass");
    if (g_vm.class_asked.empty())
        g_vm.class_asked = name;
    bool found = port ? g_vm.port_class_found : g_vm.find_class_finds;
    if (!found) {
        g_vm.exception_pending = true;
        return nullptr;
    }
    return reinterpret_cast<jclass>(port ? &g_port_class_token : &g_class_token);
}

jboolean exception_check(JNIEnv *)
{
    g_vm.calls.push_back("ExceptionCheck");
    return g_vm.exception_pending ? JNI_TRUE : JNI_FALSE;
}

void exception_describe(JNIEnv *)
{
    g_vm.calls.push_back(g_vm.exception_pending ? "ExceptionDescribe" : "ExceptionDescribe(none)");
}

void exception_clear(JNIEnv *)
{
    g_vm.calls.push_back("ExceptionClear");
    g_vm.exception_pending = false;
}

jint register_natives(JNIEnv *, jclass clazz, const JNINativeMethod *methods, jint n)
{
    if (clazz == reinterpret_cast<jclass>(&g_port_class_token)) {
        g_vm.calls.push_back("RegisterNatives(port)");
        g_vm.port_table.assign(methods, methods + n);
        return g_vm.port_register_result;
    }
    g_vm.calls.push_back(clazz == reinterpret_cast<jclass>(&g_class_token) ? "RegisterNatives"
                                                                           : "RegisterNatives(?)");
    g_vm.table.assign(methods, methods + n);
    return g_vm.register_result;
}

const char kUtfChars[] = "X";

const char *get_string_utf_chars(JNIEnv *, jstring, jboolean *)
{
    g_vm.calls.push_back("GetStringUTFChars");
    return g_vm.utf_chars_given ? kUtfChars : nullptr;
}

void release_string_utf_chars(JNIEnv *, jstring s, const char *chars)
{
    g_vm.calls.push_back("ReleaseStringUTFChars");
    g_vm.released = chars;
    g_vm.released_from = s;
}

jint get_env(JavaVM *, void **env, jint version);

JNINativeInterface make_env_functions()
{
    JNINativeInterface f{};
    f.FindClass = find_class;
    f.ExceptionCheck = exception_check;
    f.ExceptionDescribe = exception_describe;
    f.ExceptionClear = exception_clear;
    f.RegisterNatives = register_natives;
    f.GetStringUTFChars = get_string_utf_chars;
    f.ReleaseStringUTFChars = release_string_utf_chars;
    return f;
}

JNINativeInterface g_env_functions = make_env_functions();
JNIEnv g_env{&g_env_functions};

jint get_env(JavaVM *, void **env, jint version)
{
    g_vm.calls.push_back("GetEnv");
    g_vm.get_env_version = version;
    *env = g_vm.get_env_result == JNI_OK ? &g_env : nullptr;
    return g_vm.get_env_result;
}

JNIInvokeInterface make_vm_functions()
{
    JNIInvokeInterface f{};
    f.GetEnv = get_env;
    return f;
}

JNIInvokeInterface g_vm_functions = make_vm_functions();
JavaVM g_java_vm{&g_vm_functions};

class Registration : public testing::Test {
protected:
    void SetUp() override
    {
        g_vm = Script();
        hostlog_set_echo(0);
        logs_reset();
    }
    void TearDown() override { hostlog_capture(0); }
};

struct Row {
    const char *name;
    const char *signature;
    void *fn;
};

void expect_table(const std::vector<Row> &expected, const std::vector<JNINativeMethod> &table)
{
    ASSERT_EQ(expected.size(), table.size());
    for (size_t i = 0; i < expected.size(); i++) {
        EXPECT_STREQ(expected[i].name, table[i].name) << "row " << i;
        EXPECT_STREQ(expected[i].signature, table[i].signature) << "row " << i;
        // A hidden adapter (no symbol to compare with): bound to a
        // function of its own.
        if (expected[i].fn == nullptr) {
            EXPECT_NE(nullptr, table[i].fnPtr) << "row " << i;
            for (size_t j = 0; j < i; j++)
                EXPECT_NE(table[j].fnPtr, table[i].fnPtr) << "rows " << j << " and " << i;
        } else {
            EXPECT_EQ(expected[i].fn, table[i].fnPtr) << "row " << i;
        }
    }
}

TEST_F(Registration, RegistersTheElevenMethodsInOneRequest)
{
    EXPECT_EQ(0x00010004, JNI_OnLoad(&g_java_vm, nullptr));
    EXPECT_EQ(JNI_VERSION_1_4, g_vm.get_env_version);
    EXPECT_EQ(kClassPath, g_vm.class_asked);
    expect_table({
        {"openDev", "()Z", reinterpret_cast<void *>(openDev)},
        {"closeDev", "()Z", reinterpret_cast<void *>(closeDev)},
        {"readData", "()Ljava/lang/String;", reinterpret_cast<void *>(readData)},
        {"checkType", "(I)Z", reinterpret_cast<void *>(checkType)},
        {"enableType", "(I)Z", reinterpret_cast<void *>(enableType)},
        {"disableType", "(I)Z", reinterpret_cast<void *>(disableType)},
        {"setTimeout", "(I)Z", reinterpret_cast<void *>(setTimeout)},
        {"getTimeout", "()Ljava/lang/String;", reinterpret_cast<void *>(getTimeout)},
        {"sendCommand", "(Ljava/lang/String;)Z", reinterpret_cast<void *>(sendCommand)},
        {"queryData", "(I)Ljava/lang/String;", reinterpret_cast<void *>(queryData)},
        {"profileScanType", "()Z", reinterpret_cast<void *>(profileScanType)},
    }, g_vm.table);
    expect_table({
        {"open", "()J", nullptr},
        {"close", "(J)V", nullptr},
        {"wake", "(J)V", nullptr},
        {"writeOpen", "(JZ)I", nullptr},
        {"enableType", "(JZI)I", nullptr},
        {"setTimeout", "(JI)I", nullptr},
        {"sendCommand", "(JLjava/lang/String;)I", nullptr},
        {"profile", "(J)I", nullptr},
        {"checkType", "(JI)I", nullptr},
        {"getTimeout", "(J[B)I", nullptr},
        {"query", "(JI[B)I", nullptr},
        {"waitScan", "(JI[B[J)I", nullptr},
        {"waitFree", "(I)I", nullptr},
        {"wakeFree", "()V", nullptr},
    }, g_vm.port_table);
}

// The load for each answer of the VM: its result, the calls it made into
// the VM in their order, the exception it leaves behind (none) and its log
// lines. An app that ships ScanNative alone loads as before the session
// class existed, the lookup's exception cleared without being described;
// a port class whose methods differ fails the load, as ScanNative's does;
// no exception test follows RegisterNatives.
TEST_F(Registration, LoadForEachAnswerOfTheVm)
{
    const std::vector<std::string> every_call = {"GetEnv", "FindClass", "ExceptionCheck",
                                                 "RegisterNatives", "FindClass(port)",
                                                 "RegisterNatives(port)"};
    const LogLine loading = jni(4, "JNI_OnLoad");
    const LogLine methods_registered = jni(3, std::string(kRegisterMethodsSig) + ", success\n");
    const LogLine natives_done = jni(3, std::string(kRegisterNativesSig) + ", done\n");
    const LogLine natives_failed = jni(6, "ERROR: registerNatives failed");
    struct Case {
        const char *what;
        void (*script)(Script *);
        jint result;
        std::vector<std::string> calls;
        bool port_table_offered;
        std::vector<LogLine> lines;
    } const cases[] = {
        {"both classes registered", [](Script *) {}, 0x00010004, every_call, true,
         {loading, methods_registered, natives_done,
          jni(3, std::string(kRegisterPortSig) + ", success\n")}},
        {"no port class", [](Script *s) { s->port_class_found = false; }, 0x00010004,
         {"GetEnv", "FindClass", "ExceptionCheck", "RegisterNatives", "FindClass(port)",
          "ExceptionClear"},
         false, {loading, methods_registered, natives_done}},
        {"port class refused", [](Script *s) { s->port_register_result = -1; }, -1, every_call, true,
         {loading, methods_registered, natives_done,
          jni(6, std::string("RegisterNatives failed for '") + kPortClassPath + "'"),
          jni(6, "ERROR: registerPortNatives failed")}},
        {"no environment: version", [](Script *s) { s->get_env_result = JNI_EVERSION; }, -1,
         {"GetEnv"}, false, {loading, jni(6, "ERROR: GetEnv failed")}},
        {"no environment: detached", [](Script *s) { s->get_env_result = JNI_EDETACHED; }, -1,
         {"GetEnv"}, false, {loading, jni(6, "ERROR: GetEnv failed")}},
        {"class missing", [](Script *s) { s->find_class_finds = false; }, -1,
         {"GetEnv", "FindClass", "ExceptionCheck", "ExceptionDescribe", "ExceptionClear"}, false,
         {loading, jni(6, std::string("Native registration unable to find class '") + kClassPath + "'"),
          natives_done, natives_failed}},
        {"registration refused", [](Script *s) { s->register_result = -1; }, -1,
         {"GetEnv", "FindClass", "ExceptionCheck", "RegisterNatives"}, false,
         {loading, jni(6, std::string("RegisterNatives failed for '") + kClassPath + "'"),
          natives_done, natives_failed}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        g_vm = Script();
        c.script(&g_vm);
        logs_reset();
        EXPECT_EQ(c.result, JNI_OnLoad(&g_java_vm, nullptr));
        EXPECT_EQ(c.calls, g_vm.calls);
        EXPECT_FALSE(g_vm.exception_pending);
        EXPECT_EQ(c.port_table_offered, !g_vm.port_table.empty());
        EXPECT_EQ(c.lines, logs_taken());
    }
}

TEST_F(Registration, RegisterNativeMethodsUsesThePathAndCountGiven)
{
    JNINativeMethod one[] = {{"x", "()V", nullptr}};
    EXPECT_EQ(JNI_TRUE, registerNativeMethods(&g_env, "a/B", one, 1));
    EXPECT_EQ("a/B", g_vm.class_asked);
    ASSERT_EQ(1u, g_vm.table.size());
    EXPECT_STREQ("x", g_vm.table[0].name);

    g_vm.register_result = -2;
    EXPECT_EQ(JNI_FALSE, registerNativeMethods(&g_env, "a/B", one, 1));
    EXPECT_EQ(jni(6, "RegisterNatives failed for 'a/B'"), logs_taken().back());
}

const char kSendSig[] = "jboolean sendCommand(JNIEnv *, jobject, jstring)";

TEST_F(Registration, SendCommandWithNullStringAsksTheVmNothing)
{
    EXPECT_EQ(JNI_FALSE, sendCommand(&g_env, nullptr, nullptr));
    EXPECT_TRUE(g_vm.calls.empty());
    EXPECT_EQ((std::vector<LogLine>{jni(3, std::string(kSendSig) + ", [str=(null)]")}), logs_taken());
}

TEST_F(Registration, SendCommandWithoutCharactersStopsAfterOneLine)
{
    g_vm.utf_chars_given = false;
    char token;
    EXPECT_EQ(JNI_FALSE, sendCommand(&g_env, nullptr, reinterpret_cast<jstring>(&token)));
    // No release and no core call (the core would log under its own tag).
    EXPECT_EQ((std::vector<std::string>{"GetStringUTFChars"}), g_vm.calls);
    EXPECT_EQ((std::vector<LogLine>{jni(3, std::string(kSendSig) + ", [str=(null)]")}), logs_taken());
}

// Whatever the core answers (here the port is absent), the characters
// taken from the VM are given back, to the string they came from.
TEST_F(Registration, SendCommandGivesBackTheCharactersItTook)
{
    char token;
    jstring command = reinterpret_cast<jstring>(&token);
    EXPECT_EQ(JNI_FALSE, sendCommand(&g_env, nullptr, command));
    EXPECT_EQ((std::vector<std::string>{"GetStringUTFChars", "ReleaseStringUTFChars"}), g_vm.calls);
    EXPECT_EQ(kUtfChars, g_vm.released);
    EXPECT_EQ(command, g_vm.released_from);
}

} // namespace

// The adapter that the load bound to a ScanPortNative method (they are
// hidden: the registration is the only way to them).
template <typename Fn>
Fn bound(const char *name)
{
    for (const JNINativeMethod &m : g_vm.port_table)
        if (strcmp(m.name, name) == 0)
            return reinterpret_cast<Fn>(m.fnPtr);
    ADD_FAILURE() << "no method " << name;
    return nullptr;
}

// With no session open, no handle reaches anything: each method answers
// kPortClosed at once, asks the VM nothing, and logs one line (wake none).
TEST_F(Registration, PortMethodsRefuseAHandleThatIsNotOpen)
{
    ASSERT_EQ(0x00010004, JNI_OnLoad(&g_java_vm, nullptr));
    g_vm.calls.clear();
    using Handle = jint (*)(JNIEnv *, jclass, jlong);
    using HandleInt = jint (*)(JNIEnv *, jclass, jlong, jint);
    using HandleOut = jint (*)(JNIEnv *, jclass, jlong, jbyteArray);
    using HandleIntOut = jint (*)(JNIEnv *, jclass, jlong, jint, jbyteArray);
    using Void = void (*)(JNIEnv *, jclass, jlong);
    char token;
    jbyteArray out = reinterpret_cast<jbyteArray>(&token);
    jstring text = reinterpret_cast<jstring>(&token);
    jlongArray nanos = reinterpret_cast<jlongArray>(&token);
    for (jlong h : {jlong{0}, jlong{-1}, jlong{1}, jlong{0x100000001}}) {
        logs_reset();
        const jint results[] = {
            bound<jint (*)(JNIEnv *, jclass, jlong, jboolean)>("writeOpen")(&g_env, nullptr, h, JNI_TRUE),
            bound<jint (*)(JNIEnv *, jclass, jlong, jboolean, jint)>("enableType")(&g_env, nullptr, h, JNI_TRUE, 3),
            bound<HandleInt>("setTimeout")(&g_env, nullptr, h, 5),
            bound<jint (*)(JNIEnv *, jclass, jlong, jstring)>("sendCommand")(&g_env, nullptr, h, text),
            bound<Handle>("profile")(&g_env, nullptr, h),
            bound<HandleInt>("checkType")(&g_env, nullptr, h, 3),
            bound<HandleOut>("getTimeout")(&g_env, nullptr, h, out),
            bound<HandleIntOut>("query")(&g_env, nullptr, h, 1, out),
            bound<jint (*)(JNIEnv *, jclass, jlong, jint, jbyteArray, jlongArray)>("waitScan")(
                &g_env, nullptr, h, 10, out, nanos),
        };
        for (jint r : results)
            EXPECT_EQ(kPortClosed, r) << "handle " << h;
        bound<Void>("wake")(&g_env, nullptr, h);
        bound<Void>("close")(&g_env, nullptr, h);
        std::vector<LogLine> lines = logs_taken();
        EXPECT_EQ(10u, lines.size()) << "handle " << h;
        for (const LogLine &l : lines)
            EXPECT_NE(std::string::npos, l.text.find(", [ret=-7]\n")) << l;
        EXPECT_EQ(jni(3, "void portClose(JNIEnv *, jclass, jlong), [ret=-7]\n"), lines.back());
    }
    EXPECT_TRUE(g_vm.calls.empty());
}
