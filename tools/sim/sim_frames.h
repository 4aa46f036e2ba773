// Frame layer of the simulated scan engine: splitting the byte stream that
// the library writes into frames, naming each frame's form, and printing a
// frame for a human.
//
// Usage:
//   SimParser p;
//   std::vector<std::vector<uint8_t>> out;
//   sim_parser_feed(&p, bytes, n, out);      // after every read of the port
//   sim_parser_burst_end(&p, out);           // when no more bytes are waiting
//   sim_parser_cycle_end(&p, out);           // when the library starts a new port cycle
//   SimFrameKind k = sim_classify(out[0].data(), out[0].size(), &type_index);
//   std::string line = sim_format_bytes(out[0].data(), out[0].size());
//
// Framing rules: a frame starts with 0xFF, an upper-case letter and 0x0D.
// Every letter except 'M' makes a 3-byte control frame. An 'M' frame runs to
// the last '.' before the next frame start; since the library writes one
// frame per write, the end of a burst of received bytes also ends it. An 'M'
// frame that has no '.' yet stays pending until its '.' arrives, a new frame
// starts, or the port cycle ends (then it is emitted as it stands). Bytes
// outside any frame are emitted as one "stray" chunk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum class SimFrameKind {
    Open,          // FF 54 0D
    Close,         // FF 55 0D
    Check,         // M: type code + "?"
    Enable,        // M: type code + "1"
    Disable,       // M: type code + "0"
    Timeout,       // M: "861001" + value bytes
    TimeoutQuery,  // M: "861001?"
    Profile,       // M: "889003,002995C80"
    SettingWrite,  // M: six digits + value (not a type code with 0/1, not 861001)
    Query,         // M: number text + "?"
    Command,       // M: any other body
    Unknown,       // other frame letter, or an 'M' frame without its '.'
    Stray,         // bytes outside any frame
};

struct SimParser {
    std::vector<uint8_t> pending;
};

using SimChunks = std::vector<std::vector<uint8_t>>;

void sim_parser_feed(SimParser* p, const uint8_t* data, size_t n, SimChunks& out);
void sim_parser_burst_end(SimParser* p, SimChunks& out);
void sim_parser_cycle_end(SimParser* p, SimChunks& out);

// Names the form of a complete frame. For Check, Enable and Disable frames
// *type_index (if given) receives the row of the type code table, else -1.
SimFrameKind sim_classify(const uint8_t* frame, size_t n, int* type_index);
const char* sim_kind_name(SimFrameKind kind);

// "FF 4D 0D 39 ... 2E  |..\r999001?.|" style: hex bytes, then the bytes as
// text with non-printable bytes shown as '.'.
std::string sim_format_bytes(const uint8_t* data, size_t n);
