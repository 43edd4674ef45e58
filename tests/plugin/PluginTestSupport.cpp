#include "PluginTestSupport.h"

#include <unistd.h>

#include <cstdlib>
#include <random>
#include <stdexcept>

namespace plugtest {

namespace {

fs::path uniqueFolder(const std::string& stem) {
    std::random_device random;
    const fs::path path = fs::temp_directory_path() /
                          (stem + std::to_string(getpid()) + "-" + std::to_string(random()));
    fs::create_directories(path);
    return path;
}

// The bundle opens its log under HOME when it is loaded, so the tests give it
// a home of their own, with the folders above the log's, before anything can
// load it.
struct TestHome {
    fs::path path = uniqueFolder("vx-plugin-home-");
    TestHome() {
        fs::create_directories(path / "Library" / "Logs");
        setenv("HOME", path.c_str(), 1);
    }
    ~TestHome() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};
const TestHome gTestHome;

} // namespace

fs::path testHome() {
    return gTestHome.path;
}

SupportFolder::SupportFolder() : root(uniqueFolder("vx-plugin-test-")) {
    setenv("VEXTRA_SUPPORT_FOLDER", root.c_str(), 1);
}

SupportFolder::~SupportFolder() {
    unsetenv("VEXTRA_SUPPORT_FOLDER");
    std::error_code ignored;
    fs::remove_all(root, ignored);
}

fs::path SupportFolder::install(const fs::path& module) {
    fs::create_directories(dataFolder());
    fs::copy_file(module, dataFolder() / "audplg.dylib", fs::copy_options::overwrite_existing);
    return dataFolder() / "audplg.dylib";
}

OSStatus InputSource::Render(void* refCon, AudioUnitRenderActionFlags*, const AudioTimeStamp*,
                             UInt32, UInt32 frames, AudioBufferList* data) {
    auto* self = static_cast<InputSource*>(refCon);
    ++self->calls;
    for (UInt32 b = 0; b < data->mNumberBuffers; ++b) {
        auto* samples = static_cast<float*>(data->mBuffers[b].mData);
        for (UInt32 i = 0; i < frames; ++i) {
            const size_t n = self->position + i;
            samples[i] = n < self->signal.size() ? self->signal[n] : 0.0f;
        }
    }
    self->position += frames;
    return self->answer;
}

OSStatus renderStereo(AudioUnit unit, Float64 sampleTime, UInt32 frames, float* left,
                      float* right) {
    struct {
        UInt32 count;
        AudioBuffer buffers[2];
    } list{2, {{1, frames * 4, left}, {1, frames * 4, right}}};
    AudioTimeStamp time{};
    time.mSampleTime = sampleTime;
    time.mFlags = kAudioTimeStampSampleTimeValid;
    AudioUnitRenderActionFlags flags = 0;
    return AudioUnitRender(unit, &flags, &time, 0, frames,
                           reinterpret_cast<AudioBufferList*>(&list));
}

} // namespace plugtest
