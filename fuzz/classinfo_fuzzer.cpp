// ClassInfo documents handed to a fresh instance of the plug-in or of the
// framework's test unit, through either entry point, initialized or not:
// either an XML property list as read from an .aupreset file, or a
// dictionary built from the input that mostly looks like a real document.
// Whatever the document, the instance must answer with a status, keep
// working, save its state again and take that state back, and (with the
// reference engine) render finite audio.
#include "ComponentFuzz.h"

using componentfuzz::Instance;
using fuzzsupport::Input;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    componentfuzz::initialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    Instance instance(in);
    AudioUnit unit = instance.unit;
    const uint8_t mode = in.byte();
    const bool fromXml = mode & 1;
    const bool initialized = mode & 2;

    unithost::Rig rig;
    FUZZ_CHECK(unithost::setFormats(unit, 44100, 2) == 0);
    FUZZ_CHECK(rig.attach(unit) == 0);
    if (initialized)
        FUZZ_CHECK(AudioUnitInitialize(unit) == 0);

    CFPropertyListRef doc = nullptr;
    if (fromXml) {
        const std::string xml = in.rest();
        CFDataRef bytes = CFDataCreate(nullptr, reinterpret_cast<const UInt8*>(xml.data()),
                                       static_cast<CFIndex>(xml.size()));
        doc = CFPropertyListCreateWithData(nullptr, bytes, kCFPropertyListMutableContainers,
                                           nullptr, nullptr);
        CFRelease(bytes);
    } else {
        doc = componentfuzz::buildClassInfo(in, instance.component);
    }
    if (componentfuzz::namesHugeElementNumbers(doc)) {
        CFRelease(doc);
        return 0;
    }
    // A null document is a host mistake the unit must refuse, not follow.
    const OSStatus restored = AudioUnitSetProperty(unit, kAudioUnitProperty_ClassInfo,
                                                   kAudioUnitScope_Global, 0, &doc, sizeof doc);
    if (doc == nullptr)
        FUZZ_CHECK(restored != 0);
    if (doc)
        CFRelease(doc);

    // The instance keeps working: it saves, takes its own state back, and
    // renders.
    CFPropertyListRef saved = nullptr;
    UInt32 savedSize = sizeof saved;
    FUZZ_CHECK(AudioUnitGetProperty(unit, kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0,
                                    &saved, &savedSize) == 0);
    FUZZ_CHECK(saved != nullptr && CFGetTypeID(saved) == CFDictionaryGetTypeID());
    FUZZ_CHECK(AudioUnitSetProperty(unit, kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0,
                                    &saved, sizeof saved) == 0);
    CFRelease(saved);

    AUPreset preset{};
    UInt32 presetSize = sizeof preset;
    FUZZ_CHECK(AudioUnitGetProperty(unit, kAudioUnitProperty_PresentPreset, kAudioUnitScope_Global,
                                    0, &preset, &presetSize) == 0);
    if (preset.presetName)
        CFRelease(preset.presetName);

    if (!initialized)
        FUZZ_CHECK(AudioUnitInitialize(unit) == 0);
    for (int block = 0; block < 3; ++block) {
        FUZZ_CHECK(rig.render(unit, 512) == 0);
        if (instance.component == unithost::Component::Plugin)
            FUZZ_CHECK(rig.outputFinite(512));
    }
    return 0;
}
