#include "Parameters.h"

#include "Args.h"
#include "CFUtil.h"
#include "HostError.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace vxhost {

namespace {

std::string folded(const std::string& text) {
    std::string out;
    for (char c : text)
        if (!std::isspace(static_cast<unsigned char>(c)))
            out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string trimmed(std::string text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.pop_back();
    size_t start = 0;
    while (start < text.size() && std::isspace(static_cast<unsigned char>(text[start])))
        ++start;
    return text.substr(start);
}

std::vector<std::string> readValueStrings(AudioUnit unit, AudioUnitParameterID id) {
    std::vector<std::string> names;
    UInt32 size = 0;
    Boolean writable = 0;
    if (AudioUnitGetPropertyInfo(unit, kAudioUnitProperty_ParameterValueStrings,
                                 kAudioUnitScope_Global, id, &size, &writable) != 0 ||
        size != sizeof(CFArrayRef))
        return names;
    CFArrayRef array = nullptr;
    size = sizeof array;
    if (AudioUnitGetProperty(unit, kAudioUnitProperty_ParameterValueStrings, kAudioUnitScope_Global,
                             id, &array, &size) != 0 ||
        !array)
        return names;
    CFRef<CFArrayRef> owned(array);
    for (CFIndex i = 0; i < CFArrayGetCount(array); ++i) {
        CFTypeRef item = CFArrayGetValueAtIndex(array, i);
        names.push_back(item && CFGetTypeID(item) == CFStringGetTypeID()
                            ? toString(static_cast<CFStringRef>(item))
                            : std::string());
    }
    return names;
}

} // namespace

std::string unitLabel(AudioUnitParameterUnit unit) {
    switch (unit) {
    case kAudioUnitParameterUnit_Percent:
        return "%";
    case kAudioUnitParameterUnit_Seconds:
        return "s";
    case kAudioUnitParameterUnit_SampleFrames:
        return "samples";
    case kAudioUnitParameterUnit_Phase:
    case kAudioUnitParameterUnit_Degrees:
        return "deg";
    case kAudioUnitParameterUnit_Hertz:
        return "Hz";
    case kAudioUnitParameterUnit_Cents:
    case kAudioUnitParameterUnit_AbsoluteCents:
        return "cents";
    case kAudioUnitParameterUnit_RelativeSemiTones:
        return "semitones";
    case kAudioUnitParameterUnit_Decibels:
        return "dB";
    case kAudioUnitParameterUnit_Octaves:
        return "octaves";
    case kAudioUnitParameterUnit_BPM:
        return "BPM";
    case kAudioUnitParameterUnit_Beats:
        return "beats";
    case kAudioUnitParameterUnit_Milliseconds:
        return "ms";
    case kAudioUnitParameterUnit_Ratio:
        return ":1";
    default:
        return "";
    }
}

std::vector<ParamInfo> readParameters(AudioUnit unit) {
    UInt32 size = 0;
    Boolean writable = 0;
    OSStatus status = AudioUnitGetPropertyInfo(unit, kAudioUnitProperty_ParameterList,
                                               kAudioUnitScope_Global, 0, &size, &writable);
    if (status == kAudioUnitErr_InvalidProperty)
        return {};
    check(status, "the unit's parameter list");
    std::vector<AudioUnitParameterID> ids(size / sizeof(AudioUnitParameterID));
    if (!ids.empty()) {
        size = static_cast<UInt32>(ids.size() * sizeof(AudioUnitParameterID));
        check(AudioUnitGetProperty(unit, kAudioUnitProperty_ParameterList, kAudioUnitScope_Global,
                                   0, ids.data(), &size),
              "the unit's parameter list");
        ids.resize(size / sizeof(AudioUnitParameterID));
    }
    std::vector<ParamInfo> params;
    for (AudioUnitParameterID id : ids) {
        AudioUnitParameterInfo info{};
        size = sizeof info;
        check(AudioUnitGetProperty(unit, kAudioUnitProperty_ParameterInfo, kAudioUnitScope_Global,
                                   id, &info, &size),
              fmt::format("the info of parameter {}", id));
        ParamInfo p;
        p.id = id;
        if ((info.flags & kAudioUnitParameterFlag_HasCFNameString) && info.cfNameString) {
            p.name = toString(info.cfNameString);
            if (info.flags & kAudioUnitParameterFlag_CFNameRelease)
                CFRelease(info.cfNameString);
        } else {
            p.name = std::string(info.name, strnlen(info.name, sizeof info.name));
        }
        p.unit = info.unit;
        if (info.unit == kAudioUnitParameterUnit_CustomUnit && info.unitName)
            p.unitLabel = toString(info.unitName);
        else
            p.unitLabel = unitLabel(info.unit);
        p.min = info.minValue;
        p.max = info.maxValue;
        p.def = info.defaultValue;
        p.flags = info.flags;
        if (info.flags & kAudioUnitParameterFlag_ValuesHaveStrings ||
            info.unit == kAudioUnitParameterUnit_Indexed)
            p.valueStrings = readValueStrings(unit, id);
        params.push_back(std::move(p));
    }
    return params;
}

const ParamInfo& findParameter(const std::vector<ParamInfo>& params, const std::string& key) {
    const std::string k = trimmed(key);
    if (!k.empty() && std::all_of(k.begin(), k.end(), [](char c) {
            return std::isdigit(static_cast<unsigned char>(c));
        })) {
        const unsigned long long id =
            k.size() <= 10 ? std::strtoull(k.c_str(), nullptr, 10) : ~0ULL;
        for (const ParamInfo& p : params)
            if (p.id == id)
                return p;
        throw UsageError(
            fmt::format("unknown parameter '{}': the unit has no parameter with that ID", key));
    }
    for (const ParamInfo& p : params)
        if (folded(p.name) == folded(k))
            return p;
    std::string known;
    for (const ParamInfo& p : params)
        known += fmt::format("{}{} ({})", known.empty() ? "" : ", ", p.name, p.id);
    throw UsageError(fmt::format("unknown parameter '{}' (the unit has: {})", key,
                                 known.empty() ? "no parameters" : known));
}

Setting parseSetting(const std::vector<ParamInfo>& params, const std::string& text) {
    const size_t eq = text.find('=');
    if (eq == std::string::npos || eq == 0)
        throw UsageError(fmt::format("--set needs ID=VALUE or NAME=VALUE, not '{}'", text));
    const ParamInfo& param = findParameter(params, text.substr(0, eq));
    const std::string valueWord = trimmed(text.substr(eq + 1));
    std::optional<double> value = parseNumber(valueWord);
    if (!value) {
        for (size_t i = 0; i < param.valueStrings.size(); ++i)
            if (folded(param.valueStrings[i]) == folded(valueWord))
                value = param.min + static_cast<double>(i);
    }
    if (!value)
        throw UsageError(
            fmt::format("value '{}' for parameter '{}' is not a number", valueWord, param.name));
    const double tolerance = 1e-6 * std::max(1.0, std::fabs(static_cast<double>(param.max)));
    if (*value < param.min - tolerance || *value > param.max + tolerance)
        throw UsageError(fmt::format("value {} is out of range for parameter '{}' ({} to {}{}{})",
                                     valueWord, param.name, param.min, param.max,
                                     param.unitLabel.empty() ? "" : " ", param.unitLabel));
    return Setting{&param, static_cast<Float32>(std::clamp(*value, static_cast<double>(param.min),
                                                           static_cast<double>(param.max)))};
}

void applySettings(AudioUnit unit, const std::vector<Setting>& settings) {
    for (const Setting& s : settings)
        check(AudioUnitSetParameter(unit, s.param->id, kAudioUnitScope_Global, 0, s.value, 0),
              fmt::format("setting parameter '{}' to {}", s.param->name, s.value));
}

std::string valueText(AudioUnit unit, const ParamInfo& param, Float32 value) {
    if (!param.valueStrings.empty()) {
        const long index = std::lround(value - param.min);
        if (index >= 0 && static_cast<size_t>(index) < param.valueStrings.size())
            return param.valueStrings[static_cast<size_t>(index)];
    }
    if (param.flags & kAudioUnitParameterFlag_ValuesHaveStrings) {
        AudioUnitParameterStringFromValue request{param.id, &value, nullptr};
        UInt32 size = sizeof request;
        if (AudioUnitGetProperty(unit, kAudioUnitProperty_ParameterStringFromValue,
                                 kAudioUnitScope_Global, 0, &request, &size) == 0 &&
            request.outString) {
            std::string text = toString(request.outString);
            CFRelease(request.outString);
            return text;
        }
    }
    if (param.unit == kAudioUnitParameterUnit_Boolean)
        return value >= 0.5f ? "on" : "off";
    std::string number = fmt::format("{:.6g}", value);
    return param.unitLabel.empty() ? number : number + " " + param.unitLabel;
}

} // namespace vxhost
