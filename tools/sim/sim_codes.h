// Constant tables of the simulated scan engine: the 35 six-digit type codes
// (row = type index) and the engine's numbered settings at power-on.
//
// Usage:
//   int row = sim_type_index("999001", 6);   // 0, or -1 for no row
//   const char* code = kSimTypeCodes[34];    // "914010"
#pragma once

#include <stddef.h>

constexpr int kSimTypeCount = 35;
extern const char kSimTypeCodes[kSimTypeCount][7];
// Power-on enabled flag per type index.
extern const bool kSimTypeEnabledAtStart[kSimTypeCount];

struct SimSettingInit {
    const char* number;
    const char* value;
};
extern const SimSettingInit kSimSettingsAtStart[];
extern const size_t kSimSettingsAtStartCount;

constexpr int kSimTimeoutAtStart = 3000;
constexpr char kSimTimeoutCode[] = "861001";
constexpr char kSimProfileBody[] = "889003,002995C80";

// Row of the type code table whose code equals the n bytes at text, or -1.
int sim_type_index(const char* text, size_t n);
