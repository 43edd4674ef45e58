// Audio in and out of the host: files through libsndfile, the built-in test
// signal, and output written under a temporary name that takes the real
// name only when the whole render succeeded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vxhost {

class AudioSource {
public:
    virtual ~AudioSource() = default;
    virtual double rate() const = 0;
    virtual int channels() const = 0;
    virtual int64_t frames() const = 0;
    virtual std::string description() const = 0;
    // Reads up to count frames, one buffer per channel; answers the frames
    // read (0 at the end). Throws HostError on a read error.
    virtual size_t read(float* const* planar, size_t count) = 0;
};

// Throws HostError for a missing or unreadable file.
std::unique_ptr<AudioSource> openAudioFile(const std::string& path);

// Two seconds: a click at 0.1 s, then decaying tones at 0.5, 1.0 and 1.5 s.
std::unique_ptr<AudioSource> makeTestSignal(double rate, int channels);

// Usage error when the name's extension names no format the host writes.
void checkOutputName(const std::string& path);

class AudioWriter {
public:
    // Opens a temporary file beside path; throws HostError when it cannot.
    AudioWriter(const std::string& path, double rate, int channels);
    AudioWriter(const AudioWriter&) = delete;
    AudioWriter& operator=(const AudioWriter&) = delete;
    // Removes the temporary file unless commit() succeeded.
    ~AudioWriter();

    void write(const float* const* planar, size_t count);
    // Closes the file and gives it its real name.
    void commit();

private:
    struct Impl;
    std::unique_ptr<Impl> mImpl;
};

} // namespace vxhost
