// scanctl replay: reads a logcat capture, rebuilds its operations and runs
// them again, one after the other, against a simulated engine that sends
// what the capture shows the engine sent, in a private mount namespace;
// then compares the library's new log with the capture's, operation by
// operation.
#pragma once

#include <cstdio>

// Exit status: 0 every operation matched; 1 an operation differs; 2 the
// capture cannot be used, or parts of it could not (each with its line
// number), or bad arguments; 3 an operation was abandoned while the
// capture went on (its process died, its lines were dropped).
constexpr int kReplayMatch = 0;
constexpr int kReplayDiffer = 1;
constexpr int kReplayUnusable = 2;
constexpr int kReplayAbandoned = 3;

// args: [--list] [--keep-going] FILE (- for standard input). --list
// prints the operations and replays nothing (no root needed).
int replay_command(int argc, char** argv);

void replay_usage(FILE* out);
