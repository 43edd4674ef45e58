// A plain value that one thread may write while another reads it, such as a
// parameter value set by a host control thread during rendering. Every read
// and write is whole (a relaxed atomic access: the same instructions as a
// plain one on this processor), so a reader sees either the old or the new
// value and never a torn one, and no ordering with other memory is implied.
#pragma once

#include <CoreAudio/CoreAudioTypes.h>

#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

template <typename T> class RelaxedValue {
public:
    constexpr RelaxedValue() noexcept = default;
    constexpr RelaxedValue(T value) noexcept : mValue(value) {} // NOLINT: reads as a plain T
    RelaxedValue(const RelaxedValue& other) noexcept : mValue(other.load()) {}
    RelaxedValue& operator=(const RelaxedValue& other) noexcept {
        store(other.load());
        return *this;
    }
    RelaxedValue& operator=(T value) noexcept {
        store(value);
        return *this;
    }
    operator T() const noexcept { return load(); } // NOLINT: reads as a plain T

    T load() const noexcept { return mValue.load(std::memory_order_relaxed); }
    void store(T value) noexcept { mValue.store(value, std::memory_order_relaxed); }

private:
    static_assert(std::atomic<T>::is_always_lock_free, "a whole access needs no lock");
    std::atomic<T> mValue{};
};

// A time stamp the render thread records while a control thread may reset
// it or read it: every 8-byte word is read and written whole, so each field
// (the sample time above all) is seen either old or new, never torn.
class RelaxedTimeStamp {
public:
    RelaxedTimeStamp() noexcept { store(AudioTimeStamp{}); }
    RelaxedTimeStamp(const RelaxedTimeStamp&) = delete;
    RelaxedTimeStamp& operator=(const RelaxedTimeStamp&) = delete;

    AudioTimeStamp load() const noexcept {
        AudioTimeStamp out;
        loadWords(reinterpret_cast<unsigned char*>(&out), std::make_index_sequence<kWords>{});
        return out;
    }
    // Word by word straight from the caller's stamp, unrolled: a render
    // records one on every cycle.
    void store(const AudioTimeStamp& stamp) noexcept {
        storeWords(reinterpret_cast<const unsigned char*>(&stamp),
                   std::make_index_sequence<kWords>{});
    }
    Float64 sampleTime() const noexcept {
        return std::bit_cast<Float64>(word(kSampleTimeWord).load(std::memory_order_relaxed));
    }

private:
    static constexpr std::size_t kWords = sizeof(AudioTimeStamp) / sizeof(std::uint64_t);

    std::atomic_ref<std::uint64_t> word(std::size_t i) const noexcept {
        return std::atomic_ref<std::uint64_t>(const_cast<std::uint64_t&>(mWords[i]));
    }
    template <std::size_t... I>
    void loadWords(unsigned char* out, std::index_sequence<I...>) const noexcept {
        (..., [&] {
            const std::uint64_t value = word(I).load(std::memory_order_relaxed);
            std::memcpy(out + I * sizeof value, &value, sizeof value);
        }());
    }
    template <std::size_t... I>
    void storeWords(const unsigned char* in, std::index_sequence<I...>) noexcept {
        (..., [&] {
            std::uint64_t value;
            std::memcpy(&value, in + I * sizeof value, sizeof value);
            word(I).store(value, std::memory_order_relaxed);
        }());
    }

    static constexpr std::size_t kSampleTimeWord = offsetof(AudioTimeStamp, mSampleTime) / 8;
    static_assert(sizeof(AudioTimeStamp) % sizeof(std::uint64_t) == 0);
    static_assert(offsetof(AudioTimeStamp, mSampleTime) % 8 == 0);
    alignas(std::atomic_ref<std::uint64_t>::required_alignment) std::uint64_t mWords[kWords];
};
