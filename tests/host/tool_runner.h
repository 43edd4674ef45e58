// Runs vxhost as a child process in a temporary home, and reads and writes
// the audio files the tests hand it.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

namespace hosttool {

inline bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The parts the text lacks, so that a failed check names each of them.
inline std::vector<std::string> missing(const std::string& text,
                                        std::initializer_list<const char*> parts) {
    std::vector<std::string> out;
    for (const char* part : parts)
        if (!has(text, part))
            out.emplace_back(part);
    return out;
}
using Missing = std::vector<std::string>;

struct ToolResult {
    int status = -1; // exit status, or -1 when the tool died
    int signal = 0;  // the signal that ended it, if one did
    std::string out; // standard output
    std::string err; // standard error
};

// A temporary folder that is the child's HOME and holds the test's files.
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

    // Runs vxhost, or any program, in the folder with the sandbox's HOME.
    ToolResult run(const std::vector<std::string>& args) const;
    ToolResult runProgram(const std::string& program, const std::vector<std::string>& args) const;
    // An environment variable for every later child; an empty value removes it.
    void setEnv(const std::string& name, const std::string& value);

private:
    std::string mFolder;
    std::vector<std::pair<std::string, std::string>> mEnv;
};

// The folder of a test bundle made by the build ("HostTest" ->
// ".../HostTest.component").
std::string bundle(const std::string& name);

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
