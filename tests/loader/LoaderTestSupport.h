// Shared fixtures of the loader tests: temporary folders, test bundles,
// simulated processors and running a load in a child process (a loaded
// bundle stays loaded, so every scenario gets a fresh process).
#pragma once

#include "AlertRecorder.h"

#include <loader/CpuQuery.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace vxtest {

namespace fs = std::filesystem;

// A folder under the system's temporary folder, removed with its contents.
class TempDir {
public:
    TempDir();
    ~TempDir() { fs::remove_all(mPath, mIgnored); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return mPath; }

private:
    fs::path mPath;
    std::error_code mIgnored;
};

void writeTextFile(const fs::path& path, const std::string& text);
// Copies a file, creating the destination's folders.
void installFile(const fs::path& source, const fs::path& destination);

// Lays out <folder>/<name>.component with an Info.plist carrying the
// identifier and the bundle-marker module as its binary. Returns the binary.
fs::path makeTestBundle(const fs::path& folder, const std::string& name,
                        const std::string& identifier);

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

// Runs fn in a child process and answers what it returned, or "crashed: why"
// when the child died or exited abnormally.
std::string runInChild(const std::function<std::string()>& fn);

// One engine load in a fresh process: the simulated level (-1 for the real
// processor), VEXTRA_SUPPORT_FOLDER (empty: unset), the bundle binary opened
// before the load (empty: none), and module files whose still being mapped
// afterwards is reported.
struct LoadScenario {
    int level = 10;
    std::string supportFolder;
    std::string bundleBinary;
    std::vector<std::string> probes;
};

// The child's report, by key: "alert" and "info" (each alert's texts),
// "caption", "untouched" (1 when a failed load left the caller's handle
// alone), "engine" (1 for an engine with its module), "file" (the module it
// came from), "call" (the recording engine's log), "loaded" (probes still
// mapped) and "crashed".
struct LoadOutcome {
    std::map<std::string, std::vector<std::string>> lines;
    std::vector<std::string> all(const std::string& key) const;
    std::string one(const std::string& key) const; // the first, or ""
};
LoadOutcome loadInChild(const LoadScenario& scenario);

// Paths of the build's modules.
fs::path engineBuild(const std::string& fileName); // "audplga5.dylib"
fs::path testEngine(const std::string& stem);      // "recording"

} // namespace vxtest
