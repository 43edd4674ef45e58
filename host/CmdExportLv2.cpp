// vxhost export-lv2: describes an installed component as an LV2 bundle whose
// binary is the bridge library.
#include "Args.h"
#include "CFUtil.h"
#include "Commands.h"
#include "Component.h"
#include "HostError.h"
#include "Lv2Bundle.h"
#include "Lv2Turtle.h"
#include "Parameters.h"
#include "Renderer.h"

#include <fmt/format.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace vxhost {

namespace {

constexpr const char* kBridgeFile = "vx-lv2-bridge.so";

// The bridge is built beside vxhost: bin/vxhost and lib/vx-lv2-bridge.so.
fs::path bridgeLibrary() {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    const fs::path bridge = self.parent_path().parent_path() / "lib" / kBridgeFile;
    if (ec || !fs::is_regular_file(bridge, ec))
        throw HostError(fmt::format("the bridge library is missing: {} was not found (build the "
                                    "vx-lv2-bridge target)",
                                    bridge.string()));
    return bridge;
}

// Written beside the old file and renamed over it, so a host that has the
// bundle open never reads half a file.
void writeFile(const fs::path& path, const std::string& text) {
    const fs::path temporary = path.string() + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        out.close();
        if (!out)
            throw HostError(fmt::format("cannot write {}", temporary.string()));
    }
    std::error_code ec;
    fs::rename(temporary, path, ec);
    if (ec)
        throw HostError(fmt::format("cannot write {}: {}", path.string(), ec.message()));
}

void copyFile(const fs::path& from, const fs::path& to) {
    const fs::path temporary = to.string() + ".tmp";
    std::error_code ec;
    fs::copy_file(from, temporary, fs::copy_options::overwrite_existing, ec);
    if (!ec)
        fs::rename(temporary, to, ec);
    if (ec)
        throw HostError(fmt::format("cannot copy the bridge to {}: {}", to.string(), ec.message()));
}

void prepareFolder(const fs::path& out) {
    std::error_code ec;
    if (fs::exists(out, ec)) {
        if (!fs::is_directory(out, ec))
            throw HostError(fmt::format("--out {} is not a folder", out.string()));
        // Only an earlier export is replaced; anything else stays untouched.
        if (!fs::is_empty(out, ec) && !fs::exists(out / kLv2BundleDataFile, ec))
            throw HostError(fmt::format("--out {} holds other files; name an empty or new folder, "
                                        "or one an earlier export wrote",
                                        out.string()));
        return;
    }
    fs::create_directories(out, ec);
    if (ec)
        throw HostError(fmt::format("cannot make {}: {}", out.string(), ec.message()));
}

std::vector<Lv2Variant> variantsOf(AudioUnit unit, const AudioComponentDescription& desc) {
    const std::vector<AUChannelInfo> configs = channelConfigs(unit);
    std::vector<Lv2Variant> variants;
    if (channelsAllowed(configs, 2, 2))
        variants.push_back({lv2PluginUri(desc, 2), 2, 2});
    if (channelsAllowed(configs, 1, 2))
        variants.push_back({lv2PluginUri(desc, 1), 1, 2});
    else if (variants.empty() && channelsAllowed(configs, 1, 1))
        variants.push_back({lv2PluginUri(desc, 1), 1, 1});
    return variants;
}

} // namespace

int runExportLv2(const Words& words) {
    const Args args("export-lv2", words,
                    {{"--component", "", true, false}, {"--out", "", true, false}}, 0);
    const auto out = args.value("--out");
    if (!out || out->empty())
        throw UsageError("export-lv2 needs --out DIR, the bundle folder to write");
    const fs::path bridge = bridgeLibrary();
    const ComponentRef ref = resolveComponent(args.value("--component"));
    const Unit unit(ref, Entry::Factory);

    Lv2Description description;
    description.name = ref.name;
    description.version = ref.version;
    description.binary = kBridgeFile;
    for (ParamInfo& p : readParameters(unit.get()))
        if (p.flags & kAudioUnitParameterFlag_IsWritable)
            description.parameters.push_back(std::move(p));
    description.variants = variantsOf(unit.get(), ref.desc);
    if (description.variants.empty())
        throw HostError(fmt::format("{} takes neither stereo nor mono input, which an LV2 "
                                    "description needs",
                                    ref.name));

    Lv2BundleData data;
    data.codes = codesText(ref.desc);
    if (ref.registeredByHost)
        data.componentPath = fs::absolute(ref.bundlePath).string();
    for (const ParamInfo& p : description.parameters)
        data.parameters.push_back(p.id);
    data.variants = description.variants;

    const fs::path folder = fs::absolute(*out);
    prepareFolder(folder);
    writeFile(folder / "plugin.ttl", pluginTurtle(description));
    writeFile(folder / kLv2BundleDataFile, formatLv2BundleData(data));
    copyFile(bridge, folder / kBridgeFile);
    // The manifest last: until it is there, no host takes the folder for a bundle.
    writeFile(folder / "manifest.ttl", manifestTurtle(description, "plugin.ttl"));

    std::printf("exported %s (%s) to %s\n", ref.name.c_str(), data.codes.c_str(),
                folder.string().c_str());
    for (const Lv2Variant& v : data.variants)
        std::printf("  %s  %u in, %u out, %zu parameters\n", v.uri.c_str(), v.inputs, v.outputs,
                    data.parameters.size());
    return 0;
}

} // namespace vxhost
