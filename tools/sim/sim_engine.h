// State and answers of the simulated scan engine, free of any I/O, so that
// its behaviour can be tested without a terminal.
//
// Usage:
//   SimEngine e;
//   sim_engine_init(&e);
//   e.enabled[3] = false;                          // settable state
//   sim_engine_set_setting(&e, "100002", "9600");
//   sim_engine_push_fault(&e, sim_fault(SimFaultKind::NoAck));  // next reply only
//   SimReplyPlan plan = sim_engine_receive(&e, frame, n);
//   // plan.writes are written to the port plan.delay_ms after the frame,
//   // plan.gap_ms apart; plan.hangup closes the port instead.
//
// A reply has the form echo, value, ACK 0x06, final byte 0x0D:
//   check frame        -> type code, '1' or '0'
//   timeout query      -> "861001", timeout as "%04d" ("0005", "3000", "-999")
//   query frame        -> the number text as sent, the setting's value text
// A query for a number that the engine does not know gets echo, NAK 0x15,
// final byte, which the library must treat as no reply. Frames that are not
// questions get no reply. Every frame is recorded in `frames`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "sim_codes.h"
#include "sim_frames.h"

constexpr uint8_t kSimAck = 0x06;
constexpr uint8_t kSimNak = 0x15;
constexpr uint8_t kSimFinal = 0x0D;

enum class SimFaultKind {
    None,
    Silence,       // no reply at all
    Delay,         // the reply, ms later than usual
    NoAck,         // the reply with its ACK byte left out
    AckMisplaced,  // ACK right after the echo; the last value byte stands second to last
    ExtraBytes,    // the reply followed by `bytes` (default "XY") in the same write
    Twice,         // the reply written twice, ms apart
    Overlong,      // a reply of max(16, count) non-zero bytes: echo, '0' filler, value, ACK, final
    Garbage,       // `bytes` (default 15 AA 55 06 01 7F) instead of the reply
    RawReply,      // exactly `bytes` (any bytes, zero bytes too) instead of the reply
    Hangup,        // the port is hung up (master closed) ms after the question
    CustomValue,   // the reply with `bytes` as its value text
};

struct SimFault {
    SimFaultKind kind = SimFaultKind::None;
    int ms = 0;                  // Delay, Twice (gap), Hangup (default 25 when 0)
    std::vector<uint8_t> bytes;  // ExtraBytes, Garbage, RawReply, CustomValue
    int count = 0;               // Overlong length
};

struct SimRecordedFrame {
    std::vector<uint8_t> bytes;
    SimFrameKind kind = SimFrameKind::Stray;
    int type_index = -1;
};

struct SimSetting {
    std::string number;
    std::string value;
};

struct SimEngine {
    bool open = false;             // last control frame was the open frame
    bool profile_applied = false;  // the profile frame has been received
    int timeout = kSimTimeoutAtStart;
    bool enabled[kSimTypeCount] = {};
    std::vector<SimSetting> settings;
    std::deque<SimFault> next_faults;  // each used by one question, in order
    SimFault persistent;               // used while next_faults is empty
    std::vector<SimRecordedFrame> frames;
    int questions = 0;                 // question frames answered or faulted
};

struct SimReplyPlan {
    std::vector<std::vector<uint8_t>> writes;
    int delay_ms = 0;
    int gap_ms = 0;
    bool hangup = false;
    int hangup_ms = 0;
};

void sim_engine_init(SimEngine* e);

// Records the frame, applies it to the state and returns what to send.
SimReplyPlan sim_engine_receive(SimEngine* e, const uint8_t* frame, size_t n);

// Setting table access; the number is the decimal text a query frame carries.
void sim_engine_set_setting(SimEngine* e, const std::string& number,
                            const std::string& value);
const std::string* sim_engine_setting(const SimEngine* e,
                                      const std::string& number);

// Shorthands for building faults: sim_fault(SimFaultKind::Delay, 40),
// sim_fault_bytes(SimFaultKind::CustomValue, {'4', '2'}).
SimFault sim_fault(SimFaultKind kind, int ms = 0);
SimFault sim_fault_bytes(SimFaultKind kind, const std::vector<uint8_t>& bytes);

void sim_engine_push_fault(SimEngine* e, const SimFault& fault);
void sim_engine_set_persistent_fault(SimEngine* e, const SimFault& fault);

// The well-formed reply: echo, value, ACK, final byte.
std::vector<uint8_t> sim_reply(const std::string& echo,
                               const std::string& value);
// The timeout as its 4-character reply value ("%04d").
std::string sim_timeout_text(int timeout);
