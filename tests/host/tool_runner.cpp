#include "tool_runner.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

extern char** environ;

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
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
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
        for (const auto& build : fs::directory_iterator(VX_ENGINE_DIR))
            fs::copy_file(build.path(), engines / build.path().filename());
    setEnv("VEXTRA_SUPPORT_FOLDER", mFolder + "/support");
}

void Sandbox::setEnv(const std::string& name, const std::string& value) {
    mEnv.emplace_back(name, value);
}

ToolResult Sandbox::run(const std::vector<std::string>& args) const {
    return runProgram(VXHOST_BINARY, args);
}

ToolResult Sandbox::runProgram(const std::string& program,
                               const std::vector<std::string>& args) const {
    // env(1) starts the program in the folder with the sandbox's HOME, so the
    // child's log and components folder are there too; an empty value unsets.
    std::map<std::string, std::string> env(mEnv.rbegin(), mEnv.rend());
    env["HOME"] = mFolder;
    std::vector<std::string> words = {"/usr/bin/env", "-C", mFolder};
    for (const auto& [name, value] : env)
        if (value.empty())
            words.insert(words.end(), {"-u", name});
    for (const auto& [name, value] : env)
        if (!value.empty())
            words.push_back(name + "=" + value);
    words.push_back(program);
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);

    const std::string outPath = mFolder + ".out", errPath = mFolder + ".err";
    const int flags = O_WRONLY | O_CREAT | O_TRUNC;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), flags, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), flags, 0600);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ToolResult result;
    int status = 0;
    if (spawned != 0 || waitpid(pid, &status, 0) != pid) {
        ADD_FAILURE() << "cannot start " << program;
        return result;
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    result.out = take(outPath);
    result.err = take(errPath);
    return result;
}

std::string bundle(const std::string& name) {
    return std::string(HOST_TEST_BUNDLES) + "/" + name + ".component";
}

void writeWav(const std::string& path, const Audio& audio) {
    SF_INFO info{
        0, audio.rate, static_cast<int>(audio.channels.size()), SF_FORMAT_WAV | SF_FORMAT_FLOAT,
        0, 0};
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    std::vector<float> interleaved;
    for (size_t f = 0; f < audio.frames(); ++f)
        for (const auto& c : audio.channels)
            interleaved.push_back(c[f]);
    sf_writef_float(file, interleaved.data(), static_cast<sf_count_t>(audio.frames()));
    sf_close(file);
}

Audio readWav(const std::string& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    Audio audio{info.samplerate, {}};
    if (!file) {
        ADD_FAILURE() << "cannot read " << path << ": " << sf_strerror(nullptr);
        return audio;
    }
    const auto frames = static_cast<size_t>(info.frames), channels = size_t(info.channels);
    std::vector<float> interleaved(frames * channels);
    sf_readf_float(file, interleaved.data(), info.frames);
    sf_close(file);
    audio.channels.assign(channels, std::vector<float>(frames));
    for (size_t f = 0; f < frames; ++f)
        for (size_t c = 0; c < channels; ++c)
            audio.channels[c][f] = interleaved[f * channels + c];
    return audio;
}

Audio impulses(int rate, size_t frames, const std::vector<std::pair<size_t, float>>& at) {
    Audio audio{rate, {std::vector<float>(frames, 0.0f)}};
    for (const auto& [frame, value] : at)
        audio.channels[0][frame] = value;
    return audio;
}

size_t loudest(const std::vector<float>& channel) {
    return static_cast<size_t>(
        std::max_element(channel.begin(), channel.end(),
                         [](float a, float b) { return std::fabs(a) < std::fabs(b); }) -
        channel.begin());
}

} // namespace hosttool
