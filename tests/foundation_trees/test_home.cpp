#include "test_home.h"

#include <NSVextra/DbgSysOutput.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace vxtest {

namespace {

class PrivateHome {
public:
    PrivateHome() {
        // Never below the real home, even when run outside the test driver.
        std::error_code ec;
        std::string base = std::filesystem::temp_directory_path(ec).string();
        std::string pattern = (base.empty() ? std::string("/tmp") : base) + "/vxh6-XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (mkdtemp(buf.data())) {
            m_home = buf.data();
            // The log makes only its own folder, not the ones above it.
            std::filesystem::create_directories(m_home + "/Library/Logs", ec);
            setenv("HOME", m_home.c_str(), 1);
        }
    }
    ~PrivateHome() {
        if (!m_home.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(m_home, ec);
        }
    }
    std::string m_home;
};

// Built before the library's log sink (which opens the log under HOME) and
// destroyed after it.
__attribute__((init_priority(101))) PrivateHome privateHome;

} // namespace

const std::string& testHome() {
    return privateHome.m_home;
}

std::string readLog() {
    std::ifstream in(testHome() + "/Library/Logs/VextraAudio/vextraaudio.log", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

int countLines(const std::string& text, const std::string& line) {
    int count = 0;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        count += l == line ? 1 : 0;
    return count;
}

} // namespace vxtest
