#include "tool_runner.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

#include <sys/wait.h>

namespace fs = std::filesystem;

namespace hosttool {

namespace {

// Reads a file the child wrote, and removes it.
std::string take(const std::string& path) {
    std::stringstream s;
    s << std::ifstream(path, std::ios::binary).rdbuf();
    fs::remove(path);
    return s.str();
}

// One word for the shell, whatever bytes it holds.
std::string quoted(const std::string& word) {
    std::string q = "'";
    for (char c : word)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

const fs::path kComponents = "Library/Audio/Plug-Ins/Components";

} // namespace

Sandbox::Sandbox() {
    std::string pattern = (fs::temp_directory_path() / "vxhost-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a temporary folder");
    mFolder = pattern;
}

Sandbox::~Sandbox() {
    std::error_code ec;
    fs::remove_all(mFolder, ec);
}

std::vector<std::string> Sandbox::files() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(mFolder))
        if (entry.is_regular_file())
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void Sandbox::install(const std::string& bundleName) const {
    fs::create_directories(mFolder / kComponents);
    fs::copy(bundle(bundleName), mFolder / kComponents / (bundleName + ".component"),
             fs::copy_options::recursive);
}

void Sandbox::installPlugIn(const std::string& onlyEngine) {
    const fs::path home(mFolder), engines = home / "support/Delay";
    fs::create_directories(home / kComponents);
    fs::create_directories(engines);
    fs::copy(VX_PLUGIN_BUNDLE, home / kComponents / "VX-Delay.component",
             fs::copy_options::recursive);
    if (!onlyEngine.empty())
        fs::copy_file(onlyEngine, engines / "audplg.dylib");
    else
        fs::copy(VX_ENGINE_DIR, engines);
    setEnv("VEXTRA_SUPPORT_FOLDER", mFolder + "/support");
}

ToolResult Sandbox::runProgram(const std::string& program,
                               const std::vector<std::string>& args) const {
    // The shell becomes env(1), which starts the program in the folder with the
    // sandbox's HOME, so the child's log and components folder are there too.
    // Variables to remove (an empty value) go before those to set.
    std::map<std::string, std::string> env(mEnv.rbegin(), mEnv.rend());
    env["HOME"] = mFolder;
    std::string line = "cd " + quoted(mFolder) + " && exec env";
    for (const bool set : {false, true})
        for (const auto& [name, value] : env)
            if (value.empty() != set)
                line += set ? " " + quoted(name + "=" + value) : " -u " + quoted(name);
    line += " " + quoted(program);
    for (const std::string& word : args)
        line += " " + quoted(word);
    const std::string out = mFolder + ".out", err = mFolder + ".err";
    const int status =
        std::system((line + " </dev/null >" + quoted(out) + " 2>" + quoted(err)).c_str());
    ToolResult result{WIFEXITED(status) ? WEXITSTATUS(status) : -1,
                      WIFSIGNALED(status) ? WTERMSIG(status) : 0, take(out), take(err)};
    EXPECT_NE(status, -1) << "cannot start " << program;
    return result;
}

void writeWav(const std::string& path, const Audio& audio) {
    SF_INFO info{0, audio.rate, int(audio.channels.size()), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0, 0};
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    std::vector<float> interleaved;
    for (size_t f = 0; f < audio.frames(); ++f)
        for (const auto& c : audio.channels)
            interleaved.push_back(c[f]);
    sf_writef_float(file, interleaved.data(), sf_count_t(audio.frames()));
    sf_close(file);
}

Audio readWav(const std::string& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    EXPECT_NE(file, nullptr) << "cannot read " << path << ": " << sf_strerror(nullptr);
    const auto frames = size_t(file ? info.frames : 0), channels = size_t(info.channels);
    std::vector<float> interleaved(frames * channels);
    sf_readf_float(file, interleaved.data(), info.frames);
    sf_close(file);
    Audio audio{info.samplerate,
                std::vector<std::vector<float>>(channels, std::vector<float>(frames))};
    for (size_t i = 0; i < interleaved.size(); ++i)
        audio.channels[i % channels][i / channels] = interleaved[i];
    return audio;
}

Audio impulses(int rate, size_t frames, const std::vector<std::pair<size_t, float>>& at) {
    Audio audio{rate, {std::vector<float>(frames, 0.0f)}};
    for (const auto& [frame, value] : at)
        audio.channels[0][frame] = value;
    return audio;
}

size_t loudest(const std::vector<float>& channel) {
    return size_t(std::max_element(channel.begin(), channel.end(),
                                   [](float a, float b) { return std::fabs(a) < std::fabs(b); }) -
                  channel.begin());
}

} // namespace hosttool
