// What an exported LV2 bundle tells the bridge library: which component to
// open and how the ports of each plug-in in the bundle are laid out. vxhost
// export-lv2 writes it beside the Turtle; the bridge reads it when a host
// loads the bundle, so one bridge binary serves every exported component.
#pragma once

#include <AudioUnit/AudioUnit.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vxhost {

// One plug-in of the bundle: a channel configuration of the unit.
struct Lv2Variant {
    std::string uri;
    UInt32 inputs = 2;
    UInt32 outputs = 2;
};

struct Lv2BundleData {
    std::string codes;         // "TYPE:SUBTYPE:MANUFACTURER"
    std::string componentPath; // a bundle to register, empty for an installed component
    std::vector<AudioUnitParameterID> parameters; // one control input port each, in this order
    std::vector<Lv2Variant> variants;
};

// The file's name inside the bundle.
inline constexpr const char* kLv2BundleDataFile = "vx-bridge.txt";

// Port layout of a variant: audio inputs, audio outputs, one control input
// per parameter, the latency output, then the enabled (bypass) input.
struct Lv2Ports {
    UInt32 inputs, outputs, parameters;
    UInt32 firstOutput() const { return inputs; }
    UInt32 firstParameter() const { return inputs + outputs; }
    UInt32 latency() const { return inputs + outputs + parameters; }
    UInt32 enabled() const { return latency() + 1; }
    UInt32 count() const { return enabled() + 1; }
};

std::string formatLv2BundleData(const Lv2BundleData& data);
// Nothing when the text is not a complete description.
std::optional<Lv2BundleData> parseLv2BundleData(const std::string& text);

// The stable plug-in URI of a component's channel configuration: the codes,
// percent-encoded, and "-mono" for a mono input.
std::string lv2PluginUri(const AudioComponentDescription& desc, UInt32 inputs);

} // namespace vxhost
