// The counters each oneTBB worker opens when it first enters the scheduler.
#include "bench/worker_counters.hpp"

#include <oneapi/tbb/task_scheduler_observer.h>

#include <functional>
#include <mutex>

namespace {

// One observer serves the whole process and is never destroyed: oneTBB frees an observer's
// registration lazily, after the program has stopped looking.
struct observer : tbb::task_scheduler_observer {
    std::mutex mutex;
    std::function<void()> current; // the hook of the counter set now open, if any

    observer() { observe(true); }
    void on_scheduler_entry(bool worker) override {
        if (!worker) {
            return;
        }
        std::function<void()> hook;
        {
            const std::lock_guard lock(mutex);
            hook = current;
        }
        if (hook) {
            hook();
        }
    }
    static observer& instance() {
        static observer* const only = new observer();
        return *only;
    }
};

} // namespace

tbb_worker_counters::tbb_worker_counters(const counter_set& counters) {
    std::function<void()> hook = counters.worker_hook();
    if (!hook) {
        return; // no observer either: registering one while oneTBB's workers run is a race of its own
    }
    observer& o = observer::instance();
    const std::lock_guard lock(o.mutex);
    o.current = std::move(hook);
    registered_ = true;
}

tbb_worker_counters::~tbb_worker_counters() {
    if (!registered_) {
        return;
    }
    observer& o = observer::instance();
    const std::lock_guard lock(o.mutex);
    o.current = nullptr;
}
