#include "Lv2Bundle.h"

#include <fmt/format.h>

#include <sstream>

namespace vxhost {

namespace {

std::string percentEncoded(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' || c == '~';
        out += plain ? std::string(1, static_cast<char>(c)) : fmt::format("%{:02X}", c);
    }
    return out;
}

std::string fourCCBytes(OSType code) {
    std::string s;
    for (int shift = 24; shift >= 0; shift -= 8)
        s += static_cast<char>((code >> shift) & 0xFF);
    return s;
}

} // namespace

std::string formatLv2BundleData(const Lv2BundleData& data) {
    std::string text = "# Written by vxhost export-lv2 and read by the bridge library.\n";
    text += "component " + data.codes + "\n";
    if (!data.componentPath.empty())
        text += "path " + data.componentPath + "\n";
    text += "parameters";
    for (AudioUnitParameterID id : data.parameters)
        text += fmt::format(" {}", id);
    text += "\n";
    for (const Lv2Variant& v : data.variants)
        text += fmt::format("plugin {} {} {}\n", v.inputs, v.outputs, v.uri);
    return text;
}

std::optional<Lv2BundleData> parseLv2BundleData(const std::string& text) {
    Lv2BundleData data;
    bool sawParameters = false;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        const size_t space = line.find(' ');
        const std::string key = line.substr(0, space);
        const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
        std::istringstream words(rest);
        if (key == "component") {
            data.codes = rest;
        } else if (key == "path") {
            data.componentPath = rest;
        } else if (key == "parameters") {
            sawParameters = true;
            long long id = 0;
            while (words >> id) {
                if (id < 0 || id > 0xFFFFFFFFLL)
                    return std::nullopt;
                data.parameters.push_back(static_cast<AudioUnitParameterID>(id));
            }
            if (!words.eof())
                return std::nullopt;
        } else if (key == "plugin") {
            Lv2Variant v;
            if (!(words >> v.inputs >> v.outputs >> v.uri) || v.inputs < 1 || v.inputs > 8 ||
                v.outputs < 1 || v.outputs > 8)
                return std::nullopt;
            data.variants.push_back(v);
        } else {
            return std::nullopt;
        }
    }
    if (data.codes.empty() || !sawParameters || data.variants.empty())
        return std::nullopt;
    return data;
}

std::string lv2PluginUri(const AudioComponentDescription& desc, UInt32 inputs) {
    return fmt::format(
        "urn:vextra-audio:lv2-bridge:{}:{}:{}{}", percentEncoded(fourCCBytes(desc.componentType)),
        percentEncoded(fourCCBytes(desc.componentSubType)),
        percentEncoded(fourCCBytes(desc.componentManufacturer)), inputs == 1 ? "-mono" : "");
}

} // namespace vxhost
