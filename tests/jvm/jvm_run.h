// One run of the Java test program in a child JVM (java -Xcheck:jni) inside
// the device namespace, and what it left: its result lines, its other
// output (the VM's own messages) and the log lines the library wrote.
#pragma once

#include <map>
#include <string>
#include <vector>

// Where the Java classes are; each names a directory of class files.
enum class JvmClassPath {
    WithScanNative,      // the scanner jar (ScanNative and the scanner API) and the test program
    ScanNativeOnly,      // ScanNative alone (no ScanPortNative) and the test program
    WithoutScanNative,   // the test program alone
    MissingMethod,       // a ScanNative lacking profileScanType
    DifferentSignature,  // a ScanNative whose queryData takes a long
    Robolectric,         // the README's Activity, Robolectric offline and JUnit (main: JUnitCore)
};

struct JvmLogLine {
    int prio = 0;
    std::string tag;
    std::string text;  // the exact text, escapes undone
    bool operator==(const JvmLogLine& o) const {
        return prio == o.prio && tag == o.tag && text == o.text;
    }
};
std::ostream& operator<<(std::ostream& os, const JvmLogLine& l);

struct JvmRun {
    int status = -1;
    std::map<std::string, std::string> results;  // "@ label value" lines
    std::vector<std::string> labels;             // in the order printed
    std::vector<std::string> other_output;       // every other line
    std::vector<JvmLogLine> log;                 // every record, all tags
};

// Runs `java ... <main_class> <args>` and collects the run.
JvmRun jvm_run(JvmClassPath cp, const std::string& main_class,
               const std::vector<std::string>& args);

// The VM's own output, for failure messages.
std::string jvm_output(const JvmRun& run);

// The records of one tag, in order.
std::vector<JvmLogLine> jvm_log_of(const JvmRun& run, const std::string& tag);
