// What the loader tests share: temporary folders, test bundles, module paths
// and simulated processors.
#pragma once

#include <engine_api/IAudioPlugin.h>
#include <loader/CpuQuery.h>

#include <cstdint>
#include <filesystem>
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

// Both create the destination's folders.
void writeTextFile(const fs::path& path, const std::string& text);
void installFile(const fs::path& source, const fs::path& destination);

// Lays out <folder>/<name>.component with an Info.plist carrying the
// identifier and the bundle-marker module as its binary. Returns the binary.
fs::path makeTestBundle(const fs::path& folder, const std::string& name,
                        const std::string& identifier);

inline fs::path engineBuild(const std::string& fileName) { // "audplga5.dylib"
    return fs::path(VX_ENGINE_DIR) / fileName;
}
inline fs::path testEngine(const std::string& stem) { // "recording"
    return fs::path(VX_TEST_ENGINE_DIR) / (stem + ".dylib");
}

// A host link whose facts are fixed (the sample rate settable) and which
// records the calls that tell it something.
struct TestHost : IAudioHostLink {
    float rate = 48000.f;
    std::vector<int> latencies;
    std::vector<std::string> calls;
    void IParamChanged(int index) override { calls.push_back("changed " + std::to_string(index)); }
    int IGetRenderMode() override { return 1; }
    float IGetSampleRate() override { return rate; }
    int IGetBlockSize() override { return 3; }
    double IGetTempo() override { return 4.0; }
    double IGetHostSamplePosition() override { return 5.0; }
    bool IGetHostTransportPlaying() override { return true; }
    void ISetLatency(int samples) override { latencies.push_back(samples); }
    void IWindowSizeChanged() override { calls.push_back("window"); }
};

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

} // namespace vxtest
