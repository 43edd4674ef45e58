#include "LoaderTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

using namespace vxtest;

TEST(InstallEngines, LaysTheFourBuildsIntoTheProductFolderButNotOverAFile) {
    const auto run = [](const std::string& arguments, const std::string& environment = "") {
        return std::system((environment + " VX_ENGINE_DIR='" + engineBuild("").string() +
                            "' bash '" VX_SOURCE_DIR "/scripts/install-engines.sh' " + arguments +
                            " >/dev/null 2>&1")
                               .c_str());
    };
    const auto contents = [](const fs::path& p) {
        std::ostringstream out;
        out << std::ifstream(p, std::ios::binary).rdbuf();
        return out.str();
    };
    TempDir tmp;
    const fs::path support = tmp.path() / "Application Support" / "Vextra-Audio";
    ASSERT_EQ(run("'" + support.string() + "'"), 0);
    for (const char* name : {"audplg.dylib", "audplga.dylib", "audplga2.dylib", "audplga5.dylib"})
        EXPECT_EQ(contents(support / "Delay" / name), contents(engineBuild(name))) << name;
    // Without an argument the relocated support folder is the destination.
    const fs::path relocated = tmp.path() / "relocated";
    ASSERT_EQ(run("", "VEXTRA_SUPPORT_FOLDER='" + relocated.string() + "'"), 0);
    EXPECT_TRUE(fs::is_regular_file(relocated / "Delay" / "audplga5.dylib"));
    writeTextFile(tmp.path() / "file", "x");
    EXPECT_NE(run("'" + (tmp.path() / "file").string() + "'"), 0);
}
