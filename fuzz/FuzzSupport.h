// Shared helpers of the fuzz targets: an invariant check that stops the run
// with a message (so libFuzzer keeps the input as a crash), a private scratch
// folder per process, and a small reader that turns the input bytes into
// choices.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

// An invariant of the code under test; a violation is a finding.
#define FUZZ_CHECK(cond)                                                                           \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "%s:%d: invariant violated: %s\n", __FILE__, __LINE__, #cond);    \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

namespace fuzzsupport {

// A folder of this process's own below TMPDIR (or /tmp), removed at exit.
const std::string& scratchDir();

// Writes bytes to a file, replacing it; false when that failed.
bool writeFile(const std::string& path, const void* data, size_t size);
// Reads a whole file; false when it cannot be read.
bool readFile(const std::string& path, std::string& out);

// Consumes the input from the front: small integers, flags and byte runs.
class Input {
public:
    Input(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    bool empty() const { return m_pos >= m_size; }
    size_t remaining() const { return m_size - m_pos; }

    uint8_t byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    bool flag() { return (byte() & 1) != 0; }
    uint16_t u16() { return static_cast<uint16_t>(byte() | (byte() << 8)); }
    uint32_t u32() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= static_cast<uint32_t>(byte()) << (8 * i);
        return v;
    }
    // A value in [0, bound), bound > 0.
    uint32_t below(uint32_t bound) { return bound <= 256 ? byte() % bound : u32() % bound; }
    float f32() {
        const uint32_t bits = u32();
        float v;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }
    // Up to `max` bytes, fewer when the input runs out.
    std::string bytes(size_t max) {
        const size_t n = max < remaining() ? max : remaining();
        std::string s(reinterpret_cast<const char*>(m_data + m_pos), n);
        m_pos += n;
        return s;
    }
    // The rest of the input.
    std::string rest() { return bytes(remaining()); }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

} // namespace fuzzsupport
