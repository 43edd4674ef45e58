// The Turtle of an exported LV2 bundle: the manifest and the plug-in
// description, made from what the unit told the host about itself.
#pragma once

#include "Lv2Bundle.h"
#include "Parameters.h"

#include <string>
#include <vector>

namespace vxhost {

struct Lv2Description {
    std::string name;                  // "Manufacturer: Product"
    std::string binary;                // the bridge's file name inside the bundle
    std::vector<ParamInfo> parameters; // in port order
    std::vector<Lv2Variant> variants;
    UInt32 version = 0; // 0xMMMMmmpp
};

std::string manifestTurtle(const Lv2Description& d, const std::string& pluginFile);
std::string pluginTurtle(const Lv2Description& d);

// A unique LV2 symbol for each parameter, made from its name.
std::vector<std::string> parameterSymbols(const std::vector<ParamInfo>& params);

} // namespace vxhost
