// The usage text, with the table of scan type indexes and their codes.
#include "commands.h"
#include "frames.h"

namespace {

const char *arg_name(ArgKind kind)
{
    switch (kind) {
    case ArgKind::Type: return "TYPE";
    case ArgKind::Timeout: return "VALUE";
    case ArgKind::Number: return "NUMBER";
    case ArgKind::Text: return "TEXT";
    case ArgKind::None: break;
    }
    return "";
}

} // namespace

void print_usage(FILE *out)
{
    fprintf(out,
            "usage: scanctl COMMAND [ARG]\n"
            "Runs one operation of libscanjni on /dev/ttyMT1 and prints its result.\n\n"
            "commands:\n");
    for (size_t i = 0; i < kCommandCount; i++) {
        const Command &c = kCommands[i];
        fprintf(out, "  %-12s %-7s %s\n", c.name, arg_name(c.arg), c.summary);
    }
    fprintf(out, "  %-12s %-7s %s\n", "replay", "FILE",
            "replay a logcat capture against a simulated engine (host build;\n"
            "                       'scanctl replay --help')");
    fprintf(out,
            "\nexit status: 0 success (bytes written, \"enabled\", a text);\n"
            "  1 failure: nothing written, no answer, no scan data, the port could\n"
            "    not be opened or configured, or \"disabled\" (the library answers a\n"
            "    check with false also when the engine did not reply or the port failed);\n"
            "  2 invalid arguments (nothing is sent).\n\n"
            "scan types (TYPE: code):\n");
    for (int t = 0; t < kTypeCount; t++)
        fprintf(out, "  %2d: %s\n", t, type_code(t));
}
