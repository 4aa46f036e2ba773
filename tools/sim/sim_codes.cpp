#include "sim_codes.h"

#include <string.h>

const char kSimTypeCodes[kSimTypeCount][7] = {
    "999001", "931001", "936001", "900003", "922001", "923001", "908002",
    "901001", "904002", "909001", "929001", "916001", "915001", "910001",
    "926001", "920001", "919001", "918001", "932001", "902002", "937001",
    "907001", "930001", "917001", "925001", "903001", "924001", "928001",
    "905001", "906001", "911001", "927001", "921001", "912003", "914010",
};

// The first ten types are on at power-on, the rest off, so that a check of
// a fresh engine can answer either way.
const bool kSimTypeEnabledAtStart[kSimTypeCount] = {
    true,  true,  true,  true,  true,  true,  true,  true,  true,  true,
    false, false, false, false, false, false, false, false, false, false,
    false, false, false, false, false, false, false, false, false, false,
    false, false, false, false, false,
};

// Setting numbers are held as the decimal text that a query frame carries.
// The values are chosen so that every reply stays within 15 bytes.
const SimSettingInit kSimSettingsAtStart[] = {
    {"0", "1"},
    {"-5", "OFF"},
    {"100002", "115200"},
    {"800001", "V1.2"},
    {"2147483647", "Z"},
};
const size_t kSimSettingsAtStartCount =
    sizeof(kSimSettingsAtStart) / sizeof(kSimSettingsAtStart[0]);

int sim_type_index(const char* text, size_t n) {
    if (n != 6) return -1;
    for (int i = 0; i < kSimTypeCount; ++i) {
        if (memcmp(kSimTypeCodes[i], text, 6) == 0) return i;
    }
    return -1;
}
