#include "print.h"

#include <stdio.h>

#include <string>

#include "sim_frames.h"

void print_frame(const SimRecordedFrame& frame, void*) {
    std::string bytes = sim_format_bytes(frame.bytes.data(), frame.bytes.size());
    char what[32];
    if (frame.type_index >= 0) {
        snprintf(what, sizeof what, "%s type %d", sim_kind_name(frame.kind),
                 frame.type_index);
    } else {
        snprintf(what, sizeof what, "%s", sim_kind_name(frame.kind));
    }
    // One fprintf per line, so that lines stay whole next to the command's
    // own output on the same terminal.
    fprintf(stderr, "engine <- %s  %s\n", bytes.c_str(), what);
}
