// The reference engine's IProcess throughput in each of its four builds,
// each module loaded with the dynamic loader and its engine created
// directly: stereo, 512-frame blocks at 48 kHz, default parameters.
#include "EngineModule.h"
#include "Figures.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#ifndef VX_ENGINE_DIR
#error "the build names the folder of the engine modules"
#endif

namespace {

constexpr int kFrames = 512;

struct Build {
    const char* label;  // benchmark name part
    const char* file;   // module file name
    const char* figure; // name in the figures
    bool (*supported)();
};

const std::array<Build, 4> kBuilds = {{
    {"sse3", "audplg.dylib", "SSE3", [] { return __builtin_cpu_supports("sse3") != 0; }},
    {"avx", "audplga.dylib", "AVX", [] { return __builtin_cpu_supports("avx") != 0; }},
    {"avx2", "audplga2.dylib", "AVX2", [] { return __builtin_cpu_supports("avx2") != 0; }},
    {"avx512", "audplga5.dylib", "AVX-512F", [] { return __builtin_cpu_supports("avx512f") != 0; }},
}};

std::string benchName(const Build& b) {
    return std::string("EngineProcess/") + b.label;
}

void EngineProcess(benchmark::State& state, const Build& build) {
    if (!build.supported()) {
        state.SkipWithError("this processor cannot run the build");
        return;
    }
    vxbench::EngineModule module;
    if (!module.open(std::string(VX_ENGINE_DIR) + "/" + build.file)) {
        state.SkipWithError(module.error().c_str());
        return;
    }
    vxbench::FixedHostLink link;
    IAudioPlugin* engine = module.createPrepared(&link);
    if (!engine) {
        state.SkipWithError("the engine could not be created");
        return;
    }
    std::vector<float> inL(kFrames), inR(kFrames), outL(kFrames), outR(kFrames);
    for (int i = 0; i < kFrames; ++i) {
        inL[i] = 0.5f * std::sin(0.031f * static_cast<float>(i));
        inR[i] = 0.5f * std::cos(0.017f * static_cast<float>(i));
    }
    float* in[2] = {inL.data(), inR.data()};
    float* out[2] = {outL.data(), outR.data()};
    for (int warm = 0; warm < 200; ++warm) // past the first echo
        engine->IProcess(0, in, out, kFrames);
    for (auto _ : state) {
        engine->IProcess(0, in, out, kFrames);
        benchmark::DoNotOptimize(outL.data());
        benchmark::DoNotOptimize(outR.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
    engine->IDestroy();
}

} // namespace

int main(int argc, char** argv) {
    for (const Build& b : kBuilds) {
        benchmark::RegisterBenchmark(benchName(b).c_str(),
                                     [&b](benchmark::State& s) { EngineProcess(s, b); });
    }
    vxbench::Figures figures;
    // Each build against the one below it: none may be slower.
    for (std::size_t i = 1; i < kBuilds.size(); ++i) {
        figures.add(vxbench::Ratio{std::string("engine builds: ") + kBuilds[i].figure + " vs " +
                                       kBuilds[i - 1].figure + " (speed)",
                                   benchName(kBuilds[i]), benchName(kBuilds[i - 1]),
                                   vxbench::Goal::AtLeast, 1.0, true});
    }
    // The gain of each build over the SSE3 build.
    for (std::size_t i = 1; i < kBuilds.size(); ++i) {
        figures.add(vxbench::Ratio{
            std::string("engine builds: ") + kBuilds[i].figure + " gain over SSE3",
            benchName(kBuilds[i]), benchName(kBuilds[0]), vxbench::Goal::Report, 0.0, true});
    }
    return figures.run(argc, argv);
}
