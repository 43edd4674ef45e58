#include "Renderer.h"

#include <AudioUnit/AudioUnitProperties.h>

#include <cmath>
#include <cstring>

namespace vxhost {

AudioStreamBasicDescription canonicalFormat(double rate, UInt32 channels) {
    AudioStreamBasicDescription f{};
    f.mSampleRate = rate;
    f.mFormatID = kAudioFormatLinearPCM;
    f.mFormatFlags =
        kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked | kAudioFormatFlagIsNonInterleaved;
    f.mBytesPerPacket = 4;
    f.mFramesPerPacket = 1;
    f.mBytesPerFrame = 4;
    f.mChannelsPerFrame = channels;
    f.mBitsPerChannel = 32;
    return f;
}

std::vector<AUChannelInfo> channelConfigs(AudioUnit unit) {
    UInt32 size = 0;
    Boolean writable = 0;
    if (AudioUnitGetPropertyInfo(unit, kAudioUnitProperty_SupportedNumChannels,
                                 kAudioUnitScope_Global, 0, &size, &writable) != 0 ||
        size < sizeof(AUChannelInfo))
        return {};
    std::vector<AUChannelInfo> configs(size / sizeof(AUChannelInfo));
    size = static_cast<UInt32>(configs.size() * sizeof(AUChannelInfo));
    if (AudioUnitGetProperty(unit, kAudioUnitProperty_SupportedNumChannels, kAudioUnitScope_Global,
                             0, configs.data(), &size) != 0)
        return {};
    configs.resize(size / sizeof(AUChannelInfo));
    return configs;
}

namespace {
// One side of a configuration: a count, -1 or -2 (any), or -N (up to N).
bool sideAllows(SInt16 side, UInt32 count) {
    if (side >= 0)
        return count == static_cast<UInt32>(side);
    if (side == -1 || side == -2)
        return true;
    return count <= static_cast<UInt32>(-side);
}
} // namespace

bool channelsAllowed(const std::vector<AUChannelInfo>& configs, UInt32 in, UInt32 out) {
    if (configs.empty())
        return in == out;
    for (const AUChannelInfo& c : configs) {
        if (c.inChannels == -1 && c.outChannels == -1) {
            if (in == out)
                return true;
            continue;
        }
        if (sideAllows(c.inChannels, in) && sideAllows(c.outChannels, out))
            return true;
    }
    return false;
}

std::optional<UInt32> outputChannelsFor(const std::vector<AUChannelInfo>& configs, UInt32 in,
                                        UInt32 preferred) {
    if (channelsAllowed(configs, in, preferred))
        return preferred;
    for (UInt32 out = 1; out <= 8; ++out)
        if (channelsAllowed(configs, in, out))
            return out;
    return std::nullopt;
}

RenderSession::RenderSession(AudioUnit unit, const RenderSetup& setup)
    : mUnit(unit), mSetup(setup), mSilence(setup.block, 0.0f) {
    mOutputListStorage.resize(offsetof(AudioBufferList, mBuffers) +
                              sizeof(AudioBuffer) * std::max<UInt32>(setup.outChannels, 1));
}

RenderSession::~RenderSession() {
    if (mCallbackInstalled) {
        AURenderCallbackStruct none{nullptr, nullptr};
        AudioUnitSetProperty(mUnit, kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0,
                             &none, sizeof none);
        HostCallbackInfo noHost{};
        AudioUnitSetProperty(mUnit, kAudioUnitProperty_HostCallbacks, kAudioUnitScope_Global, 0,
                             &noHost, sizeof noHost);
    }
}

OSStatus setCanonicalFormats(AudioUnit unit, double rate, UInt32 inChannels, UInt32 outChannels) {
    const AudioStreamBasicDescription in = canonicalFormat(rate, inChannels);
    const AudioStreamBasicDescription out = canonicalFormat(rate, outChannels);
    if (OSStatus s = AudioUnitSetProperty(unit, kAudioUnitProperty_StreamFormat,
                                          kAudioUnitScope_Input, 0, &in, sizeof in))
        return s;
    return AudioUnitSetProperty(unit, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 0,
                                &out, sizeof out);
}

OSStatus RenderSession::configure() {
    if (OSStatus s = setCanonicalFormats(mUnit, mSetup.rate, mSetup.inChannels, mSetup.outChannels))
        return s;
    UInt32 maxFrames = 0;
    UInt32 size = sizeof maxFrames;
    if (mSetup.maxFramesPerSlice != 0 ||
        AudioUnitGetProperty(mUnit, kAudioUnitProperty_MaximumFramesPerSlice,
                             kAudioUnitScope_Global, 0, &maxFrames, &size) != 0 ||
        maxFrames < mSetup.block) {
        maxFrames = mSetup.maxFramesPerSlice != 0 ? mSetup.maxFramesPerSlice : mSetup.block;
        if (OSStatus s =
                AudioUnitSetProperty(mUnit, kAudioUnitProperty_MaximumFramesPerSlice,
                                     kAudioUnitScope_Global, 0, &maxFrames, sizeof maxFrames))
            return s;
    }
    // A unit working in place writes into the input's buffers, so it can only
    // give as many channels as it takes; with a different count it has to
    // render into its own.
    if (mSetup.inChannels != mSetup.outChannels) {
        UInt32 size = 0;
        Boolean writable = 0;
        if (AudioUnitGetPropertyInfo(mUnit, kAudioUnitProperty_InPlaceProcessing,
                                     kAudioUnitScope_Global, 0, &size, &writable) == 0 &&
            writable) {
            const UInt32 off = 0;
            if (OSStatus s = AudioUnitSetProperty(mUnit, kAudioUnitProperty_InPlaceProcessing,
                                                  kAudioUnitScope_Global, 0, &off, sizeof off))
                return s;
        }
    }
    AURenderCallbackStruct callback{&RenderSession::inputProc, this};
    if (OSStatus s = AudioUnitSetProperty(mUnit, kAudioUnitProperty_SetRenderCallback,
                                          kAudioUnitScope_Input, 0, &callback, sizeof callback))
        return s;
    mCallbackInstalled = true;
    // Host callbacks are optional for a unit; one that does not take them
    // simply never asks for tempo.
    HostCallbackInfo host{};
    host.hostUserData = this;
    host.beatAndTempoProc = &RenderSession::beatAndTempo;
    host.transportStateProc = &RenderSession::transportState;
    AudioUnitSetProperty(mUnit, kAudioUnitProperty_HostCallbacks, kAudioUnitScope_Global, 0, &host,
                         sizeof host);
    return 0;
}

OSStatus RenderSession::initialize() {
    return AudioUnitInitialize(mUnit);
}

OSStatus RenderSession::render(const float* const* in, UInt32 frames, float* const* out) {
    auto* list = reinterpret_cast<AudioBufferList*>(mOutputListStorage.data());
    list->mNumberBuffers = mSetup.outChannels;
    for (UInt32 c = 0; c < mSetup.outChannels; ++c) {
        list->mBuffers[c].mNumberChannels = 1;
        list->mBuffers[c].mDataByteSize = frames * sizeof(float);
        list->mBuffers[c].mData = out[c];
    }
    AudioTimeStamp ts{};
    ts.mSampleTime = mSampleTime;
    ts.mFlags = kAudioTimeStampSampleTimeValid;
    AudioUnitRenderActionFlags flags = 0;
    mInput = in;
    const OSStatus status = AudioUnitRender(mUnit, &flags, &ts, 0, frames, list);
    mInput = nullptr;
    if (status == 0) {
        // A unit may answer with its own buffers instead of filling ours.
        for (UInt32 c = 0; c < mSetup.outChannels; ++c)
            if (list->mBuffers[c].mData && list->mBuffers[c].mData != out[c])
                std::memcpy(
                    out[c], list->mBuffers[c].mData,
                    std::min<UInt32>(list->mBuffers[c].mDataByteSize, frames * sizeof(float)));
        mSampleTime += frames;
    }
    return status;
}

long RenderSession::latencyFrames() const {
    Float64 seconds = 0;
    UInt32 size = sizeof seconds;
    if (AudioUnitGetProperty(mUnit, kAudioUnitProperty_Latency, kAudioUnitScope_Global, 0, &seconds,
                             &size) != 0 ||
        !std::isfinite(seconds) || seconds < 0)
        return 0;
    return std::lround(seconds * mSetup.rate);
}

double RenderSession::tailSeconds() const {
    Float64 seconds = 0;
    UInt32 size = sizeof seconds;
    if (AudioUnitGetProperty(mUnit, kAudioUnitProperty_TailTime, kAudioUnitScope_Global, 0,
                             &seconds, &size) != 0 ||
        !std::isfinite(seconds) || seconds < 0)
        return 0;
    return seconds;
}

OSStatus RenderSession::inputProc(void* refCon, AudioUnitRenderActionFlags*, const AudioTimeStamp*,
                                  UInt32, UInt32 frames, AudioBufferList* data) {
    auto* self = static_cast<RenderSession*>(refCon);
    if (!data || frames > self->mSetup.block)
        return kAudio_ParamError;
    for (UInt32 b = 0; b < data->mNumberBuffers; ++b) {
        AudioBuffer& buffer = data->mBuffers[b];
        const UInt32 channel = std::min(b, self->mSetup.inChannels - 1);
        const float* source = self->mInput ? self->mInput[channel] : self->mSilence.data();
        if (buffer.mData) {
            std::memcpy(buffer.mData, source,
                        std::min<UInt32>(buffer.mDataByteSize, frames * sizeof(float)));
        } else {
            // The unit asked for our memory; it only reads it.
            buffer.mData = const_cast<float*>(source);
            buffer.mDataByteSize = frames * sizeof(float);
        }
    }
    return 0;
}

OSStatus RenderSession::beatAndTempo(void* userData, Float64* beat, Float64* tempo) {
    const auto* self = static_cast<const RenderSession*>(userData);
    if (tempo)
        *tempo = self->mSetup.tempo;
    if (beat)
        *beat = self->mSampleTime / self->mSetup.rate * self->mSetup.tempo / 60.0;
    return 0;
}

OSStatus RenderSession::transportState(void* userData, Boolean* playing, Boolean* changed,
                                       Float64* sample, Boolean* cycling, Float64* cycleStart,
                                       Float64* cycleEnd) {
    const auto* self = static_cast<const RenderSession*>(userData);
    if (playing)
        *playing = 1;
    if (changed)
        *changed = 0;
    if (sample)
        *sample = self->mSampleTime;
    if (cycling)
        *cycling = 0;
    if (cycleStart)
        *cycleStart = 0;
    if (cycleEnd)
        *cycleEnd = 0;
    return 0;
}

} // namespace vxhost
