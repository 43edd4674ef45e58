#include "Args.h"
#include "CFUtil.h"
#include "Commands.h"
#include "Component.h"
#include "HostError.h"
#include "Parameters.h"
#include "Presets.h"

#include <AudioUnit/AudioUnitProperties.h>

#include <fmt/format.h>

#include <cstdio>

namespace vxhost {

namespace {

const std::vector<OptionSpec> kUnitOptions = {{"--component", "", true, false},
                                              {"--entry", "", true, false}};

std::vector<OptionSpec> withUnitOptions(std::vector<OptionSpec> specs) {
    specs.insert(specs.end(), kUnitOptions.begin(), kUnitOptions.end());
    return specs;
}

std::string parameterListing(AudioUnit unit, const std::vector<ParamInfo>& params) {
    std::string out;
    for (const ParamInfo& p : params) {
        Float32 v = 0;
        check(AudioUnitGetParameter(unit, p.id, kAudioUnitScope_Global, 0, &v),
              fmt::format("reading parameter '{}'", p.name));
        out += fmt::format("  {:>6}  {:<20} {}\n", p.id, p.name, valueText(p, v));
    }
    return out;
}

const std::string& fileArgument(const Args& args, const char* what) {
    if (args.positional().size() != 1)
        throw UsageError(fmt::format("'vxhost preset {}' needs one preset file", what));
    return args.positional()[0];
}

int save(const Words& words) {
    const Args args("preset save", words,
                    withUnitOptions({{"--name", "", true, false}, {"--set", "", true, true}}), 1);
    const std::string& path = fileArgument(args, "save");
    const Entry entry = parseEntry(args.value("--entry"));
    const ComponentRef ref = resolveComponent(args.value("--component"));
    Unit unit(ref, entry);
    const std::vector<ParamInfo> params = readParameters(unit.get());
    std::vector<Setting> settings;
    for (const std::string& s : args.values("--set"))
        settings.push_back(parseSetting(params, s));
    applySettings(unit.get(), settings);
    if (const auto name = args.value("--name")) {
        CFRef<CFStringRef> text = makeString(*name);
        const AUPreset preset{-1, text.get()};
        check(AudioUnitSetProperty(unit.get(), kAudioUnitProperty_PresentPreset,
                                   kAudioUnitScope_Global, 0, &preset, sizeof preset),
              "the unit refused the preset name");
    }
    CFRef<CFPropertyListRef> document = copyClassInfo(unit.get());
    writePresetFile(path, document.get());
    std::fputs(fmt::format("saved the state of {} ({}) to {}\n{}", ref.name, codesText(ref.desc),
                           path, parameterListing(unit.get(), params))
                   .c_str(),
               stdout);
    return 0;
}

int load(const Words& words) {
    const Args args("preset load", words, withUnitOptions({}), 1);
    const std::string& path = fileArgument(args, "load");
    const Entry entry = parseEntry(args.value("--entry"));
    CFRef<CFPropertyListRef> document = readPresetFile(path);
    const ComponentRef ref = resolveComponent(args.value("--component"));
    checkPresetFor(document.get(), ref, path);
    Unit unit(ref, entry);
    restoreClassInfo(unit.get(), document.get());
    const std::vector<ParamInfo> params = readParameters(unit.get());
    std::string name = "(none)";
    AUPreset present{};
    UInt32 size = sizeof present;
    if (AudioUnitGetProperty(unit.get(), kAudioUnitProperty_PresentPreset, kAudioUnitScope_Global,
                             0, &present, &size) == 0 &&
        present.presetName) {
        name = toString(present.presetName);
        CFRelease(present.presetName);
    }
    std::fputs(fmt::format("{} ({}) took preset {} (\"{}\")\n{}", ref.name, codesText(ref.desc),
                           path, name, parameterListing(unit.get(), params))
                   .c_str(),
               stdout);
    return 0;
}

int show(const Words& words) {
    const Args args("preset show", words, {}, 1);
    const std::string& path = fileArgument(args, "show");
    CFRef<CFPropertyListRef> document = readPresetFile(path);
    std::fputs(fmt::format("{}\n{}", path, describePreset(document.get())).c_str(), stdout);
    return 0;
}

} // namespace

int runPreset(const Words& words) {
    if (words.empty())
        throw UsageError("'vxhost preset' needs save, load or show (see 'vxhost help preset')");
    const std::string action = words[0];
    const Words rest(words.begin() + 1, words.end());
    if (action == "save")
        return save(rest);
    if (action == "load")
        return load(rest);
    if (action == "show")
        return show(rest);
    throw UsageError(fmt::format("unknown preset action '{}' (save, load or show)", action));
}

} // namespace vxhost
