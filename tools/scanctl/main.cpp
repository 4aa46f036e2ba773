// scanctl: runs one exported scanner operation from the command line, for
// native callers and for "adb shell" on a device. Arguments are checked
// completely before the library is called, so a usage error sends nothing.
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "commands.h"
#include "number.h"
#ifdef SCANCTL_REPLAY
#include "replay.h"
#endif

namespace {

__attribute__((format(printf, 1, 2))) int usage_error(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    fprintf(stderr, "scanctl: ");
    vfprintf(stderr, fmt, ap);
    fprintf(stderr, "\nTry 'scanctl --help'.\n");
    va_end(ap);
    return kExitUsage;
}

// Checks the argument of c; on success fills number or text.
int check_arg(const Command &c, const char *arg, int *number, const char **text)
{
    switch (c.arg) {
    case ArgKind::None:
        return kExitOk;
    case ArgKind::Type:
        if (!parse_int_in(arg, 0, 34, number))
            return usage_error("scan type must be a number 0..34, not '%s'", arg);
        return kExitOk;
    case ArgKind::Timeout:
        if (!parse_int_in(arg, -999, 9999, number))
            return usage_error("timeout must be a number -999..9999, not '%s'", arg);
        return kExitOk;
    case ArgKind::Number:
        if (!parse_int_in(arg, INT_MIN, INT_MAX, number))
            return usage_error("setting number must be an int, not '%s'", arg);
        return kExitOk;
    case ArgKind::Text:
        if (strlen(arg) > kMaxCommandText)
            return usage_error("command text has %zu bytes; at most %zu are allowed",
                               strlen(arg), kMaxCommandText);
        *text = arg;
        return kExitOk;
    }
    return kExitUsage;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        print_usage(stderr);
        return kExitUsage;
    }
    const char *name = argv[1];
    if (strcmp(name, "--help") == 0 || strcmp(name, "-h") == 0 || strcmp(name, "help") == 0) {
        print_usage(stdout);
        return kExitOk;
    }
    if (strcmp(name, "replay") == 0) {
#ifdef SCANCTL_REPLAY
        return replay_command(argc - 2, argv + 2);
#else
        return usage_error("replay is part of the host build with the simulated engine, not this one");
#endif
    }
    const Command *c = find_command(name);
    if (c == nullptr)
        return usage_error("unknown command '%s'", name);

    int wanted = c->arg == ArgKind::None ? 0 : 1;
    if (argc - 2 < wanted)
        return usage_error("'%s' needs an argument", name);
    if (argc - 2 > wanted)
        return usage_error("too many arguments for '%s'", name);

    int number = 0;
    const char *text = "";
    int rc = check_arg(*c, wanted ? argv[2] : nullptr, &number, &text);
    if (rc != kExitOk)
        return rc;
    rc = c->run(number, text);
    fflush(stdout);
    return rc;
}
