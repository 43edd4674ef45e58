// A unit on AUBase alone that records what the render path does to it, and
// the caller-owned buffer lists that drive it.
#pragma once

#include <aufw/AUBase.h>

#include <xmmintrin.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

// One float block per buffer, or null data pointers (and sizes 0) when the
// caller wants the unit's memory.
class TestBuffers {
public:
    static constexpr UInt32 kMaxBuffers = 8;

    TestBuffers(UInt32 nBuffers, UInt32 nFrames, UInt32 channelsPerBuffer = 1,
                bool nullData = false)
        : mData(nBuffers, std::vector<float>(size_t(nFrames) * channelsPerBuffer, 0.0f)) {
        list().mNumberBuffers = nBuffers;
        for (UInt32 i = 0; i < nBuffers && i < kMaxBuffers; ++i) {
            list().mBuffers[i] = {channelsPerBuffer,
                                  nullData ? 0 : UInt32(mData[i].size() * sizeof(float)),
                                  nullData ? nullptr : mData[i].data()};
        }
    }

    AudioBufferList& list() { return *reinterpret_cast<AudioBufferList*>(mStorage); }
    float* samples(UInt32 buffer) { return mData[buffer].data(); }

private:
    std::vector<std::vector<float>> mData;
    alignas(AudioBufferList) std::byte
        mStorage[offsetof(AudioBufferList, mBuffers) + kMaxBuffers * sizeof(AudioBuffer)]{};
};

inline AudioTimeStamp SampleTime(Float64 t) {
    AudioTimeStamp ts{};
    ts.mSampleTime = t;
    ts.mFlags = kAudioTimeStampSampleTimeValid;
    return ts;
}

inline AudioUnitParameterEvent Immediate(AudioUnitParameterID id, UInt32 offset, float value,
                                         AudioUnitElement element = 0) {
    return {kAudioUnitScope_Global,
            element,
            id,
            kParameterEvent_Immediate,
            {.immediate = {offset, value}}};
}

inline AudioUnitParameterEvent Ramp(AudioUnitParameterID id, SInt32 offset, UInt32 duration,
                                    float from, float to) {
    return {kAudioUnitScope_Global,
            0,
            id,
            kParameterEvent_Ramped,
            {.ramp = {offset, duration, from, to}}};
}

// Flush-to-zero and denormals-are-zero in the processor's control word.
constexpr unsigned kDenormalModes = 0x8040;
constexpr unsigned kRoundTowardZero = 0x6000;

class RenderTestUnit : public AUBase {
public:
    struct Slice {
        UInt32 start, frames, total;
        AudioUnitParameterValue p0Start, p0End, p1Start, p1End; // parameters 0 and 1
    };

    RenderTestUnit(UInt32 inputs = 1, UInt32 outputs = 1) : AUBase(nullptr, inputs, outputs) {
        slices.reserve(64);
    }

    static float Pattern(Float64 sampleTime, UInt32 channel, UInt32 frame) {
        return float(sampleTime) + float(frame) + 1000.0f * float(channel + 1);
    }

    bool StreamFormatWritable(AudioUnitScope, AudioUnitElement) override {
        return !IsInitialized();
    }

    OSStatus Render(AudioUnitRenderActionFlags& ioActionFlags, const AudioTimeStamp& inTimeStamp,
                    UInt32 inNumberFrames) override {
        ++renderCount;
        mxcsrInside = _mm_getcsr();
        flagsSeenByRender = ioActionFlags;
        if (inside) {
            inside();
        }
        AudioBufferList& abl = GetOutput(0)->GetBufferList();
        for (UInt32 b = 0; b < abl.mNumberBuffers; ++b) {
            for (UInt32 f = 0; f < inNumberFrames; ++f) {
                static_cast<float*>(abl.mBuffers[b].mData)[f] =
                    Pattern(inTimeStamp.mSampleTime, b, f);
            }
        }
        if (renderStatus != 0 || !HasScheduledParameterEvents()) {
            return renderStatus;
        }
        return ProcessForScheduledParams(GetParamEventList(), inNumberFrames, this);
    }

    // One render at sample time t into the caller's buffers, no flags.
    OSStatus RenderAt(Float64 t, TestBuffers& buffers, UInt32 frames, UInt32 bus = 0) {
        AudioUnitRenderActionFlags flags = 0;
        return DoRender(flags, SampleTime(t), bus, frames, buffers.list());
    }

    OSStatus ProcessScheduledSlice(void* inUserData, UInt32 inStart, UInt32 inFrames,
                                   UInt32 inTotal) override {
        userDataSeen = inUserData;
        Slice s{inStart, inFrames, inTotal, 0, 0, 0, 0};
        AudioUnitParameterValue delta = 0;
        Globals0()->GetRampSliceStartEnd(0, s.p0Start, s.p0End, delta);
        Globals0()->GetRampSliceStartEnd(1, s.p1Start, s.p1End, delta);
        slices.push_back(s);
        return failSliceNumber != 0 && slices.size() == failSliceNumber ? sliceFailure : 0;
    }

    OSStatus ProcessBufferLists(AudioUnitRenderActionFlags&, const AudioBufferList& inBuffer,
                                AudioBufferList& outBuffer, UInt32 inFramesToProcess) override {
        ++processCount;
        mxcsrInside = _mm_getcsr();
        processIn = &inBuffer;
        processOut = &outBuffer;
        processFrames = inFramesToProcess;
        return processStatus;
    }

    OSStatus ProcessMultipleBufferLists(AudioUnitRenderActionFlags&, UInt32 inFramesToProcess,
                                        UInt32 inNumberInputBufferLists, const AudioBufferList**,
                                        UInt32 inNumberOutputBufferLists,
                                        AudioBufferList**) override {
        ++multipleCount;
        processFrames = inFramesToProcess;
        multipleLists = {inNumberInputBufferLists, inNumberOutputBufferLists};
        return processStatus;
    }

    int renderCount = 0, processCount = 0, multipleCount = 0;
    unsigned mxcsrInside = 0;
    std::function<void()> inside; // runs inside Render: raises, changes the control word
    AudioUnitRenderActionFlags flagsSeenByRender = 0;
    OSStatus renderStatus = 0, processStatus = 0, sliceFailure = 0;
    size_t failSliceNumber = 0;
    void* userDataSeen = nullptr;
    std::vector<Slice> slices;
    const AudioBufferList *processIn = nullptr, *processOut = nullptr;
    UInt32 processFrames = 0;
    std::pair<UInt32, UInt32> multipleLists;
};

// Runs fn under control word `word` and returns the word fn left behind;
// the caller's own word is restored either way.
template <typename Fn> unsigned RunUnderControlWord(unsigned word, Fn&& fn) {
    const unsigned saved = _mm_getcsr();
    _mm_setcsr(word);
    fn();
    const unsigned after = _mm_getcsr();
    _mm_setcsr(saved);
    return after;
}

// Owns a unit the way the entry layer does: PostConstructor after
// construction, PreDestructor before deletion.
template <typename Unit> struct UnitHolder {
    template <typename... Args>
    explicit UnitHolder(Args&&... args) : unit(new Unit(std::forward<Args>(args)...)) {
        unit->PostConstructor();
    }
    ~UnitHolder() {
        unit->PreDestructor();
        delete unit;
    }
    Unit* operator->() const { return unit; }
    Unit& operator*() const { return *unit; }
    Unit* unit;
};
