// Each subcommand calls exactly one exported operation and turns its
// result into a line of output and an exit status.
#include "commands.h"

#include <stdio.h>
#include <string.h>

#include "scanjni.h"

namespace {

const char kPortFailed[] = "port could not be opened or configured";

// Write operations return the byte count that the single write returned;
// 0 or below is a failure (the same rule the Java bridge applies).
int report_count(int count, const char *failure)
{
    if (count > 0) {
        printf("ok: %d bytes written\n", count);
        return kExitOk;
    }
    fprintf(stderr, "scanctl: %s (result %d)\n", failure, count);
    return kExitFailed;
}

// Texts: null when the port failed, empty when the engine gave no answer.
int report_text(const char *text, const char *empty)
{
    if (text == nullptr) {
        fprintf(stderr, "scanctl: %s\n", kPortFailed);
        return kExitFailed;
    }
    if (text[0] == '\0') {
        fprintf(stderr, "scanctl: %s\n", empty);
        return kExitFailed;
    }
    printf("%s\n", text);
    return kExitOk;
}

const char kWriteFailed[] = "port could not be opened or configured, or the write failed";
const char kNoAnswer[] = "no answer from the engine";

int run_open(int, const char *) { return report_count(scan_open_dev(true), kWriteFailed); }
int run_close(int, const char *) { return report_count(scan_open_dev(false), kWriteFailed); }
int run_enable(int type, const char *) { return report_count(scan_enable_type(true, type), kWriteFailed); }
int run_disable(int type, const char *) { return report_count(scan_enable_type(false, type), kWriteFailed); }
int run_set_timeout(int value, const char *) { return report_count(scan_set_timeout(value), kWriteFailed); }
int run_send(int, const char *text) { return report_count(scan_set_command(text), kWriteFailed); }
int run_profile(int, const char *) { return report_count(profile_scan_type(), kWriteFailed); }
int run_get_timeout(int, const char *) { return report_text(scan_get_timeout(), kNoAnswer); }
int run_query(int number, const char *) { return report_text(scan_query_data(number), kNoAnswer); }
int run_read(int, const char *) { return report_text(scan_read_data(), "no scan data from the engine within about one second"); }

// The library answers false both for "disabled" and for any failure, so
// only "enabled" is a success.
int run_check(int type, const char *)
{
    if (scan_type_check(type)) {
        printf("enabled\n");
        return kExitOk;
    }
    printf("disabled\n");
    return kExitFailed;
}

} // namespace

const Command kCommands[] = {
    {"open", ArgKind::None, "send the open frame", run_open},
    {"close", ArgKind::None, "send the close frame", run_close},
    {"enable", ArgKind::Type, "enable scan type TYPE", run_enable},
    {"disable", ArgKind::Type, "disable scan type TYPE", run_disable},
    {"check", ArgKind::Type, "print enabled/disabled for scan type TYPE", run_check},
    {"set-timeout", ArgKind::Timeout, "set the engine timeout (-999..9999)", run_set_timeout},
    {"get-timeout", ArgKind::None, "print the engine timeout (4 characters)", run_get_timeout},
    {"send", ArgKind::Text, "send TEXT as a free command (at most 255 bytes)", run_send},
    {"query", ArgKind::Number, "print the value of setting NUMBER (any int)", run_query},
    {"profile", ArgKind::None, "send the fixed profile command", run_profile},
    {"read", ArgKind::None, "print the scan data that arrives within about 1 s", run_read},
};
const size_t kCommandCount = sizeof(kCommands) / sizeof(kCommands[0]);

const Command *find_command(const char *name)
{
    for (size_t i = 0; i < kCommandCount; i++) {
        if (strcmp(kCommands[i].name, name) == 0)
            return &kCommands[i];
    }
    return nullptr;
}
