// The command line of scan-sim.
#include "options.h"

#include <string.h>

#include "number.h"

namespace {

constexpr long kMinBaud = 50;
constexpr long kMaxBaud = 4000000;
constexpr long kMaxBurst = 4096;

bool bad(const char* option, const char* value, const char* expected) {
    fprintf(stderr, "scan-sim: %s '%s': %s\n", option, value, expected);
    return false;
}

// NUMBER=VALUE; the number is kept as the decimal text a query carries.
bool parse_setting(const char* text, SimSetting* out) {
    const char* eq = strchr(text, '=');
    if (eq == nullptr || eq[1] == '\0') return false;
    std::string number(text, static_cast<size_t>(eq - text));
    int value = 0;
    if (!parse_int_in(number.c_str(), -2147483647L - 1, 2147483647L, &value)) {
        return false;
    }
    char canonical[16];
    snprintf(canonical, sizeof canonical, "%d", value);
    out->number = canonical;
    out->value = eq + 1;
    return true;
}

// Options that take a value; returns false with a message when it is bad.
bool apply(const char* opt, const char* val, SimOptions* o) {
    int n = 0;
    if (strcmp(opt, "--timeout") == 0) {
        if (!parse_int_in(val, -999, 9999, &o->timeout)) {
            return bad(opt, val, "a number -999..9999");
        }
        o->set_timeout = true;
    } else if (strcmp(opt, "--enable") == 0 || strcmp(opt, "--disable") == 0) {
        if (!parse_int_in(val, 0, kSimTypeCount - 1, &n)) {
            return bad(opt, val, "a scan type index 0..34");
        }
        o->types.push_back({n, opt[2] == 'e'});
    } else if (strcmp(opt, "--setting") == 0) {
        SimSetting s;
        if (!parse_setting(val, &s)) return bad(opt, val, "NUMBER=VALUE");
        o->settings.push_back(s);
    } else if (strcmp(opt, "--scan") == 0) {
        if (val[0] == '\0') return bad(opt, val, "a non-empty text");
        o->scans.emplace_back(val, val + strlen(val));
    } else if (strcmp(opt, "--scan-hex") == 0) {
        std::vector<uint8_t> bytes;
        if (!parse_hex(val, &bytes)) return bad(opt, val, "hex bytes, e.g. '34 30 0D'");
        o->scans.push_back(bytes);
    } else if (strcmp(opt, "--every") == 0) {
        if (!parse_duration_ms(val, &o->every_ms) || o->every_ms == 0) {
            return bad(opt, val, "a period such as 500ms or 2s");
        }
    } else if (strcmp(opt, "--delay") == 0) {
        if (!parse_duration_ms(val, &o->delay_ms)) return bad(opt, val, "a time such as 20ms");
    } else if (strcmp(opt, "--settle") == 0) {
        if (!parse_duration_ms(val, &o->settle_ms)) return bad(opt, val, "a time such as 50ms");
    } else if (strcmp(opt, "--line-rate") == 0) {
        if (strcmp(val, "off") == 0) {
            o->line.baud = 0;
        } else if (parse_int_in(val, kMinBaud, kMaxBaud, &n)) {
            o->line.baud = static_cast<unsigned>(n);
        } else {
            return bad(opt, val, "a rate 50..4000000 or off");
        }
    } else if (strcmp(opt, "--burst") == 0) {
        if (!parse_int_in(val, 1, kMaxBurst, &n)) return bad(opt, val, "a byte count 1..4096");
        o->line.burst = static_cast<size_t>(n);
    } else if (strcmp(opt, "--reply-delay") == 0) {
        if (!parse_delay_us(val, &o->line.reply_delay_us)) {
            return bad(opt, val, "milliseconds with up to 3 decimals, e.g. 0.5");
        }
    } else if (strcmp(opt, "--fault") == 0 || strcmp(opt, "--persistent-fault") == 0) {
        SimFault f;
        if (!parse_fault(val, &f)) return bad(opt, val, "a fault (see --help)");
        if (opt[2] == 'f') {
            o->faults.push_back(f);
        } else {
            o->persistent = f;
            o->has_persistent = true;
        }
    } else {
        fprintf(stderr, "scan-sim: unknown option '%s'\n", opt);
        return false;
    }
    return true;
}

}  // namespace

bool parse_options(int argc, char** argv, SimOptions* o, bool* help) {
    *help = false;
    int i = 1;
    for (; i < argc && strcmp(argv[i], "--") != 0; ++i) {
        const char* opt = argv[i];
        if (strcmp(opt, "--help") == 0 || strcmp(opt, "-h") == 0) {
            *help = true;
            return true;
        }
        if (strcmp(opt, "--quiet-frames") == 0) {
            o->quiet_frames = true;
            continue;
        }
        if (strcmp(opt, "--flush-cuts") == 0) {
            o->line.flush_cuts = true;
            continue;
        }
        if (i + 1 >= argc) {
            fprintf(stderr, "scan-sim: option '%s' needs a value\n", opt);
            return false;
        }
        if (!apply(opt, argv[i + 1], o)) return false;
        ++i;
    }
    if (i + 1 >= argc) {
        fprintf(stderr, "scan-sim: no command given after '--'\n");
        return false;
    }
    o->command = argv + i + 1;
    return true;
}

void print_sim_usage(FILE* out) {
    fprintf(out,
        "usage: scan-sim [OPTIONS] -- COMMAND [ARGS...]\n"
        "Runs COMMAND in a private mount namespace where /dev/ttyMT1 is a pty\n"
        "whose other side is a simulated scan engine. Each frame the engine\n"
        "receives is printed to stderr as 'engine <- HEX  |TEXT|  KIND'.\n"
        "Exits with COMMAND's status (128+N when killed by signal N), or 125\n"
        "when scan-sim itself fails. Needs root.\n\n"
        "engine state at start:\n"
        "  --timeout N            timeout setting, -999..9999 (default 3000)\n"
        "  --enable I, --disable I  scan type I (0..34) on or off\n"
        "                         (default: types 0..9 on, the rest off)\n"
        "  --setting NUMBER=VALUE answer to a query of setting NUMBER\n"
        "scan data (each --scan once, after the next port configuration):\n"
        "  --scan TEXT            scan data as text (repeatable)\n"
        "  --scan-hex HEX         scan data as hex bytes, e.g. '34 30 0D'\n"
        "  --every PERIOD         send the scan data every PERIOD (500ms, 2s)\n"
        "  --delay TIME           first sending TIME later (default 0)\n"
        "faults of the replies to questions:\n"
        "  --fault F              the next question gets fault F (repeatable,\n"
        "                         used in order)\n"
        "  --persistent-fault F   every question gets fault F after those\n"
        "  F: silence | noack | ackmisplaced | garbage | extra | delay:MS |\n"
        "     twice[:MS] | hangup[:MS] | overlong[:COUNT] | value:TEXT | raw:HEX\n"
        "the line (each byte the engine sends takes 10 bit times):\n"
        "  --line-rate BAUD|off   bits per second, 8N1 (default 115200); off writes\n"
        "                         each message in one piece\n"
        "  --burst N              bytes handed over together, as a UART FIFO or DMA\n"
        "                         does, when the last of them has arrived (default 1)\n"
        "  --reply-delay MS       think time before each reply, in ms with up to 3\n"
        "                         decimals: 0.5 is 500 us (default 0)\n"
        "  --flush-cuts           a port cycle's flush drops the scan data the port\n"
        "                         has partly taken (default: every message that has\n"
        "                         begun goes out whole, whatever the host does)\n"
        "other:\n"
        "  --settle TIME          engine's wait for a lone flush notice (default 50ms)\n"
        "  --quiet-frames         do not print the received frames\n\n"
        "example: scan-sim --scan 4006381333931 --every 500ms -- scanctl read\n");
}
