// Byte-string helpers shared by the simulator's tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

inline std::vector<uint8_t> bytes(const std::string& s) {
    return std::vector<uint8_t>(s.begin(), s.end());
}

// A command frame: header FF 4D 0D, the body, '.'.
inline std::vector<uint8_t> cmd(const std::string& body) {
    return bytes("\xFF" "M\r" + body + ".");
}
