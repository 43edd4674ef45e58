#include <aufw/PropertyListenerList.h>

#include <memory>

PropertyListenerList::~PropertyListenerList() {
    delete mCurrent.load();
    FreeRetired();
}

void PropertyListenerList::Add(const Record& inRecord) {
    auto next = std::make_unique<Snapshot>();
    if (const Snapshot* current = mCurrent.load()) {
        next->records.reserve(current->records.size() + 1);
        next->records = current->records;
    } else {
        // Room for a typical host's listeners from the first addition on.
        next->records.reserve(32);
    }
    next->records.push_back(inRecord);
    Publish(next.release());
}

void PropertyListenerList::Remove(AudioUnitPropertyID inID, AudioUnitPropertyListenerProc inProc,
                                  void* inRefCon, bool inRefConMatters) {
    const Snapshot* current = mCurrent.load();
    if (current == nullptr) {
        return;
    }
    auto matches = [&](const Record& r) {
        return r.propertyID == inID && r.listenerProc == inProc &&
               (!inRefConMatters || r.listenerRefCon == inRefCon);
    };
    std::size_t kept = 0;
    for (const Record& r : current->records) {
        kept += matches(r) ? 0 : 1;
    }
    if (kept == current->records.size()) {
        return; // nothing to erase, nothing to replace
    }
    auto next = std::make_unique<Snapshot>();
    next->records.reserve(kept);
    for (const Record& r : current->records) {
        if (!matches(r)) {
            next->records.push_back(r);
        }
    }
    Publish(next.release());
}

void PropertyListenerList::Publish(Snapshot* inNext) noexcept {
    Snapshot* previous = mCurrent.exchange(inNext);
    if (previous != nullptr) {
        previous->nextRetired = mRetired;
        mRetired = previous;
    }
    // Every walk counts itself before it loads the snapshot, and all of these
    // accesses are sequentially consistent: when no walk is counted after the
    // exchange above, any walk that starts later loads the new snapshot, so
    // nothing can still be reading the retired ones. Otherwise they wait for
    // a later change or the destructor.
    if (mWalkers.load() == 0) {
        FreeRetired();
    }
}

void PropertyListenerList::FreeRetired() noexcept {
    while (mRetired != nullptr) {
        Snapshot* next = mRetired->nextRetired;
        delete mRetired;
        mRetired = next;
    }
}
