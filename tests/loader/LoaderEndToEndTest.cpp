// Engine loads from real module files in temporary support folders, each in
// a fresh process (a loaded bundle stays loaded) with a test bundle of the
// plug-in's identifier loaded.
#include "AlertRecorder.h"
#include "LoaderTestSupport.h"

#include <loader/AudioPluginLoader.h>
#include <loader/MsgBox.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

using namespace vxtest;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::StartsWith;

namespace {

constexpr const char* kId = "com.vextra-audio.Delay";
const std::vector<std::string> kBuilds = {"audplg.dylib", "audplga.dylib", "audplga2.dylib",
                                          "audplga5.dylib"};

std::string notFound(int level) {
    return "Failed to find suitable audio plug-in module for target cpu (CPU ISA = " +
           std::to_string(level) + "). Plug-In will not load.";
}

// One load on a processor of the level, with the bundle binary (if any)
// opened first. The report: each alert's texts, the caption, whether the
// caller's handle was left alone, the engine's module file and the recording
// engine's calls, and the given modules still mapped afterwards.
std::string runLoad(int level, const std::string& bundleBinary,
                    const std::vector<std::string>& modules) {
    std::ostringstream report;
    if (!bundleBinary.empty() && !dlopen(bundleBinary.c_str(), RTLD_NOW | RTLD_LOCAL))
        return std::string("crashed: setup: ") + dlerror() + "\n";
    SimulatedCpu cpu = SimulatedCpu::atLevel(level);
    ScopedCpu scope(cpu);
    unithost::AlertRecorder recorder;
    void* const untouched = reinterpret_cast<void*>(0x5A5A);
    void* handle = untouched;
    IAudioPlugin* engine = newAudioPluginInstance(&handle);
    for (const unithost::RecordedAlert& a : recorder.alerts)
        report << "alert: " << a.message << "\ninfo: " << a.informative << "\n";
    report << "caption: " << NSVextra::g_szMsgBoxCaption << "\n";
    report << "untouched: " << (handle == untouched) << "\n";
    if (engine && handle && handle != untouched) {
        Dl_info info{};
        if (dladdr(dlsym(handle, "createAudioPluginInstance"), &info) && info.dli_fname)
            report << "file: " << fs::path(info.dli_fname).filename().string() << "\n";
        if (auto log = reinterpret_cast<const char* (*)()>(dlsym(handle, "vxRecordingLog"))) {
            std::istringstream lines(log());
            for (std::string line; std::getline(lines, line);)
                report << "call: " << line << "\n";
        }
        engine->IDestroy();
        dlclose(handle);
    } else if (engine) {
        report << "engine without a module\n";
    }
    for (const std::string& module : modules)
        if (void* h = dlopen(module.c_str(), RTLD_NOW | RTLD_NOLOAD)) {
            report << "loaded: " << module << "\n";
            dlclose(h);
        }
    return report.str();
}

class EngineLoad : public ::testing::Test {
protected:
    TempDir tmp;
    fs::path support() const { return tmp.path() / "support"; }
    fs::path data() const { return support() / "Delay"; }

    // In a child process, with VEXTRA_SUPPORT_FOLDER at support(); modules
    // are reported when still mapped afterwards.
    std::string load(int level, const std::vector<std::string>& modules = {},
                     const std::string& bundle = VX_TEST_DELAY_BUNDLE_BINARY) {
        const fs::path reportFile = tmp.path() / "report";
        setenv("VEXTRA_SUPPORT_FOLDER", support().c_str(), 1);
        const pid_t pid = fork();
        if (pid == 0) {
            std::ofstream(reportFile) << runLoad(level, bundle, modules);
            _exit(0);
        }
        int status = -1;
        if (pid < 0 || waitpid(pid, &status, 0) != pid || status != 0)
            return "crashed: status " + std::to_string(status);
        std::ostringstream report;
        report << std::ifstream(reportFile).rdbuf();
        fs::remove(reportFile);
        return report.str();
    }
    // The report of a load that took the build, configured as the loader does.
    std::string loaded(const std::string& file, int isa, const fs::path& product,
                       const std::string& caption = "Vextra-Audio Delay") const {
        std::string calls = "call: construct\n";
        for (const char* n : {"1", "2", "3"})
            calls += "call: ISetProductFolder" + std::string(n) + " " + product.string() + "\n";
        return "caption: " + caption + "\nuntouched: 0\nfile: " + file + "\n" + calls +
               "call: ISetVendorFolder " + support().string() + "\ncall: ISetISA " +
               std::to_string(isa) + "\n";
    }
};

// A failed load: one alert with the caption, no engine, the caller's handle
// left alone.
std::string failed(const std::string& message, const std::string& caption = "Vextra-Audio Delay") {
    return "alert: " + message + "\ninfo: " + caption + "\ncaption: " + caption +
           "\nuntouched: 1\n";
}

} // namespace

TEST_F(EngineLoad, EachLevelTakesTheBestInstalledBuildAndOpensNoOther) {
    struct Row {
        int level;
        std::vector<std::string> installed;
        int picked;
    };
    const Row rows[] = {
        {8, {"audplg.dylib"}, 0}, // falls back to the only build there is
        {10, {"audplga2.dylib", "audplga.dylib"}, 2},
        {7, {"audplg.dylib", "audplga2.dylib", "audplga5.dylib"}, 0},
        {3, kBuilds, 0},
        {6, kBuilds, 0},
        {7, kBuilds, 1},
        {8, kBuilds, 2},
        {9, kBuilds, 3},
        {10, kBuilds, 3},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE("level " + std::to_string(row.level));
        fs::remove_all(support());
        std::vector<std::string> others; // reported if the load opened them
        for (const std::string& name : row.installed) {
            installFile(testEngine("recording"), data() / name);
            if (name != kBuilds[row.picked])
                others.push_back((data() / name).string());
        }
        // Configured only: the loader never creates the engine or links the host.
        EXPECT_EQ(load(row.level, others), loaded(kBuilds[row.picked], row.picked, data()));
    }
}

TEST_F(EngineLoad, ProductComesFromTheBundleNameAfterItsPrefix) {
    const std::string longName(190, 'L');
    struct Row {
        std::string bundle, product, caption;
    };
    const Row rows[] = {
        {"QQ-Echo", "Echo", "Vextra-Audio Echo"},
        // Too short for a product: the support folder itself is searched.
        {"VX-", "", "Vextra-Audio "},
        // Cut in the caption only; the data folder keeps the whole name.
        {"XX-" + longName, longName, ("Vextra-Audio " + longName).substr(0, 199)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.bundle.substr(0, 8));
        fs::remove_all(support());
        fs::remove_all(tmp.path() / "b");
        const fs::path bundle = makeTestBundle(tmp.path() / "b", row.bundle, kId);
        installFile(testEngine("recording"), support() / row.product / "audplga.dylib");
        EXPECT_EQ(load(7, {}, bundle.string()),
                  loaded("audplga.dylib", 1, support().string() + "/" + row.product, row.caption));
    }
}

TEST_F(EngineLoad, NothingToLoadOrAnOldProcessorGivesOneExactAlert) {
    const std::string tooOld = "Target CPU is not supported (CPU ISA = ";
    const auto lowest = [this] { installFile(testEngine("recording"), data() / "audplg.dylib"); };
    struct Row {
        const char* what;
        std::function<void()> arrange;
        int level;
        std::string message;
    };
    const Row rows[] = {
        {"empty data folder", [&] { fs::create_directories(data()); }, 9, notFound(9)},
        {"no data folder", [] {}, 7, notFound(7)},
        {"support folder is a file", [&] { writeTextFile(support(), "not a folder"); }, 8,
         notFound(8)},
        {"only a lower build is no fallback",
         [&] { installFile(testEngine("recording"), data() / "audplga.dylib"); }, 6, notFound(6)},
        {"SSE2 processor", lowest, 2, tooOld + "2). Plug-In will not load."},
        {"bare processor", lowest, 0, tooOld + "0). Plug-In will not load."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        fs::remove_all(support());
        row.arrange();
        EXPECT_EQ(load(row.level), failed(row.message));
    }
}

// The first installed build decides: a broken best build is reported (the
// texts are the fault tests' part), no lower one is tried, and a refused
// module is closed again.
TEST_F(EngineLoad, BrokenBestBuildIsReportedAndNothingStaysOpen) {
    const std::function<void(const fs::path&)> bads[] = {
        [](const fs::path& p) { writeTextFile(p, "#!/bin/sh\necho hello\n"); },
        [](const fs::path& p) { fs::create_directories(p); },
        [](const fs::path& p) { installFile(testEngine("nosymbol"), p); },
        [](const fs::path& p) { installFile(testEngine("nullfactory"), p); },
    };
    const fs::path best = data() / "audplga5.dylib", lower = data() / "audplga2.dylib";
    for (const auto& make : bads) {
        fs::remove_all(support());
        make(best);
        installFile(testEngine("recording"), lower);
        const std::string report = load(10, {best.string(), lower.string()});
        // One alert, no engine, neither module still open.
        EXPECT_THAT(report, StartsWith("alert: Failed to "));
        EXPECT_THAT(report,
                    EndsWith(". Plug-In is not properly installed." + failed("").substr(7)));
        EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 4) << report;
    }
}

TEST_F(EngineLoad, UnknownOrOverlongBundlePathNamesNoProductAndLoadsNothing) {
    // Modules lying directly in the support folder would be found under an
    // empty product name; they are not the product's and stay unloaded.
    installFile(testEngine("recording"), support() / "audplga5.dylib");
    installFile(testEngine("recording"), data() / "audplga5.dylib");
    const fs::path otherId = makeTestBundle(tmp.path() / "o", "VX-Delay", "com.example.Other");
    // Nor can a path that is not pure ASCII name one.
    const fs::path accented = makeTestBundle(tmp.path() / "Caf\xC3\xA9", "VX-Delay", kId);
    for (const std::string& bundle : {std::string(), otherId.string(), accented.string()})
        EXPECT_EQ(load(10, {}, bundle), failed(notFound(10), "Vextra-Audio ")) << bundle;
    // 299 bytes is the longest bundle path taken.
    const std::string suffix = "/VX-Delay.component";
    for (const size_t length : {299u, 300u}) {
        const fs::path base = tmp.path() / std::to_string(length);
        // Two folder names fill the rest (each part of a path stays short).
        const size_t filler = length - base.string().size() - suffix.size() - 2;
        const fs::path folder =
            base / std::string(filler / 2, 'p') / std::string(filler - filler / 2, 'q');
        ASSERT_EQ((folder.string() + suffix).size(), length);
        EXPECT_EQ(load(10, {}, makeTestBundle(folder, "VX-Delay", kId).string()),
                  length == 300 ? failed(notFound(10), "Vextra-Audio ")
                                : loaded("audplga5.dylib", 3, data()));
    }
}

TEST(ModuleNames, MapCandidateIndexesToFilesAndTheSupportFolderToItsPlace) {
    std::string name = "unchanged";
    for (int i = -1; i <= 4; ++i) {
        EXPECT_EQ(makePlgLibNameByISA(i, name), i >= 0 && i < 4) << i;
        EXPECT_EQ(name, i < 0 ? "unchanged" : kBuilds[static_cast<size_t>(std::min(i, 3))]) << i;
    }
    setenv("VEXTRA_SUPPORT_FOLDER", "/tmp/elsewhere", 1);
    EXPECT_STREQ(vxSupportFolder(), "/tmp/elsewhere");
    for (const char* unset : {"", static_cast<const char*>(nullptr)}) {
        unset ? setenv("VEXTRA_SUPPORT_FOLDER", unset, 1) : unsetenv("VEXTRA_SUPPORT_FOLDER");
        EXPECT_STREQ(vxSupportFolder(), "/Library/Application Support/Vextra-Audio");
    }
}
