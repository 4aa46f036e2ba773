// scanctl replay: reads a logcat capture, rebuilds its operations and runs
// them again, one after the other, against a simulated engine that sends
// what the capture shows the engine sent, in a private mount namespace;
// then compares the library's new log with the capture's, operation by
// operation.
#pragma once

#include <cstdio>

// Exit status: 0 every operation matched; 1 an operation differs (the
// first difference is printed); 2 the capture cannot be used, or parts of
// it could not (each with its line number), or bad arguments.
constexpr int kReplayMatch = 0;
constexpr int kReplayDiffer = 1;
constexpr int kReplayUnusable = 2;

// args: [--list] FILE. --list prints the operations and replays nothing
// (no root needed).
int replay_command(int argc, char** argv);

void replay_usage(FILE* out);
