#include "tool_runner.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;

namespace hosttool {

namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

int ToolResult::errorLines() const {
    return static_cast<int>(std::count(err.begin(), err.end(), '\n'));
}

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
    const fs::path components = fs::path(mFolder) / "Library/Audio/Plug-Ins/Components";
    fs::create_directories(components);
    fs::copy(bundle(bundleName), components / (bundleName + ".component"),
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
}

void Sandbox::installPlugIn(const std::string& onlyEngine) {
    const fs::path home(mFolder);
    fs::create_directories(home / "Library/Audio/Plug-Ins/Components");
    fs::copy(VX_PLUGIN_BUNDLE, home / "Library/Audio/Plug-Ins/Components/VX-Delay.component",
             fs::copy_options::recursive);
    fs::create_directories(home / "support/Delay");
    if (!onlyEngine.empty())
        fs::copy_file(onlyEngine, home / "support/Delay/audplg.dylib");
    else
        for (const auto& build : fs::directory_iterator(VX_ENGINE_DIR))
            fs::copy_file(build.path(), home / "support/Delay" / build.path().filename());
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
    std::vector<std::string> words = {program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);

    // The child's home is the sandbox, so its log and components folder are too.
    std::vector<std::pair<std::string, std::string>> overrides = mEnv;
    overrides.emplace_back("HOME", mFolder);
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        env.emplace_back(*e);
    for (const auto& [name, value] : overrides) {
        std::erase_if(env, [&](const std::string& e) { return e.rfind(name + "=", 0) == 0; });
        if (!value.empty())
            env.push_back(name + "=" + value);
    }
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    const std::string outPath = mFolder + ".out", errPath = mFolder + ".err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addchdir_np(&actions, mFolder.c_str());
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ToolResult result;
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start " << argv[0];
        return result;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status))
        result.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        result.signal = WTERMSIG(status);
    result.out = slurp(outPath);
    result.err = slurp(errPath);
    fs::remove(outPath);
    fs::remove(errPath);
    return result;
}

std::string bundle(const std::string& name) {
    return std::string(HOST_TEST_BUNDLES) + "/" + name + ".component";
}

void writeWav(const std::string& path, const Audio& audio) {
    SF_INFO info{};
    info.samplerate = audio.rate;
    info.channels = static_cast<int>(audio.channels.size());
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
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
    Audio audio;
    if (!file) {
        ADD_FAILURE() << "cannot read " << path << ": " << sf_strerror(nullptr);
        return audio;
    }
    std::vector<float> interleaved(static_cast<size_t>(info.frames * info.channels));
    sf_readf_float(file, interleaved.data(), info.frames);
    sf_close(file);
    audio.rate = info.samplerate;
    audio.channels.assign(static_cast<size_t>(info.channels),
                          std::vector<float>(static_cast<size_t>(info.frames)));
    for (size_t f = 0; f < static_cast<size_t>(info.frames); ++f)
        for (size_t c = 0; c < audio.channels.size(); ++c)
            audio.channels[c][f] = interleaved[f * audio.channels.size() + c];
    return audio;
}

Audio impulses(int rate, size_t frames, const std::vector<std::pair<size_t, float>>& at) {
    Audio audio;
    audio.rate = rate;
    audio.channels.assign(1, std::vector<float>(frames, 0.0f));
    for (const auto& [frame, value] : at)
        audio.channels[0][frame] = value;
    return audio;
}

size_t loudest(const std::vector<float>& channel) {
    size_t at = 0;
    for (size_t f = 0; f < channel.size(); ++f)
        if (std::fabs(channel[f]) > std::fabs(channel[at]))
            at = f;
    return at;
}

} // namespace hosttool
