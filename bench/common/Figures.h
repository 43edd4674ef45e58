// The figures a benchmark program stands for: ratios between benchmarks run
// side by side in the same process, and plain readings (counts) that the
// program measures itself, each with its target.
//
// Shared machines make absolute times meaningless, so every benchmark runs
// several times with the repetitions of all benchmarks interleaved, and a
// ratio is taken between the best repetitions of its two sides: the run least
// disturbed by the neighbours is the closest to what the code costs. Times
// are the benchmark thread's processor time (user and system), not wall
// time, which on a loaded machine mostly measures how long others held the
// core.
//
// Each figure is printed twice: in a readable table, and as one line
//     FIGURE<TAB>name<TAB>value<TAB>target<TAB>met|MISSED|info
// that bench/run collects from every program.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace vxbench {

enum class Goal {
    AtMost,  // value <= target
    AtLeast, // value >= target
    Report,  // no target; shown for information
};

// time(subject) / time(reference) per iteration, or the inverse when
// `inverse` is set (for "times faster" and throughput shares).
struct Ratio {
    std::string figure;
    std::string subject;   // full benchmark name, e.g. "Render/bundle/512"
    std::string reference; // full benchmark name
    Goal goal = Goal::Report;
    double target = 0.0;
    bool inverse = false;
};

// A value the program computes after the benchmarks have run.
struct Reading {
    std::string figure;
    std::function<double()> value;
    Goal goal = Goal::Report;
    double target = 0.0;
};

class Figures {
public:
    void add(Ratio ratio) { mRatios.push_back(std::move(ratio)); }
    void add(Reading reading) { mReadings.push_back(std::move(reading)); }

    // Runs the registered benchmarks (the usual --benchmark_* flags apply;
    // unless given, 5 interleaved repetitions, or VX_BENCH_REPETITIONS),
    // then prints every figure. Answers the process exit status: 0 when
    // everything ran, 1 when a benchmark failed or a figure lacks a side.
    // Missed targets are reported, not turned into a failure.
    int run(int argc, char** argv);

    // Best (smallest) processor seconds per iteration of a benchmark that has run;
    // negative when it has not.
    double bestSeconds(const std::string& name) const;

private:
    struct Sample {
        std::string name;
        std::vector<double> seconds; // per iteration, one entry per repetition
    };
    friend class CollectingReporter;

    std::vector<Ratio> mRatios;
    std::vector<Reading> mReadings;
    std::vector<Sample> mSamples;
    std::vector<std::string> mErrors;
};

// Formats a figure line; exposed for programs that print readings of their
// own outside Figures.
std::string figureLine(const std::string& figure, double value, Goal goal, double target);

} // namespace vxbench
