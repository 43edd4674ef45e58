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
#include <map>
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
    ids.insert(ids.end(), {0x6C727374u /* 'lrst' */, kRaiseProperty, kEchoProperty, 0x10000u,
                           0x1E3638DAu, 1000u, 0xFFFFFFFFu});
    return ids;
}

const AudioUnitScope kScopes[] = {0, 1, 2, 3, 4, 9, 0xFFFFFFFF};
const AudioUnitElement kElements[] = {0, 1, 0xFFFFFFFF};

// Values that hold references (handed out retained, or differing between
// instances): their bytes are not compared, only their sizes and statuses.
const std::set<AudioUnitPropertyID> kReferenceValues = {0, 4, 5, 16, 24, 25, 30, 34, 35, 36, 39};

// A whole read of these hands the caller a reference of its own, kept at
// this offset of the value.
const std::map<AudioUnitPropertyID, size_t> kHandedOut = {
    {kAudioUnitProperty_ClassInfo, 0},
    {kAudioUnitProperty_ParameterValueStrings, 0},
    {kAudioUnitProperty_FactoryPresets, 0},
    {kAudioUnitProperty_ContextName, 0},
    {kAudioUnitProperty_ElementName, 0},
    {kAudioUnitProperty_IconLocation, 0},
    {kAudioUnitProperty_PresentPreset, offsetof(AUPreset, presetName)},
    {kAudioUnitProperty_ParameterIDName, offsetof(AudioUnitParameterNameInfo, outName)},
    {kAudioUnitProperty_ParameterClumpName, offsetof(AudioUnitParameterNameInfo, outName)},
};

void releaseHandedOut(AudioUnitPropertyID id, const unsigned char* value, UInt32 size) {
    const auto it = kHandedOut.find(id);
    CFTypeRef object = nullptr;
    if (it != kHandedOut.end() && size >= it->second + sizeof object) {
        std::memcpy(&object, value + it->second, sizeof object);
    }
    if (object != nullptr) {
        CFRelease(object);
    }
}

// Property values are read through typed pointers: hand out memory aligned
// as a host's would be.
unsigned char* aligned(unsigned char* p) {
    return p + (16 - reinterpret_cast<uintptr_t>(p) % 16) % 16;
}

// What one request answered on one unit.
struct Answer {
    OSStatus status;
    UInt32 size = 0;
    std::vector<unsigned char> bytes = {};
    bool operator==(const Answer&) const = default;
};

// Sends every request to a unit opened each way, in the same order, and
// compares the answers as they come. Only Component Manager instances hand
// out fast-dispatch procedures, so those requests are not compared.
struct Sweep {
    AudioUnit units[2];
    int reads = 0;
    int writes = 0;
    int differences = 0;

    // Asks both units and reports the first twenty disagreements.
    template <class Request>
    void both(const std::string& what, AudioUnitPropertyID id, AudioUnitScope scope,
              Request request) {
        const Answer a[2] = {request(units[0]), request(units[1])};
        if (!(id == kAudioUnitProperty_FastDispatch && scope == kGlob) && differences < 20 &&
            !(a[0] == a[1])) {
            ++differences;
            ADD_FAILURE() << what << ": factory " << a[0].status << "/" << a[0].size << ", manager "
                          << a[1].status << "/" << a[1].size;
        }
    }

    void one(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element) {
        const std::string where = " id " + std::to_string(id) + " scope " + std::to_string(scope) +
                                  " element " + std::to_string(element);
        // Information, with and without somewhere to put it, and the size alone.
        Answer info{0};
        both("info" + where, id, scope, [&](AudioUnit u) {
            UInt32 size = 0xBADBAD;
            Boolean writable = 7;
            const OSStatus status =
                AudioUnitGetPropertyInfo(u, id, scope, element, &size, &writable);
            EXPECT_EQ(AudioUnitGetPropertyInfo(u, id, scope, element, nullptr, nullptr), status)
                << "info" << where;
            info = {status,
                    status == 0 ? size : 0,
                    {static_cast<unsigned char>(status == 0 ? writable : 0)}};
            UInt32 asked = 0xBADBAD;
            EXPECT_EQ(AudioUnitGetProperty(u, id, scope, element, nullptr, &asked), status)
                << "size" << where;
            if (status == 0) {
                EXPECT_EQ(asked, size) << "size" << where;
            }
            return info;
        });
        // info now holds the manager's answer, which agreed with the factory's.
        const bool known = info.status == 0;
        std::vector<UInt32> bufferSizes = {1, 4, 8, 64};
        if (known && info.size > 0 && info.size < 4096) {
            bufferSizes = {1, info.size - 1, info.size, info.size + 13};
        }
        std::erase(bufferSizes, 0u);
        for (UInt32 size : bufferSizes) {
            const std::string what = "get" + where + " size " + std::to_string(size);
            both(what, id, scope, [&](AudioUnit u) {
                return read(u, id, scope, element, size, known, info.size, what);
            });
        }
        for (UInt32 size : bufferSizes) {
            both("set" + where + " size " + std::to_string(size), id, scope, [&](AudioUnit u) {
                // Zero-filled: null references and procedures, zero counts.
                std::vector<unsigned char> storage(size + 16, 0);
                const OSStatus status =
                    AudioUnitSetProperty(u, id, scope, element, aligned(storage.data()), size);
                writes += status == 0 ? 1 : 0;
                return Answer{status};
            });
        }
        const unsigned char some[8] = {};
        both("remove" + where, id, scope, [&](AudioUnit u) {
            // Missing data with a size, and data without one, never reach the unit.
            EXPECT_EQ(AudioUnitSetProperty(u, id, scope, element, nullptr, 4), kAudio_ParamError);
            EXPECT_EQ(AudioUnitSetProperty(u, id, scope, element, some, 0), kAudio_ParamError);
            return Answer{AudioUnitSetProperty(u, id, scope, element, nullptr, 0)};
        });
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
        Answer a{status, io};
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
};

} // namespace

TEST(HostPaths, EveryPropertyRequestAnswersAndBothPathsAgree) {
    for (bool initialized : {false, true}) {
        SCOPED_TRACE(initialized ? "initialized" : "uninitialized");
        Sweep sweep{{openUnit(Path::Factory), openUnit(Path::Manager)}};
        for (AudioUnit u : sweep.units) {
            ASSERT_NE(u, nullptr);
            if (initialized) {
                EXPECT_EQ(AudioUnitInitialize(u), 0);
            }
        }
        for (AudioUnitPropertyID id : propertyIDs()) {
            for (AudioUnitScope scope : kScopes) {
                for (AudioUnitElement element : kElements) {
                    sweep.one(id, scope, element);
                }
            }
        }
        // The sweep reached real values, not only refusals.
        EXPECT_GT(sweep.reads, 200);
        EXPECT_GT(sweep.writes, 0);
        for (AudioUnit u : sweep.units) {
            EXPECT_EQ(closeUnit(u), 0);
        }
        EXPECT_EQ(unitLog().live, 0);
    }
}

TEST(HostPaths, ManagerFastDispatchRendersThroughTheBundle) {
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
}
