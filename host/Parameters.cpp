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
        // The description reads the info record itself; a zeroed record
        // means the unit did not answer, which the check below reports.
        AudioUnitParameterInfo probe{};
        size = sizeof probe;
        check(AudioUnitGetProperty(unit, kAudioUnitProperty_ParameterInfo, kAudioUnitScope_Global,
                                   id, &probe, &size),
              fmt::format("the info of parameter {}", id));
        if ((probe.flags & kAudioUnitParameterFlag_CFNameRelease) && probe.cfNameString)
            CFRelease(probe.cfNameString);
        ParamInfo p;
        p.described = CAAUParameter(unit, id, kAudioUnitScope_Global, 0);
        const AudioUnitParameterInfo& info = p.described.ParamInfo();
        p.id = id;
        p.name = p.described.GetName() ? toString(p.described.GetName()) : std::string();
        p.unitLabel = p.described.GetParamTag() ? toString(p.described.GetParamTag()) : "";
        p.unit = info.unit;
        p.min = info.minValue;
        p.max = info.maxValue;
        p.def = info.defaultValue;
        p.flags = info.flags;
        if (CFArrayRef names = p.described.GetNamedParams()) {
            for (CFIndex i = 0; i < CFArrayGetCount(names); ++i) {
                CFTypeRef item = CFArrayGetValueAtIndex(names, i);
                p.valueStrings.push_back(item && CFGetTypeID(item) == CFStringGetTypeID()
                                             ? toString(static_cast<CFStringRef>(item))
                                             : std::string());
            }
        } else if (info.flags & kAudioUnitParameterFlag_ValuesHaveStrings) {
            p.valueStrings = readValueStrings(unit, id);
        }
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

std::string valueText(const ParamInfo& param, Float32 value) {
    if (param.unit == kAudioUnitParameterUnit_Boolean)
        return value >= 0.5f ? "on" : "off";
    CFRef<CFStringRef> text(param.described.GetStringFromValueCopy(&value));
    std::string out = text ? toString(text.get()) : fmt::format("{:.6g}", value);
    // Names of values and the unit's own texts stand alone; numbers take the tag.
    const bool named =
        (param.described.GetNumIndexedParams() != 0 && param.described.HasNamedParams()) ||
        param.described.ValuesHaveStrings();
    if (!named && !param.unitLabel.empty())
        out += " " + param.unitLabel;
    return out;
}

} // namespace vxhost
