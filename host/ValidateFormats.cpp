// The validation battery: opening, properties, formats and channel configurations.
#include "ValidateSupport.h"

namespace vxhost::validate {

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

namespace {

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

} // namespace

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

namespace {

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

} // namespace

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

namespace {

OSStatus tryChannels(AudioUnit unit, UInt32 in, UInt32 out) {
    if (OSStatus s = setCanonicalFormats(unit, 44100, in, out))
        return s;
    const OSStatus s = AudioUnitInitialize(unit);
    if (s == 0)
        AudioUnitUninitialize(unit);
    return s;
}

} // namespace

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

} // namespace vxhost::validate
