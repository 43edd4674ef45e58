// Engine loads from real module files in temporary support folders, each in
// a fresh process with a test bundle of the plug-in's identifier loaded.
#include "LoaderTestSupport.h"

#include <loader/AudioPluginLoader.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <elf.h>

#include <algorithm>
#include <fstream>

using namespace vxtest;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

// Where the file contents of a module's last loadable segment end: cutting
// the file anywhere before that leaves a segment without its bytes, however
// much debug information follows the segments in the file.
std::uintmax_t loadableEnd(const fs::path& module) {
    std::ifstream in(module, std::ios::binary);
    Elf64_Ehdr header{};
    in.read(reinterpret_cast<char*>(&header), sizeof header);
    std::uintmax_t end = 0;
    for (unsigned i = 0; in && i < header.e_phnum; ++i) {
        Elf64_Phdr segment{};
        in.seekg(static_cast<std::streamoff>(header.e_phoff + i * header.e_phentsize));
        in.read(reinterpret_cast<char*>(&segment), sizeof segment);
        if (in && segment.p_type == PT_LOAD)
            end = std::max<std::uintmax_t>(end, segment.p_offset + segment.p_filesz);
    }
    return end;
}

constexpr const char* kId = "com.vextra-audio.Delay";

const std::string kLoadPrefix = "Failed to load audio plug-in module (error code = ";
const std::string kInstallSuffix = "). Plug-In is not properly installed.";

std::string notFound(int level) {
    return "Failed to find suitable audio plug-in module for target cpu (CPU ISA = " +
           std::to_string(level) + "). Plug-In will not load.";
}

class EngineLoad : public ::testing::Test {
protected:
    TempDir tmp;
    fs::path support() const { return tmp.path() / "support"; }
    fs::path data() const { return support() / "Delay"; }

    // The built bundle's own Info.plist under the bundle's own name.
    std::string delayBundle() {
        return makeTestBundleWithInfo(tmp.path() / "bundles", "VX-Delay", builtBundleInfoPlist())
            .string();
    }

    LoadOutcome load(int level, const std::vector<std::string>& probes = {}) {
        return loadInChild({level, support().string(), delayBundle()}, probes);
    }
};

void expectOneFailure(const LoadOutcome& o, const std::string& message) {
    ASSERT_FALSE(o.crashed) << o.crashReason;
    EXPECT_FALSE(o.engine);
    EXPECT_TRUE(o.handleUntouched) << "a failed load leaves the caller's handle alone";
    ASSERT_EQ(o.alerts.size(), 1u);
    EXPECT_EQ(o.alerts[0].message, message);
}

} // namespace

TEST_F(EngineLoad, EachLevelTakesTheBestInstalledBuildAndOpensNoOther) {
    const std::vector<std::string> all = {"audplg.dylib", "audplga.dylib", "audplga2.dylib",
                                          "audplga5.dylib"};
    struct Row {
        int level;
        std::vector<std::string> installed;
        const char* picked;
    };
    const Row rows[] = {
        {8, {"audplg.dylib"}, "audplg.dylib"}, // falls back to the only build there is
        {10, {"audplga2.dylib", "audplga.dylib"}, "audplga2.dylib"},
        {3, all, "audplg.dylib"},
        {6, all, "audplg.dylib"},
        {7, all, "audplga.dylib"},
        {8, all, "audplga2.dylib"},
        {9, all, "audplga5.dylib"},
        {10, all, "audplga5.dylib"},
    };
    for (const Row& row : rows) {
        const std::string what = "level " + std::to_string(row.level) + " picking " + row.picked;
        fs::remove_all(support());
        std::vector<std::string> others;
        for (const std::string& name : row.installed) {
            installFile(testEngine("recording"), data() / name);
            if (name != row.picked)
                others.push_back((data() / name).string());
        }
        const LoadOutcome o = load(row.level, others);
        ASSERT_FALSE(o.crashed) << what << ": " << o.crashReason;
        ASSERT_TRUE(o.engine) << what;
        EXPECT_TRUE(o.alerts.empty()) << what;
        EXPECT_EQ(fs::path(o.loadedFile).filename(), row.picked) << what;
        int index = -1;
        for (int i = 0; i < 4; ++i)
            if (all[static_cast<size_t>(i)] == row.picked)
                index = i;
        ASSERT_FALSE(o.engineCalls.empty()) << what;
        EXPECT_EQ(o.engineCalls.back(), "ISetISA " + std::to_string(index)) << what;
        EXPECT_TRUE(o.stillLoaded.empty()) << what << ": another build was opened";
    }
}

TEST_F(EngineLoad, EngineIsConfiguredInOrderWithTheFoldersOfTheBundlesProduct) {
    // The product comes from the bundle's file name: "QQ-Echo" names "Echo".
    const fs::path bundle = makeTestBundle(tmp.path() / "b", "QQ-Echo", kId);
    installFile(testEngine("recording"), support() / "Echo" / "audplga5.dylib");
    const LoadOutcome o = loadInChild({10, support().string(), bundle.string()});
    ASSERT_FALSE(o.crashed) << o.crashReason;
    ASSERT_TRUE(o.engine);
    const std::string folder = (support() / "Echo").string();
    EXPECT_THAT(o.engineCalls,
                ElementsAre("construct", "ISetProductFolder1 " + folder,
                            "ISetProductFolder2 " + folder, "ISetProductFolder3 " + folder,
                            "ISetVendorFolder " + support().string(), "ISetISA 3"))
        << "the loader configures, it never creates or links the host";
    EXPECT_EQ(o.caption, "Vextra-Audio Echo");
}

TEST_F(EngineLoad, BundleNameTooShortForAProductSearchesTheSupportFolderItself) {
    // "VX-" leaves an empty product name: the data folder is "SUPPORT/".
    const fs::path bundle = makeTestBundle(tmp.path() / "b", "VX-", kId);
    installFile(testEngine("recording"), support() / "audplga.dylib");
    const LoadOutcome o = loadInChild({7, support().string(), bundle.string()});
    ASSERT_FALSE(o.crashed) << o.crashReason;
    ASSERT_TRUE(o.engine);
    EXPECT_TRUE(o.alerts.empty());
    EXPECT_EQ(o.caption, "Vextra-Audio ");
    EXPECT_EQ(o.engineCalls.at(1), "ISetProductFolder1 " + support().string() + "/");
    EXPECT_EQ(o.engineCalls.at(5), "ISetISA 1");
}

TEST_F(EngineLoad, CaptionNamesTheProductOfTheBuiltBundle) {
    const LoadOutcome o = loadInChild({10, support().string(), VX_TEST_DELAY_BUNDLE_BINARY});
    expectOneFailure(o, notFound(10));
    EXPECT_EQ(o.caption, "Vextra-Audio Delay");
    EXPECT_EQ(o.alerts[0].informative, "Vextra-Audio Delay");
}

TEST_F(EngineLoad, OverLongProductNameIsCutInTheCaptionOnly) {
    const std::string product(190, 'L');
    const fs::path bundle = makeTestBundle(tmp.path() / "b", "XX-" + product, kId);
    installFile(testEngine("recording"), support() / product / "audplg.dylib");
    const LoadOutcome o = loadInChild({4, support().string(), bundle.string()});
    ASSERT_FALSE(o.crashed) << o.crashReason;
    const std::string full = "Vextra-Audio " + product;
    EXPECT_EQ(o.caption, full.substr(0, 199));
    ASSERT_TRUE(o.engine) << "the data folder keeps the whole name";
    EXPECT_EQ(o.engineCalls.at(1), "ISetProductFolder1 " + (support() / product).string());
}

TEST_F(EngineLoad, BestBuildThatCannotBeOpenedIsReportedNotSkipped) {
    writeTextFile(data() / "audplga5.dylib", "this is not a library\n");
    installFile(testEngine("recording"), data() / "audplga2.dylib");
    const LoadOutcome o = load(10, {(data() / "audplga2.dylib").string()});
    ASSERT_FALSE(o.crashed) << o.crashReason;
    EXPECT_FALSE(o.engine);
    ASSERT_EQ(o.alerts.size(), 1u);
    EXPECT_THAT(o.alerts[0].message, StartsWith(kLoadPrefix));
    EXPECT_THAT(o.alerts[0].message, HasSubstr((data() / "audplga5.dylib").string()))
        << "the dynamic loader's own error text names the file";
    EXPECT_THAT(o.alerts[0].message, ::testing::EndsWith(kInstallSuffix));
    EXPECT_TRUE(o.stillLoaded.empty()) << "no lower candidate is tried";
}

TEST_F(EngineLoad, NothingToLoadOrAnOldProcessorGivesOneExactAlert) {
    const std::string tooOld = "Target CPU is not supported (CPU ISA = ";
    const std::string willNotLoad = "). Plug-In will not load.";
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
        {"SSE2 processor", [&] { installFile(testEngine("recording"), data() / "audplg.dylib"); },
         2, tooOld + "2" + willNotLoad},
        {"bare processor", [&] { installFile(testEngine("recording"), data() / "audplg.dylib"); },
         0, tooOld + "0" + willNotLoad},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        fs::remove_all(support());
        row.arrange();
        expectOneFailure(load(row.level), row.message);
    }
}

TEST_F(EngineLoad, BadModuleFilesGiveOneAlertAndNoCrash) {
    const fs::path real = testEngine("recording");
    const auto segmentsEnd = loadableEnd(real);
    ASSERT_GT(segmentsEnd, 4096u) << "the module's segments were not found";
    struct Bad {
        const char* what;
        std::function<void(const fs::path&)> make;
    };
    const Bad bads[] = {
        {"empty", [](const fs::path& p) { writeTextFile(p, ""); }},
        {"text", [](const fs::path& p) { writeTextFile(p, "#!/bin/sh\necho hello\n"); }},
        {"truncated",
         [&](const fs::path& p) { // headers intact, the last segment cut short
             installFile(real, p);
             fs::resize_file(p, segmentsEnd - 16);
         }},
        {"truncated headers",
         [&](const fs::path& p) {
             installFile(real, p);
             fs::resize_file(p, 100);
         }},
        {"folder", [](const fs::path& p) { fs::create_directories(p); }},
    };
    for (const Bad& bad : bads) {
        fs::remove_all(support());
        bad.make(data() / "audplg.dylib");
        const LoadOutcome o = load(6);
        ASSERT_FALSE(o.crashed) << bad.what << ": " << o.crashReason;
        EXPECT_FALSE(o.engine) << bad.what;
        EXPECT_TRUE(o.handleUntouched) << bad.what;
        ASSERT_EQ(o.alerts.size(), 1u) << bad.what;
        EXPECT_THAT(o.alerts[0].message, StartsWith(kLoadPrefix)) << bad.what;
        EXPECT_THAT(o.alerts[0].message, ::testing::EndsWith(kInstallSuffix)) << bad.what;
        EXPECT_GT(o.alerts[0].message.size(), kLoadPrefix.size() + kInstallSuffix.size())
            << bad.what << ": the reason is given";
    }
}

TEST_F(EngineLoad, ModuleWithoutFactoryIsRefusedAndClosed) {
    const fs::path module = data() / "audplga.dylib";
    installFile(testEngine("nosymbol"), module);
    const LoadOutcome o = load(7, {module.string()});
    ASSERT_FALSE(o.crashed) << o.crashReason;
    EXPECT_FALSE(o.engine);
    ASSERT_EQ(o.alerts.size(), 1u);
    EXPECT_THAT(o.alerts[0].message,
                StartsWith("Failed to get entry point in audio plug-in module (error code = "));
    EXPECT_THAT(o.alerts[0].message, HasSubstr("createAudioPluginInstance"));
    EXPECT_THAT(o.alerts[0].message, ::testing::EndsWith(kInstallSuffix));
    EXPECT_TRUE(o.stillLoaded.empty()) << "the refused module is closed again";
}

TEST_F(EngineLoad, FactoryAnsweringNullIsRefusedAndClosed) {
    const fs::path module = data() / "audplga2.dylib";
    installFile(testEngine("nullfactory"), module);
    const LoadOutcome o = load(8, {module.string()});
    expectOneFailure(o,
                     "Failed to create Audio Plugin instance. Plug-In is not properly installed.");
    EXPECT_TRUE(o.stillLoaded.empty());
}

TEST_F(EngineLoad, EngineWhoseCreateFailsIsStillHandedOver) {
    // Creating the engine is the plug-in's step, not the loader's.
    installFile(testEngine("createfails"), data() / "audplg.dylib");
    const LoadOutcome o = load(6);
    ASSERT_FALSE(o.crashed) << o.crashReason;
    EXPECT_TRUE(o.engine);
    EXPECT_TRUE(o.alerts.empty());
    EXPECT_THAT(o.engineCalls, ::testing::Not(::testing::Contains("ICreate")));
}

TEST_F(EngineLoad, UnknownBundlePathNamesNoProductAndLoadsNothing) {
    // Modules lying directly in the support folder would be found under an
    // empty product name; they are not the product's and stay unloaded.
    installFile(testEngine("recording"), support() / "audplga5.dylib");
    installFile(testEngine("recording"), data() / "audplga5.dylib");
    const LoadOutcome noBundle = loadInChild({10, support().string(), ""});
    expectOneFailure(noBundle, notFound(10));
    EXPECT_EQ(noBundle.caption, "Vextra-Audio ");

    const fs::path otherId = makeTestBundle(tmp.path() / "o", "VX-Delay", "com.example.Other");
    expectOneFailure(loadInChild({10, support().string(), otherId.string()}), notFound(10));

    // Nor can a path that is not pure ASCII.
    const fs::path accented = makeTestBundle(tmp.path() / "Caf\xC3\xA9", "VX-Delay", kId);
    const LoadOutcome nonAscii = loadInChild({10, support().string(), accented.string()});
    expectOneFailure(nonAscii, notFound(10));
    EXPECT_EQ(nonAscii.caption, "Vextra-Audio ");
}

TEST_F(EngineLoad, BundlePathOf299BytesIsTheLongestTaken) {
    installFile(testEngine("recording"), data() / "audplg.dylib");
    const std::string suffix = "/VX-Delay.component";
    for (const size_t length : {299u, 300u}) {
        const fs::path base = tmp.path() / std::to_string(length);
        // Two folder names fill the rest (each part of a path stays short).
        const size_t filler = length - base.string().size() - suffix.size() - 2;
        const fs::path folder =
            base / std::string(filler / 2, 'p') / std::string(filler - filler / 2, 'q');
        ASSERT_EQ((folder.string() + suffix).size(), length);
        const fs::path binary = makeTestBundle(folder, "VX-Delay", kId);
        const LoadOutcome o = loadInChild({5, support().string(), binary.string()});
        ASSERT_FALSE(o.crashed) << o.crashReason;
        EXPECT_EQ(o.engine, length == 299) << length;
        EXPECT_EQ(o.caption, length == 299 ? "Vextra-Audio Delay" : "Vextra-Audio ") << length;
        if (length == 300)
            expectOneFailure(o, notFound(5));
    }
}

// Every level that picks a build first loads the real module and creates an
// engine in a child with that simulated level. The module is compiled for the
// lowest of those levels, so loading and creating execute nothing the level
// lacks; running it on such a processor is the emulator test's part.
TEST_F(EngineLoad, EachReferenceBuildIsCompiledForItsLevel) {
    for (const char* name : {"audplg.dylib", "audplga.dylib", "audplga2.dylib", "audplga5.dylib"})
        installFile(engineBuild(name), data() / name);
    struct Pick {
        int level;
        const char* build;
        const char* isa;
        int index;
        bool runnable;
    };
    const Pick picks[] = {
        {3, "audplg", "SSE3", 0, __builtin_cpu_supports("sse3") != 0},
        {6, "audplg", "SSE3", 0, __builtin_cpu_supports("sse3") != 0},
        {7, "audplga", "AVX", 1, __builtin_cpu_supports("avx") != 0},
        {8, "audplga2", "AVX2", 2, __builtin_cpu_supports("avx2") != 0},
        {9, "audplga5", "AVX-512F", 3, __builtin_cpu_supports("avx512f") != 0},
        {10, "audplga5", "AVX-512F", 3, __builtin_cpu_supports("avx512f") != 0},
    };
    for (const Pick& p : picks) {
        if (!p.runnable)
            continue;
        const LoadOutcome o = load(p.level);
        ASSERT_FALSE(o.crashed) << o.crashReason;
        ASSERT_TRUE(o.engine) << p.build;
        EXPECT_EQ(o.buildName, p.build);
        EXPECT_EQ(o.instructionSet, p.isa);
        EXPECT_EQ(o.givenIsa, p.index);
    }
}

TEST(ModuleNames, MapCandidateIndexesToFiles) {
    std::string name = "unchanged";
    const char* expected[] = {"audplg.dylib", "audplga.dylib", "audplga2.dylib", "audplga5.dylib"};
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(makePlgLibNameByISA(i, name));
        EXPECT_EQ(name, expected[i]);
    }
    name = "unchanged";
    EXPECT_FALSE(makePlgLibNameByISA(4, name));
    EXPECT_FALSE(makePlgLibNameByISA(-1, name));
    EXPECT_EQ(name, "unchanged");
}

TEST(SupportFolder, EnvironmentRelocatesItUnlessEmpty) {
    setenv("VEXTRA_SUPPORT_FOLDER", "/tmp/elsewhere", 1);
    EXPECT_STREQ(vxSupportFolder(), "/tmp/elsewhere");
    setenv("VEXTRA_SUPPORT_FOLDER", "", 1);
    EXPECT_STREQ(vxSupportFolder(), "/Library/Application Support/Vextra-Audio");
    unsetenv("VEXTRA_SUPPORT_FOLDER");
    EXPECT_STREQ(vxSupportFolder(), "/Library/Application Support/Vextra-Audio");
}
