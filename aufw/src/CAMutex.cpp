// The owner-tracking mutex.
#include "aufw/CAMutex.h"

#include "aufw/CAException.h"

#include <cerrno>

namespace {
// The "no thread" value: a zero-initialised thread id.
const pthread_t kNoThread{};
} // namespace

CAMutex::CAMutex(const char* name) : mName(name), mOwner(kNoThread) {
    int err = pthread_mutex_init(&mMutex, nullptr);
    if (err != 0)
        throw CAException(err);
}

CAMutex::~CAMutex() {
    pthread_mutex_destroy(&mMutex);
}

bool CAMutex::Lock() {
    pthread_t self = pthread_self();
    if (pthread_equal(mOwner.load(std::memory_order_relaxed), self))
        return false;
    int err = pthread_mutex_lock(&mMutex);
    if (err != 0)
        throw CAException(err);
    mOwner.store(self, std::memory_order_relaxed);
    return true;
}

void CAMutex::Unlock() {
    if (!pthread_equal(mOwner.load(std::memory_order_relaxed), pthread_self()))
        return;
    // Clear the owner while still holding the mutex, so that no other thread
    // can take it and then see itself displaced.
    mOwner.store(kNoThread, std::memory_order_relaxed);
    int err = pthread_mutex_unlock(&mMutex);
    if (err != 0)
        throw CAException(err);
}

bool CAMutex::Try(bool& outWasLocked) {
    outWasLocked = false;
    pthread_t self = pthread_self();
    if (pthread_equal(mOwner.load(std::memory_order_relaxed), self))
        return true;
    int err = pthread_mutex_trylock(&mMutex);
    if (err == EBUSY)
        return false;
    if (err != 0)
        throw CAException(err);
    mOwner.store(self, std::memory_order_relaxed);
    outWasLocked = true;
    return true;
}

bool CAMutex::IsFree() const {
    return pthread_equal(mOwner.load(std::memory_order_relaxed), kNoThread) != 0;
}

bool CAMutex::IsOwnedByCurrentThread() const {
    return pthread_equal(mOwner.load(std::memory_order_relaxed), pthread_self()) != 0;
}

CAMutex::Unlocker::Unlocker(CAMutex& mutex) : mMutex(mutex), mNeedsLock(false) {
    // Only a mutex this thread holds is handed back at the end; otherwise
    // the destructor would take a lock nobody asked for.
    if (mMutex.IsOwnedByCurrentThread()) {
        mMutex.Unlock();
        mNeedsLock = true;
    }
}

CAMutex::Unlocker::~Unlocker() {
    if (mNeedsLock)
        mMutex.Lock();
}
