#include <gtest/gtest.h>

#include <cstdlib>
#include <numeric>
#include <system_error>

#include "sorting/sorting.hpp"
#include "thread_limit.hpp"

TEST(ThreadQuicksortDeathTest, SecondThreadThatCannotStartJoinsTheFirstAndThrows) {
    QSB_SKIP_IF_SANITIZED();
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            value_array values(2000);
            std::iota(values.rbegin(), values.rend(), 0);
            if (!allow_only_threads(1)) {
                std::exit(3);
            }
            try {
                thread_quicksort(values, 0, 1999);
            } catch (const std::system_error&) {
                std::exit(0);
            }
            std::exit(5); // both threads started: the limit did not bite
        },
        ::testing::ExitedWithCode(0), "");
}
