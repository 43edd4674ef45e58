// Preset documents: the engine's state block rides in the unit's ClassInfo
// document under its own key, byte for byte. (Files of them are the host
// tool's part.)
#include "PluginTestSupport.h"

#include <gtest/gtest.h>

#include <vector>

using namespace plugtest;

namespace {

const CFStringRef kEngineKey = CFSTR("Ambrel-Preset-Data-Key");

std::vector<uint8_t> bytesOf(CFDataRef data) {
    const UInt8* p = CFDataGetBytePtr(data);
    return std::vector<uint8_t>(p, p + CFDataGetLength(data));
}

class Presets : public ProbeUnit {
protected:
    static CFDictionaryRef save(AudioUnit u) {
        CFPropertyListRef document = nullptr;
        EXPECT_EQ(getProperty(u, kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, document),
                  noErr);
        EXPECT_NE(document, nullptr);
        EXPECT_EQ(CFGetTypeID(document), CFDictionaryGetTypeID());
        return static_cast<CFDictionaryRef>(document);
    }
    static OSStatus restore(AudioUnit u, CFPropertyListRef document) {
        return setProperty(u, kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, document);
    }
    static std::string presetName(AudioUnit u) {
        AUPreset preset{};
        EXPECT_EQ(
            getProperty(u, kAudioUnitProperty_PresentPreset, kAudioUnitScope_Global, 0, preset),
            noErr);
        char name[64] = {};
        if (preset.presetName) {
            CFStringGetCString(preset.presetName, name, sizeof name, kCFStringEncodingUTF8);
            CFRelease(preset.presetName);
        }
        return name;
    }
};

} // namespace

TEST_P(Presets, EngineGetsBackExactlyTheBytesItGave) {
    const std::vector<uint8_t> block = {0, 1, 0, 0, 0xFF, 0x80, 0x7F, 0, 42, 0};
    engine().stateBlock = block;

    CFDictionaryRef document = save(unit);
    ASSERT_NE(document, nullptr);
    const void* entry = CFDictionaryGetValue(document, kEngineKey);
    ASSERT_NE(entry, nullptr);
    ASSERT_EQ(CFGetTypeID(entry), CFDataGetTypeID());
    EXPECT_EQ(bytesOf(static_cast<CFDataRef>(entry)), block) << "no header, no padding";
    EXPECT_NE(CFDictionaryGetValue(document, CFSTR("version")), nullptr) << "the base's part";

    // Restored into another instance, which then saves the same document.
    engine().stateBlock = {9, 9};
    Unit other(GetParam());
    ASSERT_EQ(restore(other, document), noErr);
    EXPECT_EQ(engine().loadCalls, 1);
    EXPECT_EQ(engine().loadedBlock, block);
    engine().stateBlock = block;
    CFDictionaryRef again = save(other);
    EXPECT_TRUE(again && CFEqual(again, document));
    CFRelease(again);

    // An empty block travels as empty data.
    engine().stateBlock.clear();
    CFDictionaryRef empty = save(unit);
    ASSERT_NE(empty, nullptr);
    ASSERT_EQ(restore(unit, empty), noErr);
    EXPECT_TRUE(engine().loadedBlock.empty());
    EXPECT_EQ(engine().loadCalls, 2);
    CFRelease(empty);
    CFRelease(document);
}

TEST_P(Presets, DocumentWithoutTheEngineEntryIsRefusedAfterTheBaseAppliedItsPart) {
    CFDictionaryRef saved = save(unit);
    ASSERT_NE(saved, nullptr);
    CFMutableDictionaryRef document = CFDictionaryCreateMutableCopy(nullptr, 0, saved);
    CFRelease(saved);
    CFDictionaryRemoveValue(document, kEngineKey);
    CFDictionarySetValue(document, CFSTR("name"), CFSTR("Foreign"));

    EXPECT_EQ(restore(unit, document), kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(presetName(unit), "Foreign") << "the base's part stays in effect";
    EXPECT_EQ(engine().loadCalls, 0);

    // An entry that is not data is refused the same way.
    CFDictionarySetValue(document, kEngineKey, CFSTR("not data"));
    EXPECT_EQ(restore(unit, document), kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(engine().loadCalls, 0);

    // A document the base refuses never reaches the engine.
    CFDataRef emptyBlock = CFDataCreate(nullptr, nullptr, 0);
    CFDictionarySetValue(document, kEngineKey, emptyBlock);
    CFRelease(emptyBlock);
    const SInt32 one = 1;
    CFNumberRef version = CFNumberCreate(nullptr, kCFNumberSInt32Type, &one);
    CFDictionarySetValue(document, CFSTR("version"), version);
    CFRelease(version);
    EXPECT_EQ(restore(unit, document), kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(engine().loadCalls, 0);
    CFRelease(document);
}

VX_BOTH_ENTRIES(Presets);
