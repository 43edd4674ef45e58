// A scrambled settings file (".esf"): the bytes as stored, unscrambled by the
// reader before parsing.
#include "SettingsFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return settingsfuzz::run(data, size, true);
}
