#include "ParameterSupport.h"

#include <cfloat>
#include <limits>

namespace unithost {

std::vector<ParameterRange> globalParameters(AudioUnit unit) {
    std::vector<ParameterRange> out;
    UInt32 size = 0;
    Boolean writable = false;
    if (AudioUnitGetPropertyInfo(unit, kAudioUnitProperty_ParameterList, kAudioUnitScope_Global, 0,
                                 &size, &writable) != 0 ||
        size == 0)
        return out;
    std::vector<AudioUnitParameterID> ids(size / sizeof(AudioUnitParameterID));
    if (AudioUnitGetProperty(unit, kAudioUnitProperty_ParameterList, kAudioUnitScope_Global, 0,
                             ids.data(), &size) != 0)
        return out;
    for (AudioUnitParameterID id : ids) {
        AudioUnitParameterInfo info{};
        UInt32 infoSize = sizeof info;
        if (AudioUnitGetProperty(unit, kAudioUnitProperty_ParameterInfo, kAudioUnitScope_Global, id,
                                 &info, &infoSize) != 0)
            continue;
        if ((info.flags & kAudioUnitParameterFlag_HasCFNameString) &&
            (info.flags & kAudioUnitParameterFlag_CFNameRelease) && info.cfNameString)
            CFRelease(info.cfNameString);
        out.push_back({id, info.minValue, info.maxValue, info.defaultValue});
    }
    return out;
}

std::vector<AudioUnitParameterValue> hostileValues(const ParameterRange& r) {
    using limits = std::numeric_limits<float>;
    const float span = r.max - r.min;
    return {limits::quiet_NaN(),
            -limits::quiet_NaN(),
            limits::signaling_NaN(),
            limits::infinity(),
            -limits::infinity(),
            FLT_MAX,
            -FLT_MAX,
            1e30f,
            -1e30f,
            limits::denorm_min(),
            -limits::denorm_min(),
            -0.0f,
            r.min - 1.0f,
            r.max + 1.0f,
            r.min - span * 10.0f,
            r.max + span * 10.0f,
            r.min,
            r.max};
}

} // namespace unithost
