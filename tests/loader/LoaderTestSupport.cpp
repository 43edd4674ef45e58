#include "LoaderTestSupport.h"

#include <loader/instrset.h>

#include <unistd.h>

#include <fstream>
#include <stdexcept>

namespace vxtest {

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "vxloader-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a temporary folder");
    mPath = pattern;
}

void writeTextFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

void installFile(const fs::path& source, const fs::path& destination) {
    fs::create_directories(destination.parent_path());
    fs::copy_file(source, destination, fs::copy_options::overwrite_existing);
}

fs::path makeTestBundle(const fs::path& folder, const std::string& name,
                        const std::string& identifier) {
    const fs::path contents = folder / (name + ".component") / "Contents";
    installFile(VX_TEST_BUNDLE_MARKER, contents / "MacOS" / name);
    writeTextFile(contents / "Info.plist",
                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
                  "\t<key>CFBundleExecutable</key>\n\t<string>" +
                      name + "</string>\n\t<key>CFBundleIdentifier</key>\n\t<string>" + identifier +
                      "</string>\n</dict>\n</plist>\n");
    return contents / "MacOS" / name;
}

SimulatedCpu SimulatedCpu::atLevel(int level) {
    SimulatedCpu cpu;
    if (level <= 0) {
        cpu.maxLeaf = 0;
        cpu.edx1 = 0x7FFFFFFF; // bits a careless detector might still read
        return cpu;
    }
    cpu.edx1 = 0x3808001 | (level >= 2 ? 1u << 26 : 0);
    const uint32_t ecx1[] = {0,       0,        0,        1u << 0,
                             1u << 9, 1u << 19, 0x900000, (1u << 27) | (1u << 28)};
    for (int l = 3; l <= level && l <= 7; ++l)
        cpu.ecx1 |= ecx1[l];
    cpu.xcr0 = level >= 9 ? 0xE7 : level >= 7 ? 0x7 : 0;
    cpu.ebx7 =
        (level >= 8 ? 1u << 5 : 0) | (level >= 9 ? 1u << 16 : 0) | (level >= 10 ? 0xC0020000 : 0);
    cpu.eaxD = level >= 9 ? 0xE7 : 0;
    return cpu;
}

vxloader::CpuQuery SimulatedCpu::query() {
    vxloader::CpuQuery q{};
    q.context = this;
    q.cpuid = [](void* context, int regs[4], int leaf, int) {
        auto* c = static_cast<SimulatedCpu*>(context);
        ++c->cpuidCalls;
        const uint32_t l = static_cast<uint32_t>(leaf);
        const uint32_t r[4] = {l == 0     ? c->maxLeaf
                               : l == 0xD ? c->eaxD
                                          : 0,
                               l == 7 ? c->ebx7 : 0,
                               l == 1            ? c->ecx1
                               : l == 7          ? c->ecx7
                               : l == 0x80000001 ? c->ecxExt
                                                 : 0,
                               l == 1 ? c->edx1 : 0};
        for (int i = 0; i < 4; ++i)
            regs[i] = static_cast<int>(r[i]);
    };
    q.xgetbv = [](void* context, int) -> uint64_t {
        auto* cpu = static_cast<SimulatedCpu*>(context);
        ++cpu->xgetbvCalls;
        return cpu->xcr0;
    };
    return q;
}

ScopedCpu::ScopedCpu(SimulatedCpu& cpu) : mQuery(cpu.query()) {
    vxloader::setCpuQuery(&mQuery);
    vxloader::resetInstrsetCache();
}

ScopedCpu::~ScopedCpu() {
    vxloader::setCpuQuery(nullptr);
    vxloader::resetInstrsetCache();
}

} // namespace vxtest
