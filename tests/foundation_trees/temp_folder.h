// A scratch folder below the test HOME, removed with everything in it.
#pragma once

#include "test_home.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace vxtest {

class TempFolder {
public:
    TempFolder() {
        static std::atomic<int> counter{0};
        m_path = testHome() + "/scratch" + std::to_string(counter++);
        std::filesystem::remove_all(m_path);
        std::filesystem::create_directories(m_path);
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& rel) const { return m_path + "/" + rel; }

    void folder(const std::string& rel) const { std::filesystem::create_directories(*this / rel); }
    void file(const std::string& rel, const std::string& content = "x") const {
        std::ofstream(*this / rel, std::ios::binary) << content;
    }

private:
    std::string m_path;
};

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline bool exists(const std::string& path) {
    return std::filesystem::exists(path);
}

} // namespace vxtest
