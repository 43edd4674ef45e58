// What the wrapper costs per render in executed instructions, a figure that
// does not move with the load of a shared machine: the program runs itself
// under Callgrind, renders through the bundle and calls the same engine
// directly (the direct side as the render benchmark builds it: the host's
// input copy, then IProcess), and takes the difference per call.
//
// - 32 frames with the pass-through engine: what is left is the wrapper and
//   the host runtime, plus the output copy of 2 x 32 samples;
// - 512 frames with the reference engine: the same, with an output copy of
//   2 x 512 samples, which is measured on its own so that the target can be
//   the fixed budget plus that copy.
//
// Each side is counted over two runs of different lengths after a warm-up,
// and the per-call figure is the difference of the two counts divided by the
// difference of the lengths: set-up, the first calls' lazy binding and the
// counting requests themselves cancel out.
//
// Run without arguments. Without valgrind the figures are reported as
// skipped; bench/run shows that.
#include "BundleHost.h"
#include "EngineModule.h"
#include "Figures.h"

#include <valgrind/callgrind.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#ifndef VX_REFERENCE_ENGINE
#error "the build names the reference engine module"
#endif
#ifndef VX_PASSTHROUGH_ENGINE
#error "the build names the pass-through engine module"
#endif

using namespace vxbench;

namespace {

constexpr int kWarmUp = 200;
constexpr int kShortRun = 400;
constexpr int kLongRun = 1200;
constexpr double kWrapperBudget = 450.0;

// The dump label of one counted run.
std::string label(const std::string& side, int calls) {
    return side + "#" + std::to_string(calls);
}

// Warms `call` up, then counts two runs of it, each in a dump of its own.
template <typename Call> bool countRuns(const std::string& side, Call&& call) {
    for (int i = 0; i < kWarmUp; ++i) {
        if (!call())
            return false;
    }
    for (int calls : {kShortRun, kLongRun}) {
        bool ok = true;
        CALLGRIND_ZERO_STATS;
        for (int i = 0; i < calls; ++i)
            ok = call() && ok;
        const std::string name = label(side, calls);
        CALLGRIND_DUMP_STATS_AT(name.c_str());
        if (!ok)
            return false;
    }
    return true;
}

bool countBundle(const std::string& side, const char* engine, UInt32 frames) {
    SupportFolder support;
    if (support.install(engine).empty()) {
        std::fprintf(stderr, "%s: could not install the engine\n", side.c_str());
        return false;
    }
    RenderRig rig(Entry::Factory, frames);
    if (!rig.error().empty()) {
        std::fprintf(stderr, "%s: %s\n", side.c_str(), rig.error().c_str());
        return false;
    }
    return countRuns(side, [&] { return rig.render(frames) == noErr; });
}

// Two channels of the host's signal and the engine's buffers.
struct Planes {
    explicit Planes(std::size_t frames) {
        for (int c = 0; c < 2; ++c) {
            signal[c].resize(frames);
            input[c].assign(frames, 0.f);
            output[c].assign(frames, 0.f);
            for (std::size_t i = 0; i < frames; ++i)
                signal[c][i] = 0.5f * std::sin(0.013f * static_cast<float>((c + 1) * i));
        }
    }
    std::vector<float> signal[2], input[2], output[2];
};

bool countDirect(const std::string& side, const char* engine, UInt32 frames) {
    SupportFolder support;
    const fs::path module = support.install(engine);
    EngineModule loaded;
    if (module.empty() || !loaded.open(module)) {
        std::fprintf(stderr, "%s: could not load the engine\n", side.c_str());
        return false;
    }
    FixedHostLink link(48000.f, static_cast<int>(frames));
    IAudioPlugin* plugin = loaded.createPrepared(&link);
    if (!plugin) {
        std::fprintf(stderr, "%s: could not create the engine\n", side.c_str());
        return false;
    }
    Planes planes(frames);
    float* in[2] = {planes.input[0].data(), planes.input[1].data()};
    float* out[2] = {planes.output[0].data(), planes.output[1].data()};
    const bool ok = countRuns(side, [&] {
        std::memcpy(in[0], planes.signal[0].data(), frames * sizeof(float));
        std::memcpy(in[1], planes.signal[1].data(), frames * sizeof(float));
        plugin->IProcess(0, in, out, static_cast<int>(frames));
        return true;
    });
    plugin->IDestroy();
    return ok;
}

// The copy the unit makes of its output into the caller's buffers, alone.
bool countOutputCopy(const std::string& side, UInt32 frames) {
    Planes planes(frames);
    void* volatile destinations[2] = {planes.output[0].data(), planes.output[1].data()};
    return countRuns(side, [&] {
        for (int c = 0; c < 2; ++c)
            std::memmove(destinations[c], planes.input[c].data(), frames * sizeof(float));
        return true;
    });
}

int measure() {
    const bool ok = countBundle("passthrough-bundle-32", VX_PASSTHROUGH_ENGINE, 32) &&
                    countDirect("passthrough-direct-32", VX_PASSTHROUGH_ENGINE, 32) &&
                    countBundle("reference-bundle-512", VX_REFERENCE_ENGINE, 512) &&
                    countDirect("reference-direct-512", VX_REFERENCE_ENGINE, 512) &&
                    countOutputCopy("output-copy-512", 512);
    return ok ? 0 : 1;
}

// Instructions of every counted run, by label, from Callgrind's dump files.
std::map<std::string, double> readDumps(const fs::path& folder) {
    std::map<std::string, double> counts;
    const std::string trigger = "desc: Trigger: Client Request: ";
    for (const auto& entry : fs::directory_iterator(folder)) {
        std::ifstream in(entry.path());
        std::string line, name;
        double total = -1;
        while (std::getline(in, line)) {
            if (line.rfind(trigger, 0) == 0)
                name = line.substr(trigger.size());
            else if (line.rfind("summary: ", 0) == 0)
                total = std::strtod(line.c_str() + line.find(' ') + 1, nullptr);
        }
        if (!name.empty() && total >= 0)
            counts[name] = total;
    }
    return counts;
}

// Runs this program under Callgrind; false when valgrind could not run it.
bool runUnderCallgrind(const char* self, const fs::path& folder) {
    const std::string outFile = "--callgrind-out-file=" + (folder / "run").string();
    const pid_t child = fork();
    if (child == 0) {
        const char* argv[] = {"valgrind", "--tool=callgrind", "--quiet", outFile.c_str(),
                              self,       "--measure",        nullptr};
        execvp("valgrind", const_cast<char* const*>(argv));
        _exit(127);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child)
        return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void printFigure(const std::string& name, double value, Goal goal, double target) {
    std::printf("%-62s %10.0f", name.c_str(), value);
    if (goal == Goal::AtMost)
        std::printf("   target <= %.0f", target);
    std::printf("\n%s\n", figureLine(name, value, goal, target).c_str());
}

int report(const char* self) {
    char pattern[] = "/tmp/vx-callgrind-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path folder = pattern;
    const bool ran = runUnderCallgrind(self, folder);
    const auto counts = readDumps(folder);
    fs::remove_all(folder);
    if (!ran) {
        std::printf("wrapper instructions: skipped (valgrind is not installed or the run "
                    "failed; scripts/setup.sh installs it)\n");
        return 1;
    }

    bool complete = true;
    auto perCall = [&](const std::string& side) {
        const auto shortRun = counts.find(label(side, kShortRun));
        const auto longRun = counts.find(label(side, kLongRun));
        if (shortRun == counts.end() || longRun == counts.end()) {
            std::fprintf(stderr, "bench_render_instructions: no count for %s\n", side.c_str());
            complete = false;
            return 0.0;
        }
        return (longRun->second - shortRun->second) / double(kLongRun - kShortRun);
    };
    const double bundle32 = perCall("passthrough-bundle-32");
    const double direct32 = perCall("passthrough-direct-32");
    const double bundle512 = perCall("reference-bundle-512");
    const double direct512 = perCall("reference-direct-512");
    const double copy512 = perCall("output-copy-512");
    if (!complete)
        return 1;

    std::printf("instructions per call (callgrind): bundle %.0f, direct %.0f at 32 frames; "
                "bundle %.0f, direct %.0f, output copy %.0f at 512 frames\n",
                bundle32, direct32, bundle512, direct512, copy512);
    printFigure("wrapper instructions per render, 32 frames", bundle32 - direct32, Goal::AtMost,
                kWrapperBudget);
    printFigure("wrapper instructions per render, 512 frames", bundle512 - direct512, Goal::AtMost,
                kWrapperBudget + copy512);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if ((argc > 1 && std::strcmp(argv[1], "--measure") == 0) || RUNNING_ON_VALGRIND)
        return measure();
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    return report(error ? argv[0] : self.c_str());
}
