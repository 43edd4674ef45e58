// The host's callback record (kAudioUnitProperty_HostCallbacks): replaced by
// a host control thread, taken by the render thread on every cycle to ask
// for tempo and transport. Each procedure belongs with the record's user
// data, so a reader must never see half of one record and half of another.
// A sequence count, odd while a change is under way, tells a reader that it
// raced with one; it then tries again a bounded number of times and
// otherwise answers an empty record for this cycle, which callers treat as
// "no callbacks": a render thread never waits for the writer.
#pragma once

#include <AudioUnit/AudioUnit.h>

#include <array>
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

class HostCallbackRecord {
public:
    HostCallbackRecord() noexcept = default;
    HostCallbackRecord(const HostCallbackRecord&) = delete;
    HostCallbackRecord& operator=(const HostCallbackRecord&) = delete;

    // ANY, EITHER, +ANY (engine_api/Threads.h tags); wait-free. An empty
    // record only while a change is under way on another thread.
    HostCallbackInfo load() const noexcept {
        for (int attempt = 0; attempt < kAttempts; ++attempt) {
            const std::uint32_t before = mSequence.load(std::memory_order_acquire);
            if ((before & 1U) != 0) {
                continue;
            }
            // Acquire loads: a word from a change under way brings along the
            // odd count stored before it, so the check below sees the change.
            const auto words = LoadWords(std::make_index_sequence<kWords>{});
            if (mSequence.load(std::memory_order_relaxed) == before) {
                return std::bit_cast<HostCallbackInfo>(words);
            }
        }
        return HostCallbackInfo{};
    }

    // CONTROL (the host serializes the writers), EITHER, +RENDER; copied. A
    // render call already under way may still use the previous record.
    void store(const HostCallbackInfo& inInfo) noexcept {
        std::uintptr_t words[kWords];
        std::memcpy(words, &inInfo, sizeof words);
        const std::uint32_t sequence = mSequence.load(std::memory_order_relaxed);
        mSequence.store(sequence + 1, std::memory_order_relaxed);
        // Release stores keep the odd count ahead of every word (no
        // standalone fence: the thread sanitizer does not follow those).
        for (std::size_t i = 0; i < kWords; ++i) {
            mWords[i].store(words[i], std::memory_order_release);
        }
        mSequence.store(sequence + 2, std::memory_order_release);
        const bool procedures =
            inInfo.beatAndTempoProc != nullptr || inInfo.musicalTimeLocationProc != nullptr ||
            inInfo.transportStateProc != nullptr || inInfo.transportStateProc2 != nullptr;
        mHasProcedures.store(procedures, std::memory_order_relaxed);
    }

    // ANY, EITHER, +ANY. Whether the record holds any procedure: one load,
    // so that a render for a host without callbacks skips the whole copy.
    // Like load(), it may miss a record whose change is under way.
    bool hasProcedures() const noexcept { return mHasProcedures.load(std::memory_order_relaxed); }

private:
    static constexpr std::size_t kWords = sizeof(HostCallbackInfo) / sizeof(std::uintptr_t);
    static_assert(sizeof(HostCallbackInfo) % sizeof(std::uintptr_t) == 0);
    // A change is a handful of stores; a reader that meets one this many
    // times in a row gives up on this cycle rather than spin.
    static constexpr int kAttempts = 32;

    // Every word in one expression, so that the render thread's copy is a
    // handful of loads rather than a loop and a second copy.
    template <std::size_t... I>
    std::array<std::uintptr_t, kWords> LoadWords(std::index_sequence<I...>) const noexcept {
        return {mWords[I].load(std::memory_order_acquire)...};
    }

    std::atomic<std::uint32_t> mSequence{0};
    std::atomic<std::uintptr_t> mWords[kWords]{};
    std::atomic<bool> mHasProcedures{false};
};
