#include "LoaderTestSupport.h"

#include <loader/AudioPluginLoader.h>
#include <loader/MsgBox.h>

#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
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

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(mPath, ignored);
}

void writeTextFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

void installFile(const fs::path& source, const fs::path& destination) {
    fs::create_directories(destination.parent_path());
    fs::copy_file(source, destination, fs::copy_options::overwrite_existing);
}

static fs::path bundleBinaryPath(const fs::path& folder, const std::string& name) {
    return folder / (name + ".component") / "Contents" / "MacOS" / name;
}

fs::path makeTestBundle(const fs::path& folder, const std::string& name,
                        const std::string& identifier) {
    const fs::path binary = bundleBinaryPath(folder, name);
    installFile(VX_TEST_BUNDLE_MARKER, binary);
    writeTextFile(folder / (name + ".component") / "Contents" / "Info.plist",
                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                  "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                  "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                  "<plist version=\"1.0\">\n<dict>\n"
                  "\t<key>CFBundleExecutable</key>\n\t<string>" +
                      name +
                      "</string>\n"
                      "\t<key>CFBundleIdentifier</key>\n\t<string>" +
                      identifier +
                      "</string>\n"
                      "</dict>\n</plist>\n");
    return binary;
}

fs::path makeTestBundleWithInfo(const fs::path& folder, const std::string& name,
                                const fs::path& infoPlist) {
    const fs::path binary = bundleBinaryPath(folder, name);
    installFile(VX_TEST_BUNDLE_MARKER, binary);
    installFile(infoPlist, folder / (name + ".component") / "Contents" / "Info.plist");
    return binary;
}

SimulatedCpu SimulatedCpu::atLevel(int level) {
    SimulatedCpu cpu;
    if (level <= 0) {
        cpu.maxLeaf = 0;
        // Bits a careless detector might still read.
        cpu.edx1 = 0x7FFFFFFF;
        return cpu;
    }
    cpu.edx1 = 0x3808001;
    if (level >= 2)
        cpu.edx1 |= 1u << 26;
    if (level >= 3)
        cpu.ecx1 |= 1u << 0;
    if (level >= 4)
        cpu.ecx1 |= 1u << 9;
    if (level >= 5)
        cpu.ecx1 |= 1u << 19;
    if (level >= 6)
        cpu.ecx1 |= 0x900000;
    if (level >= 7) {
        cpu.ecx1 |= (1u << 27) | (1u << 28);
        cpu.xcr0 = 0x7;
    }
    if (level >= 8)
        cpu.ebx7 |= 1u << 5;
    if (level >= 9) {
        cpu.ebx7 |= 1u << 16;
        cpu.eaxD = 0xE7;
        cpu.xcr0 = 0xE7;
    }
    if (level >= 10)
        cpu.ebx7 |= 0xC0020000;
    return cpu;
}

vxloader::CpuQuery SimulatedCpu::query() {
    vxloader::CpuQuery q{};
    q.context = this;
    q.cpuid = [](void* context, int regs[4], int leaf, int) {
        auto* cpu = static_cast<SimulatedCpu*>(context);
        ++cpu->cpuidCalls;
        uint32_t r[4] = {0, 0, 0, 0};
        switch (static_cast<uint32_t>(leaf)) {
        case 0:
            r[0] = cpu->maxLeaf;
            break;
        case 1:
            r[2] = cpu->ecx1;
            r[3] = cpu->edx1;
            break;
        case 7:
            r[1] = cpu->ebx7;
            r[2] = cpu->ecx7;
            break;
        case 0xD:
            r[0] = cpu->eaxD;
            break;
        case 0x80000001:
            r[2] = cpu->ecxExt;
            break;
        default:
            break;
        }
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

ChildResult runInChild(const std::function<std::string()>& fn) {
    int fds[2];
    if (pipe(fds) != 0)
        return {true, "pipe failed"};
    const pid_t pid = fork();
    if (pid < 0)
        return {true, "fork failed"};
    if (pid == 0) {
        close(fds[0]);
        const std::string out = fn();
        size_t written = 0;
        while (written < out.size()) {
            const ssize_t n = write(fds[1], out.data() + written, out.size() - written);
            if (n <= 0)
                break;
            written += static_cast<size_t>(n);
        }
        close(fds[1]);
        _exit(0);
    }
    close(fds[1]);
    std::string out;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0)
        out.append(buffer, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFSIGNALED(status))
        return {true, "child killed by signal " + std::to_string(WTERMSIG(status))};
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return {true, "child exited with status " + std::to_string(WEXITSTATUS(status))};
    return {false, out};
}

namespace {

template <typename Fn> Fn symbolOf(void* handle, const char* name) {
    return reinterpret_cast<Fn>(dlsym(handle, name));
}

std::string runLoad(const LoadScenario& scenario, const std::vector<std::string>& probes) {
    std::ostringstream report;
    if (scenario.supportFolder.empty())
        unsetenv("VEXTRA_SUPPORT_FOLDER");
    else
        setenv("VEXTRA_SUPPORT_FOLDER", scenario.supportFolder.c_str(), 1);
    if (!scenario.bundleBinary.empty() &&
        !dlopen(scenario.bundleBinary.c_str(), RTLD_NOW | RTLD_LOCAL)) {
        report << "setup: " << dlerror() << "\n";
        return report.str();
    }
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

    for (const RecordedAlert& a : recorder.alerts)
        report << "alert: " << a.message << "\tinfo: " << a.informative << "\n";
    report << "caption: " << NSVextra::g_szMsgBoxCaption << "\n";
    report << "untouched: " << (handle == untouched ? 1 : 0) << "\n";
    if (engine && handle && handle != untouched) {
        report << "engine: 1\n";
        Dl_info info{};
        if (dladdr(dlsym(handle, "createAudioPluginInstance"), &info) && info.dli_fname)
            report << "file: " << info.dli_fname << "\n";
        if (auto log = symbolOf<const char* (*)()>(handle, "vxRecordingLog")) {
            std::istringstream lines(log());
            for (std::string line; std::getline(lines, line);)
                report << "call: " << line << "\n";
        }
        if (auto name = symbolOf<const char* (*)()>(handle, "vxEngineBuildName"))
            report << "build: " << name() << "\n";
        if (auto isa = symbolOf<const char* (*)()>(handle, "vxEngineInstructionSet"))
            report << "isa: " << isa() << "\n";
        if (auto given = symbolOf<int (*)(const IAudioPlugin*)>(handle, "vxEngineGivenISA")) {
            report << "given: " << given(engine) << "\n";
            // Only the reference engine answers this through its interface.
            report << "params: " << engine->IGetInfo()->paramCount << "\n";
        }
        engine->IDestroy();
        dlclose(handle);
    } else if (engine) {
        report << "engine: inconsistent\n";
    }
    for (const std::string& probe : probes)
        if (void* h = dlopen(probe.c_str(), RTLD_NOW | RTLD_NOLOAD)) {
            report << "loaded: " << probe << "\n";
            dlclose(h);
        }
    return report.str();
}

bool take(const std::string& line, const char* key, std::string& value) {
    const size_t n = std::strlen(key);
    if (line.compare(0, n, key) != 0)
        return false;
    value = line.substr(n);
    return true;
}

} // namespace

LoadOutcome loadInChild(const LoadScenario& scenario, const std::vector<std::string>& probes) {
    LoadOutcome outcome;
    const ChildResult child = runInChild([&] { return runLoad(scenario, probes); });
    if (child.crashed) {
        outcome.crashed = true;
        outcome.crashReason = child.output;
        return outcome;
    }
    std::istringstream lines(child.output);
    for (std::string line, v; std::getline(lines, line);) {
        if (take(line, "alert: ", v)) {
            const size_t tab = v.find("\tinfo: ");
            outcome.alerts.push_back({v.substr(0, tab), v.substr(tab + 7), {}});
        } else if (take(line, "caption: ", v)) {
            outcome.caption = v;
        } else if (take(line, "untouched: ", v)) {
            outcome.handleUntouched = v == "1";
        } else if (take(line, "engine: ", v)) {
            outcome.engine = v == "1";
        } else if (take(line, "file: ", v)) {
            outcome.loadedFile = v;
        } else if (take(line, "call: ", v)) {
            outcome.engineCalls.push_back(v);
        } else if (take(line, "build: ", v)) {
            outcome.buildName = v;
        } else if (take(line, "isa: ", v)) {
            outcome.instructionSet = v;
        } else if (take(line, "given: ", v)) {
            outcome.givenIsa = std::stoi(v);
        } else if (take(line, "params: ", v)) {
            outcome.paramCount = static_cast<uint32_t>(std::stoul(v));
        } else if (take(line, "loaded: ", v)) {
            outcome.stillLoaded.push_back(v);
        } else if (take(line, "setup: ", v)) {
            outcome.crashed = true;
            outcome.crashReason = "setup failed: " + v;
        }
    }
    return outcome;
}

fs::path engineBuild(const std::string& fileName) {
    return fs::path(VX_ENGINE_DIR) / fileName;
}

fs::path testEngine(const std::string& stem) {
    return fs::path(VX_TEST_ENGINE_DIR) / (stem + ".dylib");
}

fs::path builtBundleInfoPlist() {
    return fs::path(VX_BUNDLE_DIR) / "Contents" / "Info.plist";
}

} // namespace vxtest
