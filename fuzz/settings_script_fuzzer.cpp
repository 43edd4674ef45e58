// A plain settings script file, as read from disk or a resource package.
#include "SettingsFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return settingsfuzz::run(data, size, false);
}
