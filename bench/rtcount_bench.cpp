// Heap allocations and mutex locks per render call through the host runtime
// and the bundle with the reference engine, counted over 10,000 renders
// after a warm-up. The program links the counting allocator and lock
// functions, so every allocation and lock of the process is seen, the
// bundle's and the platform library's included.
#include "BundleHost.h"
#include "Figures.h"

#include <rtcheck/rtcheck.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#ifndef VX_REFERENCE_ENGINE
#error "the build names the reference engine module"
#endif

using namespace vxbench;

namespace {

constexpr int kWarmUp = 500;
constexpr int kRenders = 10000;
constexpr UInt32 kFrames = 512;

struct Result {
    rtcheck::Counts counts;
    int failures = 0;
};

Result countRenders(Entry entry, std::string& error) {
    Result result;
    SupportFolder support;
    if (support.install(VX_REFERENCE_ENGINE).empty()) {
        error = "could not install the engine";
        return result;
    }
    RenderRig rig(entry, kFrames);
    if (!rig.error().empty()) {
        error = rig.error();
        return result;
    }
    for (int i = 0; i < kWarmUp; ++i)
        result.failures += rig.render(kFrames) != noErr;
    // Every thread: a render that handed work to another thread would show.
    rtcheck::Scope scope(rtcheck::Threads::All);
    for (int i = 0; i < kRenders; ++i)
        result.failures += rig.render(kFrames) != noErr;
    result.counts = scope.counts();
    return result;
}

} // namespace

int main() {
    if (!rtcheck::countsAllocations() || !rtcheck::countsLocks()) {
        std::fprintf(stderr, "this build cannot count allocations and locks\n");
        return 1;
    }
    {
        // The counters must see what they are meant to see, or a zero
        // below would prove nothing.
        rtcheck::Scope probe(rtcheck::Threads::All);
        void* volatile block = std::malloc(64);
        std::free(block);
        if (probe.counts().allocations < 1) {
            std::fprintf(stderr, "the allocation counter missed a malloc\n");
            return 1;
        }
    }
    int status = 0;
    std::printf("%-52s %12s %10s  %s\n", "figure", "measured", "target", "");
    const struct {
        Entry entry;
        const char* name;
    } entries[] = {{Entry::Factory, "factory entry"},
                   {Entry::ComponentManager, "Component Manager entry"}};
    for (const auto& e : entries) {
        std::string error;
        const Result r = countRenders(e.entry, error);
        if (!error.empty() || r.failures != 0) {
            std::fprintf(stderr, "renders through the %s failed: %s (%d failed calls)\n", e.name,
                         error.c_str(), r.failures);
            status = 1;
            continue;
        }
        const double allocations =
            static_cast<double>(r.counts.allocations + r.counts.frees) / kRenders;
        const double locks = static_cast<double>(r.counts.locks) / kRenders;
        const std::string a = std::string("allocations per render (") + e.name + ")";
        const std::string l = std::string("locks per render (") + e.name + ")";
        std::printf("%-52s %12.4f %10s  %s\n", a.c_str(), allocations, "<= 0.00",
                    allocations <= 0.0 ? "met" : "MISSED");
        std::printf("%-52s %12.4f %10s  %s\n", l.c_str(), locks, "<= 0.00",
                    locks <= 0.0 ? "met" : "MISSED");
        std::printf("%s\n", figureLine(a, allocations, Goal::AtMost, 0.0).c_str());
        std::printf("%s\n", figureLine(l, locks, Goal::AtMost, 0.0).c_str());
        std::printf("  (%d renders: %ld allocations, %ld frees, %ld locks)\n", kRenders,
                    r.counts.allocations, r.counts.frees, r.counts.locks);
    }
    return status;
}
