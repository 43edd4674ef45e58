#include "AudioFile.h"

#include "HostError.h"

#include <sndfile.h>

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <numbers>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;

namespace vxhost {

namespace {

class FileSource final : public AudioSource {
public:
    FileSource(SNDFILE* file, const SF_INFO& info, std::string path)
        : mFile(file), mInfo(info), mPath(std::move(path)) {}
    ~FileSource() override { sf_close(mFile); }

    double rate() const override { return mInfo.samplerate; }
    int channels() const override { return mInfo.channels; }
    int64_t frames() const override { return mInfo.frames; }
    std::string description() const override { return mPath; }

    size_t read(float* const* planar, size_t count) override {
        const size_t channels = static_cast<size_t>(mInfo.channels);
        mInterleaved.resize(count * channels);
        const sf_count_t got =
            sf_readf_float(mFile, mInterleaved.data(), static_cast<sf_count_t>(count));
        if (got < 0 || (got == 0 && sf_error(mFile) != SF_ERR_NO_ERROR))
            throw HostError(fmt::format("cannot read '{}': {}", mPath, sf_strerror(mFile)));
        for (size_t f = 0; f < static_cast<size_t>(got); ++f)
            for (size_t c = 0; c < channels; ++c)
                planar[c][f] = mInterleaved[f * channels + c];
        return static_cast<size_t>(got);
    }

private:
    SNDFILE* mFile;
    SF_INFO mInfo;
    std::string mPath;
    std::vector<float> mInterleaved;
};

class TestSignal final : public AudioSource {
public:
    TestSignal(double rate, int channels)
        : mRate(rate), mChannels(channels), mFrames(static_cast<int64_t>(2.0 * rate)) {}

    double rate() const override { return mRate; }
    int channels() const override { return mChannels; }
    int64_t frames() const override { return mFrames; }
    std::string description() const override { return "built-in test signal"; }

    size_t read(float* const* planar, size_t count) override {
        const size_t n = static_cast<size_t>(
            std::min<int64_t>(static_cast<int64_t>(count), mFrames - mPosition));
        for (size_t f = 0; f < n; ++f) {
            const float v = sample(mPosition + static_cast<int64_t>(f));
            for (int c = 0; c < mChannels; ++c)
                planar[c][f] = v;
        }
        mPosition += static_cast<int64_t>(n);
        return n;
    }

private:
    float sample(int64_t frame) const {
        const double t = static_cast<double>(frame) / mRate;
        if (frame == static_cast<int64_t>(0.1 * mRate))
            return 0.5f;
        constexpr double starts[] = {0.5, 1.0, 1.5};
        constexpr double pitches[] = {440.0, 660.0, 880.0};
        double v = 0.0;
        for (int i = 0; i < 3; ++i) {
            const double local = t - starts[i];
            if (local >= 0.0 && local < 0.4)
                v += 0.3 * std::exp(-local * 12.0) *
                     std::sin(2.0 * std::numbers::pi * pitches[i] * local);
        }
        return static_cast<float>(v);
    }

    double mRate;
    int mChannels;
    int64_t mFrames;
    int64_t mPosition = 0;
};

int formatFor(const std::string& path) {
    std::string ext = fs::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (ext == ".wav")
        return SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    if (ext == ".aif" || ext == ".aiff")
        return SF_FORMAT_AIFF | SF_FORMAT_FLOAT;
    if (ext == ".caf")
        return SF_FORMAT_CAF | SF_FORMAT_FLOAT;
    if (ext == ".w64")
        return SF_FORMAT_W64 | SF_FORMAT_FLOAT;
    if (ext == ".flac")
        return SF_FORMAT_FLAC | SF_FORMAT_PCM_24;
    return 0;
}

} // namespace

std::unique_ptr<AudioSource> openAudioFile(const std::string& path) {
    std::error_code ec;
    if (!fs::exists(path, ec))
        throw HostError(fmt::format("input file '{}' does not exist", path));
    if (fs::is_directory(path, ec))
        throw HostError(fmt::format("input '{}' is a folder, not an audio file", path));
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file)
        throw HostError(fmt::format("cannot read '{}' as audio: {}", path, sf_strerror(nullptr)));
    if (info.channels < 1 || info.samplerate < 1) {
        sf_close(file);
        throw HostError(fmt::format("'{}' has no audio channels", path));
    }
    return std::make_unique<FileSource>(file, info, path);
}

std::unique_ptr<AudioSource> makeTestSignal(double rate, int channels) {
    return std::make_unique<TestSignal>(rate, channels);
}

void checkOutputName(const std::string& path) {
    if (formatFor(path) == 0)
        throw UsageError(fmt::format("cannot tell the output format from '{}' (use a name ending "
                                     "in .wav, .aiff, .caf, .w64 or .flac)",
                                     path));
    std::error_code ec;
    if (fs::is_directory(path, ec))
        throw UsageError(fmt::format("output '{}' is a folder", path));
    const fs::path parent = fs::path(path).parent_path();
    if (!parent.empty() && !fs::is_directory(parent, ec))
        throw UsageError(fmt::format("the folder of the output '{}' does not exist", path));
}

struct AudioWriter::Impl {
    std::string path;
    std::string temporary;
    SNDFILE* file = nullptr;
    int channels = 0;
    bool committed = false;
    std::vector<float> interleaved;
};

AudioWriter::AudioWriter(const std::string& path, double rate, int channels)
    : mImpl(std::make_unique<Impl>()) {
    checkOutputName(path);
    mImpl->path = path;
    mImpl->channels = channels;
    const fs::path target(path);
    mImpl->temporary =
        (target.parent_path() /
         fmt::format(".{}.vxhost-{}.tmp", target.filename().string(), static_cast<long>(getpid())))
            .string();
    SF_INFO info{};
    info.samplerate = static_cast<int>(std::lround(rate));
    info.channels = channels;
    info.format = formatFor(path);
    if (!sf_format_check(&info))
        throw HostError(fmt::format("cannot write {} channels at {} Hz in the format of '{}'",
                                    channels, rate, path));
    mImpl->file = sf_open(mImpl->temporary.c_str(), SFM_WRITE, &info);
    if (!mImpl->file)
        throw HostError(
            fmt::format("cannot create the output '{}': {}", path, sf_strerror(nullptr)));
}

AudioWriter::~AudioWriter() {
    if (mImpl->file)
        sf_close(mImpl->file);
    if (!mImpl->committed)
        std::remove(mImpl->temporary.c_str());
}

void AudioWriter::write(const float* const* planar, size_t count) {
    const size_t channels = static_cast<size_t>(mImpl->channels);
    mImpl->interleaved.resize(count * channels);
    for (size_t f = 0; f < count; ++f)
        for (size_t c = 0; c < channels; ++c)
            mImpl->interleaved[f * channels + c] = planar[c][f];
    if (sf_writef_float(mImpl->file, mImpl->interleaved.data(), static_cast<sf_count_t>(count)) !=
        static_cast<sf_count_t>(count))
        throw HostError(
            fmt::format("cannot write the output '{}': {}", mImpl->path, sf_strerror(mImpl->file)));
}

void AudioWriter::commit() {
    const int closed = sf_close(mImpl->file);
    mImpl->file = nullptr;
    if (closed != 0)
        throw HostError(fmt::format("cannot finish the output '{}'", mImpl->path));
    std::error_code ec;
    fs::rename(mImpl->temporary, mImpl->path, ec);
    if (ec)
        throw HostError(fmt::format("cannot name the output '{}': {}", mImpl->path, ec.message()));
    mImpl->committed = true;
}

} // namespace vxhost
