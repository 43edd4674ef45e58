// Shared fixtures of the loader tests: temporary folders, test bundles,
// simulated processors and running a load in a child
// process (a loaded bundle stays loaded, so every scenario gets a fresh
// process).
#pragma once

#include "AlertRecorder.h"

#include <loader/CpuQuery.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace vxtest {

namespace fs = std::filesystem;

// A folder under the system's temporary folder, removed with its contents.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return mPath; }
    std::string str() const { return mPath.string(); }

private:
    fs::path mPath;
};

void writeTextFile(const fs::path& path, const std::string& text);
// Copies a file, creating the destination's folders.
void installFile(const fs::path& source, const fs::path& destination);

// Lays out <folder>/<name>.component with an Info.plist carrying the
// identifier and the bundle-marker module as its binary. Returns the binary.
fs::path makeTestBundle(const fs::path& folder, const std::string& name,
                        const std::string& identifier);
// Same, with a copy of the given Info.plist (the real bundle's).
fs::path makeTestBundleWithInfo(const fs::path& folder, const std::string& name,
                                const fs::path& infoPlist);

// A processor that answers CPUID and XGETBV from the fields below and counts
// how often it is asked.
struct SimulatedCpu {
    uint32_t maxLeaf = 0xD;
    uint32_t ecx1 = 0, edx1 = 0;
    uint64_t xcr0 = 0;
    uint32_t ebx7 = 0, ecx7 = 0;
    uint32_t eaxD = 0;
    uint32_t ecxExt = 0; // leaf 0x80000001
    int cpuidCalls = 0;
    int xgetbvCalls = 0;

    // The feature bits of exactly the given level (0 .. 10).
    static SimulatedCpu atLevel(int level);
    vxloader::CpuQuery query();
};

// Installs a simulated processor for the scope and forgets the cached level
// before and after.
class ScopedCpu {
public:
    explicit ScopedCpu(SimulatedCpu& cpu);
    ~ScopedCpu();

private:
    vxloader::CpuQuery mQuery;
};

using unithost::AlertRecorder;
using unithost::RecordedAlert;

// Runs fn in a child process and hands back what it returned. A child that
// dies or exits abnormally makes `crashed` true and `output` tell why.
struct ChildResult {
    bool crashed = false;
    std::string output;
};
ChildResult runInChild(const std::function<std::string()>& fn);

// One engine load in a fresh process.
struct LoadScenario {
    int level = 10;            // simulated level; -1 for the real processor
    std::string supportFolder; // VEXTRA_SUPPORT_FOLDER; empty: unset
    std::string bundleBinary;  // opened before the load; empty: no bundle
};

struct LoadOutcome {
    bool crashed = false;
    std::string crashReason;
    bool engine = false;
    bool handleUntouched = false; // on failure the out-argument must stay as it was
    std::vector<RecordedAlert> alerts;
    std::string caption;
    std::vector<std::string> engineCalls; // recording engine only
    std::string loadedFile;               // the module file the engine came from
    std::string buildName;                // reference engine only
    std::string instructionSet;           // reference engine only
    int givenIsa = -1;                    // reference engine only
    uint32_t paramCount = 0;              // reference engine only
    std::vector<std::string> stillLoaded; // of `probeUnloaded`, files still mapped afterwards
};

LoadOutcome loadInChild(const LoadScenario& scenario,
                        const std::vector<std::string>& probeUnloaded = {});

// Paths of the build's modules.
fs::path engineBuild(const std::string& fileName); // "audplga5.dylib"
fs::path testEngine(const std::string& stem);      // "recording"
fs::path builtBundleInfoPlist();

} // namespace vxtest
