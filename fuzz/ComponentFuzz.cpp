#include "ComponentFuzz.h"

#include <string>
#include <vector>

namespace componentfuzz {

using fuzzsupport::Input;

namespace {

CFStringRef makeString(const std::string& bytes) {
    CFStringRef s =
        CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8*>(bytes.data()),
                                static_cast<CFIndex>(bytes.size()), kCFStringEncodingUTF8, false);
    if (s == nullptr) // not UTF-8: every byte string is Latin-1
        s = CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8*>(bytes.data()),
                                    static_cast<CFIndex>(bytes.size()), kCFStringEncodingISOLatin1,
                                    false);
    FUZZ_CHECK(s != nullptr);
    return s;
}

CFNumberRef makeSInt32(SInt32 v) {
    return CFNumberCreate(nullptr, kCFNumberSInt32Type, &v);
}

void setAndRelease(CFMutableDictionaryRef dict, const char* key, CFTypeRef value) {
    CFStringRef k = CFStringCreateWithCString(nullptr, key, kCFStringEncodingUTF8);
    CFDictionarySetValue(dict, k, value);
    CFRelease(k);
    CFRelease(value);
}

void appendBE32(CFMutableDataRef data, UInt32 v) {
    const UInt8 b[4] = {static_cast<UInt8>(v >> 24), static_cast<UInt8>(v >> 16),
                        static_cast<UInt8>(v >> 8), static_cast<UInt8>(v)};
    CFDataAppendBytes(data, b, 4);
}

// Parameter records: mostly well formed, with scopes and elements the unit
// has, parameter ids near the real ones and any float bit pattern.
CFDataRef buildParameterData(Input& in) {
    CFMutableDataRef data = CFDataCreateMutable(nullptr, 0);
    const uint32_t records = in.below(4);
    for (uint32_t r = 0; r < records; ++r) {
        const uint8_t shape = in.byte();
        appendBE32(data, shape & 0x80 ? in.u32() : shape % 5);             // scope
        appendBE32(data, shape & 0x40 ? in.u32() : (shape >> 3) % 3);      // element
        const uint32_t count = shape & 0x20 ? in.u32() % 64 : in.below(8); // declared
        appendBE32(data, count);
        const uint32_t present = shape & 0x04 ? in.below(count + 2) : count;
        for (uint32_t i = 0; i < present; ++i) {
            appendBE32(data, in.flag() ? in.u32() : in.below(8));
            appendBE32(data, in.u32());
        }
    }
    if (in.byte() == 0x42) { // a stray tail
        const std::string tail = in.bytes(in.below(12));
        CFDataAppendBytes(data, reinterpret_cast<const UInt8*>(tail.data()),
                          static_cast<CFIndex>(tail.size()));
    }
    return data;
}

CFDictionaryRef buildElementNames(Input& in) {
    CFMutableDictionaryRef names = CFDictionaryCreateMutable(
        nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    const uint32_t scopes = in.below(4);
    for (uint32_t s = 0; s < scopes; ++s) {
        CFMutableDictionaryRef scope = CFDictionaryCreateMutable(
            nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
        const uint32_t elements = in.below(4);
        for (uint32_t e = 0; e < elements; ++e) {
            const uint8_t how = in.byte();
            std::string key = how & 1 ? in.bytes(in.below(40)) : std::to_string(in.below(8));
            CFStringRef k = makeString(key);
            CFTypeRef v = how & 2 ? buildValue(in, 0) : makeString(in.bytes(in.below(24)));
            CFDictionarySetValue(scope, k, v);
            CFRelease(k);
            CFRelease(v);
        }
        const std::string scopeKey =
            in.flag() ? in.bytes(in.below(12)) : std::to_string(in.below(5));
        CFStringRef k = makeString(scopeKey);
        if (in.byte() == 0x99) {
            CFTypeRef odd = buildValue(in, 1);
            CFDictionarySetValue(names, k, odd);
            CFRelease(odd);
        } else {
            CFDictionarySetValue(names, k, scope);
        }
        CFRelease(k);
        CFRelease(scope);
    }
    return names;
}

} // namespace

Instance::Instance(Input& in) {
    const uint8_t pick = in.byte();
    component = pick & 1 ? unithost::Component::Plugin : unithost::Component::TestUnit;
    entry = pick & 2 ? unithost::Entry::ComponentManager : unithost::Entry::Factory;
    OSStatus status = 0;
    unit = unithost::open(component, entry, &status);
    if (unit == nullptr) {
        std::fprintf(stderr, "open %s through %s: %d\n", unithost::componentName(component),
                     unithost::entryName(entry), static_cast<int>(status));
        FUZZ_CHECK(unit != nullptr);
    }
}

Instance::~Instance() {
    FUZZ_CHECK(unithost::close(unit) == 0);
}

void initialize() {
    // libFuzzer keeps reading the coverage counters of every module it has
    // seen, so none may be unloaded when an instance closes.
    unithost::pinModules();
}

CFTypeRef buildValue(Input& in, int depth) {
    const uint32_t kind = in.below(depth > 0 ? 9 : 7);
    switch (kind) {
    case 0:
        return makeSInt32(static_cast<SInt32>(in.u32()));
    case 1: {
        const float f = in.f32();
        return CFNumberCreate(nullptr, kCFNumberFloatType, &f);
    }
    case 2: {
        const SInt64 v = static_cast<SInt64>(in.u32()) << in.below(40);
        return CFNumberCreate(nullptr, kCFNumberSInt64Type, &v);
    }
    case 3: {
        const std::string bytes = in.bytes(in.below(64));
        return CFDataCreate(nullptr, reinterpret_cast<const UInt8*>(bytes.data()),
                            static_cast<CFIndex>(bytes.size()));
    }
    case 4:
        return makeString(in.bytes(in.below(32)));
    case 5:
        return CFRetain(in.flag() ? kCFBooleanTrue : kCFBooleanFalse);
    case 6: {
        const double d = static_cast<double>(in.f32()) * 1e10;
        return CFNumberCreate(nullptr, kCFNumberFloat64Type, &d);
    }
    case 7: {
        CFMutableArrayRef array = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
        const uint32_t n = in.below(4);
        for (uint32_t i = 0; i < n; ++i) {
            CFTypeRef v = buildValue(in, depth - 1);
            CFArrayAppendValue(array, v);
            CFRelease(v);
        }
        return array;
    }
    default: {
        CFMutableDictionaryRef dict = CFDictionaryCreateMutable(
            nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
        const uint32_t n = in.below(4);
        for (uint32_t i = 0; i < n; ++i) {
            CFStringRef k = makeString(in.bytes(in.below(16)));
            CFTypeRef v = buildValue(in, depth - 1);
            CFDictionarySetValue(dict, k, v);
            CFRelease(k);
            CFRelease(v);
        }
        return dict;
    }
    }
}

CFMutableDictionaryRef buildClassInfo(Input& in, unithost::Component component) {
    const bool plugin = component == unithost::Component::Plugin;
    const SInt32 subtype = plugin ? 0x446C6179 : 0x56785455;
    const SInt32 manufacturer = plugin ? 0x56787461 : 0x56785473;
    CFMutableDictionaryRef doc = CFDictionaryCreateMutable(
        nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);

    // Which keys appear, and whether each holds the expected kind of value.
    const uint16_t present = in.u16();
    const uint16_t odd = in.u16();
    auto numberOr = [&](int bit, SInt32 usual) -> CFTypeRef {
        if (odd & (1 << bit))
            return buildValue(in, 1);
        return makeSInt32(in.byte() == 0x77 ? static_cast<SInt32>(in.u32()) : usual);
    };
    if (!(present & 0x001))
        setAndRelease(doc, "version", numberOr(0, 0));
    if (!(present & 0x002))
        setAndRelease(doc, "type", numberOr(1, 0x61756678));
    if (!(present & 0x004))
        setAndRelease(doc, "subtype", numberOr(2, subtype));
    if (!(present & 0x008))
        setAndRelease(doc, "manufacturer", numberOr(3, manufacturer));
    if (!(present & 0x010))
        setAndRelease(doc, "data", odd & 0x10 ? buildValue(in, 1) : buildParameterData(in));
    if (!(present & 0x020))
        setAndRelease(doc, "name",
                      odd & 0x20 ? buildValue(in, 1) : makeString(in.bytes(in.below(40))));
    if (present & 0x040)
        setAndRelease(doc, "render-quality",
                      odd & 0x40 ? buildValue(in, 1) : makeSInt32(static_cast<SInt32>(in.u32())));
    if (present & 0x080) {
        const float load = in.f32();
        setAndRelease(doc, "cpu-load",
                      odd & 0x80 ? buildValue(in, 1)
                                 : CFNumberCreate(nullptr, kCFNumberFloatType, &load));
    }
    if (present & 0x100)
        setAndRelease(doc, "element-name", odd & 0x100 ? buildValue(in, 1) : buildElementNames(in));
    if (present & 0x200)
        setAndRelease(doc, "part", buildValue(in, 0));
    if (!(present & 0x400)) {
        // The plug-in's engine block: mostly a real-looking block size.
        const std::string block = in.bytes(in.flag() ? in.below(64) : in.below(4096));
        CFTypeRef value = odd & 0x400
                              ? buildValue(in, 1)
                              : CFDataCreate(nullptr, reinterpret_cast<const UInt8*>(block.data()),
                                             static_cast<CFIndex>(block.size()));
        setAndRelease(doc, "Ambrel-Preset-Data-Key", value);
    }
    // A few keys of no meaning.
    const uint32_t extra = in.below(3);
    for (uint32_t i = 0; i < extra; ++i) {
        CFStringRef k = makeString(in.bytes(in.below(20)));
        CFTypeRef v = buildValue(in, 1);
        CFDictionarySetValue(doc, k, v);
        CFRelease(k);
        CFRelease(v);
    }
    return doc;
}

namespace {

// The unit reads a key as an element number when it is all decimal digits,
// at most 31 of them, below 2^32 - 1.
bool isHugeElementKey(const void* key) {
    constexpr unsigned long long kPlenty = 4096;
    if (key == nullptr || CFGetTypeID(key) != CFStringGetTypeID())
        return false;
    char text[32];
    if (!CFStringGetCString(static_cast<CFStringRef>(key), text, sizeof text,
                            kCFStringEncodingASCII) ||
        text[0] == '\0')
        return false;
    unsigned long long value = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        value = value * 10 + static_cast<unsigned long long>(*p - '0');
        if (value >= 0xFFFFFFFFULL)
            return false;
    }
    return value > kPlenty;
}

} // namespace

bool namesHugeElementNumbers(CFPropertyListRef doc) {
    if (doc == nullptr || CFGetTypeID(doc) != CFDictionaryGetTypeID())
        return false;
    const void* names =
        CFDictionaryGetValue(static_cast<CFDictionaryRef>(doc), CFSTR("element-name"));
    if (names == nullptr || CFGetTypeID(names) != CFDictionaryGetTypeID())
        return false;
    const auto namesDict = static_cast<CFDictionaryRef>(names);
    std::vector<const void*> scopes(static_cast<size_t>(CFDictionaryGetCount(namesDict)));
    CFDictionaryGetKeysAndValues(namesDict, nullptr, scopes.data());
    for (const void* scope : scopes) {
        if (scope == nullptr || CFGetTypeID(scope) != CFDictionaryGetTypeID())
            continue;
        const auto scopeDict = static_cast<CFDictionaryRef>(scope);
        std::vector<const void*> keys(static_cast<size_t>(CFDictionaryGetCount(scopeDict)));
        CFDictionaryGetKeysAndValues(scopeDict, keys.data(), nullptr);
        for (const void* key : keys)
            if (isHugeElementKey(key))
                return true;
    }
    return false;
}

} // namespace componentfuzz
