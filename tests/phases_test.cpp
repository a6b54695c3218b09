// The timed phases: the sequential sorts' pool, its queue and progress display, and the loop phases.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "bench/durations.hpp"
#include "bench/phases.hpp"
#include "bench/sort_pool.hpp"
#include "thread_limit.hpp"

namespace {

// Empties every list of durations, as a process starts with them, for a test that measures again.
void clear_duration_lists() {
    for (duration_list* list : {&sequential_times, &thread_times, &parallel_times, &parallel_for_times}) {
        list->clear();
    }
}

// `count` tasks of `size` values each; task t starts with the value t * 729 % 1000, all distinct.
void queue(sort_pool& pool, std::size_t count, std::size_t size) {
    for (std::size_t t = 0; t < count; ++t) {
        value_array values(size);
        for (std::size_t k = 0; k < size; ++k) {
            values[k] = static_cast<std::int32_t>((k * 7919 + t * 104729) % 1000);
        }
        pool.tasks.push_back({values, size});
    }
}

std::string progress(int total, bool terminal) {
    std::string text = "Sequential Sort: 0/" + std::to_string(total) + " tasks completed.\n";
    for (int k = 1; k <= total; ++k) {
        text += std::string(terminal ? "\x1b[H\x1b[2J" : "") + "Sequential Sort: completed " + std::to_string(k) +
                "/" + std::to_string(total) + " tasks.\n";
    }
    return text;
}

} // namespace

TEST(SequentialSorts, EveryTaskSortedTimedAndShownOnceWhateverTheWorkers) {
    const struct {
        unsigned workers;
        std::vector<std::size_t> sizes;
        bool terminal;
    } cases[] = {
        {8, {5000, 5000, 5000}, false}, // more workers than tasks
        {0, {5000, 5000, 5000}, false}, // a reported concurrency of 0 still gets one worker
        {2, {0, 1}, false},             // nothing to sort, yet timed and counted
        {2, {100, 100}, true},          // a terminal is cleared before each line
    };
    for (const auto& c : cases) {
        sort_pool pool;
        for (const std::size_t size : c.sizes) {
            queue(pool, 1, size);
        }
        std::ostringstream out;
        const int total = static_cast<int>(c.sizes.size());
        run_sequential_sorts(pool, c.sizes.size(), console{out, c.terminal}, c.workers);
        EXPECT_TRUE(pool.tasks.empty()) << c.workers;
        EXPECT_EQ(pool.completed, total) << c.workers;
        EXPECT_EQ(sequential_times.size(), c.sizes.size()) << c.workers;
        EXPECT_EQ(out.str(), progress(total, c.terminal)) << c.workers;
        clear_duration_lists();
    }
}

TEST(SequentialSorts, OneWorkerTakesTheTasksFromTheFrontInQueueOrder) {
    sort_pool pool;
    queue(pool, 6, 2000);
    const std::vector<std::int32_t> expected = {729, 458, 187, 916, 645, -1}; // tasks 1 to 5, then none
    // After each sort, the queue's front must be the next task in the original order.
    std::vector<std::int32_t> fronts;
    pool.on_sorted = [&](std::string_view) {
        const std::lock_guard lock(pool.queue_mutex);
        fronts.push_back(pool.tasks.empty() ? -1 : pool.tasks.front().values.front());
    };
    std::ostringstream out;
    run_sequential_sorts(pool, 6, console{out, false}, 1);
    EXPECT_EQ(fronts, expected);
    clear_duration_lists();
}

TEST(ProgressDisplay, PrintsEveryCountWhenSeveralFinishAtOnce) {
    sort_pool pool;
    std::ostringstream out;
    std::thread display([&] { report_progress(pool, 6, console{out, false}); });
    const auto finish = [&](int count, bool done) {
        const std::lock_guard lock(pool.progress_mutex);
        pool.completed += count;
        pool.done = done;
        pool.progress_cv.notify_one();
    };
    finish(3, false);
    finish(1, false);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    finish(2, true);
    display.join();
    EXPECT_EQ(out.str(), progress(6, false).substr(progress(6, false).find('\n') + 1));
}

TEST(SequentialSortsDeathTest, WorkerThatCannotStartEndsThePhaseWithItsError) {
    QSB_SKIP_IF_SANITIZED();
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            sort_pool pool;
            queue(pool, 8, 20'000);
            std::ostringstream out;
            if (!allow_only_threads(2)) { // the display and one worker
                std::exit(3);
            }
            try {
                run_sequential_sorts(pool, 8, console{out, false}, 6);
            } catch (const std::system_error&) {
                std::exit(pool.tasks.empty() && pool.done ? 0 : 4);
            }
            std::exit(5);
        },
        ::testing::ExitedWithCode(0), "");
}

namespace {

bench_config small_sizes(std::uint64_t runs) {
    bench_config sizes;
    sizes.array_size = 20'000;
    sizes.chunk_size = 3'000;
    sizes.run_count = runs;
    return sizes;
}

} // namespace

TEST(Phases, RecordExactlyOneDurationPerRun) {
    // On a single CPU the loops run their iterations one after another: a sweep's one-CPU step.
    std::mutex m;
    duration_list thread_list;
    duration_list parallel_for_list;
    duration_list parallel_list;
    value_array data;
    run_thread_sorts(thread_list, m, small_sizes(13));
    run_parallel_for_sorts(parallel_for_list, m, small_sizes(13));
    run_parallel_sorts(data, parallel_list, small_sizes(3));
    EXPECT_EQ(thread_list.size(), 13u);
    EXPECT_EQ(parallel_for_list.size(), 13u);
    EXPECT_EQ(parallel_list.size(), 3u);
    EXPECT_TRUE(data.empty()) << "the reusable array is emptied after each run";
}

TEST(Phases, AnErrorInALoopBodyReachesTheCaller) {
    std::mutex m;
    duration_list list;
    bench_config sizes = small_sizes(8);
    sizes.chunk_size = 0; // parallel_quicksort refuses it inside every body
    EXPECT_THROW(run_parallel_for_sorts(list, m, sizes), std::invalid_argument);
    EXPECT_TRUE(list.empty());
}
