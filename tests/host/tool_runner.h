// Runs vxhost, or another program, as a child in a temporary home, and reads
// and writes the audio files the tests hand it.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace hosttool {

inline bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The parts the text lacks, so that a failed check names each of them.
using Missing = std::vector<std::string>;
inline Missing missing(const std::string& text, const Missing& parts) {
    Missing out;
    for (const std::string& part : parts)
        if (!has(text, part))
            out.push_back(part);
    return out;
}

struct ToolResult {
    int status = -1; // exit status, or -1 when the tool died
    int signal = 0;  // the signal that ended it, if one did
    std::string out, err;
};

// A temporary folder that is the child's HOME, its working folder, and holds
// the test's files.
class Sandbox {
public:
    Sandbox();
    ~Sandbox();

    const std::string& folder() const { return mFolder; }
    std::string path(const std::string& name) const { return mFolder + "/" + name; }
    // Files in the folder (names only), hidden ones included.
    std::vector<std::string> files() const;
    // Copies a test bundle into HOME's components folder.
    void install(const std::string& bundleName) const;
    // The plug-in bundle in HOME's components folder and its engine builds
    // (or only the engine file given) in a support folder that later
    // children find through VEXTRA_SUPPORT_FOLDER.
    void installPlugIn(const std::string& onlyEngine = "");

    ToolResult run(const std::vector<std::string>& args) const {
        return runProgram(VXHOST_BINARY, args);
    }
    ToolResult runProgram(const std::string& program, const std::vector<std::string>& args) const;
    // An environment variable for every later child; an empty value removes it.
    void setEnv(const std::string& name, const std::string& value) {
        mEnv.emplace_back(name, value);
    }

private:
    std::string mFolder;
    std::vector<std::pair<std::string, std::string>> mEnv;
};

// The folder of a test bundle made by the build ("HostTest" -> ".../HostTest.component").
inline std::string bundle(const std::string& name) {
    return std::string(HOST_TEST_BUNDLES) + "/" + name + ".component";
}

struct Audio {
    int rate = 0;
    std::vector<std::vector<float>> channels;
    size_t frames() const { return channels.empty() ? 0 : channels[0].size(); }
};

void writeWav(const std::string& path, const Audio& audio);
Audio readWav(const std::string& path);
// A mono file of the given length with single-sample impulses.
Audio impulses(int rate, size_t frames, const std::vector<std::pair<size_t, float>>& at);
// Where the loudest sample of a channel is (the first of equals).
size_t loudest(const std::vector<float>& channel);

} // namespace hosttool
