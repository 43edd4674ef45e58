// Engine loads from real module files in temporary support folders, each in
// a fresh process (a loaded bundle stays loaded) with a test bundle of the
// plug-in's identifier loaded.
#include "AlertRecorder.h"
#include "LoaderTestSupport.h"

#include <loader/AudioPluginLoader.h>
#include <loader/MsgBox.h>

#include <gmock/gmock.h>

#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <sstream>

using namespace vxtest;
using Buttons = std::vector<std::string>;

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
    report << "caption: " << NSVextra::g_szMsgBoxCaption << "\nuntouched: " << (handle == untouched)
           << "\n";
    if (engine && handle && handle != untouched) {
        Dl_info info{};
        if (dladdr(dlsym(handle, "createAudioPluginInstance"), &info) && info.dli_fname)
            report << "file: " << fs::path(info.dli_fname).filename().string() << "\n";
        if (auto log = reinterpret_cast<const char* (*)()>(dlsym(handle, "vxRecordingLog")))
            report << log();
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
        std::ostringstream report;
        if (pid < 0 || waitpid(pid, &status, 0) != pid || status != 0)
            return "crashed: status " + std::to_string(status);
        report << std::ifstream(reportFile).rdbuf();
        return report.str();
    }
    // The report of a load that took the build, configured as the loader does.
    std::string loaded(const std::string& file, int isa, const fs::path& product,
                       const std::string& caption = "Vextra-Audio Delay") const {
        std::string calls = "construct\n";
        for (const char* n : {"1", "2", "3"})
            calls += "ISetProductFolder" + std::string(n) + " " + product.string() + "\n";
        return "caption: " + caption + "\nuntouched: 0\nfile: " + file + "\n" + calls +
               "ISetVendorFolder " + support().string() + "\nISetISA " + std::to_string(isa) + "\n";
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
    const std::tuple<int, std::vector<std::string>, int> rows[] = {
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
    for (const auto& [level, installed, picked] : rows) {
        fs::remove_all(support());
        std::vector<std::string> others; // reported if the load opened them
        for (const std::string& name : installed) {
            installFile(testEngine("recording"), data() / name);
            if (name != kBuilds[picked])
                others.push_back((data() / name).string());
        }
        // Configured only: the loader never creates the engine or links the host.
        EXPECT_EQ(load(level, others), loaded(kBuilds[picked], picked, data())) << level;
    }
}

TEST_F(EngineLoad, ProductComesFromTheBundleNameAfterItsPrefix) {
    const std::string longName(190, 'L');
    const std::string rows[][3] = {
        // bundle, product, caption
        {"QQ-Echo", "Echo", "Vextra-Audio Echo"},
        // Too short for a product: the support folder itself is searched.
        {"VX-", "", "Vextra-Audio "},
        // Cut in the caption only; the data folder keeps the whole name.
        {"XX-" + longName, longName, ("Vextra-Audio " + longName).substr(0, 199)},
    };
    for (const auto& [name, product, caption] : rows) {
        fs::remove_all(support());
        fs::remove_all(tmp.path() / "b");
        const fs::path bundle = makeTestBundle(tmp.path() / "b", name, kId);
        installFile(testEngine("recording"), support() / product / "audplga.dylib");
        EXPECT_EQ(load(7, {}, bundle.string()),
                  loaded("audplga.dylib", 1, support().string() + "/" + product, caption))
            << name.substr(0, 8);
    }
}

TEST_F(EngineLoad, NothingToLoadOrAnOldProcessorGivesOneExactAlert) {
    const std::string tooOld = "Target CPU is not supported (CPU ISA = ";
    const auto lowest = [this] { installFile(testEngine("recording"), data() / "audplg.dylib"); };
    const std::tuple<const char*, std::function<void()>, int, std::string> rows[] = {
        {"empty data folder", [&] { fs::create_directories(data()); }, 9, notFound(9)},
        {"no data folder", [] {}, 7, notFound(7)},
        {"support folder is a file", [&] { writeTextFile(support(), "not a folder"); }, 8,
         notFound(8)},
        {"only a lower build is no fallback",
         [&] { installFile(testEngine("recording"), data() / "audplga.dylib"); }, 6, notFound(6)},
        {"SSE2 processor", lowest, 2, tooOld + "2). Plug-In will not load."},
        {"bare processor", lowest, 0, tooOld + "0). Plug-In will not load."},
    };
    for (const auto& [what, arrange, level, message] : rows) {
        fs::remove_all(support());
        arrange();
        EXPECT_EQ(load(level), failed(message)) << what;
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
        // One alert, no engine, neither module still open.
        EXPECT_THAT(load(10, {best.string(), lower.string()}),
                    ::testing::MatchesRegex("alert: Failed to [^\n]*\\. Plug-In is not properly "
                                            "installed\\." +
                                            failed("").substr(7)));
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
    std::string name = "unchanged", names;
    for (int i = -1; i <= 4; ++i)
        names += std::to_string(makePlgLibNameByISA(i, name)) + name + " ";
    EXPECT_EQ(names, "0unchanged 1audplg.dylib 1audplga.dylib 1audplga2.dylib 1audplga5.dylib "
                     "0audplga5.dylib ");
    setenv("VEXTRA_SUPPORT_FOLDER", "/tmp/elsewhere", 1);
    EXPECT_STREQ(vxSupportFolder(), "/tmp/elsewhere");
    for (const char* unset : {"", static_cast<const char*>(nullptr)}) {
        unset ? setenv("VEXTRA_SUPPORT_FOLDER", unset, 1) : unsetenv("VEXTRA_SUPPORT_FOLDER");
        EXPECT_STREQ(vxSupportFolder(), "/Library/Application Support/Vextra-Audio");
    }
}

TEST(MsgBox, ShowsTextWithTheCutCaptionAndAnswersQuestionsTwoForNo) {
    unithost::AlertRecorder recorder;
    NSVextra::SET_MSG_BOX_CAPTION(std::string(450, 'c').c_str());
    EXPECT_EQ(std::string(NSVextra::g_szMsgBoxCaption), std::string(199, 'c'));
    NSVextra::SET_MSG_BOX_CAPTION("Vextra-Audio Delay");
    // A plain alert's answer is 0 whatever button; a question's is 2 for the
    // first button ("No") and for nonsense from the handler, 1 for "Yes".
    std::vector<int> answers;
    using Ask = std::pair<NSModalResponse, int>;
    for (auto [answer, kind] : {Ask{NSAlertSecondButtonReturn, 5}, Ask{NSAlertFirstButtonReturn, 1},
                                Ask{NSAlertSecondButtonReturn, 1}, Ask{4711, 1}}) {
        recorder.answer = answer;
        answers.push_back(
            NSVextra::SHOW_MSG_BOX(kind == 5 ? "Something failed." : "Replace?", kind));
    }
    EXPECT_EQ(answers, (std::vector<int>{0, 2, 1, 2}));
    NSVextra::SET_MSG_BOX_CAPTION(nullptr);
    NSVextra::SHOW_MSG_BOX("x", 0);
    ASSERT_EQ(recorder.alerts.size(), 5u);
    // The caption carries no tail of the longer one.
    const unithost::RecordedAlert &first = recorder.alerts[0], &question = recorder.alerts[1];
    EXPECT_EQ(std::tie(first.message, first.informative, first.buttons, question.buttons,
                       recorder.alerts[4].informative),
              std::make_tuple("Something failed.", "Vextra-Audio Delay", Buttons{"OK"},
                              Buttons{"No", "Yes"}, ""));
}

TEST(Alert, WithoutAHandlerTheDefaultButtonAnswersAndTheTextsGoToStandardError) {
    VXAlertSetHandler(nullptr, nullptr);
    ::testing::internal::CaptureStderr();
    NSAlert alert;
    alert.setMessageText("Module missing.");
    alert.setInformativeText("Vextra-Audio Delay");
    alert.addButtonWithTitle("Cancel");
    alert.addButtonWithTitle("Go");
    EXPECT_EQ(alert.runModal(), NSAlertFirstButtonReturn);
    EXPECT_THAT(::testing::internal::GetCapturedStderr(),
                ::testing::AllOf(::testing::HasSubstr("Module missing."),
                                 ::testing::HasSubstr("Vextra-Audio Delay")));
}
