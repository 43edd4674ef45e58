// The parameters a unit publishes, found by ID or name, and the
// "--set ID=VALUE" settings of the command line.
#pragma once

#include <AudioUnit/AudioUnit.h>
#include <aufw/CAAUParameter.h>

#include <string>
#include <vector>

namespace vxhost {

// One parameter as the framework's client-side description reads it, with
// the facts the tool prints copied out as plain text and numbers.
struct ParamInfo {
    AudioUnitParameterID id = 0;
    std::string name;
    std::string unitLabel; // the description's short tag ("msecs", "dB", ...) or the unit's own
    AudioUnitParameterUnit unit = kAudioUnitParameterUnit_Generic;
    Float32 min = 0, max = 0, def = 0;
    UInt32 flags = 0;
    std::vector<std::string> valueStrings; // names of the values, for parameters that have them
    CAAUParameter described;               // texts for values come from here
};

// The Global scope's parameters, in the unit's order. Throws when the unit
// does not answer the list or a parameter's info.
std::vector<ParamInfo> readParameters(AudioUnit unit);

// By decimal ID, or by name ignoring case and spaces. Usage error when none.
const ParamInfo& findParameter(const std::vector<ParamInfo>& params, const std::string& key);

struct Setting {
    const ParamInfo* param;
    Float32 value;
};

// "ID=VALUE" or "Name=VALUE"; VALUE is a number, or one of an indexed
// parameter's value names. Out-of-range values are usage errors.
Setting parseSetting(const std::vector<ParamInfo>& params, const std::string& text);

// Applies each setting with AudioUnitSetParameter; throws on a refusal.
void applySettings(AudioUnit unit, const std::vector<Setting>& settings);

// The value as the description words it: a value's name, the unit's own
// text, or the number in the user's locale followed by the unit's tag.
std::string valueText(const ParamInfo& param, Float32 value);

} // namespace vxhost
