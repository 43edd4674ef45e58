// What the wrapper costs a host, side by side with the engine called
// directly:
// - render overhead: one AudioUnitRender through the host runtime and the
//   bundle with the reference engine (stereo, 512 frames) against the same
//   engine module's IProcess on the same kind of buffers plus the input copy
//   a host makes anyway;
// - small blocks: the same with the pass-through engine at 32 and 64 frames,
//   and (for information) at 32 frames on a host thread that runs with the
//   denormal modes on already, which leaves the unit no control word to set;
// - open time: open, initialise and close of the bundle against dlopen,
//   create, prepare and destroy of the engine (and dlclose).
#include "BundleHost.h"
#include "EngineModule.h"
#include "Figures.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <xmmintrin.h>

#ifndef VX_REFERENCE_ENGINE
#error "the build names the reference engine module"
#endif
#ifndef VX_PASSTHROUGH_ENGINE
#error "the build names the pass-through engine module"
#endif

using namespace vxbench;

namespace {

enum class Engine { Reference, PassThrough };

// How the host's render thread sets the processor's denormal modes. Many
// hosts run their audio threads with flush-to-zero and denormals-are-zero on
// already; the unit then has no control word to change.
enum class HostModes { Default, FlushDenormals };

// Turns both denormal modes on for the life of the object, on this thread.
class FlushDenormalsOnThisThread {
public:
    explicit FlushDenormalsOnThisThread(bool on) : mSaved(_mm_getcsr()), mOn(on) {
        if (mOn)
            _mm_setcsr(mSaved | 0x8040u);
    }
    ~FlushDenormalsOnThisThread() {
        if (mOn)
            _mm_setcsr(mSaved);
    }
    FlushDenormalsOnThisThread(const FlushDenormalsOnThisThread&) = delete;
    FlushDenormalsOnThisThread& operator=(const FlushDenormalsOnThisThread&) = delete;

private:
    unsigned mSaved;
    bool mOn;
};

fs::path enginePath(Engine engine) {
    return engine == Engine::Reference ? VX_REFERENCE_ENGINE : VX_PASSTHROUGH_ENGINE;
}

void RenderThroughBundle(benchmark::State& state, Engine engine, Entry entry, HostModes modes) {
    const auto frames = static_cast<UInt32>(state.range(0));
    const FlushDenormalsOnThisThread hostModes(modes == HostModes::FlushDenormals);
    SupportFolder support;
    if (support.install(enginePath(engine)).empty()) {
        state.SkipWithError("could not install the engine");
        return;
    }
    RenderRig rig(entry, frames);
    if (!rig.error().empty()) {
        state.SkipWithError(rig.error().c_str());
        return;
    }
    for (int warm = 0; warm < 200; ++warm) {
        if (rig.render(frames) != noErr) {
            state.SkipWithError("render failed");
            return;
        }
    }
    for (auto _ : state) {
        const OSStatus status = rig.render(frames);
        benchmark::DoNotOptimize(status);
        benchmark::ClobberMemory();
    }
    // The pass-through engine must have passed the signal through the bundle.
    if (engine == Engine::PassThrough &&
        std::memcmp(rig.outputPlane(1), rig.inputSignal(1), frames * sizeof(float)) != 0)
        state.SkipWithError("the pass-through output differs from the input");
    state.SetItemsProcessed(state.iterations() * frames);
}

void ProcessDirectly(benchmark::State& state, Engine engine, HostModes modes = HostModes::Default) {
    const auto frames = static_cast<std::size_t>(state.range(0));
    const FlushDenormalsOnThisThread hostModes(modes == HostModes::FlushDenormals);
    SupportFolder support;
    const fs::path module = support.install(enginePath(engine));
    EngineModule loaded;
    if (module.empty() || !loaded.open(module)) {
        state.SkipWithError("could not load the engine");
        return;
    }
    FixedHostLink link(48000.f, static_cast<int>(frames));
    IAudioPlugin* plugin = loaded.createPrepared(&link);
    if (!plugin) {
        state.SkipWithError("could not create the engine");
        return;
    }
    std::vector<float> signal[2], input[2], output[2];
    for (int c = 0; c < 2; ++c) {
        signal[c].resize(frames);
        input[c].assign(frames, 0.f);
        output[c].assign(frames, 0.f);
        for (std::size_t i = 0; i < frames; ++i)
            signal[c][i] = 0.5f * std::sin(0.013f * static_cast<float>((c + 1) * i));
    }
    float* in[2] = {input[0].data(), input[1].data()};
    float* out[2] = {output[0].data(), output[1].data()};
    const int n = static_cast<int>(frames);
    auto once = [&] {
        // The copy of the host's signal into the buffers the engine reads.
        std::memcpy(in[0], signal[0].data(), frames * sizeof(float));
        std::memcpy(in[1], signal[1].data(), frames * sizeof(float));
        plugin->IProcess(0, in, out, n);
    };
    for (int warm = 0; warm < 200; ++warm)
        once();
    for (auto _ : state) {
        once();
        benchmark::DoNotOptimize(out[0]);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long long>(frames));
    plugin->IDestroy();
}

void OpenBundle(benchmark::State& state) {
    SupportFolder support;
    if (support.install(enginePath(Engine::Reference)).empty() || !registeredComponent()) {
        state.SkipWithError("could not install the engine or register the bundle");
        return;
    }
    for (auto _ : state) {
        AudioUnit unit = nullptr;
        if (AudioComponentInstanceNew(registeredComponent(), &unit) != noErr ||
            AudioUnitInitialize(unit) != noErr) {
            state.SkipWithError("open or initialise failed");
            if (unit)
                AudioComponentInstanceDispose(unit);
            return;
        }
        AudioComponentInstanceDispose(unit);
    }
}

void OpenEngineDirectly(benchmark::State& state) {
    SupportFolder support;
    const fs::path module = support.install(enginePath(Engine::Reference));
    // The plug-in's rate before a host sets one.
    FixedHostLink link(44100.f, 1156);
    for (auto _ : state) {
        EngineModule loaded;
        if (module.empty() || !loaded.open(module)) {
            state.SkipWithError("could not load the engine");
            return;
        }
        IAudioPlugin* plugin = loaded.createPrepared(&link);
        if (!plugin) {
            state.SkipWithError("could not create the engine");
            return;
        }
        plugin->IDestroy();
        loaded.close();
    }
}

void registerAll() {
    benchmark::RegisterBenchmark("Render/bundle", RenderThroughBundle, Engine::Reference,
                                 Entry::Factory, HostModes::Default)
        ->Arg(512);
    benchmark::RegisterBenchmark("Render/bundle-cm", RenderThroughBundle, Engine::Reference,
                                 Entry::ComponentManager, HostModes::Default)
        ->Arg(512);
    benchmark::RegisterBenchmark("Render/direct", ProcessDirectly, Engine::Reference,
                                 HostModes::Default)
        ->Arg(512);
    benchmark::RegisterBenchmark("PassThrough/bundle", RenderThroughBundle, Engine::PassThrough,
                                 Entry::Factory, HostModes::Default)
        ->Arg(32)
        ->Arg(64);
    benchmark::RegisterBenchmark("PassThrough/direct", ProcessDirectly, Engine::PassThrough,
                                 HostModes::Default)
        ->Arg(32)
        ->Arg(64);
    benchmark::RegisterBenchmark("PassThrough/bundle-ftz", RenderThroughBundle, Engine::PassThrough,
                                 Entry::Factory, HostModes::FlushDenormals)
        ->Arg(32);
    benchmark::RegisterBenchmark("PassThrough/direct-ftz", ProcessDirectly, Engine::PassThrough,
                                 HostModes::FlushDenormals)
        ->Arg(32);
    benchmark::RegisterBenchmark("Open/bundle", OpenBundle)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("Open/direct", OpenEngineDirectly)->Unit(benchmark::kMicrosecond);
}

} // namespace

int main(int argc, char** argv) {
    registerAll();
    Figures figures;
    figures.add(Ratio{"render overhead: bundle vs direct, 512 frames", "Render/bundle/512",
                      "Render/direct/512", Goal::AtMost, 1.05});
    figures.add(Ratio{"render overhead: Component Manager entry, 512 frames",
                      "Render/bundle-cm/512", "Render/direct/512", Goal::Report, 0.0});
    // The floor for small blocks: the steps every render must take cost about
    // 4.5 times a 32-frame pass-through (bench_render_instructions counts the
    // wrapper's instructions themselves); 64 frames must do no worse.
    figures.add(Ratio{"render overhead, small blocks: 32 frames", "PassThrough/bundle/32",
                      "PassThrough/direct/32", Goal::AtMost, 4.5});
    figures.add(Ratio{"render overhead, small blocks: 64 frames", "PassThrough/bundle/64",
                      "PassThrough/direct/64", Goal::AtMost, 4.5});
    figures.add(Ratio{"small blocks, host already flushing denormals: 32 frames",
                      "PassThrough/bundle-ftz/32", "PassThrough/direct-ftz/32", Goal::Report, 0.0});
    figures.add(Ratio{"open time: bundle vs engine directly", "Open/bundle", "Open/direct",
                      Goal::AtMost, 1.5});
    return figures.run(argc, argv);
}
