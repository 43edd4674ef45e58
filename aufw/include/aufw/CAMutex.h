// A named lock that knows which thread holds it.
//
// A thread that already holds the mutex may ask for it again without blocking;
// there is no lock count: the second Lock reports that it took nothing, and
// the caller releases only what it took.
#pragma once

#include <atomic>

#include <pthread.h>

class CAMutex {
public:
    // `name` is kept for diagnostics and must outlive the mutex. Raises
    // CAException with the error number when the mutex cannot be set up.
    explicit CAMutex(const char* name);
    virtual ~CAMutex();

    CAMutex(const CAMutex&) = delete;
    CAMutex& operator=(const CAMutex&) = delete;

    // False when the calling thread already owns the mutex (nothing is done);
    // otherwise blocks until it is had and returns true.
    virtual bool Lock();

    // Releases the mutex if the calling thread owns it; otherwise does nothing.
    virtual void Unlock();

    // Never blocks. `outWasLocked` tells whether this call took the mutex.
    // True when the caller owns the mutex afterwards (already or just now),
    // false when another thread holds it.
    virtual bool Try(bool& outWasLocked);

    virtual bool IsFree() const;
    virtual bool IsOwnedByCurrentThread() const;

    const char* GetName() const { return mName; }

    // Lets go of a held mutex for the length of a scope and takes it back at
    // the end, if this thread held it at the start.
    class Unlocker {
    public:
        explicit Unlocker(CAMutex& mutex);
        ~Unlocker();

        Unlocker(const Unlocker&) = delete;
        Unlocker& operator=(const Unlocker&) = delete;

    private:
        CAMutex& mMutex;
        bool mNeedsLock;
    };

private:
    const char* mName;
    // Written only by the holder, read by anyone for the owner test; a reader
    // sees either its own id (it is the holder) or some other value.
    std::atomic<pthread_t> mOwner;
    pthread_mutex_t mMutex;
};
