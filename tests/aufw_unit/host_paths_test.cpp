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

// What one request answered on one unit.
struct Answer {
    OSStatus status;
    UInt32 size;
    std::vector<unsigned char> bytes;
    bool operator==(const Answer& o) const {
        return status == o.status && size == o.size && bytes == o.bytes;
    }
};

// Sends every request to a unit opened each way, in the same order, and
// compares the answers as they come. Only Component Manager instances hand
// out fast-dispatch procedures, so those requests are not compared.
class Sweep {
public:
    explicit Sweep(bool initialized) {
        for (Path p : {Path::Factory, Path::Manager}) {
            mUnits.push_back(openUnit(p));
            if (mUnits.back() != nullptr && initialized) {
                EXPECT_EQ(AudioUnitInitialize(mUnits.back()), 0);
            }
        }
    }
    ~Sweep() {
        for (AudioUnit u : mUnits) {
            EXPECT_EQ(closeUnit(u), 0);
        }
    }
    bool opened() const { return mUnits[0] != nullptr && mUnits[1] != nullptr; }

    void run() {
        for (AudioUnitPropertyID id : propertyIDs()) {
            for (AudioUnitScope scope : kScopes) {
                for (AudioUnitElement element : kElements) {
                    one(id, scope, element);
                }
            }
        }
    }
    int reads = 0;
    int writes = 0;

private:
    void compare(const std::string& what, AudioUnitPropertyID id, AudioUnitScope scope,
                 const Answer (&answers)[2]) {
        if (!(id == kAudioUnitProperty_FastDispatch && scope == kGlob) && mDifferences < 20 &&
            !(answers[0] == answers[1])) {
            ++mDifferences;
            ADD_FAILURE() << what << ": factory " << answers[0].status << "/" << answers[0].size
                          << ", manager " << answers[1].status << "/" << answers[1].size;
        }
    }

    void one(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element) {
        const std::string where = " id " + std::to_string(id) + " scope " + std::to_string(scope) +
                                  " element " + std::to_string(element);
        // Information, with and without somewhere to put it, and the size alone.
        Answer infos[2], sizes[2];
        for (int u = 0; u < 2; ++u) {
            const OSStatus bare =
                AudioUnitGetPropertyInfo(mUnits[u], id, scope, element, nullptr, nullptr);
            UInt32 infoSize = 0xBADBAD;
            Boolean writable = 7;
            const OSStatus info =
                AudioUnitGetPropertyInfo(mUnits[u], id, scope, element, &infoSize, &writable);
            EXPECT_EQ(bare, info) << "info" << where;
            infos[u] = {info,
                        info == 0 ? infoSize : 0,
                        {static_cast<unsigned char>(info == 0 ? writable : 0)}};
            UInt32 asked = 0xBADBAD;
            const OSStatus sizeOnly =
                AudioUnitGetProperty(mUnits[u], id, scope, element, nullptr, &asked);
            EXPECT_EQ(sizeOnly, info) << "size" << where;
            sizes[u] = {sizeOnly, sizeOnly == 0 ? asked : 0, {}};
            if (sizeOnly == 0) {
                EXPECT_EQ(asked, infoSize) << "size" << where;
            }
        }
        compare("info" + where, id, scope, infos);
        compare("size" + where, id, scope, sizes);

        const bool known = infos[0].status == 0;
        const UInt32 propertySize = infos[0].size;
        std::vector<UInt32> bufferSizes = {1, 4, 8, 64};
        if (known && propertySize > 0 && propertySize < 4096) {
            bufferSizes = {1, propertySize - 1, propertySize, propertySize + 13};
        }
        bufferSizes.erase(std::remove(bufferSizes.begin(), bufferSizes.end(), 0u),
                          bufferSizes.end());
        for (UInt32 size : bufferSizes) {
            const std::string what = "get" + where + " size " + std::to_string(size);
            Answer answers[2];
            for (int u = 0; u < 2; ++u) {
                answers[u] = read(mUnits[u], id, scope, element, size, known, propertySize, what);
            }
            compare(what, id, scope, answers);
        }
        const unsigned char some[8] = {};
        for (UInt32 size : bufferSizes) {
            Answer answers[2];
            for (int u = 0; u < 2; ++u) {
                // Zero-filled: null references and procedures, zero counts.
                std::vector<unsigned char> storage(size + 16, 0);
                const OSStatus status = AudioUnitSetProperty(mUnits[u], id, scope, element,
                                                             aligned(storage.data()), size);
                writes += status == 0 ? 1 : 0;
                answers[u] = {status, 0, {}};
            }
            compare("set" + where + " size " + std::to_string(size), id, scope, answers);
        }
        Answer removals[2];
        for (int u = 0; u < 2; ++u) {
            // Missing data with a size, and data without one, never reach the unit.
            EXPECT_EQ(AudioUnitSetProperty(mUnits[u], id, scope, element, nullptr, 4),
                      kAudio_ParamError);
            EXPECT_EQ(AudioUnitSetProperty(mUnits[u], id, scope, element, some, 0),
                      kAudio_ParamError);
            removals[u] = {AudioUnitSetProperty(mUnits[u], id, scope, element, nullptr, 0), 0, {}};
        }
        compare("remove" + where, id, scope, removals);
    }

    // Property values are read through typed pointers: hand out memory
    // aligned as a host's would be.
    static unsigned char* aligned(unsigned char* p) {
        return p + (16 - reinterpret_cast<uintptr_t>(p) % 16) % 16;
    }

    Answer read(AudioUnit unit, AudioUnitPropertyID id, AudioUnitScope scope,
                AudioUnitElement element, UInt32 size, bool known, UInt32 propertySize,
                const std::string& what) {
        std::vector<unsigned char> storage(size + kGuard + 16, kFill);
        unsigned char* buffer = aligned(storage.data());
        UInt32 io = size;
        const OSStatus status = AudioUnitGetProperty(unit, id, scope, element, buffer, &io);
        for (size_t i = size; i < size + kGuard; ++i) {
            EXPECT_EQ(buffer[i], kFill) << what << ": written past the buffer at " << i;
        }
        Answer a{status, io, {}};
        if (status != 0) {
            EXPECT_TRUE(io == 0 || io == size) << what << ": size " << io;
            return a;
        }
        ++reads;
        EXPECT_TRUE(known) << what << ": read although its information failed";
        if (size < propertySize) {
            EXPECT_EQ(io, size) << what << ": a short buffer keeps its size";
        } else {
            EXPECT_EQ(io, propertySize) << what;
            releaseHandedOut(id, buffer, io);
        }
        if (kReferenceValues.count(id) == 0) {
            a.bytes.assign(buffer, buffer + io);
        }
        return a;
    }

    std::vector<AudioUnit> mUnits;
    int mDifferences = 0;
};

} // namespace

TEST(HostPaths, EveryPropertyRequestAnswersAndBothPathsAgree) {
    for (bool initialized : {false, true}) {
        SCOPED_TRACE(initialized ? "initialized" : "uninitialized");
        {
            Sweep sweep(initialized);
            ASSERT_TRUE(sweep.opened());
            sweep.run();
            // The sweep reached real values, not only refusals.
            EXPECT_GT(sweep.reads, 200);
            EXPECT_GT(sweep.writes, 0);
        }
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
