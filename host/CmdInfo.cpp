#include "Args.h"
#include "CFUtil.h"
#include "Commands.h"
#include "Component.h"
#include "HostError.h"
#include "Json.h"
#include "Parameters.h"
#include "Renderer.h"

#include <AudioUnit/AudioUnitProperties.h>
#include <CoreFoundation/CoreFoundation.h>

#include <loader/instrset.h>

#include <fmt/format.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>

namespace vxhost {

namespace {

const char* levelName(int level) {
    static const char* const names[] = {"80386",
                                        "SSE",
                                        "SSE2",
                                        "SSE3",
                                        "SSSE3",
                                        "SSE4.1",
                                        "SSE4.2",
                                        "AVX",
                                        "AVX2",
                                        "AVX-512F",
                                        "AVX-512 F/VL/BW/DQ"};
    return level >= 0 && level <= 10 ? names[level] : "unknown";
}

std::string productName(const std::string& bundlePath) {
    if (bundlePath.empty())
        return {};
    CFRef<CFURLRef> url(CFURLCreateFromFileSystemRepresentation(
        kCFAllocatorDefault, reinterpret_cast<const UInt8*>(bundlePath.c_str()),
        static_cast<CFIndex>(bundlePath.size()), true));
    CFRef<CFBundleRef> bundle(url ? CFBundleCreate(kCFAllocatorDefault, url.get()) : nullptr);
    if (!bundle)
        return {};
    CFTypeRef name = CFBundleGetValueForInfoDictionaryKey(bundle.get(), kCFBundleNameKey);
    if (!name || CFGetTypeID(name) != CFStringGetTypeID())
        return {};
    return toString(static_cast<CFStringRef>(name));
}

std::string channelText(SInt16 count) {
    if (count == -1 || count == -2)
        return "any";
    if (count < 0)
        return fmt::format("up to {}", -count);
    return std::to_string(count);
}

struct UnitFacts {
    double rate = 0;
    Float64 latency = 0;
    bool hasTail = false;
    Float64 tail = 0;
    UInt32 maxFrames = 0;
    std::vector<AUChannelInfo> configs;
};

UnitFacts readFacts(AudioUnit unit) {
    UnitFacts f;
    AudioStreamBasicDescription format{};
    UInt32 size = sizeof format;
    if (AudioUnitGetProperty(unit, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 0,
                             &format, &size) == 0)
        f.rate = format.mSampleRate;
    size = sizeof f.latency;
    AudioUnitGetProperty(unit, kAudioUnitProperty_Latency, kAudioUnitScope_Global, 0, &f.latency,
                         &size);
    size = sizeof f.tail;
    f.hasTail = AudioUnitGetProperty(unit, kAudioUnitProperty_TailTime, kAudioUnitScope_Global, 0,
                                     &f.tail, &size) == 0;
    size = sizeof f.maxFrames;
    AudioUnitGetProperty(unit, kAudioUnitProperty_MaximumFramesPerSlice, kAudioUnitScope_Global, 0,
                         &f.maxFrames, &size);
    f.configs = channelConfigs(unit);
    return f;
}

} // namespace

int runInfo(const Words& words) {
    const Args args("info", words,
                    {{"--component", "", true, false},
                     {"--entry", "", true, false},
                     {"--json", "", false, false}},
                    0);
    const Entry entry = parseEntry(args.value("--entry"));
    const ComponentRef ref = resolveComponent(args.value("--component"));
    const auto start = std::chrono::steady_clock::now();
    Unit unit(ref, entry);
    const double openMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    const std::vector<ParamInfo> params = readParameters(unit.get());
    const UnitFacts facts = readFacts(unit.get());
    const int level = instrset_detect();
    const std::string product = productName(ref.bundlePath);
    const std::string function = entry == Entry::Factory ? ref.factoryName : managerEntryOf(ref);

    std::vector<Float32> current;
    for (const ParamInfo& p : params) {
        Float32 v = 0;
        check(AudioUnitGetParameter(unit.get(), p.id, kAudioUnitScope_Global, 0, &v),
              fmt::format("reading parameter '{}'", p.name));
        current.push_back(v);
    }

    if (args.has("--json")) {
        JsonWriter json;
        json.beginObject();
        json.beginObject("component");
        json.string("name", ref.name);
        json.string("codes", codesText(ref.desc));
        json.string("type", fourCC(ref.desc.componentType));
        json.string("subtype", fourCC(ref.desc.componentSubType));
        json.string("manufacturer", fourCC(ref.desc.componentManufacturer));
        json.string("version", versionText(ref.version));
        json.string("bundle", ref.bundlePath);
        json.boolean("registeredByHost", ref.registeredByHost);
        json.endObject();
        json.beginObject("opened");
        json.string("entry", entryName(entry));
        json.string("function", function);
        json.number("milliseconds", openMs);
        json.endObject();
        json.string("product", product);
        json.beginObject("processor");
        json.integer("instructionSetLevel", level);
        json.string("instructionSet", levelName(level));
        json.endObject();
        json.beginArray("alerts");
        for (const std::string& a : unit.alerts())
            json.string(nullptr, a);
        json.endArray();
        json.beginArray("modulesLoaded");
        for (const std::string& m : unit.modulesLoaded())
            json.string(nullptr, m);
        json.endArray();
        json.number("sampleRate", facts.rate);
        json.beginObject("latency");
        json.number("seconds", facts.latency);
        json.integer("samples", std::llround(facts.latency * facts.rate));
        json.endObject();
        if (facts.hasTail)
            json.number("tailSeconds", facts.tail);
        else
            json.null("tailSeconds");
        json.integer("maximumFramesPerSlice", facts.maxFrames);
        json.beginArray("channelConfigurations");
        for (const AUChannelInfo& c : facts.configs) {
            json.beginObject();
            json.integer("in", c.inChannels);
            json.integer("out", c.outChannels);
            json.endObject();
        }
        json.endArray();
        json.beginArray("parameters");
        for (size_t i = 0; i < params.size(); ++i) {
            const ParamInfo& p = params[i];
            json.beginObject();
            json.integer("id", p.id);
            json.string("name", p.name);
            json.string("unit", p.unitLabel);
            json.number("min", p.min);
            json.number("max", p.max);
            json.number("default", p.def);
            json.number("value", current[i]);
            json.string("valueText", valueText(p, current[i]));
            json.string("defaultText", valueText(p, p.def));
            json.boolean("writable", (p.flags & kAudioUnitParameterFlag_IsWritable) != 0);
            json.endObject();
        }
        json.endArray();
        json.endObject();
        std::fputs(json.text().c_str(), stdout);
        return 0;
    }

    std::string out;
    out += fmt::format("component     {} ({}), version {}\n", ref.name, codesText(ref.desc),
                       versionText(ref.version));
    out += fmt::format("bundle        {}{}\n", ref.bundlePath.empty() ? "(none)" : ref.bundlePath,
                       ref.registeredByHost ? "  (registered by vxhost)" : "");
    out += fmt::format("opened        through the {} entry {} in {:.1f} ms\n",
                       entry == Entry::Factory ? "factory" : "Component Manager", function, openMs);
    out += fmt::format("product       {}\n", product.empty() ? "(unnamed)" : product);
    out += fmt::format("processor     instruction-set level {} ({})\n", level, levelName(level));
    for (const std::string& alert : unit.alerts())
        out += fmt::format("alert         {}\n", alert);
    if (unit.modulesLoaded().empty())
        out += "loaded        no further modules\n";
    for (size_t i = 0; i < unit.modulesLoaded().size(); ++i)
        out += fmt::format("{}{} ({})\n", i == 0 ? "loaded        " : "              ",
                           std::filesystem::path(unit.modulesLoaded()[i]).filename().string(),
                           unit.modulesLoaded()[i]);
    out += fmt::format("latency       {:.6g} s ({} samples at {:g} Hz)\n", facts.latency,
                       std::llround(facts.latency * facts.rate), facts.rate);
    out += facts.hasTail ? fmt::format("tail          {:.6g} s\n", facts.tail)
                         : std::string("tail          none reported\n");
    out += fmt::format("max frames    {} per render call\n", facts.maxFrames);
    std::string configs;
    for (const AUChannelInfo& c : facts.configs)
        configs += fmt::format("{}{} in -> {} out", configs.empty() ? "" : ", ",
                               channelText(c.inChannels), channelText(c.outChannels));
    out += fmt::format("channels      {}\n", configs.empty() ? "not stated (in = out)" : configs);
    out += fmt::format("parameters    {}\n", params.size());
    if (!params.empty()) {
        size_t width = 4;
        for (const ParamInfo& p : params)
            width = std::max(width, p.name.size());
        out += fmt::format("  {:>6}  {:<{}}  {:<24} {:<14} {}\n", "ID", "name", width, "range",
                           "default", "current");
        for (size_t i = 0; i < params.size(); ++i) {
            const ParamInfo& p = params[i];
            const std::string range = fmt::format("{:g} .. {:g}{}{}", p.min, p.max,
                                                  p.unitLabel.empty() ? "" : " ", p.unitLabel);
            out += fmt::format("  {:>6}  {:<{}}  {:<24} {:<14} {} ({:g})\n", p.id, p.name, width,
                               range, valueText(p, p.def),
                               valueText(p, current[i]), current[i]);
        }
    }
    std::fputs(out.c_str(), stdout);
    return 0;
}

} // namespace vxhost
