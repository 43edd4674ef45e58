// dispatch_once_f: a predicate word that goes 0 -> running -> done. Late
// arrivals sleep on one process-wide condition variable until the run ends.
#include <dispatch/dispatch.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace {

constexpr long kRunning = 1;
constexpr long kDone = ~0L;

std::mutex& onceMutex() {
    static auto* mutex = new std::mutex;
    return *mutex;
}

std::condition_variable& onceDone() {
    static auto* condition = new std::condition_variable;
    return *condition;
}

std::atomic_ref<long> word(dispatch_once_t* predicate) {
    return std::atomic_ref<long>(*predicate);
}

} // namespace

extern "C" void dispatch_once_f(dispatch_once_t* predicate, void* context,
                                dispatch_function_t function) {
    if (predicate == nullptr || function == nullptr) {
        return;
    }
    auto state = word(predicate);
    if (state.load(std::memory_order_acquire) == kDone) {
        return;
    }
    long expected = 0;
    if (state.compare_exchange_strong(expected, kRunning, std::memory_order_acq_rel)) {
        try {
            function(context);
        } catch (...) {
            // Let a later caller try again rather than wait forever.
            std::lock_guard<std::mutex> lock(onceMutex());
            state.store(0, std::memory_order_release);
            onceDone().notify_all();
            throw;
        }
        std::lock_guard<std::mutex> lock(onceMutex());
        state.store(kDone, std::memory_order_release);
        onceDone().notify_all();
        return;
    }
    std::unique_lock<std::mutex> lock(onceMutex());
    onceDone().wait(lock, [&] {
        const long now = state.load(std::memory_order_acquire);
        return now == kDone || now == 0;
    });
    if (state.load(std::memory_order_acquire) == 0) {
        lock.unlock();
        dispatch_once_f(predicate, context, function); // the first run threw
    }
}
