// The property listeners of a unit. Host control threads add and remove them
// (one at a time: the host serializes property calls on an instance), while a
// change announcement may walk them on any thread at the same moment, for
// instance when an engine reports a new latency from inside a parameter call
// on another thread, or from the render thread. So the records live in an
// immutable snapshot that a change replaces whole; a walk never waits and
// never sees a half-changed list, and a replaced snapshot is freed once no
// walk can still be reading it.
#pragma once

#include <AudioUnit/AudioUnit.h>

#include <atomic>
#include <vector>

class PropertyListenerList {
public:
    struct Record {
        AudioUnitPropertyID propertyID;
        AudioUnitPropertyListenerProc listenerProc;
        void* listenerRefCon;
    };

    PropertyListenerList() noexcept = default;
    PropertyListenerList(const PropertyListenerList&) = delete;
    PropertyListenerList& operator=(const PropertyListenerList&) = delete;
    ~PropertyListenerList();

    // Appends the record; duplicates are kept. Raises std::bad_alloc.
    void Add(const Record& inRecord);
    // Erases every record of the property and procedure (and reference, when
    // it matters). Raises std::bad_alloc.
    void Remove(AudioUnitPropertyID inID, AudioUnitPropertyListenerProc inProc, void* inRefCon,
                bool inRefConMatters);

    // Calls inVisit(record) for every record, in the order they were added.
    template <typename Visit> void ForEach(Visit&& inVisit) const {
        const WalkGuard walk(mWalkers);
        if (const Snapshot* snapshot = mCurrent.load()) {
            for (const Record& record : snapshot->records) {
                inVisit(record);
            }
        }
    }

private:
    struct Snapshot {
        std::vector<Record> records;
        Snapshot* nextRetired = nullptr;
    };
    struct WalkGuard {
        explicit WalkGuard(std::atomic<unsigned>& walkers) noexcept : mWalkers(walkers) {
            mWalkers.fetch_add(1);
        }
        ~WalkGuard() { mWalkers.fetch_sub(1); }
        std::atomic<unsigned>& mWalkers;
    };

    void Publish(Snapshot* inNext) noexcept;
    void FreeRetired() noexcept;

    std::atomic<Snapshot*> mCurrent{nullptr};
    mutable std::atomic<unsigned> mWalkers{0};
    Snapshot* mRetired = nullptr; // changed by the (serialized) writers only
};
