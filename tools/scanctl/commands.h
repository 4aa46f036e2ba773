// The subcommands of scanctl: one per exported scanner operation.
#pragma once

#include "frames.h" // kMaxCommandText, kTypeCount

#include <stddef.h>
#include <stdio.h>

// Exit status of scanctl.
constexpr int kExitOk = 0;     // the operation succeeded (see each command)
constexpr int kExitFailed = 1; // the library reported a failure or no answer
constexpr int kExitUsage = 2;  // invalid arguments; the library was not called

// The one argument a subcommand takes, validated before any library call.
enum class ArgKind {
    None,
    Type,    // scan type index 0..34
    Timeout, // engine timeout -999..9999
    Number,  // any int: a setting number
    Text,    // a command text of at most kMaxCommandText bytes
};

struct Command {
    const char *name;
    ArgKind arg;
    const char *summary;
    // Runs the operation with the validated argument (number or text) and
    // prints its result; returns the exit status.
    int (*run)(int number, const char *text);
};

extern const Command kCommands[];
extern const size_t kCommandCount;

const Command *find_command(const char *name);

// Prints the usage text and the table of scan types to out.
void print_usage(FILE *out);
