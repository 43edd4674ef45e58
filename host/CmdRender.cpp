#include "Args.h"
#include "AudioFile.h"
#include "CFUtil.h"
#include "Commands.h"
#include "Component.h"
#include "HostError.h"
#include "Parameters.h"
#include "Presets.h"
#include "Renderer.h"
#include "Signal.h"

#include <AudioUnit/AudioUnitProperties.h>

#include <fmt/format.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>

#include <unistd.h>

namespace vxhost {

namespace {

std::atomic<bool> gInterrupted{false};

extern "C" void onInterrupt(int) {
    gInterrupted.store(true);
}

// Restores the default handlers when the render is over.
struct InterruptGuard {
    InterruptGuard() {
        std::signal(SIGINT, onInterrupt);
        std::signal(SIGTERM, onInterrupt);
    }
    ~InterruptGuard() {
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGTERM, SIG_DFL);
    }
};

// Planar buffers of one block.
struct Planar {
    Planar(size_t channels, size_t frames)
        : storage(channels, std::vector<float>(frames, 0.0f)), pointers(channels) {
        for (size_t c = 0; c < channels; ++c)
            pointers[c] = storage[c].data();
    }
    void clear() {
        for (auto& s : storage)
            std::fill(s.begin(), s.end(), 0.0f);
    }
    std::vector<std::vector<float>> storage;
    std::vector<float*> pointers;
};

class Progress {
public:
    explicit Progress(bool enabled) : mEnabled(enabled && isatty(STDERR_FILENO)) {}
    ~Progress() { finish(); }
    void update(double fraction) {
        if (!mEnabled)
            return;
        const auto now = std::chrono::steady_clock::now();
        // Short renders show no bar at all; long ones refresh ten times a second.
        if (now - mStart < std::chrono::milliseconds(400) ||
            now - mLast < std::chrono::milliseconds(100))
            return;
        mLast = now;
        const int width = 40;
        const int filled = static_cast<int>(fraction * width);
        std::fprintf(stderr, "\rrendering [%s%s] %3d%%",
                     std::string(static_cast<size_t>(filled), '#').c_str(),
                     std::string(static_cast<size_t>(width - filled), '.').c_str(),
                     static_cast<int>(fraction * 100.0));
        std::fflush(stderr);
        mShown = true;
    }
    void finish() {
        if (mShown)
            std::fprintf(stderr, "\r%60s\r", "");
        mShown = false;
    }

private:
    bool mEnabled;
    bool mShown = false;
    std::chrono::steady_clock::time_point mStart = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point mLast{};
};

std::string framesText(int64_t frames, double rate) {
    return fmt::format("{} frames ({:.3f} s)", frames, static_cast<double>(frames) / rate);
}

} // namespace

int runRender(const Words& words) {
    const Args args("render", words,
                    {{"--component", "", true, false},
                     {"--entry", "", true, false},
                     {"--input", "-i", true, false},
                     {"--output", "-o", true, false},
                     {"--rate", "", true, false},
                     {"--block", "", true, false},
                     {"--channels", "", true, false},
                     {"--set", "", true, true},
                     {"--preset", "", true, false},
                     {"--offline", "", false, false},
                     {"--tempo", "", true, false},
                     {"--tail", "", true, false},
                     {"--no-latency-compensation", "", false, false},
                     {"--quiet", "", false, false}},
                    0);
    // Everything the command line alone can refute is refuted before any work.
    const auto outPath = args.value("--output");
    if (!outPath)
        throw UsageError("render needs an output file: -o OUT.wav");
    checkOutputName(*outPath);
    const Entry entry = parseEntry(args.value("--entry"));
    const auto rateOption = args.number("--rate", 8000, 384000);
    const UInt32 block = static_cast<UInt32>(args.integer("--block", 1, 16384).value_or(512));
    const auto channelsOption = args.integer("--channels", 1, 2);
    const double tempo = args.number("--tempo", 1, 999).value_or(120.0);
    const auto tailOption = args.number("--tail", 0, 3600);
    const bool compensate = !args.has("--no-latency-compensation");
    const bool offline = args.has("--offline");

    std::unique_ptr<AudioSource> source;
    if (const auto in = args.value("--input"))
        source = openAudioFile(*in);
    const double rate = rateOption.value_or(source ? source->rate() : 44100.0);
    const UInt32 inChannels =
        static_cast<UInt32>(channelsOption.value_or(source ? std::min(source->channels(), 2) : 2));
    if (source && source->channels() > 2 && !channelsOption)
        throw UsageError(fmt::format("'{}' has {} channels; choose --channels 1 or 2",
                                     source->description(), source->channels()));
    if (!source)
        source = makeTestSignal(rate, static_cast<int>(inChannels));

    CFRef<CFPropertyListRef> preset;
    if (const auto presetPath = args.value("--preset"))
        preset = readPresetFile(*presetPath);

    const ComponentRef ref = resolveComponent(args.value("--component"));
    if (preset)
        checkPresetFor(preset.get(), ref, *args.value("--preset"));
    Unit unit(ref, entry);
    const std::vector<ParamInfo> params = readParameters(unit.get());
    std::vector<Setting> settings;
    for (const std::string& s : args.values("--set"))
        settings.push_back(parseSetting(params, s));

    const std::vector<AUChannelInfo> configs = channelConfigs(unit.get());
    const auto outChannels = outputChannelsFor(configs, inChannels, inChannels);
    if (!outChannels)
        throw HostError(fmt::format("{} takes no {}-channel input", ref.name, inChannels));

    RenderSetup setup;
    setup.rate = rate;
    setup.block = block;
    setup.inChannels = inChannels;
    setup.outChannels = *outChannels;
    setup.tempo = tempo;
    RenderSession session(unit.get(), setup);
    check(session.configure(), fmt::format("{} refused {} Hz, {} in / {} out, blocks of {}",
                                           ref.name, rate, inChannels, *outChannels, block));
    if (offline) {
        const UInt32 on = 1;
        check(AudioUnitSetProperty(unit.get(), kAudioUnitProperty_OfflineRender,
                                   kAudioUnitScope_Global, 0, &on, sizeof on),
              "--offline: the unit refused offline rendering");
    }
    if (preset)
        restoreClassInfo(unit.get(), preset.get());
    applySettings(unit.get(), settings);
    if (const OSStatus s = session.initialize())
        throw HostError(fmt::format("{} failed to initialize: status {}{}", ref.name, statusText(s),
                                    unit.alertSuffix()));

    const long latency = session.latencyFrames();
    const double tailSeconds = tailOption.value_or(std::min(session.tailSeconds(), 3600.0));
    const int64_t tailFrames = static_cast<int64_t>(std::ceil(tailSeconds * rate));
    const int64_t inFrames = source->frames();
    const int64_t rendered = inFrames + latency + tailFrames;
    const int64_t skip = compensate ? latency : 0;

    AudioWriter writer(*outPath, rate, static_cast<int>(*outChannels));
    const size_t sourceChannels = static_cast<size_t>(source->channels());
    Planar fileBlock(sourceChannels, block);
    Planar inBlock(inChannels, block);
    Planar outBlock(*outChannels, block);
    std::vector<const float*> inPointers(inBlock.pointers.begin(), inBlock.pointers.end());
    LevelMeter inMeter;
    LevelMeter outMeter;
    BadSamples bad;
    Progress progress(!args.has("--quiet"));
    InterruptGuard interrupts;

    const auto started = std::chrono::steady_clock::now();
    int64_t done = 0;
    int64_t written = 0;
    bool inputEnded = false;
    while (done < rendered) {
        if (gInterrupted.load())
            throw HostError("render interrupted; no output written");
        const UInt32 frames = static_cast<UInt32>(std::min<int64_t>(block, rendered - done));
        // Input is read and shaped before the render call, never inside it.
        fileBlock.clear();
        size_t got = 0;
        if (!inputEnded) {
            got = source->read(fileBlock.pointers.data(), frames);
            inputEnded = got < frames;
        }
        for (UInt32 c = 0; c < inChannels; ++c) {
            float* dst = inBlock.pointers[c];
            for (UInt32 f = 0; f < frames; ++f) {
                if (inChannels == 1 && sourceChannels > 1) {
                    float sum = 0;
                    for (size_t s = 0; s < sourceChannels; ++s)
                        sum += fileBlock.pointers[s][f];
                    dst[f] = sum / static_cast<float>(sourceChannels);
                } else {
                    dst[f] = fileBlock.pointers[std::min<size_t>(c, sourceChannels - 1)][f];
                }
            }
            inMeter.add(dst, got);
        }
        check(session.render(inPointers.data(), frames, outBlock.pointers.data()),
              fmt::format("rendering frames {} to {}", done, done + frames));
        const int64_t from = std::max<int64_t>(0, skip - done);
        if (from < frames) {
            std::vector<const float*> part(*outChannels);
            for (UInt32 c = 0; c < *outChannels; ++c) {
                part[c] = outBlock.pointers[c] + from;
                outMeter.add(part[c], static_cast<size_t>(frames - from));
                bad.add(part[c], static_cast<size_t>(frames - from));
            }
            writer.write(part.data(), static_cast<size_t>(frames - from));
            written += frames - from;
        }
        done += frames;
        progress.update(static_cast<double>(done) / static_cast<double>(rendered));
    }
    progress.finish();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    writer.commit();

    if (args.has("--quiet"))
        return 0;
    std::string settingsText;
    for (const Setting& s : settings)
        settingsText += fmt::format("{}{} = {}", settingsText.empty() ? "" : "; ", s.param->name,
                                    valueText(*s.param, s.value));
    std::string out;
    out += fmt::format("rendered through {} ({}) via the {} entry\n", ref.name, codesText(ref.desc),
                       entryName(entry));
    out += fmt::format("  input     {}: {} ch, {:g} Hz, {}\n", source->description(),
                       source->channels(), source->rate(), framesText(inFrames, source->rate()));
    if (source->rate() != rate)
        out += fmt::format("            taken as {:g} Hz (not resampled)\n", rate);
    out += fmt::format("  output    {}: {} ch, {:g} Hz, {}\n", *outPath, *outChannels, rate,
                       framesText(written, rate));
    out +=
        fmt::format("  render    {} in -> {} out, blocks of {} frames, {}, tempo {:g} BPM\n",
                    inChannels, *outChannels, block, offline ? "offline" : "real-time mode", tempo);
    out += fmt::format("  latency   {} frames, {}\n", latency,
                       latency == 0 ? "nothing to compensate"
                       : compensate ? "compensated (the first frames the unit gave are dropped)"
                                    : "not compensated (kept in the output)");
    out += fmt::format("  tail      {:.3f} s ({} frames){}\n", tailSeconds, tailFrames,
                       tailOption ? ", as asked" : ", as the unit reports");
    if (args.value("--preset"))
        out += fmt::format("  preset    {}\n", *args.value("--preset"));
    if (!settingsText.empty())
        out += fmt::format("  settings  {}\n", settingsText);
    out += fmt::format("  in        peak {}, RMS {}\n", dbfs(inMeter.peak()), dbfs(inMeter.rms()));
    out +=
        fmt::format("  out       peak {}, RMS {}\n", dbfs(outMeter.peak()), dbfs(outMeter.rms()));
    if (bad.any())
        out += fmt::format("  warning   the output holds {}\n", bad.text());
    out += fmt::format("  speed     {:.3f} s for {:.3f} s of audio: {:.1f}x real time\n", seconds,
                       static_cast<double>(rendered) / rate,
                       seconds > 0 ? static_cast<double>(rendered) / rate / seconds : 0.0);
    std::fputs(out.c_str(), stdout);
    return 0;
}

} // namespace vxhost
