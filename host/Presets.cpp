#include "Presets.h"

#include "Component.h"
#include "HostError.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <unistd.h>

namespace fs = std::filesystem;

namespace vxhost {

namespace {

UInt32 bigEndian32(const UInt8* p) {
    return (UInt32{p[0]} << 24) | (UInt32{p[1]} << 16) | (UInt32{p[2]} << 8) | UInt32{p[3]};
}

CFDictionaryRef asDictionary(CFPropertyListRef document) {
    if (!document || CFGetTypeID(document) != CFDictionaryGetTypeID())
        return nullptr;
    return static_cast<CFDictionaryRef>(document);
}

std::string typeName(CFTypeRef value) {
    const CFTypeID t = CFGetTypeID(value);
    if (t == CFStringGetTypeID())
        return "string";
    if (t == CFNumberGetTypeID())
        return "number";
    if (t == CFDataGetTypeID())
        return "data";
    if (t == CFDictionaryGetTypeID())
        return "dictionary";
    if (t == CFArrayGetTypeID())
        return "array";
    if (t == CFBooleanGetTypeID())
        return "boolean";
    return "value";
}

} // namespace

CFRef<CFPropertyListRef> copyClassInfo(AudioUnit unit) {
    CFPropertyListRef document = nullptr;
    UInt32 size = sizeof document;
    check(AudioUnitGetProperty(unit, kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0,
                               &document, &size),
          "the unit refused to hand out its state (ClassInfo)");
    if (!document)
        throw HostError("the unit handed out an empty state (ClassInfo)");
    return CFRef<CFPropertyListRef>(document);
}

void restoreClassInfo(AudioUnit unit, CFPropertyListRef document) {
    check(AudioUnitSetProperty(unit, kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0,
                               &document, sizeof document),
          "the unit refused the preset");
}

CFRef<CFPropertyListRef> readPresetFile(const std::string& path) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec))
        throw HostError(fmt::format("preset file '{}' does not exist", path));
    std::ifstream in(path, std::ios::binary);
    std::vector<UInt8> bytes((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof())
        throw HostError(fmt::format("cannot read preset file '{}'", path));
    CFRef<CFDataRef> data(
        CFDataCreate(kCFAllocatorDefault, bytes.data(), static_cast<CFIndex>(bytes.size())));
    CFRef<CFPropertyListRef> document(CFPropertyListCreateWithData(
        kCFAllocatorDefault, data.get(), kCFPropertyListImmutable, nullptr, nullptr));
    if (!document || !asDictionary(document.get()))
        throw HostError(
            fmt::format("'{}' is not a preset (no XML property-list dictionary)", path));
    return document;
}

std::vector<UInt8> presetBytes(CFPropertyListRef document) {
    CFErrorRef error = nullptr;
    CFRef<CFDataRef> data(CFPropertyListCreateData(kCFAllocatorDefault, document,
                                                   kCFPropertyListXMLFormat_v1_0, 0, &error));
    if (!data) {
        // The writer says which value the format cannot carry (a preset name
        // with a control character, say); nothing is written.
        std::string reason = "no reason given";
        if (error != nullptr) {
            CFRef<CFDictionaryRef> info(CFErrorCopyUserInfo(error));
            const void* text =
                info ? CFDictionaryGetValue(info.get(), kCFErrorDescriptionKey) : nullptr;
            if (text != nullptr && CFGetTypeID(text) == CFStringGetTypeID())
                reason = toString(static_cast<CFStringRef>(text));
            CFRelease(error);
        }
        throw HostError("the unit's state cannot be written as a property list: " + reason);
    }
    const UInt8* p = CFDataGetBytePtr(data.get());
    return std::vector<UInt8>(p, p + CFDataGetLength(data.get()));
}

void writePresetFile(const std::string& path, CFPropertyListRef document) {
    const std::vector<UInt8> bytes = presetBytes(document);
    const fs::path target(path);
    std::error_code ec;
    if (!target.parent_path().empty() && !fs::is_directory(target.parent_path(), ec))
        throw UsageError(fmt::format("the folder of the preset '{}' does not exist", path));
    const std::string temporary =
        (target.parent_path() /
         fmt::format(".{}.vxhost-{}.tmp", target.filename().string(), static_cast<long>(getpid())))
            .string();
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            std::remove(temporary.c_str());
            throw HostError(fmt::format("cannot write the preset '{}'", path));
        }
    }
    fs::rename(temporary, target, ec);
    if (ec) {
        std::remove(temporary.c_str());
        throw HostError(fmt::format("cannot name the preset '{}': {}", path, ec.message()));
    }
}

void checkPresetFor(CFPropertyListRef document, const ComponentRef& component,
                    const std::string& path) {
    CFDictionaryRef dict = asDictionary(document);
    const auto subtype = dictInteger(dict, "subtype");
    const auto manufacturer = dictInteger(dict, "manufacturer");
    if (!subtype || !manufacturer)
        throw HostError(
            fmt::format("'{}' is not an Audio Unit preset (no subtype or manufacturer)", path));
    const auto type = dictInteger(dict, "type").value_or(0);
    const OSType s = static_cast<OSType>(*subtype);
    const OSType m = static_cast<OSType>(*manufacturer);
    if (s != component.desc.componentSubType || m != component.desc.componentManufacturer)
        throw HostError(fmt::format("preset '{}' belongs to another component ({}:{}:{}), not to "
                                    "{} ({})",
                                    path, fourCC(static_cast<OSType>(type)), fourCC(s), fourCC(m),
                                    component.name, codesText(component.desc)));
}

std::vector<ParameterRecord> decodeParameterData(CFDataRef data, bool* complete) {
    std::vector<ParameterRecord> records;
    if (complete)
        *complete = true;
    if (!data)
        return records;
    const UInt8* p = CFDataGetBytePtr(data);
    const size_t length = static_cast<size_t>(CFDataGetLength(data));
    size_t at = 0;
    while (at < length) {
        if (length - at < 12) {
            if (complete)
                *complete = false;
            break;
        }
        ParameterRecord r;
        r.scope = bigEndian32(p + at);
        r.element = bigEndian32(p + at + 4);
        const UInt32 count = bigEndian32(p + at + 8);
        at += 12;
        if (count > (length - at) / 8) {
            if (complete)
                *complete = false;
            break;
        }
        for (UInt32 i = 0; i < count; ++i, at += 8) {
            const UInt32 bits = bigEndian32(p + at + 4);
            Float32 value;
            std::memcpy(&value, &bits, sizeof value);
            r.values.emplace_back(bigEndian32(p + at), value);
        }
        records.push_back(std::move(r));
    }
    return records;
}

std::string describePreset(CFPropertyListRef document) {
    CFDictionaryRef dict = asDictionary(document);
    if (!dict)
        return "not a preset dictionary\n";
    std::string out;
    out += fmt::format("name:          {}\n", dictString(dict, "name").value_or("(none)"));
    out += fmt::format("component:     {}:{}:{}\n",
                       fourCC(static_cast<OSType>(dictInteger(dict, "type").value_or(0))),
                       fourCC(static_cast<OSType>(dictInteger(dict, "subtype").value_or(0))),
                       fourCC(static_cast<OSType>(dictInteger(dict, "manufacturer").value_or(0))));
    if (const auto version = dictInteger(dict, "version"))
        out += fmt::format("version:       {}\n", *version);
    bool complete = true;
    const auto records = decodeParameterData(dictData(dict, "data"), &complete);
    static const char* const scopes[] = {"global", "input", "output", "group"};
    for (const ParameterRecord& r : records) {
        out += fmt::format("parameters:    {} scope, element {}\n",
                           r.scope < 4 ? scopes[r.scope] : "scope", r.element);
        for (const auto& [id, value] : r.values)
            out += fmt::format("  {:>6}  {:.6g}\n", id, value);
    }
    if (!complete)
        out += "parameters:    (the data ends inside a record)\n";
    const CFIndex count = CFDictionaryGetCount(dict);
    std::vector<const void*> keys(static_cast<size_t>(count));
    std::vector<const void*> values(static_cast<size_t>(count));
    CFDictionaryGetKeysAndValues(dict, keys.data(), values.data());
    static const char* const known[] = {"name",         "type",    "subtype",
                                        "manufacturer", "version", "data"};
    for (CFIndex i = 0; i < count; ++i) {
        if (CFGetTypeID(keys[static_cast<size_t>(i)]) != CFStringGetTypeID())
            continue;
        const std::string key = toString(static_cast<CFStringRef>(keys[static_cast<size_t>(i)]));
        if (std::find(std::begin(known), std::end(known), key) != std::end(known))
            continue;
        CFTypeRef value = values[static_cast<size_t>(i)];
        if (CFGetTypeID(value) == CFDataGetTypeID())
            out += fmt::format("{}: data, {} bytes\n", key,
                               CFDataGetLength(static_cast<CFDataRef>(value)));
        else if (CFGetTypeID(value) == CFStringGetTypeID())
            out += fmt::format("{}: \"{}\"\n", key, toString(static_cast<CFStringRef>(value)));
        else if (CFGetTypeID(value) == CFNumberGetTypeID())
            out += fmt::format("{}: {}\n", key, dictInteger(dict, key.c_str()).value_or(0));
        else
            out += fmt::format("{}: {}\n", key, typeName(value));
    }
    return out;
}

} // namespace vxhost
