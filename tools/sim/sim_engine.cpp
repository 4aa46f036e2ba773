#include "sim_engine.h"

#include <cstdio>
#include <cstdlib>

namespace {

const uint8_t kDefaultGarbage[] = {0x15, 0xAA, 0x55, 0x06, 0x01, 0x7F};
constexpr int kDefaultHangupMs = 25;
constexpr size_t kOverlongMin = 16;

std::string text_of(const uint8_t* p, size_t n) {
    return std::string(reinterpret_cast<const char*>(p), n);
}

// Parses "-12", "5", "3000": an optional '-' and at least one digit.
bool parse_int_text(const std::string& s, int* out) {
    size_t i = (!s.empty() && s[0] == '-') ? 1 : 0;
    if (i == s.size() || s.size() > 10) return false;
    for (size_t k = i; k < s.size(); ++k) {
        if (s[k] < '0' || s[k] > '9') return false;
    }
    *out = static_cast<int>(std::strtol(s.c_str(), nullptr, 10));
    return true;
}

SimFault take_fault(SimEngine* e) {
    if (!e->next_faults.empty()) {
        SimFault f = e->next_faults.front();
        e->next_faults.pop_front();
        return f;
    }
    return e->persistent;
}

std::vector<uint8_t> concat(const std::string& a, uint8_t b,
                            const std::string& c, uint8_t d) {
    std::vector<uint8_t> v(a.begin(), a.end());
    v.push_back(b);
    v.insert(v.end(), c.begin(), c.end());
    v.push_back(d);
    return v;
}

std::vector<uint8_t> overlong_reply(const std::string& echo,
                                    const std::string& value, int count) {
    size_t len = count > 0 ? static_cast<size_t>(count) : 0;
    if (len < kOverlongMin) len = kOverlongMin;
    size_t used = echo.size() + value.size() + 2;
    std::string filled = echo;
    if (used < len) filled.append(len - used, '0');
    return sim_reply(filled, value);
}

// Shapes the answer to one question by the fault in force.
SimReplyPlan answer(SimEngine* e, const std::string& echo,
                    const std::string& value, bool known) {
    SimReplyPlan plan;
    SimFault f = take_fault(e);
    ++e->questions;
    std::vector<uint8_t> reply =
        known ? sim_reply(echo, value)
              : concat(echo, kSimNak, std::string(), kSimFinal);
    switch (f.kind) {
        case SimFaultKind::None:
            plan.writes.push_back(reply);
            break;
        case SimFaultKind::Silence:
            break;
        case SimFaultKind::Delay:
            plan.writes.push_back(reply);
            plan.delay_ms = f.ms;
            break;
        case SimFaultKind::NoAck: {
            std::vector<uint8_t> v(echo.begin(), echo.end());
            v.insert(v.end(), value.begin(), value.end());
            v.push_back(kSimFinal);
            plan.writes.push_back(v);
            break;
        }
        case SimFaultKind::AckMisplaced:
            plan.writes.push_back(
                concat(echo, kSimAck, value.empty() ? "0" : value, kSimFinal));
            break;
        case SimFaultKind::ExtraBytes:
            if (f.bytes.empty()) f.bytes = {'X', 'Y'};
            reply.insert(reply.end(), f.bytes.begin(), f.bytes.end());
            plan.writes.push_back(reply);
            break;
        case SimFaultKind::Twice:
            plan.writes.push_back(reply);
            plan.writes.push_back(reply);
            plan.gap_ms = f.ms;
            break;
        case SimFaultKind::Overlong:
            plan.writes.push_back(overlong_reply(echo, value, f.count));
            break;
        case SimFaultKind::Garbage:
            if (f.bytes.empty()) {
                f.bytes.assign(kDefaultGarbage,
                               kDefaultGarbage + sizeof kDefaultGarbage);
            }
            plan.writes.push_back(f.bytes);
            break;
        case SimFaultKind::RawReply:
            plan.writes.push_back(f.bytes);
            break;
        case SimFaultKind::Hangup:
            plan.hangup = true;
            plan.hangup_ms = f.ms > 0 ? f.ms : kDefaultHangupMs;
            break;
        case SimFaultKind::CustomValue:
            plan.writes.push_back(
                sim_reply(echo, text_of(f.bytes.data(), f.bytes.size())));
            break;
    }
    return plan;
}

// Applies a frame that is not a question to the state. Commands that the
// engine does not know are only recorded.
void apply_write(SimEngine* e, SimFrameKind kind, int row,
                 const std::string& body) {
    switch (kind) {
        case SimFrameKind::Open: e->open = true; break;
        case SimFrameKind::Close: e->open = false; break;
        case SimFrameKind::Enable: e->enabled[row] = true; break;
        case SimFrameKind::Disable: e->enabled[row] = false; break;
        case SimFrameKind::Profile: e->profile_applied = true; break;
        case SimFrameKind::Timeout: {
            // The value bytes end at the first zero byte: "5\0\0\0" is 5.
            std::string value = body.substr(6);
            value = value.substr(0, value.find('\0'));
            int t = 0;
            if (parse_int_text(value, &t)) e->timeout = t;
            break;
        }
        case SimFrameKind::SettingWrite:
            sim_engine_set_setting(e, body.substr(0, 6), body.substr(6));
            break;
        default:
            break;
    }
}

}  // namespace

void sim_engine_init(SimEngine* e) {
    *e = SimEngine();
    for (int i = 0; i < kSimTypeCount; ++i) {
        e->enabled[i] = kSimTypeEnabledAtStart[i];
    }
    for (size_t i = 0; i < kSimSettingsAtStartCount; ++i) {
        e->settings.push_back(
            {kSimSettingsAtStart[i].number, kSimSettingsAtStart[i].value});
    }
}

SimReplyPlan sim_engine_receive(SimEngine* e, const uint8_t* frame,
                                size_t n) {
    int row = -1;
    SimFrameKind kind = sim_classify(frame, n, &row);
    e->frames.push_back({std::vector<uint8_t>(frame, frame + n), kind, row});

    std::string body = n >= 4 ? text_of(frame + 3, n - 4) : std::string();
    switch (kind) {
        case SimFrameKind::Check:
            return answer(e, kSimTypeCodes[row], e->enabled[row] ? "1" : "0",
                          true);
        case SimFrameKind::TimeoutQuery:
            return answer(e, kSimTimeoutCode, sim_timeout_text(e->timeout),
                          true);
        case SimFrameKind::Query: {
            std::string number = body.substr(0, body.size() - 1);
            const std::string* value = sim_engine_setting(e, number);
            return answer(e, number, value ? *value : std::string(),
                          value != nullptr);
        }
        default:
            apply_write(e, kind, row, body);
            return SimReplyPlan();
    }
}

void sim_engine_set_setting(SimEngine* e, const std::string& number,
                            const std::string& value) {
    if (number == kSimTimeoutCode) {
        int t = 0;
        if (parse_int_text(value, &t)) e->timeout = t;
        return;
    }
    for (SimSetting& s : e->settings) {
        if (s.number == number) {
            s.value = value;
            return;
        }
    }
    e->settings.push_back({number, value});
}

const std::string* sim_engine_setting(const SimEngine* e,
                                      const std::string& number) {
    for (const SimSetting& s : e->settings) {
        if (s.number == number) return &s.value;
    }
    return nullptr;
}

SimFault sim_fault(SimFaultKind kind, int ms) {
    SimFault f;
    f.kind = kind;
    f.ms = ms;
    return f;
}

SimFault sim_fault_bytes(SimFaultKind kind, const std::vector<uint8_t>& bytes) {
    SimFault f;
    f.kind = kind;
    f.bytes = bytes;
    return f;
}

void sim_engine_push_fault(SimEngine* e, const SimFault& fault) {
    e->next_faults.push_back(fault);
}

void sim_engine_set_persistent_fault(SimEngine* e, const SimFault& fault) {
    e->persistent = fault;
}

std::vector<uint8_t> sim_reply(const std::string& echo,
                               const std::string& value) {
    std::vector<uint8_t> v(echo.begin(), echo.end());
    v.insert(v.end(), value.begin(), value.end());
    v.push_back(kSimAck);
    v.push_back(kSimFinal);
    return v;
}

std::string sim_timeout_text(int timeout) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d", timeout);
    return buf;
}
