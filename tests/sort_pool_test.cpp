#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "bench/durations.hpp"
#include "bench/sort_pool.hpp"
#include "thread_limit.hpp"

namespace {

void queue(sort_pool& pool, std::size_t count, std::size_t size) {
    for (std::size_t t = 0; t < count; ++t) {
        value_array values(size);
        for (std::size_t k = 0; k < size; ++k) {
            values[k] = static_cast<std::int32_t>((k * 7919 + t * 104729) % 1000);
        }
        pool.tasks.push_back({values, size});
    }
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> expected_progress(int total) {
    std::vector<std::string> lines{"Sequential Sort: 0/" + std::to_string(total) + " tasks completed."};
    for (int k = 1; k <= total; ++k) {
        lines.push_back("Sequential Sort: completed " + std::to_string(k) + "/" + std::to_string(total) + " tasks.");
    }
    return lines;
}

class SequentialSorts : public ::testing::Test {
protected:
    void SetUp() override { sequential_times.clear(); }
    void TearDown() override { sequential_times.clear(); }

    std::ostringstream out;
    console con{out, false};
};

} // namespace

TEST_F(SequentialSorts, EveryTaskSortedOnceWhateverTheWorkerCount) {
    // More workers than tasks, and a reported hardware concurrency of 0 (still one worker).
    for (const unsigned workers : {8u, 0u}) {
        sort_pool pool;
        queue(pool, 3, 5000);
        std::ostringstream text;
        run_sequential_sorts(pool, 3, console{text, false}, workers);
        EXPECT_TRUE(pool.tasks.empty()) << workers;
        EXPECT_EQ(pool.completed, 3) << workers;
        EXPECT_EQ(sequential_times.size(), 3u) << workers;
        EXPECT_EQ(lines_of(text.str()), expected_progress(3)) << workers;
        sequential_times.clear();
    }
}

TEST_F(SequentialSorts, TasksAreTakenFromTheFrontInQueueOrder) {
    sort_pool pool;
    queue(pool, 12, 60'000);
    std::vector<std::int32_t> order;
    for (const auto& task : pool.tasks) {
        order.push_back(task.values.front());
    }
    std::sort(order.begin(), order.end());
    ASSERT_EQ(std::adjacent_find(order.begin(), order.end()), order.end()) << "tasks need distinct first values";
    order.clear();
    for (const auto& task : pool.tasks) {
        order.push_back(task.values.front());
    }

    // Every look at the queue while one worker runs must show a suffix of the original queue.
    std::atomic<bool> finished{false};
    std::vector<std::vector<std::int32_t>> snapshots;
    std::thread observer([&] {
        while (!finished) {
            std::vector<std::int32_t> seen;
            {
                const std::lock_guard lock(pool.queue_mutex);
                for (const auto& task : pool.tasks) {
                    seen.push_back(task.values.front());
                }
            }
            snapshots.push_back(std::move(seen));
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    run_sequential_sorts(pool, 12, con, 1);
    finished = true;
    observer.join();

    EXPECT_EQ(sequential_times.size(), 12u);
    ASSERT_GT(snapshots.size(), 2u);
    for (const auto& seen : snapshots) {
        ASSERT_LE(seen.size(), order.size());
        EXPECT_TRUE(std::equal(seen.begin(), seen.end(), order.end() - static_cast<std::ptrdiff_t>(seen.size())));
    }
}

TEST_F(SequentialSorts, EmptyAndSingleElementTasksAreTimedAndCounted) {
    sort_pool pool;
    pool.tasks.push_back({{}, 0});
    pool.tasks.push_back({{42}, 1});
    run_sequential_sorts(pool, 2, con, 2);
    EXPECT_EQ(pool.completed, 2);
    ASSERT_EQ(sequential_times.size(), 2u);
    EXPECT_GE(sequential_times[0], 0);
    EXPECT_GE(sequential_times[1], 0);
    EXPECT_EQ(lines_of(out.str()), expected_progress(2));
}

TEST_F(SequentialSorts, ClearsBeforeEachProgressLineOnATerminal) {
    sort_pool pool;
    queue(pool, 2, 100);
    std::ostringstream tty;
    run_sequential_sorts(pool, 2, console{tty, true}, 2);
    EXPECT_EQ(tty.str(), "Sequential Sort: 0/2 tasks completed.\n\x1b[H\x1b[2JSequential Sort: completed 1/2 tasks.\n"
                         "\x1b[H\x1b[2JSequential Sort: completed 2/2 tasks.\n");
}

TEST(ProgressDisplay, PrintsEveryCountWhenSeveralFinishAtOnce) {
    sort_pool pool;
    std::ostringstream out;
    const console con{out, false};
    std::thread display([&] { report_progress(pool, 6, con); });

    const auto finish = [&](int count) {
        const std::lock_guard lock(pool.progress_mutex);
        pool.completed += count;
        pool.progress_cv.notify_one();
    };
    finish(3);
    finish(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    finish(2);
    {
        const std::lock_guard lock(pool.progress_mutex);
        pool.done = true;
        pool.progress_cv.notify_one();
    }
    display.join();

    std::vector<std::string> expected = expected_progress(6);
    expected.erase(expected.begin());
    EXPECT_EQ(lines_of(out.str()), expected);
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
