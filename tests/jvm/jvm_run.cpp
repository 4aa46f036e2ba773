// Running the Java test program and reading back what it left.
#include "jvm_run.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <ostream>
#include <sstream>

#include "devns.h"

namespace {

const int kJvmTimeoutMs = 30000;
const int kRobolectricTimeoutMs = 180000;

std::string class_path(JvmClassPath cp) {
    const std::string tests = JVM_CLASSES_TESTS;
    switch (cp) {
    case JvmClassPath::WithScanNative: return std::string(JVM_CLASSES_MAIN) + ":" + tests;
    case JvmClassPath::ScanNativeOnly: return std::string(JVM_CLASSES_SCAN_NATIVE_ONLY) + ":" + tests;
    case JvmClassPath::WithoutScanNative: return tests;
    case JvmClassPath::MissingMethod: return std::string(JVM_CLASSES_MISSING) + ":" + tests;
    case JvmClassPath::DifferentSignature: return std::string(JVM_CLASSES_SIGNATURE) + ":" + tests;
    case JvmClassPath::Robolectric:
#ifdef JVM_ROBOLECTRIC_CP
        return JVM_ROBOLECTRIC_CP;
#else
        return tests;
#endif
    }
    return tests;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Undoes the log file's escapes: \n \r \t \\ and \xNN.
std::string unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        char c = s[++i];
        if (c == 'n') out += '\n';
        else if (c == 'r') out += '\r';
        else if (c == 't') out += '\t';
        else if (c == 'x' && i + 2 < s.size() && hex_digit(s[i + 1]) >= 0 &&
                 hex_digit(s[i + 2]) >= 0) {
            out += static_cast<char>(hex_digit(s[i + 1]) * 16 + hex_digit(s[i + 2]));
            i += 2;
        } else out += c;
    }
    return out;
}

std::vector<JvmLogLine> read_log(const std::string& path) {
    std::vector<JvmLogLine> lines;
    std::ifstream in(path);
    std::string record;
    while (std::getline(in, record)) {
        size_t t1 = record.find('\t');
        size_t t2 = t1 == std::string::npos ? t1 : record.find('\t', t1 + 1);
        if (t2 == std::string::npos) {
            lines.push_back({-1, "?", record});  // shows up as a mismatch
            continue;
        }
        lines.push_back({atoi(record.substr(0, t1).c_str()),
                         record.substr(t1 + 1, t2 - t1 - 1),
                         unescape(record.substr(t2 + 1))});
    }
    return lines;
}

}  // namespace

std::ostream& operator<<(std::ostream& os, const JvmLogLine& l) {
    std::ostringstream text;
    for (unsigned char c : l.text) {
        if (c >= 0x20 && c < 0x7F) text << c;
        else {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02X", c);
            text << hex;
        }
    }
    return os << l.prio << " " << l.tag << " \"" << text.str() << "\"";
}

JvmRun jvm_run(JvmClassPath cp, const std::string& main_class,
               const std::vector<std::string>& args) {
    const std::string log_path =
        std::string(JVM_LOG_DIR) + "/jvm-" + std::to_string(getpid()) + ".log";
    unlink(log_path.c_str());

    std::vector<std::string> argv = {
        "env", "HOSTLOG_QUIET=1", "HOSTLOG_FILE=" + log_path, JVM_JAVA,
        "-Xcheck:jni", "-XX:-UsePerfData", "-XX:TieredStopAtLevel=1",
        "-XX:-CreateCoredumpOnCrash", "-XX:ErrorFile=" JVM_LOG_DIR "/hs_err_%p.log",
        "-Djava.library.path=" JVM_LIBRARY_DIR, "-cp", class_path(cp), main_class};
#ifdef JVM_PRELOAD
    // The VM uses SIGSEGV itself and never frees much of what it takes.
    argv.insert(argv.begin() + 3, {"LD_PRELOAD=" JVM_PRELOAD,
                                   "ASAN_OPTIONS=handle_segv=0:allow_user_segv_handler=1:"
                                   "detect_leaks=0:suppressions=" JVM_ASAN_SUPPRESSIONS});
#endif
#ifdef JVM_ROBOLECTRIC_DIR
    if (cp == JvmClassPath::Robolectric) {
        // Offline, on the jars the set-up fetched; Android's classes are
        // instrumented as loaded, a minute's work on a loaded machine.
        argv.insert(argv.end() - 3, {"-Drobolectric.offline=true",
                                     "-Drobolectric.dependency.dir=" JVM_ROBOLECTRIC_DIR,
                                     "-Drobolectric.usePreinstrumentedJars=false"});
    }
#endif
    argv.insert(argv.end(), args.begin(), args.end());
    DevnsRun child = devns_run(argv, cp == JvmClassPath::Robolectric ? kRobolectricTimeoutMs : kJvmTimeoutMs);

    JvmRun run;
    run.status = child.status;
    std::istringstream out(child.output);
    std::string line;
    while (std::getline(out, line)) {
        if (line.compare(0, 2, "@ ") == 0) {
            size_t sp = line.find(' ', 2);
            std::string label = line.substr(2, sp == std::string::npos ? sp : sp - 2);
            run.results[label] = sp == std::string::npos ? "" : line.substr(sp + 1);
            run.labels.push_back(label);
        } else {
            run.other_output.push_back(line);
        }
    }
    run.log = read_log(log_path);
    unlink(log_path.c_str());
    return run;
}

std::string jvm_output(const JvmRun& run) {
    std::string out;
    for (const std::string& line : run.other_output) out += line + "\n";
    return out;
}

std::vector<JvmLogLine> jvm_log_of(const JvmRun& run, const std::string& tag) {
    std::vector<JvmLogLine> lines;
    for (const JvmLogLine& l : run.log)
        if (l.tag == tag) lines.push_back(l);
    return lines;
}
