#include "LoaderTestSupport.h"

#include <loader/AudioPluginLoader.h>
#include <loader/MsgBox.h>

#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
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
        auto* cpu = static_cast<SimulatedCpu*>(context);
        ++cpu->cpuidCalls;
        const uint32_t leaf0[4] = {cpu->maxLeaf, 0, 0, 0};
        const uint32_t leaf1[4] = {0, 0, cpu->ecx1, cpu->edx1};
        const uint32_t leaf7[4] = {0, cpu->ebx7, cpu->ecx7, 0};
        const uint32_t leafD[4] = {cpu->eaxD, 0, 0, 0};
        const uint32_t ext[4] = {0, 0, cpu->ecxExt, 0};
        const uint32_t none[4] = {};
        const uint32_t l = static_cast<uint32_t>(leaf);
        const uint32_t* r = l == 0            ? leaf0
                            : l == 1          ? leaf1
                            : l == 7          ? leaf7
                            : l == 0xD        ? leafD
                            : l == 0x80000001 ? ext
                                              : none;
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

std::string runInChild(const std::function<std::string()>& fn) {
    int fds[2];
    if (pipe(fds) != 0)
        return "crashed: pipe failed";
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const std::string out = fn();
        for (size_t done = 0; done < out.size();) {
            const ssize_t n = write(fds[1], out.data() + done, out.size() - done);
            if (n <= 0)
                break;
            done += static_cast<size_t>(n);
        }
        _exit(0);
    }
    close(fds[1]);
    std::string out;
    char buffer[4096];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;)
        out.append(buffer, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid)
        return "crashed: no child";
    if (WIFSIGNALED(status))
        return "crashed: signal " + std::to_string(WTERMSIG(status));
    if (WEXITSTATUS(status) != 0)
        return "crashed: status " + std::to_string(WEXITSTATUS(status));
    return out;
}

namespace {

template <typename Fn> Fn symbolOf(void* handle, const char* name) {
    return reinterpret_cast<Fn>(dlsym(handle, name));
}

std::string runLoad(const LoadScenario& scenario) {
    std::ostringstream report;
    if (scenario.supportFolder.empty())
        unsetenv("VEXTRA_SUPPORT_FOLDER");
    else
        setenv("VEXTRA_SUPPORT_FOLDER", scenario.supportFolder.c_str(), 1);
    if (!scenario.bundleBinary.empty() &&
        !dlopen(scenario.bundleBinary.c_str(), RTLD_NOW | RTLD_LOCAL))
        return std::string("crashed: setup: ") + dlerror() + "\n";
    SimulatedCpu cpu = SimulatedCpu::atLevel(scenario.level);
    vxloader::CpuQuery query = cpu.query();
    if (scenario.level >= 0)
        vxloader::setCpuQuery(&query);
    vxloader::resetInstrsetCache();

    AlertRecorder recorder;
    void* const untouched = reinterpret_cast<void*>(0x5A5A);
    void* handle = untouched;
    IAudioPlugin* engine = newAudioPluginInstance(&handle);
    vxloader::setCpuQuery(nullptr);

    for (const unithost::RecordedAlert& a : recorder.alerts)
        report << "alert: " << a.message << "\ninfo: " << a.informative << "\n";
    report << "caption: " << NSVextra::g_szMsgBoxCaption << "\n";
    report << "untouched: " << (handle == untouched) << "\n";
    if (engine && handle && handle != untouched) {
        report << "engine: 1\n";
        Dl_info info{};
        if (dladdr(dlsym(handle, "createAudioPluginInstance"), &info) && info.dli_fname)
            report << "file: " << fs::path(info.dli_fname).filename().string() << "\n";
        if (auto log = symbolOf<const char* (*)()>(handle, "vxRecordingLog")) {
            std::istringstream lines(log());
            for (std::string line; std::getline(lines, line);)
                report << "call: " << line << "\n";
        }
        engine->IDestroy();
        dlclose(handle);
    } else if (engine) {
        report << "engine: inconsistent\n";
    }
    for (const std::string& probe : scenario.probes)
        if (void* h = dlopen(probe.c_str(), RTLD_NOW | RTLD_NOLOAD)) {
            report << "loaded: " << probe << "\n";
            dlclose(h);
        }
    return report.str();
}

} // namespace

std::vector<std::string> LoadOutcome::all(const std::string& key) const {
    const auto it = lines.find(key);
    return it == lines.end() ? std::vector<std::string>{} : it->second;
}

std::string LoadOutcome::one(const std::string& key) const {
    const auto values = all(key);
    return values.empty() ? "" : values[0];
}

LoadOutcome loadInChild(const LoadScenario& scenario) {
    LoadOutcome outcome;
    std::istringstream lines(runInChild([&] { return runLoad(scenario); }));
    for (std::string line; std::getline(lines, line);) {
        const size_t colon = line.find(": ");
        outcome.lines[line.substr(0, colon)].push_back(
            colon == std::string::npos ? "" : line.substr(colon + 2));
    }
    return outcome;
}

fs::path engineBuild(const std::string& fileName) {
    return fs::path(VX_ENGINE_DIR) / fileName;
}

fs::path testEngine(const std::string& stem) {
    return fs::path(VX_TEST_ENGINE_DIR) / (stem + ".dylib");
}

} // namespace vxtest
