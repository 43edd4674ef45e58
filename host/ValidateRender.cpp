// The validation battery: rendering.
#include "ValidateSupport.h"

namespace vxhost::validate {

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
        if (!closeEnough(v, chosen[i], params[i]))
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

} // namespace vxhost::validate
