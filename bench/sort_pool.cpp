// The pool of the sequential sorts: workers take queued arrays while a display counts the finished ones.
#include "bench/sort_pool.hpp"

#include <algorithm>
#include <exception>
#include <ostream>
#include <utility>
#include <vector>

#include "bench/durations.hpp"
#include "bench/timed_sort.hpp"
#include "records/strategy.hpp"

namespace {

// Runs a thread body, keeping its error for the thread that joins it: an exception escaping a
// thread would end the whole process.
template <typename Body>
std::thread start_guarded(std::exception_ptr& failure, Body body) {
    return std::thread([&failure, body = std::move(body)]() mutable {
        try {
            body();
        } catch (...) {
            failure = std::current_exception();
        }
    });
}

} // namespace

void run_sequential_sorts(sort_pool& pool, std::uint64_t total, const console& con, unsigned workers) {
    con.out << "Sequential Sort: 0/" << total << " tasks completed." << std::endl;

    pool.done = false;
    pool.completed = 0;

    // A reported concurrency of 0 would start no worker and leave every task unsorted.
    const unsigned worker_count = std::max(1u, workers);
    std::vector<std::thread> slots(worker_count);
    std::vector<std::exception_ptr> failures(worker_count + 1);

    std::thread display = start_guarded(failures.back(), [&pool, total, &con] { report_progress(pool, total, con); });

    std::exception_ptr start_failure;
    try {
        for (unsigned k = 0; k < worker_count; ++k) {
            slots[k] = start_guarded(failures[k], [&pool] {
                struct at_end {
                    std::function<void()> action;
                    ~at_end() {
                        if (action) {
                            action();
                        }
                    }
                } end{pool.on_worker_start ? pool.on_worker_start() : nullptr};
                sort_worker(pool);
            });
        }
    } catch (...) {
        // Stop the phase: the workers already running end after their current task.
        start_failure = std::current_exception();
        const std::lock_guard lock(pool.queue_mutex);
        pool.tasks.clear();
    }

    for (auto& worker : slots) {
        if (worker.joinable()) {
            worker.join();
        }
    }
    {
        const std::lock_guard lock(pool.progress_mutex);
        pool.done = true;
        pool.progress_cv.notify_one();
    }
    display.join();

    if (start_failure) {
        std::rethrow_exception(start_failure);
    }
    for (const auto& failure : failures) {
        if (failure) {
            std::rethrow_exception(failure);
        }
    }
}

void sort_worker(sort_pool& pool) {
    for (;;) {
        value_array values;
        std::int32_t n = 0;
        {
            const std::lock_guard lock(pool.queue_mutex);
            if (pool.tasks.empty()) {
                return;
            }
            values = pool.tasks.front().values;
            n = static_cast<std::int32_t>(pool.tasks.front().size);
            pool.tasks.pop_front();
        }
        // A wrong result names its run as the progress display would have counted it.
        std::uint64_t id = 0;
        const duration_ns elapsed = time_checked_sort(
            values, [n](value_array& v) { quicksort(v, 0, n - 1); }, name_of(strategy::sequential),
            [&pool] {
                const std::lock_guard lock(pool.progress_mutex);
                return static_cast<std::uint64_t>(pool.completed + 1);
            },
            nullptr, &id);

        {
            const std::lock_guard progress(pool.progress_mutex);
            ++pool.completed;
            pool.progress_cv.notify_one();
            const std::lock_guard results(pool.results_mutex);
            sequential_times.push_back(elapsed);
            pool.ids.push_back(id);
        }
        if (pool.on_sorted) {
            pool.on_sorted(name_of(strategy::sequential));
        }
    }
}

void report_progress(sort_pool& pool, std::uint64_t total, const console& con) {
    std::int32_t shown = 0;
    std::unique_lock lock(pool.progress_mutex);
    while (!pool.done || shown < pool.completed) {
        // The predicate is tested before every wait and after every wake, so a wake that came
        // while this thread was printing is never lost.
        pool.progress_cv.wait(lock, [&] { return pool.done || shown < pool.completed; });
        while (shown < pool.completed) {
            con.clear();
            ++shown;
            con.out << "Sequential Sort: completed " << shown << "/" << total << " tasks." << std::endl;
        }
    }
}
