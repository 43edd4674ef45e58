// Slot lookups by string key: FastStringMap against std::unordered_map over
// the same 16 keys, looked up in the same order.
#include "Figures.h"

#include <NSVextra/FastMap.h>

#include <benchmark/benchmark.h>

#include <array>
#include <string>
#include <unordered_map>

namespace {

// Names of the kind such tables hold: parameter and property names.
const std::array<std::string, 16> kKeys = {
    "DelayTime",  "Feedback",    "HighCut",      "Mix",           "OutputGain", "Lookahead",
    "Bypass",     "SampleRate",  "BlockSize",    "Tempo",         "Latency",    "TailTime",
    "PresetName", "EditorWidth", "EditorHeight", "RenderQuality",
};

// The order of the lookups: every key once, shuffled the same way for both
// maps so that neither profits from lookups in slot order.
const std::array<int, 16> kOrder = {7, 2, 13, 0, 11, 5, 15, 9, 3, 12, 1, 8, 14, 6, 10, 4};

void FastStringMapFind(benchmark::State& state) {
    NSVextra::FastStringMap map;
    map.allocate(static_cast<int>(kKeys.size()));
    map.setKeyCount(kKeys.size());
    for (std::size_t i = 0; i < kKeys.size(); ++i)
        map.setKey(i, kKeys[i]);
    for (std::size_t i = 0; i < kKeys.size(); ++i) {
        if (map.findKey(kKeys[i]) != i) {
            state.SkipWithError("FastStringMap does not find its own keys");
            return;
        }
    }
    for (auto _ : state) {
        unsigned long long sum = 0;
        for (int k : kOrder)
            sum += map.findKey(kKeys[static_cast<std::size_t>(k)]);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long long>(kOrder.size()));
}

void UnorderedMapFind(benchmark::State& state) {
    std::unordered_map<std::string, unsigned long long> map;
    for (std::size_t i = 0; i < kKeys.size(); ++i)
        map.emplace(kKeys[i], i);
    for (auto _ : state) {
        unsigned long long sum = 0;
        for (int k : kOrder) {
            const auto it = map.find(kKeys[static_cast<std::size_t>(k)]);
            sum += it != map.end() ? it->second : ~0ULL;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long long>(kOrder.size()));
}

BENCHMARK(FastStringMapFind);
BENCHMARK(UnorderedMapFind);

} // namespace

int main(int argc, char** argv) {
    vxbench::Figures figures;
    figures.add(vxbench::Ratio{"fast string map: findKey vs unordered_map (speed)",
                               "FastStringMapFind", "UnorderedMapFind", vxbench::Goal::AtLeast, 1.0,
                               true});
    return figures.run(argc, argv);
}
