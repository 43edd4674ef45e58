// Shared pieces of the settings tests: a temporary folder per test and
// helpers to write and read whole files.
#pragma once

#include "NSVextra/Settings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace vxtest {

class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/vx-settings-XXXXXX";
        const char* made = mkdtemp(pattern);
        ASSERT_NE(made, nullptr);
        dir = made;
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    std::string path(const std::string& name) const { return (dir / name).string(); }

    std::filesystem::path dir;
};

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Parses `script` as a document held in memory (no file, not scrambled).
inline bool parseText(NSVextra::Settings& doc, const std::string& script) {
    return doc.loadMemFile(reinterpret_cast<unsigned char*>(const_cast<char*>(script.data())),
                           script.size());
}

} // namespace vxtest
