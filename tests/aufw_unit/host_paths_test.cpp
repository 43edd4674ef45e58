// The test unit opened both ways through the host runtime. Bad input: every
// property ID from 0 to 70, the private ones and a few unknown ones, on
// every scope and on elements that exist and do not, asked for and set with
// missing, short, exact and long buffers, uninitialized and initialized;
// every request answers a status, never writes past the caller's buffer,
// and answers the same on both paths. Then a Component Manager instance's
// fast-dispatch procedures end to end.

#include "host_support.h"

#include <AudioUnit/AudioUnitProperties.h>
#include <CoreServices/CoreServices.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

using namespace hosttest;
using namespace testunit;

namespace {

constexpr AudioUnitScope kGlob = kAudioUnitScope_Global;
constexpr unsigned char kFill = 0xCD;
constexpr size_t kGuard = 32;

std::vector<AudioUnitPropertyID> propertyIDs() {
    std::vector<AudioUnitPropertyID> ids;
    for (AudioUnitPropertyID id = 0; id <= 70; ++id) {
        ids.push_back(id);
    }
    for (AudioUnitPropertyID id : {0x6C727374u /* 'lrst' */, kRaiseProperty, kEchoProperty,
                                   0x10000u, 0x1E3638DAu, 1000u, 0xFFFFFFFFu}) {
        ids.push_back(id);
    }
    return ids;
}

const AudioUnitScope kScopes[] = {0, 1, 2, 3, 4, 9, 0xFFFFFFFF};
const AudioUnitElement kElements[] = {0, 1, 0xFFFFFFFF};

// Values that hold references (handed out retained, or differing between
// instances): their bytes are not compared, only their sizes and statuses.
const std::set<AudioUnitPropertyID> kReferenceValues = {0, 4, 5, 16, 24, 25, 30, 34, 35, 36, 39};

// A whole read of these hands the caller a reference of its own.
void releaseHandedOut(AudioUnitPropertyID id, const unsigned char* value, UInt32 size) {
    size_t offset = 0;
    switch (id) {
    case kAudioUnitProperty_ClassInfo:
    case kAudioUnitProperty_ParameterValueStrings:
    case kAudioUnitProperty_FactoryPresets:
    case kAudioUnitProperty_ContextName:
    case kAudioUnitProperty_ElementName:
    case kAudioUnitProperty_IconLocation:
        offset = 0;
        break;
    case kAudioUnitProperty_PresentPreset:
        offset = offsetof(AUPreset, presetName);
        break;
    case kAudioUnitProperty_ParameterIDName:
    case kAudioUnitProperty_ParameterClumpName:
        offset = offsetof(AudioUnitParameterNameInfo, outName);
        break;
    default:
        return;
    }
    if (size < offset + sizeof(void*)) {
        return;
    }
    CFTypeRef object = nullptr;
    std::memcpy(&object, value + offset, sizeof object);
    if (object != nullptr) {
        CFRelease(object);
    }
}

// One answer of the sweep, in the order the requests were made.
struct Answer {
    std::string request;
    OSStatus status;
    UInt32 size;
    std::vector<unsigned char> bytes;
};

class Sweep {
public:
    explicit Sweep(AudioUnit unit) : mUnit(unit) {}

    void run() {
        for (AudioUnitPropertyID id : propertyIDs()) {
            for (AudioUnitScope scope : kScopes) {
                for (AudioUnitElement element : kElements) {
                    one(id, scope, element);
                }
            }
        }
    }
    const std::vector<Answer>& answers() const { return mAnswers; }
    int successfulReads() const { return mReads; }
    int successfulWrites() const { return mWrites; }

private:
    static std::string name(const char* what, AudioUnitPropertyID id, AudioUnitScope scope,
                            AudioUnitElement element, UInt32 size) {
        return std::string(what) + " id " + std::to_string(id) + " scope " + std::to_string(scope) +
               " element " + std::to_string(element) + " size " + std::to_string(size);
    }

    void one(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element) {
        // Information, with and without somewhere to put it.
        const OSStatus bare = AudioUnitGetPropertyInfo(mUnit, id, scope, element, nullptr, nullptr);
        UInt32 infoSize = 0xBADBAD;
        Boolean writable = 7;
        const OSStatus info =
            AudioUnitGetPropertyInfo(mUnit, id, scope, element, &infoSize, &writable);
        EXPECT_EQ(bare, info) << name("info", id, scope, element, 0);
        mAnswers.push_back({name("info", id, scope, element, 0),
                            info,
                            info == 0 ? infoSize : 0,
                            {static_cast<unsigned char>(info == 0 ? writable : 0)}});

        // The size alone.
        UInt32 asked = 0xBADBAD;
        const OSStatus sizeOnly = AudioUnitGetProperty(mUnit, id, scope, element, nullptr, &asked);
        EXPECT_EQ(sizeOnly, info) << name("size", id, scope, element, 0);
        if (sizeOnly == 0) {
            EXPECT_EQ(asked, infoSize) << name("size", id, scope, element, 0);
        }
        mAnswers.push_back(
            {name("size", id, scope, element, 0), sizeOnly, sizeOnly == 0 ? asked : 0, {}});

        std::vector<UInt32> sizes;
        if (info == 0 && infoSize > 0 && infoSize < 4096) {
            sizes = {1, infoSize - 1, infoSize, infoSize + 13};
        } else {
            sizes = {1, 4, 8, 64};
        }
        sizes.erase(std::remove(sizes.begin(), sizes.end(), 0u), sizes.end());
        for (UInt32 size : sizes) {
            read(id, scope, element, size, info == 0, infoSize);
        }
        for (UInt32 size : sizes) {
            write(id, scope, element, size);
        }
        // Missing data with a size, and data without one, never reach the unit.
        const unsigned char some[8] = {};
        EXPECT_EQ(AudioUnitSetProperty(mUnit, id, scope, element, nullptr, 4), kAudio_ParamError);
        EXPECT_EQ(AudioUnitSetProperty(mUnit, id, scope, element, some, 0), kAudio_ParamError);
        // Removal.
        mAnswers.push_back({name("remove", id, scope, element, 0),
                            AudioUnitSetProperty(mUnit, id, scope, element, nullptr, 0),
                            0,
                            {}});
    }

    void read(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element, UInt32 size,
              bool known, UInt32 propertySize) {
        const std::string what = name("get", id, scope, element, size);
        std::vector<unsigned char> storage(size + kGuard + 16, kFill);
        // Property values are read through typed pointers: hand out memory
        // aligned as a host's would be.
        const size_t skew = (16 - reinterpret_cast<uintptr_t>(storage.data()) % 16) % 16;
        unsigned char* buffer = storage.data() + skew;
        UInt32 io = size;
        const OSStatus status = AudioUnitGetProperty(mUnit, id, scope, element, buffer, &io);
        for (size_t i = size; i < size + kGuard; ++i) {
            ASSERT_EQ(buffer[i], kFill) << what << ": written past the buffer at " << i;
        }
        Answer a{what, status, io, {}};
        if (status == 0) {
            ++mReads;
            ASSERT_TRUE(known) << what << ": read although its information failed";
            if (size < propertySize) {
                EXPECT_EQ(io, size) << what << ": a short buffer keeps its size";
            } else {
                EXPECT_EQ(io, propertySize) << what;
                releaseHandedOut(id, buffer, io);
            }
            if (kReferenceValues.count(id) == 0) {
                a.bytes.assign(buffer, buffer + io);
            }
        } else {
            EXPECT_TRUE(io == 0 || io == size) << what << ": size " << io;
        }
        mAnswers.push_back(std::move(a));
    }

    void write(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
               UInt32 size) {
        // Zero-filled: null references and procedures, zero counts.
        std::vector<unsigned char> storage(size + 16, 0);
        const size_t skew = (16 - reinterpret_cast<uintptr_t>(storage.data()) % 16) % 16;
        const OSStatus status =
            AudioUnitSetProperty(mUnit, id, scope, element, storage.data() + skew, size);
        if (status == 0) {
            ++mWrites;
        }
        mAnswers.push_back({name("set", id, scope, element, size), status, 0, {}});
    }

    AudioUnit mUnit;
    std::vector<Answer> mAnswers;
    int mReads = 0;
    int mWrites = 0;
};

std::vector<Answer> sweep(Path path, bool initialized, int* reads = nullptr) {
    AudioUnit unit = openUnit(path);
    if (unit == nullptr) {
        return {};
    }
    if (initialized) {
        EXPECT_EQ(AudioUnitInitialize(unit), 0);
    }
    Sweep s(unit);
    s.run();
    if (reads != nullptr) {
        *reads = s.successfulReads();
    }
    EXPECT_GT(s.successfulWrites(), 0);
    EXPECT_EQ(closeUnit(unit), 0);
    return s.answers();
}

// Only Component Manager instances hand out fast-dispatch procedures, so
// those requests (and the buffer sizes derived from their answers) differ.
bool fastDispatchRequest(const std::string& request) {
    return request.find(" id 5 scope 0 ") != std::string::npos;
}

void compare(const std::vector<Answer>& factory, const std::vector<Answer>& manager) {
    const auto kept = [](const std::vector<Answer>& all) {
        std::vector<const Answer*> out;
        for (const Answer& a : all) {
            if (!fastDispatchRequest(a.request)) {
                out.push_back(&a);
            }
        }
        return out;
    };
    const std::vector<const Answer*> f = kept(factory), m = kept(manager);
    ASSERT_EQ(f.size(), m.size());
    int differences = 0;
    for (size_t i = 0; i < f.size() && differences < 20; ++i) {
        ASSERT_EQ(f[i]->request, m[i]->request);
        if (f[i]->status != m[i]->status || f[i]->size != m[i]->size ||
            f[i]->bytes != m[i]->bytes) {
            ++differences;
            ADD_FAILURE() << f[i]->request << ": factory " << f[i]->status << "/" << f[i]->size
                          << ", manager " << m[i]->status << "/" << m[i]->size;
        }
    }
}

} // namespace

TEST(HostPaths, EveryPropertyRequestAnswersAndBothPathsAgree) {
    for (bool initialized : {false, true}) {
        SCOPED_TRACE(initialized ? "initialized" : "uninitialized");
        int reads = 0;
        const std::vector<Answer> factory = sweep(Path::Factory, initialized, &reads);
        const std::vector<Answer> manager = sweep(Path::Manager, initialized);
        ASSERT_FALSE(factory.empty());
        // The sweep reached real values, not only refusals.
        EXPECT_GT(reads, 100);
        compare(factory, manager);
        EXPECT_EQ(unitLog().live, 0);
    }
}

TEST(HostPaths, OnlyManagerInstancesHandOutFastDispatchThatRenders) {
    AudioUnit unit = openUnit(Path::Manager);
    ASSERT_NE(unit, nullptr);
    Handle storage = GetComponentInstanceStorage(unit);
    ASSERT_NE(storage, nullptr);
    AudioUnitRenderProc render = nullptr;
    ASSERT_EQ(
        getProperty(unit, kAudioUnitProperty_FastDispatch, kGlob, kAudioUnitRenderSelect, render),
        0);
    AudioUnitSetParameterProc setParam = nullptr;
    ASSERT_EQ(getProperty(unit, kAudioUnitProperty_FastDispatch, kGlob,
                          kAudioUnitSetParameterSelect, setParam),
              0);
    ASSERT_NE(render, nullptr);
    ASSERT_NE(setParam, nullptr);
    InputSource source;
    prepareToRender(unit, source);
    EXPECT_EQ(setParam(storage, kParamGain, kGlob, 0, 2.0f, 0), 0);
    StereoBuffers out(32);
    const AudioTimeStamp ts = timeStamp(0);
    ASSERT_EQ(render(storage, nullptr, &ts, 0, 32, out.list()), 0);
    EXPECT_FLOAT_EQ(out.channel(0)[31], InputSource::sample(0, 31, 0) * 2.0f);
    EXPECT_EQ(closeUnit(unit), 0);

    unit = openUnit(Path::Factory);
    ASSERT_NE(unit, nullptr);
    EXPECT_EQ(
        getProperty(unit, kAudioUnitProperty_FastDispatch, kGlob, kAudioUnitRenderSelect, render),
        kAudioUnitErr_InvalidProperty);
    EXPECT_EQ(closeUnit(unit), 0);
}
