#include "BridgeInstance.h"

#include "Alerts.h"
#include "Component.h"
#include "HostError.h"
#include "Parameters.h"
#include "Presets.h"
#include "Renderer.h"

#include <AppKit/NSAlert.h>
#include <AudioUnit/AudioUnitProperties.h>

#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/options/options.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace vxlv2 {

namespace {

// Used when the host states no maximum block and the unit names none either.
constexpr UInt32 kFallbackMaxFrames = 4096;
constexpr const char* kStateKey = "urn:vextra-audio:lv2-bridge#classInfo";

const void* feature(const LV2_Feature* const* features, const char* uri) {
    for (const LV2_Feature* const* f = features; f && *f; ++f)
        if (std::strcmp((*f)->URI, uri) == 0)
            return (*f)->data;
    return nullptr;
}

// The host's bufsz:maxBlockLength, or 0 when it gives none.
UInt32 hostMaxBlock(const LV2_Feature* const* features, LV2_URID_Map* map) {
    const auto* options =
        static_cast<const LV2_Options_Option*>(feature(features, LV2_OPTIONS__options));
    if (!options || !map)
        return 0;
    const LV2_URID key = map->map(map->handle, LV2_BUF_SIZE__maxBlockLength);
    const LV2_URID intType = map->map(map->handle, LV2_ATOM__Int);
    for (const LV2_Options_Option* o = options; o->key != 0 || o->value != nullptr; ++o)
        if (o->key == key && o->type == intType && o->size == sizeof(int32_t)) {
            const int32_t value = *static_cast<const int32_t*>(o->value);
            return value > 0 ? static_cast<UInt32>(value) : 0;
        }
    return 0;
}

// Collects the alerts a component shows while it opens, so they reach the
// host's log instead of standard error, and gives the platform its default
// handling back afterwards.
class AlertCapture {
public:
    AlertCapture() {
        vxhost::watchAlerts();
        vxhost::takeAlerts();
    }
    ~AlertCapture() {
        VXAlertSetHandler(nullptr, nullptr);
        VXAlertSetEchoToStandardError(1);
    }
    // "it showed an alert: ...; " or nothing: an alert names the cause the
    // later failure only shows.
    std::string prefix() const {
        const std::vector<std::string> alerts = vxhost::takeAlerts();
        return alerts.empty() ? "" : "it showed an alert: " + alerts.front() + "; ";
    }
};

} // namespace

std::unique_ptr<BridgeInstance> BridgeInstance::create(const vxhost::Lv2BundleData& data,
                                                       const vxhost::Lv2Variant& variant,
                                                       double rate,
                                                       const LV2_Feature* const* features) {
    std::unique_ptr<BridgeInstance> self(new BridgeInstance);
    self->mMap = static_cast<LV2_URID_Map*>(const_cast<void*>(feature(features, LV2_URID__map)));
    auto* log = static_cast<LV2_Log_Log*>(const_cast<void*>(feature(features, LV2_LOG__log)));
    lv2_log_logger_init(&self->mLogger, self->mMap, log);
    const UInt32 hostMax = hostMaxBlock(features, self->mMap);
    if (!self->open(data, variant, rate))
        return nullptr;
    // The host's maximum when it names one; otherwise the unit's own, and
    // longer runs are split into slices of it.
    UInt32 maxFrames = 0;
    UInt32 size = sizeof maxFrames;
    if (hostMax != 0)
        AudioUnitSetProperty(self->mUnit, kAudioUnitProperty_MaximumFramesPerSlice,
                             kAudioUnitScope_Global, 0, &hostMax, sizeof hostMax);
    if (AudioUnitGetProperty(self->mUnit, kAudioUnitProperty_MaximumFramesPerSlice,
                             kAudioUnitScope_Global, 0, &maxFrames, &size) != 0 ||
        maxFrames == 0)
        maxFrames = hostMax != 0 ? hostMax : kFallbackMaxFrames;
    self->mMaxFrames = maxFrames;
    self->mSilence.assign(maxFrames, 0.0f);
    self->mScratchOut.assign(static_cast<size_t>(maxFrames) * kMaxChannels, 0.0f);
    self->mScratchIn.assign(static_cast<size_t>(maxFrames) * kMaxChannels, 0.0f);
    self->mOutputList.assign(
        offsetof(AudioBufferList, mBuffers) + sizeof(AudioBuffer) * kMaxChannels, 0);
    return self;
}

bool BridgeInstance::open(const vxhost::Lv2BundleData& data, const vxhost::Lv2Variant& variant,
                          double rate) {
    mRate = rate;
    mInputs = variant.inputs;
    mOutputs = variant.outputs;
    std::string name = data.codes;
    AlertCapture alerts;
    try {
        const vxhost::ComponentRef ref =
            vxhost::resolveComponent(data.componentPath.empty() ? data.codes : data.componentPath);
        name = ref.name + " (" + data.codes + ")";
        const OSStatus status = vxhost::openInstance(ref, vxhost::Entry::Factory, &mUnit);
        if (status != 0 || !mUnit) {
            mUnit = nullptr;
            throw vxhost::HostError("the component did not open: status " +
                                    vxhost::statusText(status));
        }
        // Out of place, so the unit never writes into the host's input buffers.
        const UInt32 off = 0;
        AudioUnitSetProperty(mUnit, kAudioUnitProperty_InPlaceProcessing, kAudioUnitScope_Global, 0,
                             &off, sizeof off);
        const AudioStreamBasicDescription in = vxhost::canonicalFormat(rate, mInputs);
        const AudioStreamBasicDescription out = vxhost::canonicalFormat(rate, mOutputs);
        vxhost::check(AudioUnitSetProperty(mUnit, kAudioUnitProperty_StreamFormat,
                                           kAudioUnitScope_Input, 0, &in, sizeof in),
                      "it refused the input format");
        vxhost::check(AudioUnitSetProperty(mUnit, kAudioUnitProperty_StreamFormat,
                                           kAudioUnitScope_Output, 0, &out, sizeof out),
                      "it refused the output format");
        AURenderCallbackStruct callback{&BridgeInstance::inputProc, this};
        vxhost::check(AudioUnitSetProperty(mUnit, kAudioUnitProperty_SetRenderCallback,
                                           kAudioUnitScope_Input, 0, &callback, sizeof callback),
                      "it refused the input callback");
        const std::vector<vxhost::ParamInfo> params = vxhost::readParameters(mUnit);
        for (AudioUnitParameterID id : data.parameters) {
            const auto p = std::find_if(params.begin(), params.end(),
                                        [&](const vxhost::ParamInfo& i) { return i.id == id; });
            if (p == params.end())
                throw vxhost::HostError("it has no parameter " + std::to_string(id) +
                                        " any more; export the bundle again");
            mParameterIds.push_back(id);
            mMinimum.push_back(p->min);
            mMaximum.push_back(p->max);
        }
        mSent.assign(mParameterIds.size(), std::numeric_limits<Float32>::quiet_NaN());
        mParameterPorts.assign(mParameterIds.size(), nullptr);
        return true;
    } catch (const std::exception& e) {
        lv2_log_error(&mLogger, "vx-lv2-bridge: cannot open %s: %s%s\n", name.c_str(),
                      alerts.prefix().c_str(), e.what());
        if (mUnit)
            AudioComponentInstanceDispose(mUnit);
        mUnit = nullptr;
        return false;
    }
}

BridgeInstance::~BridgeInstance() {
    if (!mUnit)
        return;
    if (mActive)
        AudioUnitUninitialize(mUnit);
    AURenderCallbackStruct none{nullptr, nullptr};
    AudioUnitSetProperty(mUnit, kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0,
                         &none, sizeof none);
    AudioComponentInstanceDispose(mUnit);
}

void BridgeInstance::connect(uint32_t port, void* data) {
    const vxhost::Lv2Ports ports{mInputs, mOutputs, static_cast<UInt32>(mParameterIds.size())};
    if (port < ports.firstOutput())
        mInputPorts[port] = static_cast<const float*>(data);
    else if (port < ports.firstParameter())
        mOutputPorts[port - ports.firstOutput()] = static_cast<float*>(data);
    else if (port < ports.latency())
        mParameterPorts[port - ports.firstParameter()] = static_cast<const float*>(data);
    else if (port == ports.latency())
        mLatencyPort = static_cast<float*>(data);
    else if (port == ports.enabled())
        mEnabledPort = static_cast<const float*>(data);
}

void BridgeInstance::activate() {
    const OSStatus status = AudioUnitInitialize(mUnit);
    if (status != 0) {
        lv2_log_error(&mLogger,
                      "vx-lv2-bridge: the unit did not initialise (status %s); it "
                      "outputs silence\n",
                      vxhost::statusText(status).c_str());
        return;
    }
    mActive = true;
    mSampleTime = 0;
    // Every control and the bypass state go to the unit on the first run.
    std::fill(mSent.begin(), mSent.end(), std::numeric_limits<Float32>::quiet_NaN());
    mEnabledSent = -1.0f;
    mLatencyStale = true;
}

void BridgeInstance::deactivate() {
    if (mActive)
        AudioUnitUninitialize(mUnit);
    mActive = false;
}

void BridgeInstance::forwardControls() {
    for (size_t i = 0; i < mParameterIds.size(); ++i) {
        const float* port = mParameterPorts[i];
        if (!port || std::isnan(*port))
            continue;
        const Float32 value = std::clamp(*port, mMinimum[i], mMaximum[i]);
        if (value == mSent[i])
            continue;
        AudioUnitSetParameter(mUnit, mParameterIds[i], kAudioUnitScope_Global, 0, value, 0);
        mSent[i] = value;
        mLatencyStale = true;
    }
    if (mEnabledPort) {
        const float enabled = *mEnabledPort >= 0.5f ? 1.0f : 0.0f;
        if (enabled != mEnabledSent) {
            const UInt32 bypass = enabled == 1.0f ? 0 : 1;
            AudioUnitSetProperty(mUnit, kAudioUnitProperty_BypassEffect, kAudioUnitScope_Global, 0,
                                 &bypass, sizeof bypass);
            mEnabledSent = enabled;
            mLatencyStale = true;
        }
    }
}

void BridgeInstance::run(uint32_t frames) {
    if (!mActive) {
        silenceOutputs(0, frames);
        return;
    }
    forwardControls();
    for (UInt32 done = 0; done < frames;) {
        const UInt32 slice = std::min(frames - done, mMaxFrames);
        renderSlice(done, slice);
        done += slice;
    }
    if (mLatencyStale) {
        Float64 seconds = 0;
        UInt32 size = sizeof seconds;
        const bool known = AudioUnitGetProperty(mUnit, kAudioUnitProperty_Latency,
                                                kAudioUnitScope_Global, 0, &seconds, &size) == 0 &&
                           std::isfinite(seconds) && seconds >= 0;
        mLatencyFrames = known ? static_cast<float>(std::lround(seconds * mRate)) : 0.0f;
        mLatencyStale = false;
    }
    if (mLatencyPort)
        *mLatencyPort = mLatencyFrames;
}

void BridgeInstance::renderSlice(UInt32 offset, UInt32 frames) {
    auto* list = reinterpret_cast<AudioBufferList*>(mOutputList.data());
    list->mNumberBuffers = mOutputs;
    for (UInt32 c = 0; c < mOutputs; ++c) {
        float* out =
            mOutputPorts[c] ? mOutputPorts[c] + offset : mScratchOut.data() + c * mMaxFrames;
        list->mBuffers[c] = AudioBuffer{1, frames * static_cast<UInt32>(sizeof(float)), out};
    }
    AudioTimeStamp ts{};
    ts.mSampleTime = mSampleTime;
    ts.mFlags = kAudioTimeStampSampleTimeValid;
    AudioUnitRenderActionFlags flags = 0;
    mSliceOffset = offset;
    if (AudioUnitRender(mUnit, &flags, &ts, 0, frames, list) != 0) {
        silenceOutputs(offset, frames);
    } else {
        // A unit may answer with its own buffers instead of filling ours.
        for (UInt32 c = 0; c < mOutputs; ++c) {
            float* port = mOutputPorts[c];
            const void* given = list->mBuffers[c].mData;
            if (port && given && given != port + offset)
                std::memcpy(
                    port + offset, given,
                    std::min<size_t>(list->mBuffers[c].mDataByteSize, frames * sizeof(float)));
        }
    }
    mSampleTime += frames;
}

void BridgeInstance::silenceOutputs(UInt32 offset, UInt32 frames) {
    for (UInt32 c = 0; c < mOutputs; ++c)
        if (mOutputPorts[c])
            std::memset(mOutputPorts[c] + offset, 0, frames * sizeof(float));
}

OSStatus BridgeInstance::inputProc(void* refCon, AudioUnitRenderActionFlags*, const AudioTimeStamp*,
                                   UInt32, UInt32 frames, AudioBufferList* data) {
    auto* self = static_cast<BridgeInstance*>(refCon);
    if (!data || frames > self->mMaxFrames)
        return kAudio_ParamError;
    for (UInt32 b = 0; b < data->mNumberBuffers && b < kMaxChannels; ++b) {
        AudioBuffer& buffer = data->mBuffers[b];
        const float* port = self->mInputPorts[std::min(b, self->mInputs - 1)];
        const float* source = port ? port + self->mSliceOffset : self->mSilence.data();
        if (!buffer.mData) {
            // The unit asked for our memory: a copy, never the host's buffer.
            buffer.mData = self->mScratchIn.data() + b * self->mMaxFrames;
            buffer.mDataByteSize = frames * sizeof(float);
        }
        std::memcpy(buffer.mData, source,
                    std::min<size_t>(buffer.mDataByteSize, frames * sizeof(float)));
    }
    return 0;
}

LV2_State_Status BridgeInstance::save(LV2_State_Store_Function store, LV2_State_Handle handle) {
    if (!mMap)
        return LV2_STATE_ERR_NO_FEATURE;
    try {
        const vxhost::CFRef<CFPropertyListRef> document = vxhost::copyClassInfo(mUnit);
        const std::vector<UInt8> bytes = vxhost::presetBytes(document.get());
        return store(handle, mMap->map(mMap->handle, kStateKey), bytes.data(), bytes.size(),
                     mMap->map(mMap->handle, LV2_ATOM__Chunk),
                     LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE);
    } catch (const std::exception& e) {
        lv2_log_error(&mLogger, "vx-lv2-bridge: cannot save the state: %s\n", e.what());
        return LV2_STATE_ERR_UNKNOWN;
    }
}

LV2_State_Status BridgeInstance::restore(LV2_State_Retrieve_Function retrieve,
                                         LV2_State_Handle handle) {
    if (!mMap)
        return LV2_STATE_ERR_NO_FEATURE;
    size_t size = 0;
    uint32_t type = 0, flags = 0;
    const void* value = retrieve(handle, mMap->map(mMap->handle, kStateKey), &size, &type, &flags);
    if (!value)
        return LV2_STATE_ERR_NO_PROPERTY;
    if (type != mMap->map(mMap->handle, LV2_ATOM__Chunk))
        return LV2_STATE_ERR_BAD_TYPE;
    try {
        const vxhost::CFRef<CFDataRef> bytes(CFDataCreate(
            kCFAllocatorDefault, static_cast<const UInt8*>(value), static_cast<CFIndex>(size)));
        vxhost::CFRef<CFPropertyListRef> document(
            bytes ? CFPropertyListCreateWithData(kCFAllocatorDefault, bytes.get(), 0, nullptr,
                                                 nullptr)
                  : nullptr);
        if (!document)
            throw vxhost::HostError("the saved state is not a property list");
        vxhost::restoreClassInfo(mUnit, document.get());
        mLatencyStale = true;
        return LV2_STATE_SUCCESS;
    } catch (const std::exception& e) {
        lv2_log_error(&mLogger, "vx-lv2-bridge: cannot restore the state: %s\n", e.what());
        return LV2_STATE_ERR_UNKNOWN;
    }
}

} // namespace vxlv2
