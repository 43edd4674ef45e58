#include "Alerts.h"
#include "CFUtil.h"
#include "HostError.h"
#include "Parameters.h"
#include "Presets.h"
#include "Renderer.h"
#include "Signal.h"
#include "Validate.h"

#include <AudioUnit/AudioUnitProperties.h>

#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

namespace vxhost {

namespace {

constexpr double kColdOpenLimitMs = 5000.0;
constexpr double kWarmOpenLimitMs = 1000.0;

// Deterministic white noise, so that a failing render can be reproduced.
class Noise {
public:
    explicit Noise(uint32_t seed) : mState(seed ? seed : 1) {}
    float next() {
        mState ^= mState << 13;
        mState ^= mState >> 17;
        mState ^= mState << 5;
        return static_cast<float>(mState) / 4294967296.0f - 0.5f;
    }
    void fill(std::vector<std::vector<float>>& channels, size_t frames) {
        for (size_t f = 0; f < frames; ++f)
            for (auto& c : channels)
                c[f] = next();
    }

private:
    uint32_t mState;
};

struct Buffers {
    Buffers(UInt32 inChannels, UInt32 outChannels, size_t frames)
        : in(inChannels, std::vector<float>(frames, 0.0f)),
          out(outChannels, std::vector<float>(frames, 0.0f)) {
        for (auto& c : in)
            inPtr.push_back(c.data());
        for (auto& c : out)
            outPtr.push_back(c.data());
    }
    std::vector<std::vector<float>> in;
    std::vector<std::vector<float>> out;
    std::vector<const float*> inPtr;
    std::vector<float*> outPtr;
    // Output the unit leaves unwritten stays NaN and is caught as bad samples.
    void poisonOutput() {
        for (auto& c : out)
            std::fill(c.begin(), c.end(), std::numeric_limits<float>::quiet_NaN());
    }
};

std::string statusOf(OSStatus s) {
    return statusText(s);
}

// The channel counts the checks render with: the unit's stereo effect
// configuration when it has one, else the first it allows.
std::pair<UInt32, UInt32> renderChannels(AudioUnit unit) {
    const auto configs = channelConfigs(unit);
    for (UInt32 in : {2u, 1u})
        if (const auto out = outputChannelsFor(configs, in, 2))
            return {in, *out};
    return {2, 2};
}

UInt32 maxFramesOf(AudioUnit unit) {
    UInt32 frames = 0;
    UInt32 size = sizeof frames;
    check(AudioUnitGetProperty(unit, kAudioUnitProperty_MaximumFramesPerSlice,
                               kAudioUnitScope_Global, 0, &frames, &size),
          "reading MaximumFramesPerSlice");
    return frames;
}

// A unit set up and initialized for rendering.
struct Prepared {
    Prepared(const ComponentRef& ref, Entry entry, double rate, UInt32 block, UInt32 maxFrames = 0)
        : unit(ref, entry) {
        const auto [in, out] = renderChannels(unit.get());
        RenderSetup setup;
        setup.rate = rate;
        setup.block = block;
        setup.inChannels = in;
        setup.outChannels = out;
        setup.maxFramesPerSlice = maxFrames;
        session = std::make_unique<RenderSession>(unit.get(), setup);
        check(session->configure(), fmt::format("setting up {} Hz, {} in / {} out", rate, in, out));
        check(session->initialize(), "AudioUnitInitialize");
    }
    Unit unit;
    std::unique_ptr<RenderSession> session;
};

// ---- open

Outcome openTime(const ComponentRef& ref, Entry entry, bool cold) {
    takeAlerts();
    const auto start = std::chrono::steady_clock::now();
    AudioUnit unit = nullptr;
    const OSStatus status = openInstance(ref, entry, &unit);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    const std::vector<std::string> alerts = takeAlerts();
    if (status != 0 || !unit)
        return Outcome::fail(fmt::format("the component does not open: {}", statusOf(status)));
    AudioComponentInstanceDispose(unit);
    if (!alerts.empty())
        return Outcome::fail("the unit showed an alert while opening: " + alerts.front());
    const double limit = cold ? kColdOpenLimitMs : kWarmOpenLimitMs;
    if (ms > limit)
        return Outcome::fail(fmt::format("{:.1f} ms, more than {:.0f} ms", ms, limit));
    return Outcome::ok(fmt::format("{:.2f} ms", ms));
}

// ---- properties

struct Required {
    AudioUnitPropertyID id;
    const char* name;
    AudioUnitScope scope;
    UInt32 size;   // exact size, or 0 for "a multiple of unit"
    UInt32 unit;   // element size for lists
    bool optional; // may answer invalid property
    bool readable;
};

std::string scopeName(AudioUnitScope scope) {
    static const char* const names[] = {"global", "input", "output", "group"};
    return scope < 4 ? names[scope] : fmt::format("scope {}", scope);
}

Outcome requiredProperties(const ComponentRef& ref, Entry entry) {
    static const Required list[] = {
        {kAudioUnitProperty_ClassInfo, "ClassInfo", kAudioUnitScope_Global, 8, 0, false, true},
        {kAudioUnitProperty_StreamFormat, "StreamFormat", kAudioUnitScope_Input, 40, 0, false,
         true},
        {kAudioUnitProperty_StreamFormat, "StreamFormat", kAudioUnitScope_Output, 40, 0, false,
         true},
        {kAudioUnitProperty_SampleRate, "SampleRate", kAudioUnitScope_Input, 8, 0, false, true},
        {kAudioUnitProperty_SampleRate, "SampleRate", kAudioUnitScope_Output, 8, 0, false, true},
        {kAudioUnitProperty_ElementCount, "ElementCount", kAudioUnitScope_Input, 4, 0, false, true},
        {kAudioUnitProperty_ElementCount, "ElementCount", kAudioUnitScope_Output, 4, 0, false,
         true},
        {kAudioUnitProperty_ParameterList, "ParameterList", kAudioUnitScope_Global, 0, 4, false,
         true},
        {kAudioUnitProperty_Latency, "Latency", kAudioUnitScope_Global, 8, 0, false, true},
        {kAudioUnitProperty_TailTime, "TailTime", kAudioUnitScope_Global, 8, 0, true, true},
        {kAudioUnitProperty_SupportedNumChannels, "SupportedNumChannels", kAudioUnitScope_Global, 0,
         4, true, true},
        {kAudioUnitProperty_MaximumFramesPerSlice, "MaximumFramesPerSlice", kAudioUnitScope_Global,
         4, 0, false, true},
        {kAudioUnitProperty_LastRenderError, "LastRenderError", kAudioUnitScope_Global, 4, 0, false,
         true},
        {kAudioUnitProperty_PresentPreset, "PresentPreset", kAudioUnitScope_Global, 16, 0, false,
         true},
        {kAudioUnitProperty_SetRenderCallback, "SetRenderCallback", kAudioUnitScope_Input, 16, 0,
         false, false},
    };
    Unit unit(ref, entry);
    int checked = 0;
    for (const Required& r : list) {
        const std::string where =
            fmt::format("{} ({}) in the {} scope", r.name, r.id, scopeName(r.scope));
        UInt32 size = 0;
        Boolean writable = 0;
        const OSStatus info =
            AudioUnitGetPropertyInfo(unit.get(), r.id, r.scope, 0, &size, &writable);
        if (info == kAudioUnitErr_InvalidProperty && r.optional)
            continue;
        if (info != 0)
            return Outcome::fail(fmt::format("{}: info answered {}", where, statusOf(info)));
        if (r.size != 0 && size != r.size)
            return Outcome::fail(fmt::format("{}: info says {} bytes, the platform's value is {}",
                                             where, size, r.size));
        if (r.size == 0 && size % r.unit != 0)
            return Outcome::fail(
                fmt::format("{}: info says {} bytes, not a multiple of {}", where, size, r.unit));
        ++checked;
        if (!r.readable)
            continue;
        std::vector<unsigned char> data(std::max<UInt32>(size, 1) + 64, 0xA5);
        UInt32 got = size;
        const OSStatus read = AudioUnitGetProperty(unit.get(), r.id, r.scope, 0, data.data(), &got);
        if (read != 0)
            return Outcome::fail(fmt::format("{}: reading answered {}", where, statusOf(read)));
        if (got != size)
            return Outcome::fail(
                fmt::format("{}: reading gave {} bytes where its info said {}", where, got, size));
        if (std::any_of(data.begin() + size, data.end(), [](unsigned char b) { return b != 0xA5; }))
            return Outcome::fail(
                fmt::format("{}: the unit wrote past the {} bytes it was given", where, size));
        if (r.id == kAudioUnitProperty_ClassInfo) {
            CFPropertyListRef doc = nullptr;
            std::memcpy(&doc, data.data(), sizeof doc);
            if (doc)
                CFRelease(doc);
        } else if (r.id == kAudioUnitProperty_PresentPreset) {
            AUPreset preset{};
            std::memcpy(&preset, data.data(), sizeof preset);
            if (preset.presetName)
                CFRelease(preset.presetName);
        }
    }
    UInt32 inputs = 0, outputs = 0, size = 4;
    AudioUnitGetProperty(unit.get(), kAudioUnitProperty_ElementCount, kAudioUnitScope_Input, 0,
                         &inputs, &size);
    size = 4;
    AudioUnitGetProperty(unit.get(), kAudioUnitProperty_ElementCount, kAudioUnitScope_Output, 0,
                         &outputs, &size);
    if (ref.desc.componentType == kAudioUnitType_Effect && (inputs < 1 || outputs < 1))
        return Outcome::fail(
            fmt::format("an effect with {} inputs and {} outputs", inputs, outputs));
    return Outcome::ok(fmt::format("{} properties answered with the right sizes", checked));
}

std::string formatProblem(const AudioStreamBasicDescription& f) {
    if (f.mFormatID != kAudioFormatLinearPCM)
        return "not linear PCM";
    if (!(f.mFormatFlags & kAudioFormatFlagIsFloat) || f.mBitsPerChannel != 32)
        return "not 32-bit float";
    if (f.mFormatFlags & kAudioFormatFlagIsBigEndian)
        return "big-endian";
    if (f.mChannelsPerFrame > 1 && !(f.mFormatFlags & kAudioFormatFlagIsNonInterleaved))
        return "interleaved";
    if (f.mFramesPerPacket != 1 || f.mBytesPerFrame != 4 || f.mBytesPerPacket != 4)
        return fmt::format("{} bytes per frame, {} per packet", f.mBytesPerFrame,
                           f.mBytesPerPacket);
    if (!(f.mSampleRate > 0) || f.mChannelsPerFrame < 1)
        return fmt::format("{} Hz, {} channels", f.mSampleRate, f.mChannelsPerFrame);
    return {};
}

Outcome defaultFormats(const ComponentRef& ref, Entry entry) {
    Unit unit(ref, entry);
    std::string text;
    for (AudioUnitScope scope : {kAudioUnitScope_Input, kAudioUnitScope_Output}) {
        AudioStreamBasicDescription f{};
        UInt32 size = sizeof f;
        const OSStatus s =
            AudioUnitGetProperty(unit.get(), kAudioUnitProperty_StreamFormat, scope, 0, &f, &size);
        if (s != 0)
            return Outcome::fail(fmt::format("{} format: {}", scopeName(scope), statusOf(s)));
        if (const std::string problem = formatProblem(f); !problem.empty())
            return Outcome::fail(
                fmt::format("{} format is not canonical: {}", scopeName(scope), problem));
        text += fmt::format("{}{} {} ch {:g} Hz", text.empty() ? "" : ", ", scopeName(scope),
                            f.mChannelsPerFrame, f.mSampleRate);
    }
    return Outcome::ok(text + ", 32-bit float, non-interleaved");
}

Outcome initializeDefault(const ComponentRef& ref, Entry entry) {
    Unit unit(ref, entry);
    RenderSetup setup;
    AudioStreamBasicDescription f{};
    UInt32 size = sizeof f;
    check(AudioUnitGetProperty(unit.get(), kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input,
                               0, &f, &size),
          "reading the input format");
    AURenderCallbackStruct silence{[](void*, AudioUnitRenderActionFlags*, const AudioTimeStamp*,
                                      UInt32, UInt32, AudioBufferList* data) -> OSStatus {
                                       for (UInt32 b = 0; b < data->mNumberBuffers; ++b)
                                           if (data->mBuffers[b].mData)
                                               std::memset(data->mBuffers[b].mData, 0,
                                                           data->mBuffers[b].mDataByteSize);
                                       return 0;
                                   },
                                   nullptr};
    AudioUnitSetProperty(unit.get(), kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0,
                         &silence, sizeof silence);
    const OSStatus s = AudioUnitInitialize(unit.get());
    if (s != 0)
        return Outcome::fail(
            fmt::format("AudioUnitInitialize with the default formats answered {}", statusOf(s)));
    const OSStatus again = AudioUnitInitialize(unit.get());
    const OSStatus un = AudioUnitUninitialize(unit.get());
    if (again != 0 || un != 0)
        return Outcome::fail(fmt::format("initializing twice answered {}, uninitializing {}",
                                         statusOf(again), statusOf(un)));
    return Outcome::ok("initializes and uninitializes with its default formats");
}

OSStatus tryChannels(AudioUnit unit, UInt32 in, UInt32 out) {
    const AudioStreamBasicDescription fi = canonicalFormat(44100, in);
    const AudioStreamBasicDescription fo = canonicalFormat(44100, out);
    if (OSStatus s = AudioUnitSetProperty(unit, kAudioUnitProperty_StreamFormat,
                                          kAudioUnitScope_Input, 0, &fi, sizeof fi))
        return s;
    if (OSStatus s = AudioUnitSetProperty(unit, kAudioUnitProperty_StreamFormat,
                                          kAudioUnitScope_Output, 0, &fo, sizeof fo))
        return s;
    const OSStatus s = AudioUnitInitialize(unit);
    if (s == 0)
        AudioUnitUninitialize(unit);
    return s;
}

Outcome channelConfigurations(const ComponentRef& ref, Entry entry) {
    Unit unit(ref, entry);
    const auto configs = channelConfigs(unit.get());
    static const UInt32 counts[] = {1, 2, 3, 4, 6, 8};
    int accepted = 0, refused = 0;
    for (UInt32 in : counts)
        for (UInt32 out : counts) {
            const bool allowed = channelsAllowed(configs, in, out);
            const OSStatus s = tryChannels(unit.get(), in, out);
            if (allowed && s != 0)
                return Outcome::fail(
                    fmt::format("advertised {} in / {} out was refused: {}", in, out, statusOf(s)));
            if (!allowed && s == 0)
                return Outcome::fail(fmt::format("{} in / {} out is not advertised but was "
                                                 "accepted",
                                                 in, out));
            (allowed ? accepted : refused)++;
        }
    return Outcome::ok(fmt::format("{} advertised accepted, {} others refused", accepted, refused));
}

Outcome renderEveryConfiguration(const ComponentRef& ref, Entry entry) {
    std::vector<std::pair<UInt32, UInt32>> pairs;
    {
        Unit probe(ref, entry);
        const auto configs = channelConfigs(probe.get());
        for (UInt32 in = 1; in <= 8; ++in)
            for (UInt32 out = 1; out <= 8; ++out)
                if (channelsAllowed(configs, in, out))
                    pairs.emplace_back(in, out);
    }
    std::string done;
    for (const auto& [in, out] : pairs) {
        Unit unit(ref, entry);
        RenderSetup setup;
        setup.block = 256;
        setup.inChannels = in;
        setup.outChannels = out;
        RenderSession session(unit.get(), setup);
        check(session.configure(), fmt::format("setting up {} in / {} out", in, out));
        check(session.initialize(), fmt::format("initializing {} in / {} out", in, out));
        Buffers b(in, out, 256);
        Noise noise(in * 16 + out);
        BadSamples bad;
        for (int i = 0; i < 16; ++i) {
            noise.fill(b.in, 256);
            b.poisonOutput();
            const OSStatus s = session.render(b.inPtr.data(), 256, b.outPtr.data());
            if (s != 0)
                return Outcome::fail(
                    fmt::format("{} in / {} out: render answered {}", in, out, statusOf(s)));
            for (auto& c : b.out)
                bad.add(c.data(), 256);
        }
        if (bad.any())
            return Outcome::fail(
                fmt::format("{} in / {} out: {} (output left unwritten?)", in, out, bad.text()));
        done += fmt::format("{}{} -> {}", done.empty() ? "" : ", ", in, out);
    }
    return Outcome::ok(fmt::format("every advertised configuration renders: {}", done));
}

// ---- parameters

Outcome parameterInfo(const ComponentRef& ref, Entry entry) {
    Unit unit(ref, entry);
    const auto params = readParameters(unit.get());
    for (const ParamInfo& p : params) {
        if (p.name.empty())
            return Outcome::fail(fmt::format("parameter {} has no name", p.id));
        if (!std::isfinite(p.min) || !std::isfinite(p.max) || !std::isfinite(p.def) ||
            p.min > p.max)
            return Outcome::fail(
                fmt::format("parameter {} '{}': range {} .. {}", p.id, p.name, p.min, p.max));
        if (p.def < p.min || p.def > p.max)
            return Outcome::fail(fmt::format("parameter {} '{}': default {} outside {} .. {}", p.id,
                                             p.name, p.def, p.min, p.max));
        Float32 v = 0;
        const OSStatus s = AudioUnitGetParameter(unit.get(), p.id, kAudioUnitScope_Global, 0, &v);
        if (s != 0)
            return Outcome::fail(
                fmt::format("parameter {} '{}': reading answered {}", p.id, p.name, statusOf(s)));
        if (!(v >= p.min && v <= p.max))
            return Outcome::fail(fmt::format("parameter {} '{}': value {} outside {} .. {}", p.id,
                                             p.name, v, p.min, p.max));
    }
    return Outcome::ok(fmt::format("{} parameters with names, ranges and defaults", params.size()));
}

bool close(Float32 a, Float32 b, const ParamInfo& p) {
    const double span = std::max(1e-6, static_cast<double>(p.max) - p.min);
    return std::fabs(static_cast<double>(a) - b) <= 1e-5 * span + 1e-6;
}

Outcome parameterRoundTrips(const ComponentRef& ref, Entry entry) {
    Unit unit(ref, entry);
    const auto params = readParameters(unit.get());
    int trips = 0;
    for (const ParamInfo& p : params) {
        if (!(p.flags & kAudioUnitParameterFlag_IsWritable))
            continue;
        const bool indexed =
            p.unit == kAudioUnitParameterUnit_Indexed || p.unit == kAudioUnitParameterUnit_Boolean;
        Float32 mid = p.min + (p.max - p.min) * 0.37f;
        if (indexed)
            mid = std::round(mid);
        for (Float32 value : {p.min, p.max, mid, p.def}) {
            const OSStatus s =
                AudioUnitSetParameter(unit.get(), p.id, kAudioUnitScope_Global, 0, value, 0);
            if (s != 0)
                return Outcome::fail(fmt::format("parameter {} '{}': setting {} answered {}", p.id,
                                                 p.name, value, statusOf(s)));
            Float32 back = 0;
            AudioUnitGetParameter(unit.get(), p.id, kAudioUnitScope_Global, 0, &back);
            if (!close(back, value, p))
                return Outcome::fail(fmt::format("parameter {} '{}': set {}, read back {}", p.id,
                                                 p.name, value, back));
            ++trips;
        }
    }
    return Outcome::ok(fmt::format("{} set/get round trips", trips));
}

// ---- rendering

Outcome renderGrid(const ComponentRef& ref, Entry entry, double rate, double seconds) {
    // The unit's own maximum is one of the block sizes.
    UInt32 maxFrames = 0;
    {
        Unit probe(ref, entry);
        maxFrames = maxFramesOf(probe.get());
    }
    if (maxFrames == 0)
        return Outcome::fail("MaximumFramesPerSlice is 0");
    Prepared p(ref, entry, rate, maxFrames, maxFrames);
    const RenderSetup& setup = p.session->setup();
    Buffers b(setup.inChannels, setup.outChannels, maxFrames);
    Noise noise(0xC0FFEE);
    const size_t total = static_cast<size_t>(seconds * rate);
    std::string blocks;
    for (UInt32 block : {64u, 137u, 256u, 512u, maxFrames}) {
        if (block > maxFrames)
            continue;
        AudioUnitReset(p.unit.get(), kAudioUnitScope_Global, 0);
        BadSamples bad;
        for (size_t done = 0; done < total; done += block) {
            noise.fill(b.in, block);
            b.poisonOutput();
            const OSStatus s = p.session->render(b.inPtr.data(), block, b.outPtr.data());
            if (s != 0)
                return Outcome::fail(fmt::format("blocks of {}: render at frame {} answered {}",
                                                 block, done, statusOf(s)));
            for (auto& c : b.out)
                bad.add(c.data(), block);
        }
        if (bad.any())
            return Outcome::fail(fmt::format("blocks of {}: {}", block, bad.text()));
        blocks += fmt::format("{}{}", blocks.empty() ? "" : ", ", block);
    }
    return Outcome::ok(fmt::format("noise in blocks of {} frames: output clean", blocks));
}

Outcome tooManyFrames(const ComponentRef& ref, Entry entry) {
    UInt32 maxFrames = 0;
    {
        Unit probe(ref, entry);
        maxFrames = maxFramesOf(probe.get());
    }
    Prepared p(ref, entry, 44100, maxFrames + 1, maxFrames);
    Buffers b(p.session->setup().inChannels, p.session->setup().outChannels, maxFrames + 1);
    const OSStatus s = p.session->render(b.inPtr.data(), maxFrames + 1, b.outPtr.data());
    if (s != kAudioUnitErr_TooManyFramesToProcess)
        return Outcome::fail(fmt::format("rendering {} frames (maximum {}) answered {}, not {}",
                                         maxFrames + 1, maxFrames, statusOf(s),
                                         statusOf(kAudioUnitErr_TooManyFramesToProcess)));
    return Outcome::ok(fmt::format("{} frames refused with {}", maxFrames + 1, statusOf(s)));
}

Outcome slicesWithChanges(const ComponentRef& ref, Entry entry, double seconds) {
    Prepared p(ref, entry, 44100, 32);
    const auto params = readParameters(p.unit.get());
    Buffers b(p.session->setup().inChannels, p.session->setup().outChannels, 32);
    Noise noise(0xBADC0DE);
    BadSamples bad;
    const size_t slices = static_cast<size_t>(seconds * 44100 / 32) * 2;
    size_t changes = 0;
    for (size_t i = 0; i < slices; ++i) {
        for (const ParamInfo& param : params) {
            if (!(param.flags & kAudioUnitParameterFlag_IsWritable) || (i + param.id) % 7 != 0)
                continue;
            const float u = noise.next() + 0.5f;
            const Float32 v = param.min + (param.max - param.min) * u;
            const OSStatus s = AudioUnitSetParameter(p.unit.get(), param.id, kAudioUnitScope_Global,
                                                     0, std::clamp(v, param.min, param.max), 0);
            if (s != 0)
                return Outcome::fail(fmt::format("setting '{}' between slices answered {}",
                                                 param.name, statusOf(s)));
            ++changes;
        }
        noise.fill(b.in, 32);
        b.poisonOutput();
        const OSStatus s = p.session->render(b.inPtr.data(), 32, b.outPtr.data());
        if (s != 0)
            return Outcome::fail(fmt::format("slice {} answered {}", i, statusOf(s)));
        for (auto& c : b.out)
            bad.add(c.data(), 32);
    }
    if (bad.any())
        return Outcome::fail(bad.text());
    return Outcome::ok(
        fmt::format("{} slices of 32 frames, {} parameter changes, output clean", slices, changes));
}

Outcome bypass(const ComponentRef& ref, Entry entry) {
    Prepared p(ref, entry, 44100, 256);
    UInt32 size = 0;
    Boolean writable = 0;
    if (AudioUnitGetPropertyInfo(p.unit.get(), kAudioUnitProperty_BypassEffect,
                                 kAudioUnitScope_Global, 0, &size, &writable) != 0)
        return Outcome::ok("the unit offers no bypass (property 21 not answered)");
    if (size != 4 || !writable)
        return Outcome::fail(
            fmt::format("BypassEffect: {} bytes, {}writable", size, writable ? "" : "not "));
    const UInt32 on = 1;
    check(AudioUnitSetProperty(p.unit.get(), kAudioUnitProperty_BypassEffect,
                               kAudioUnitScope_Global, 0, &on, sizeof on),
          "switching bypass on");
    UInt32 state = 0;
    size = sizeof state;
    check(AudioUnitGetProperty(p.unit.get(), kAudioUnitProperty_BypassEffect,
                               kAudioUnitScope_Global, 0, &state, &size),
          "reading bypass");
    if (state != 1)
        return Outcome::fail(fmt::format("bypass set to 1 reads back {}", state));
    const RenderSetup& setup = p.session->setup();
    Buffers b(setup.inChannels, setup.outChannels, 256);
    Noise noise(7);
    for (int block = 0; block < 8; ++block) {
        noise.fill(b.in, 256);
        check(p.session->render(b.inPtr.data(), 256, b.outPtr.data()), "rendering in bypass");
        for (UInt32 c = 0; c < setup.outChannels; ++c) {
            const auto& in = b.in[std::min(c, setup.inChannels - 1)];
            for (size_t f = 0; f < 256; ++f)
                if (b.out[c][f] != in[f])
                    return Outcome::fail(fmt::format(
                        "in bypass, output channel {} frame {} is {} where the input is {}", c,
                        block * 256 + static_cast<int>(f), b.out[c][f], in[f]));
        }
    }
    const UInt32 off = 0;
    check(AudioUnitSetProperty(p.unit.get(), kAudioUnitProperty_BypassEffect,
                               kAudioUnitScope_Global, 0, &off, sizeof off),
          "switching bypass off");
    check(p.session->render(b.inPtr.data(), 256, b.outPtr.data()), "rendering after bypass");
    return Outcome::ok("bypassed output equals the input");
}

Outcome resetCheck(const ComponentRef& ref, Entry entry, double seconds) {
    Prepared p(ref, entry, 44100, 512);
    const RenderSetup& setup = p.session->setup();
    Buffers b(setup.inChannels, setup.outChannels, 512);
    const size_t blocks = std::max<size_t>(4, static_cast<size_t>(seconds * 44100 / 512));
    auto renderNoise = [&](uint32_t seed, std::vector<float>* keep) {
        Noise noise(seed);
        for (size_t i = 0; i < blocks; ++i) {
            noise.fill(b.in, 512);
            check(p.session->render(b.inPtr.data(), 512, b.outPtr.data()), "rendering noise");
            if (keep)
                for (auto& c : b.out)
                    keep->insert(keep->end(), c.begin(), c.end());
        }
    };
    renderNoise(11, nullptr);
    check(AudioUnitReset(p.unit.get(), kAudioUnitScope_Global, 0), "AudioUnitReset");
    // After a reset, silence in must give silence out: nothing of the noise is left.
    float peak = 0;
    for (size_t i = 0; i < blocks; ++i) {
        check(p.session->render(nullptr, 512, b.outPtr.data()), "rendering silence");
        for (auto& c : b.out)
            for (float v : c)
                peak = std::max(peak, std::fabs(v));
    }
    if (peak > 1e-6f)
        return Outcome::fail(
            fmt::format("after a reset, silence in gave output peaking at {}", dbfs(peak)));
    std::vector<float> first, second;
    check(AudioUnitReset(p.unit.get(), kAudioUnitScope_Global, 0), "AudioUnitReset");
    renderNoise(23, &first);
    check(AudioUnitReset(p.unit.get(), kAudioUnitScope_Global, 0), "AudioUnitReset");
    renderNoise(23, &second);
    for (size_t i = 0; i < first.size(); ++i)
        if (first[i] != second[i])
            return Outcome::fail(fmt::format("the same input after a reset gave different output "
                                             "at sample {}",
                                             i));
    return Outcome::ok("silence after a reset; the same input renders the same after each reset");
}

Outcome stateSaveRestore(const ComponentRef& ref, Entry entry) {
    Unit unit(ref, entry);
    const auto params = readParameters(unit.get());
    std::vector<Float32> chosen;
    for (const ParamInfo& p : params) {
        Float32 v = p.min + (p.max - p.min) * 0.61f;
        if (p.unit == kAudioUnitParameterUnit_Indexed || p.unit == kAudioUnitParameterUnit_Boolean)
            v = std::round(v);
        if (p.flags & kAudioUnitParameterFlag_IsWritable)
            check(AudioUnitSetParameter(unit.get(), p.id, kAudioUnitScope_Global, 0, v, 0),
                  fmt::format("setting '{}'", p.name));
        AudioUnitGetParameter(unit.get(), p.id, kAudioUnitScope_Global, 0, &v);
        chosen.push_back(v);
    }
    CFRef<CFPropertyListRef> saved = copyClassInfo(unit.get());
    const std::vector<UInt8> bytes = presetBytes(saved.get());
    CFDictionaryRef dict = CFGetTypeID(saved.get()) == CFDictionaryGetTypeID()
                               ? static_cast<CFDictionaryRef>(saved.get())
                               : nullptr;
    if (!dict)
        return Outcome::fail("ClassInfo is not a dictionary");
    if (dictInteger(dict, "version").value_or(-1) != 0 ||
        static_cast<OSType>(dictInteger(dict, "subtype").value_or(0)) !=
            ref.desc.componentSubType ||
        static_cast<OSType>(dictInteger(dict, "manufacturer").value_or(0)) !=
            ref.desc.componentManufacturer)
        return Outcome::fail("ClassInfo lacks version 0 or the component's subtype and "
                             "manufacturer");
    for (const ParamInfo& p : params)
        if (p.flags & kAudioUnitParameterFlag_IsWritable)
            AudioUnitSetParameter(unit.get(), p.id, kAudioUnitScope_Global, 0, p.min, 0);
    restoreClassInfo(unit.get(), saved.get());
    for (size_t i = 0; i < params.size(); ++i) {
        Float32 v = 0;
        AudioUnitGetParameter(unit.get(), params[i].id, kAudioUnitScope_Global, 0, &v);
        if (!close(v, chosen[i], params[i]))
            return Outcome::fail(fmt::format("after restoring, '{}' is {} instead of {}",
                                             params[i].name, v, chosen[i]));
    }
    CFRef<CFPropertyListRef> again = copyClassInfo(unit.get());
    if (presetBytes(again.get()) != bytes)
        return Outcome::fail("the state saved after a restore differs from the one restored");
    // A fresh instance takes the same document to the same values.
    Unit fresh(ref, entry);
    restoreClassInfo(fresh.get(), saved.get());
    CFRef<CFPropertyListRef> third = copyClassInfo(fresh.get());
    if (presetBytes(third.get()) != bytes)
        return Outcome::fail("a fresh instance given the state saves a different one");
    return Outcome::ok(fmt::format("{} values and {} bytes of state survive save and restore",
                                   params.size(), bytes.size()));
}

// ---- bad requests

struct Expectation {
    std::string what;
    OSStatus got;
    OSStatus expected;
};

Outcome badArguments(const ComponentRef& ref, Entry entry) {
    Unit unit(ref, entry);
    AudioUnit u = unit.get();
    std::vector<Expectation> list;
    UInt32 size = 0;
    Boolean writable = 0;
    unsigned char buffer[64] = {};
    size = sizeof buffer;
    list.push_back({"an unknown property",
                    AudioUnitGetProperty(u, 0x7FFF0000u, kAudioUnitScope_Global, 0, buffer, &size),
                    kAudioUnitErr_InvalidProperty});
    list.push_back(
        {"StreamFormat in scope 77",
         AudioUnitGetPropertyInfo(u, kAudioUnitProperty_StreamFormat, 77, 0, &size, &writable),
         kAudioUnitErr_InvalidScope});
    list.push_back({"StreamFormat of input element 99",
                    AudioUnitGetPropertyInfo(u, kAudioUnitProperty_StreamFormat,
                                             kAudioUnitScope_Input, 99, &size, &writable),
                    kAudioUnitErr_InvalidElement});
    // Global-scope IDs may be passed to a unit's engine unchecked, so the
    // probe asks for a parameter of the output scope, which holds none.
    UInt32 listSize = 0;
    AudioUnitGetPropertyInfo(u, kAudioUnitProperty_ParameterList, kAudioUnitScope_Output, 0,
                             &listSize, &writable);
    if (listSize == 0) {
        Float32 value = 0;
        list.push_back({"a parameter of the output scope",
                        AudioUnitGetParameter(u, 0, kAudioUnitScope_Output, 0, &value),
                        kAudioUnitErr_InvalidParameter});
    }
    AudioStreamBasicDescription f = canonicalFormat(44100, 2);
    list.push_back(
        {"a 35-byte StreamFormat",
         AudioUnitSetProperty(u, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input, 0, &f, 35),
         kAudioUnitErr_InvalidPropertyValue});
    AudioStreamBasicDescription int16 = f;
    int16.mFormatFlags = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked |
                         kAudioFormatFlagIsNonInterleaved;
    int16.mBitsPerChannel = 16;
    int16.mBytesPerFrame = int16.mBytesPerPacket = 2;
    list.push_back({"a 16-bit integer StreamFormat",
                    AudioUnitSetProperty(u, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input,
                                         0, &int16, sizeof int16),
                    kAudioUnitErr_FormatNotSupported});
    {
        std::vector<float> left(64), right(64);
        struct {
            UInt32 n;
            AudioBuffer b[2];
        } outList{2, {{1, 256, left.data()}, {1, 256, right.data()}}};
        AudioTimeStamp ts{};
        ts.mFlags = kAudioTimeStampSampleTimeValid;
        AudioUnitRenderActionFlags flags = 0;
        list.push_back(
            {"rendering before initialization",
             AudioUnitRender(u, &flags, &ts, 0, 64, reinterpret_cast<AudioBufferList*>(&outList)),
             kAudioUnitErr_Uninitialized});
    }
    list.push_back({"a property read without a size",
                    AudioUnitGetProperty(u, kAudioUnitProperty_MaximumFramesPerSlice,
                                         kAudioUnitScope_Global, 0, buffer, nullptr),
                    kAudio_ParamError});
    RenderSetup setup;
    const auto [in, out] = renderChannels(u);
    setup.inChannels = in;
    setup.outChannels = out;
    RenderSession session(u, setup);
    check(session.configure(), "setting up for initialization");
    check(session.initialize(), "AudioUnitInitialize");
    const UInt32 frames = 2048;
    list.push_back({"MaximumFramesPerSlice while initialized",
                    AudioUnitSetProperty(u, kAudioUnitProperty_MaximumFramesPerSlice,
                                         kAudioUnitScope_Global, 0, &frames, sizeof frames),
                    kAudioUnitErr_Initialized});
    for (const Expectation& e : list)
        if (e.got != e.expected)
            return Outcome::fail(fmt::format("{} answered {}, expected {}", e.what, statusOf(e.got),
                                             statusOf(e.expected)));
    return Outcome::ok(fmt::format("{} bad requests answered with the right status", list.size()));
}

} // namespace

std::vector<Check> batteryChecks(const ComponentRef& ref, Entry entry,
                                 const BatteryOptions& options) {
    const double seconds = options.renderSeconds;
    std::vector<Check> checks = {
        {"open (cold)", [=] { return openTime(ref, entry, true); }},
        {"open (warm)", [=] { return openTime(ref, entry, false); }},
        {"required properties", [=] { return requiredProperties(ref, entry); }},
        {"default formats", [=] { return defaultFormats(ref, entry); }},
        {"initialize", [=] { return initializeDefault(ref, entry); }},
        {"channel configurations", [=] { return channelConfigurations(ref, entry); }},
        {"render every configuration", [=] { return renderEveryConfiguration(ref, entry); }},
        {"parameter info", [=] { return parameterInfo(ref, entry); }},
        {"parameter set/get", [=] { return parameterRoundTrips(ref, entry); }},
    };
    for (double rate : {44100.0, 48000.0, 96000.0})
        checks.push_back({fmt::format("render {:g} Hz", rate),
                          [=] { return renderGrid(ref, entry, rate, seconds); }});
    checks.push_back({"too many frames", [=] { return tooManyFrames(ref, entry); }});
    checks.push_back(
        {"32-frame slices with changes", [=] { return slicesWithChanges(ref, entry, seconds); }});
    checks.push_back({"bypass", [=] { return bypass(ref, entry); }});
    checks.push_back({"reset", [=] { return resetCheck(ref, entry, seconds); }});
    checks.push_back({"state save and restore", [=] { return stateSaveRestore(ref, entry); }});
    checks.push_back({"bad arguments", [=] { return badArguments(ref, entry); }});
    return checks;
}

} // namespace vxhost
