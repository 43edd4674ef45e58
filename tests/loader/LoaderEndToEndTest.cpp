// Engine loads from real module files in temporary support folders, each in
// a fresh process with a test bundle of the plug-in's identifier loaded.
#include "LoaderTestSupport.h"

#include <loader/AudioPluginLoader.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

using namespace vxtest;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

constexpr const char* kId = "com.vextra-audio.Delay";
const std::vector<std::string> kBuilds = {"audplg.dylib", "audplga.dylib", "audplga2.dylib",
                                          "audplga5.dylib"};

std::string notFound(int level) {
    return "Failed to find suitable audio plug-in module for target cpu (CPU ISA = " +
           std::to_string(level) + "). Plug-In will not load.";
}

class EngineLoad : public ::testing::Test {
protected:
    TempDir tmp;
    fs::path support() const { return tmp.path() / "support"; }
    fs::path data() const { return support() / "Delay"; }

    // The bundle the build lays out like the plug-in's, with the marker as
    // its binary.
    LoadOutcome load(int level, const std::vector<std::string>& probes = {}) {
        return loadInChild({level, support().string(), VX_TEST_DELAY_BUNDLE_BINARY, probes});
    }
};

// A failed load: one alert with the product caption, no engine, the
// caller's handle left alone.
void expectOneFailure(const LoadOutcome& o, const std::string& message,
                      const std::string& caption = "Vextra-Audio Delay") {
    ASSERT_EQ(o.one("crashed"), "");
    EXPECT_EQ(o.one("engine"), "");
    EXPECT_EQ(o.one("untouched"), "1") << "a failed load leaves the caller's handle alone";
    EXPECT_EQ(o.all("alert"), std::vector<std::string>{message});
    EXPECT_EQ(o.all("info"), std::vector<std::string>{caption});
    EXPECT_EQ(o.one("caption"), caption);
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
        SCOPED_TRACE("level " + std::to_string(row.level) + " picking " + kBuilds[row.picked]);
        fs::remove_all(support());
        std::vector<std::string> others;
        for (const std::string& name : row.installed) {
            installFile(testEngine("recording"), data() / name);
            if (name != kBuilds[row.picked])
                others.push_back((data() / name).string());
        }
        const LoadOutcome o = load(row.level, others);
        ASSERT_EQ(o.one("crashed"), "");
        ASSERT_EQ(o.one("engine"), "1");
        EXPECT_TRUE(o.all("alert").empty());
        EXPECT_EQ(o.one("file"), kBuilds[row.picked]);
        const std::string folder = data().string();
        EXPECT_THAT(o.all("call"),
                    ElementsAre("construct", "ISetProductFolder1 " + folder,
                                "ISetProductFolder2 " + folder, "ISetProductFolder3 " + folder,
                                "ISetVendorFolder " + support().string(),
                                "ISetISA " + std::to_string(row.picked)))
            << "the loader configures, it never creates or links the host";
        EXPECT_EQ(o.all("loaded"), std::vector<std::string>{}) << "another build was opened";
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
        const LoadOutcome o = loadInChild({7, support().string(), bundle.string(), {}});
        ASSERT_EQ(o.one("engine"), "1") << o.one("crashed");
        EXPECT_TRUE(o.all("alert").empty());
        EXPECT_EQ(o.one("caption"), row.caption);
        ASSERT_EQ(o.all("call").size(), 6u);
        EXPECT_EQ(o.all("call")[1], "ISetProductFolder1 " + support().string() + "/" + row.product);
    }
}

TEST_F(EngineLoad, NothingToLoadOrAnOldProcessorGivesOneExactAlert) {
    const std::string tooOld = "Target CPU is not supported (CPU ISA = ";
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
        {"SSE2 processor", [&] { installFile(testEngine("recording"), data() / "audplg.dylib"); },
         2, tooOld + "2). Plug-In will not load."},
        {"bare processor", [&] { installFile(testEngine("recording"), data() / "audplg.dylib"); },
         0, tooOld + "0). Plug-In will not load."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        fs::remove_all(support());
        row.arrange();
        expectOneFailure(load(row.level), row.message);
    }
}

// The first installed build decides: a broken best build is reported, no
// lower one is tried, and a refused module is closed again.
TEST_F(EngineLoad, BrokenBestBuildIsReportedAndNothingStaysOpen) {
    // (Cut-short modules are the fault tests' part.)
    const std::string loadFailed = "Failed to load audio plug-in module (error code = ";
    const std::string notInstalled = "). Plug-In is not properly installed.";
    struct Bad {
        const char* what;
        std::function<void(const fs::path&)> make;
        std::string prefix, inside, suffix;
    };
    const Bad bads[] = {
        {"text", [](const fs::path& p) { writeTextFile(p, "#!/bin/sh\necho hello\n"); }, loadFailed,
         "audplga5.dylib", notInstalled},
        {"folder", [](const fs::path& p) { fs::create_directories(p); }, loadFailed, "",
         notInstalled},
        {"no factory", [](const fs::path& p) { installFile(testEngine("nosymbol"), p); },
         "Failed to get entry point in audio plug-in module (error code = ",
         "createAudioPluginInstance", notInstalled},
        {"factory answers null",
         [](const fs::path& p) { installFile(testEngine("nullfactory"), p); },
         "Failed to create Audio Plugin instance. Plug-In is not properly installed.", "", ""},
    };
    const fs::path best = data() / "audplga5.dylib";
    const fs::path lower = data() / "audplga2.dylib";
    for (const Bad& bad : bads) {
        SCOPED_TRACE(bad.what);
        fs::remove_all(support());
        bad.make(best);
        installFile(testEngine("recording"), lower);
        const LoadOutcome o = load(10, {best.string(), lower.string()});
        ASSERT_EQ(o.one("crashed"), "");
        EXPECT_EQ(o.one("engine"), "");
        EXPECT_EQ(o.one("untouched"), "1");
        ASSERT_EQ(o.all("alert").size(), 1u);
        const std::string message = o.one("alert");
        EXPECT_THAT(message, StartsWith(bad.prefix));
        EXPECT_THAT(message, HasSubstr(bad.inside));
        EXPECT_THAT(message, EndsWith(bad.suffix));
        EXPECT_GE(message.size(),
                  bad.prefix.size() + bad.suffix.size() + (bad.suffix.empty() ? 0 : 1))
            << "the reason is given";
        EXPECT_EQ(o.all("loaded"), std::vector<std::string>{});
    }
}

TEST_F(EngineLoad, UnknownBundlePathNamesNoProductAndLoadsNothing) {
    // Modules lying directly in the support folder would be found under an
    // empty product name; they are not the product's and stay unloaded.
    installFile(testEngine("recording"), support() / "audplga5.dylib");
    installFile(testEngine("recording"), data() / "audplga5.dylib");
    const fs::path otherId = makeTestBundle(tmp.path() / "o", "VX-Delay", "com.example.Other");
    // Nor can a path that is not pure ASCII name one.
    const fs::path accented = makeTestBundle(tmp.path() / "Caf\xC3\xA9", "VX-Delay", kId);
    for (const std::string& bundle : {std::string(), otherId.string(), accented.string()}) {
        SCOPED_TRACE(bundle);
        expectOneFailure(loadInChild({10, support().string(), bundle, {}}), notFound(10),
                         "Vextra-Audio ");
    }
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
        const LoadOutcome o = loadInChild({5, support().string(), binary.string(), {}});
        if (length == 300)
            expectOneFailure(o, notFound(5), "Vextra-Audio ");
        else
            EXPECT_EQ(o.one("engine"), "1") << o.one("crashed");
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
    setenv("VEXTRA_SUPPORT_FOLDER", "", 1);
    EXPECT_STREQ(vxSupportFolder(), "/Library/Application Support/Vextra-Audio");
    unsetenv("VEXTRA_SUPPORT_FOLDER");
    EXPECT_STREQ(vxSupportFolder(), "/Library/Application Support/Vextra-Audio");
}
