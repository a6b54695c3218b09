// The sequential-sort phase: a pool of worker threads takes queued arrays one at a time and sorts
// each with the plain sequential quicksort, while a display thread counts finished tasks.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "bench/console.hpp"
#include "bench/phases.hpp"
#include "machine/cpus.hpp"
#include "sorting/sorting.hpp"

struct sort_task {
    value_array values; // the task's own copy of a generated array
    std::uint64_t size = 0;
};

// Lock order: progress_mutex before results_mutex. queue_mutex is never held with another lock.
struct sort_pool {
    std::deque<sort_task> tasks;    // guarded by queue_mutex; taken from the front
    std::mutex queue_mutex;
    std::mutex results_mutex;       // guards appends to sequential_times and ids
    array_ids ids;                  // which array each of sequential_times' sorts sorted
    std::mutex progress_mutex;      // guards completed; the mutex of progress_cv
    std::condition_variable progress_cv;
    std::int32_t completed = 0;
    std::atomic<bool> done{false};  // set once every worker has been joined
    sort_listener on_sorted;        // told of each sort after its duration is recorded
    // Called on each worker thread before it takes its first task; what it returns is called on
    // the same thread after the last (the performance counters follow the workers this way).
    std::function<std::function<void()>()> on_worker_start;
};

// Sorts every queued task on `workers` threads (at least one; by default one per CPU this process
// may use), appending each duration to
// sequential_times, while a display thread prints one progress line per finished task to `con`.
// Returns once every thread it started has been joined. If a thread cannot be started, the tasks
// not yet taken are dropped, the started threads are joined, and the error is rethrown; an error
// inside a thread (a wrong sort result, memory exhausted) is rethrown likewise after the joins.
void run_sequential_sorts(sort_pool& pool, std::uint64_t total, const console& con = standard_console(),
                          unsigned workers = usable_cpu_count());

// Worker body: takes tasks from the front until the queue is empty, times one quicksort per task.
void sort_worker(sort_pool& pool);

// Display body: prints "Sequential Sort: completed k/total tasks." for every k, on a freshly
// cleared console, until the pool is done and every finished task has been shown.
void report_progress(sort_pool& pool, std::uint64_t total, const console& con);
