// Caller-owned buffer lists for driving render calls: one float block per
// buffer, or null data pointers when the caller wants the unit's memory.
#pragma once

#include <CoreAudio/CoreAudioTypes.h>

#include <cstddef>
#include <vector>

class TestBuffers {
public:
    static constexpr UInt32 kMaxBuffers = 8;

    // nBuffers buffers of nFrames frames with channelsPerBuffer samples per
    // frame each; with nullData the pointers are null and sizes 0.
    TestBuffers(UInt32 nBuffers, UInt32 nFrames, UInt32 channelsPerBuffer = 1,
                bool nullData = false)
        : mData(nBuffers, std::vector<float>(size_t(nFrames) * channelsPerBuffer, 0.0f)) {
        AudioBufferList& abl = list();
        abl.mNumberBuffers = nBuffers;
        for (UInt32 i = 0; i < nBuffers && i < kMaxBuffers; ++i) {
            AudioBuffer& b = abl.mBuffers[i];
            b.mNumberChannels = channelsPerBuffer;
            b.mDataByteSize = nullData ? 0 : UInt32(mData[i].size() * sizeof(float));
            b.mData = nullData ? nullptr : mData[i].data();
        }
    }

    TestBuffers(const TestBuffers&) = delete;
    TestBuffers& operator=(const TestBuffers&) = delete;

    AudioBufferList& list() { return *reinterpret_cast<AudioBufferList*>(mStorage); }
    float* samples(UInt32 buffer) { return mData[buffer].data(); }
    std::vector<float>& block(UInt32 buffer) { return mData[buffer]; }
    void fill(float value) {
        for (auto& b : mData) {
            for (auto& s : b) {
                s = value;
            }
        }
    }

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
