#include "Figures.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace vxbench {

// Shows the aggregates as the console reporter does and keeps every single
// repetition for the figures.
class CollectingReporter : public benchmark::ConsoleReporter {
public:
    explicit CollectingReporter(Figures& figures)
        : benchmark::ConsoleReporter(OO_Tabular), mFigures(figures) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        std::vector<Run> shown;
        for (const Run& run : runs) {
            if (run.error_occurred) {
                mFigures.mErrors.push_back(run.benchmark_name() + ": " + run.error_message);
                shown.push_back(run);
                continue;
            }
            if (run.run_type == Run::RT_Aggregate) {
                shown.push_back(run);
                continue;
            }
            if (run.iterations <= 0)
                continue;
            record(run.benchmark_name(),
                   run.cpu_accumulated_time / static_cast<double>(run.iterations));
            if (run.repetitions <= 1)
                shown.push_back(run);
        }
        if (!shown.empty())
            ConsoleReporter::ReportRuns(shown);
    }

private:
    void record(const std::string& name, double seconds) {
        for (auto& sample : mFigures.mSamples) {
            if (sample.name == name) {
                sample.seconds.push_back(seconds);
                return;
            }
        }
        mFigures.mSamples.push_back({name, {seconds}});
    }

    Figures& mFigures;
};

namespace {

const char* verdict(double value, Goal goal, double target) {
    switch (goal) {
    case Goal::AtMost:
        return value <= target ? "met" : "MISSED";
    case Goal::AtLeast:
        return value >= target ? "met" : "MISSED";
    case Goal::Report:
        break;
    }
    return "info";
}

std::string targetText(Goal goal, double target) {
    char buf[64];
    switch (goal) {
    case Goal::AtMost:
        std::snprintf(buf, sizeof buf, "<= %.2f", target);
        return buf;
    case Goal::AtLeast:
        std::snprintf(buf, sizeof buf, ">= %.2f", target);
        return buf;
    case Goal::Report:
        break;
    }
    return "-";
}

std::string valueText(double value) {
    char buf[64];
    if (value != 0.0 && (std::fabs(value) >= 1e6 || std::fabs(value) < 1e-3))
        std::snprintf(buf, sizeof buf, "%.4g", value);
    else
        std::snprintf(buf, sizeof buf, "%.3f", value);
    return buf;
}

bool hasFlag(int argc, char** argv, std::string_view flag) {
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]).substr(0, flag.size()) == flag)
            return true;
    }
    return false;
}

} // namespace

std::string figureLine(const std::string& figure, double value, Goal goal, double target) {
    return "FIGURE\t" + figure + "\t" + valueText(value) + "\t" + targetText(goal, target) + "\t" +
           verdict(value, goal, target);
}

double Figures::bestSeconds(const std::string& name) const {
    for (const auto& sample : mSamples) {
        if (sample.name == name && !sample.seconds.empty())
            return *std::min_element(sample.seconds.begin(), sample.seconds.end());
    }
    return -1.0;
}

int Figures::run(int argc, char** argv) {
    // Default flags go in front, so that the caller's own flags win.
    std::vector<std::string> storage;
    storage.emplace_back(argc > 0 ? argv[0] : "bench");
    if (!hasFlag(argc, argv, "--benchmark_repetitions")) {
        const char* env = std::getenv("VX_BENCH_REPETITIONS");
        storage.push_back(std::string("--benchmark_repetitions=") + (env && *env ? env : "5"));
    }
    if (!hasFlag(argc, argv, "--benchmark_enable_random_interleaving"))
        storage.emplace_back("--benchmark_enable_random_interleaving=true");
    for (int i = 1; i < argc; ++i)
        storage.emplace_back(argv[i]);
    std::vector<char*> args;
    for (auto& s : storage)
        args.push_back(s.data());
    args.push_back(nullptr);
    int count = static_cast<int>(storage.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data()))
        return 1;

    CollectingReporter reporter(*this);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    int status = mErrors.empty() ? 0 : 1;
    for (const auto& e : mErrors)
        std::fprintf(stderr, "benchmark failed: %s\n", e.c_str());

    std::vector<std::string> lines;
    std::printf("\n%-52s %12s %10s  %s\n", "figure", "measured", "target", "");
    for (const Ratio& r : mRatios) {
        const double subject = bestSeconds(r.subject);
        const double reference = bestSeconds(r.reference);
        if (subject <= 0.0 || reference <= 0.0) {
            // A filter may have left one side out; say so rather than guess.
            std::printf("%-52s %12s %10s  (not run: %s)\n", r.figure.c_str(), "-",
                        targetText(r.goal, r.target).c_str(),
                        subject <= 0.0 ? r.subject.c_str() : r.reference.c_str());
            continue;
        }
        const double value = r.inverse ? reference / subject : subject / reference;
        std::printf("%-52s %12s %10s  %s\n", r.figure.c_str(), valueText(value).c_str(),
                    targetText(r.goal, r.target).c_str(), verdict(value, r.goal, r.target));
        lines.push_back(figureLine(r.figure, value, r.goal, r.target));
    }
    for (const Reading& r : mReadings) {
        const double value = r.value();
        if (std::isnan(value)) {
            std::printf("%-52s %12s %10s  (not measured)\n", r.figure.c_str(), "-",
                        targetText(r.goal, r.target).c_str());
            status = 1;
            continue;
        }
        std::printf("%-52s %12s %10s  %s\n", r.figure.c_str(), valueText(value).c_str(),
                    targetText(r.goal, r.target).c_str(), verdict(value, r.goal, r.target));
        lines.push_back(figureLine(r.figure, value, r.goal, r.target));
    }
    std::printf("\n");
    for (const auto& line : lines)
        std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    return status;
}

} // namespace vxbench
