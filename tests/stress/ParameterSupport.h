// Parameter facts of an open unit and the hostile values the stress tests
// feed it.
#pragma once

#include <AudioUnit/AudioUnit.h>

#include <vector>

namespace unithost {

struct ParameterRange {
    AudioUnitParameterID id;
    AudioUnitParameterValue min, max, def;
};

// The unit's global parameters with their ranges; empty when it has none.
std::vector<ParameterRange> globalParameters(AudioUnit unit);

// Values no parameter should ever make audible: not-a-number, infinities,
// huge and tiny magnitudes, negative zero, and values just beyond the range.
std::vector<AudioUnitParameterValue> hostileValues(const ParameterRange& range);

} // namespace unithost
