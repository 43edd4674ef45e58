// The validation battery: parameters.
#include "ValidateSupport.h"

namespace vxhost::validate {

Outcome parameterInfo(const ComponentRef& ref, Entry entry) {
    Unit unit(ref, entry);
    const auto params = readParameters(unit.get());
    for (const ParamInfo& p : params) {
        if (p.name.empty())
            return Outcome::fail(fmt::format("parameter {} has no name", p.id));
        if (!std::isfinite(p.min) || !std::isfinite(p.max) || !std::isfinite(p.def) ||
            p.min > p.max)
            return Outcome::fail(
                fmt::format("parameter {} '{}': range {} .. {}", p.id, p.name, p.min, p.max));
        if (p.def < p.min || p.def > p.max)
            return Outcome::fail(fmt::format("parameter {} '{}': default {} outside {} .. {}", p.id,
                                             p.name, p.def, p.min, p.max));
        Float32 v = 0;
        const OSStatus s = AudioUnitGetParameter(unit.get(), p.id, kAudioUnitScope_Global, 0, &v);
        if (s != 0)
            return Outcome::fail(
                fmt::format("parameter {} '{}': reading answered {}", p.id, p.name, statusOf(s)));
        if (!(v >= p.min && v <= p.max))
            return Outcome::fail(fmt::format("parameter {} '{}': value {} outside {} .. {}", p.id,
                                             p.name, v, p.min, p.max));
    }
    return Outcome::ok(fmt::format("{} parameters with names, ranges and defaults", params.size()));
}

Outcome parameterRoundTrips(const ComponentRef& ref, Entry entry) {
    Unit unit(ref, entry);
    const auto params = readParameters(unit.get());
    int trips = 0;
    for (const ParamInfo& p : params) {
        if (!(p.flags & kAudioUnitParameterFlag_IsWritable))
            continue;
        const bool indexed =
            p.unit == kAudioUnitParameterUnit_Indexed || p.unit == kAudioUnitParameterUnit_Boolean;
        Float32 mid = p.min + (p.max - p.min) * 0.37f;
        if (indexed)
            mid = std::round(mid);
        for (Float32 value : {p.min, p.max, mid, p.def}) {
            const OSStatus s =
                AudioUnitSetParameter(unit.get(), p.id, kAudioUnitScope_Global, 0, value, 0);
            if (s != 0)
                return Outcome::fail(fmt::format("parameter {} '{}': setting {} answered {}", p.id,
                                                 p.name, value, statusOf(s)));
            Float32 back = 0;
            AudioUnitGetParameter(unit.get(), p.id, kAudioUnitScope_Global, 0, &back);
            if (!closeEnough(back, value, p))
                return Outcome::fail(fmt::format("parameter {} '{}': set {}, read back {}", p.id,
                                                 p.name, value, back));
            ++trips;
        }
    }
    return Outcome::ok(fmt::format("{} set/get round trips", trips));
}

} // namespace vxhost::validate
