// ClassInfo documents: taken from and given to a unit, stored as .aupreset
// XML property lists, and read back for display.
#pragma once

#include "CFUtil.h"

#include <AudioUnit/AudioUnit.h>

#include <string>
#include <utility>
#include <vector>

namespace vxhost {

struct ComponentRef;

// The unit's ClassInfo document, owned by the caller. Throws on refusal.
CFRef<CFPropertyListRef> copyClassInfo(AudioUnit unit);
// Gives the document to the unit. Throws on refusal.
void restoreClassInfo(AudioUnit unit, CFPropertyListRef document);

// Throws HostError for a missing file or one that holds no dictionary.
CFRef<CFPropertyListRef> readPresetFile(const std::string& path);
// Writes the XML property list under a temporary name, then renames it.
void writePresetFile(const std::string& path, CFPropertyListRef document);
// The XML bytes of a document, as they would be written.
std::vector<UInt8> presetBytes(CFPropertyListRef document);

// Throws HostError unless the document's subtype and manufacturer are the
// component's.
void checkPresetFor(CFPropertyListRef document, const ComponentRef& component,
                    const std::string& path);

struct ParameterRecord {
    UInt32 scope = 0;
    UInt32 element = 0;
    std::vector<std::pair<UInt32, Float32>> values;
};
// The records of the "data" entry; stops at the first record that does not fit.
std::vector<ParameterRecord> decodeParameterData(CFDataRef data, bool* complete);

// A readable listing of a document: name, codes, parameter values and the
// other entries with their types and sizes.
std::string describePreset(CFPropertyListRef document);

} // namespace vxhost
