// The test unit opened both ways through the host runtime. Bad input: every
// property ID from 0 to 70, the private ones and a few unknown ones, on
// every scope and on elements that exist and do not, asked for and set with
// short, exact and long buffers, uninitialized and initialized; every
// request answers a status, never writes past the caller's buffer, and
// answers the same on both paths.
#include "host_support.h"

#include <cstring>
#include <map>
#include <set>

using namespace hosttest;
using namespace testunit;

namespace {

constexpr AudioUnitScope kGlob = kAudioUnitScope_Global;
constexpr unsigned char kFill = 0xCD;
constexpr size_t kGuard = 32;

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

// Property values are read through typed pointers: hand out memory aligned
// as a host's would be.
unsigned char* aligned(std::vector<unsigned char>& storage) {
    unsigned char* p = storage.data();
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
// compares the answers. Only Component Manager instances hand out
// fast-dispatch procedures, so those requests are not compared.
struct Sweep {
    AudioUnit units[2];
    int reads = 0;
    int writes = 0;
    int differences = 0;

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
            UInt32 size = 0xBADBAD, asked = 0xBADBAD;
            Boolean writable = 7;
            const OSStatus status =
                AudioUnitGetPropertyInfo(u, id, scope, element, &size, &writable);
            EXPECT_EQ(AudioUnitGetPropertyInfo(u, id, scope, element, nullptr, nullptr), status)
                << where;
            EXPECT_EQ(AudioUnitGetProperty(u, id, scope, element, nullptr, &asked), status)
                << where;
            EXPECT_TRUE(status != 0 || asked == size) << where;
            info = {status, status == 0 ? size : 0, {UInt8(status == 0 ? writable : 0)}};
            return info;
        });
        const bool known = info.status == 0;
        std::vector<UInt32> sizes = {1, 4, 8, 64};
        if (known && info.size > 1 && info.size < 4096) {
            sizes = {1, info.size - 1, info.size, info.size + 13};
        }
        for (UInt32 size : sizes) {
            const std::string what = where + " size " + std::to_string(size);
            both("get" + what, id, scope, [&](AudioUnit u) {
                return read(u, id, scope, element, size, known, info.size, what);
            });
            both("set" + what, id, scope, [&](AudioUnit u) {
                // Zero-filled: null references and procedures, zero counts.
                std::vector<unsigned char> storage(size + 16, 0);
                const OSStatus status =
                    AudioUnitSetProperty(u, id, scope, element, aligned(storage), size);
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
        unsigned char* buffer = aligned(storage);
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
        EXPECT_EQ(io, std::min(size, propertySize)) << what;
        const auto handedOut = kHandedOut.find(id);
        if (size >= propertySize && handedOut != kHandedOut.end() &&
            io >= handedOut->second + sizeof(CFTypeRef)) {
            CFTypeRef object = nullptr;
            std::memcpy(&object, buffer + handedOut->second, sizeof object);
            if (object != nullptr) {
                CFRelease(object);
            }
        }
        if (kReferenceValues.count(id) == 0) {
            a.bytes.assign(buffer, buffer + io);
        }
        return a;
    }
};

} // namespace

TEST(HostPaths, EveryPropertyRequestAnswersAndBothPathsAgree) {
    std::vector<AudioUnitPropertyID> ids = {
        0x6C727374u /* 'lrst' */, kRaiseProperty, 0x10000u, 0x1E3638DAu, 1000u, 0xFFFFFFFFu};
    for (AudioUnitPropertyID id = 0; id <= 70; ++id) {
        ids.push_back(id);
    }
    for (bool initialized : {false, true}) {
        SCOPED_TRACE(initialized ? "initialized" : "uninitialized");
        Sweep sweep{{openUnit(Path::Factory), openUnit(Path::Manager)}};
        for (AudioUnit u : sweep.units) {
            ASSERT_NE(u, nullptr);
            EXPECT_EQ(initialized ? AudioUnitInitialize(u) : 0, 0);
        }
        for (AudioUnitPropertyID id : ids) {
            for (AudioUnitScope scope : {0u, 1u, 2u, 3u, 4u, 9u, 0xFFFFFFFFu}) {
                for (AudioUnitElement element : {0u, 1u, 0xFFFFFFFFu}) {
                    sweep.one(id, scope, element);
                }
            }
        }
        // The sweep reached real values, not only refusals.
        EXPECT_GT(sweep.reads, 200);
        EXPECT_GT(sweep.writes, 0);
        for (AudioUnit u : sweep.units) {
            EXPECT_EQ(AudioComponentInstanceDispose(u), 0);
        }
        EXPECT_EQ(unitLog().live, 0);
    }
}
