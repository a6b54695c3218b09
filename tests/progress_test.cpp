// The progress line through an injected clock: what it says, when it estimates, and that it
// leaves nothing behind on the terminal.
#include <gtest/gtest.h>

#include <sstream>

#include "bench/progress.hpp"
#include "process.hpp"

TEST(Progress, TimeLeftOnlyFromWhatWasMeasured) {
    const struct {
        double elapsed;
        std::uint64_t done, total;
        std::optional<double> left;
    } cases[] = {
        {30, 3, 10, 70}, {0, 0, 10, std::nullopt}, {12, 10, 10, 0},
        {5, 11, 10, std::nullopt}, // past the total: an unsigned difference would wrap
        {90, 2, 4 * 2 * 2, 630},   // a sweep: steps x strategies x runs
    };
    for (const auto& c : cases) {
        EXPECT_EQ(seconds_left(c.elapsed, c.done, c.total), c.left) << c.elapsed << " " << c.done << "/" << c.total;
    }
}

TEST(Progress, LineNamesThePhaseTheSortAndTheTimesAndIsErasedAtTheEnd) {
    duration_ns now = 0;
    std::ostringstream terminal;
    progress_line line(&terminal, [&] { return now; });
    line.restart(10);
    line.phase("thread sort", 10);
    EXPECT_EQ(line.text(), "thread sort, sort 0 of 10, 0:00 elapsed") << "no estimate before a sort is done";
    for (int k = 0; k < 3; ++k) {
        now += 10'000'000'000;
        line.sorted();
    }
    EXPECT_EQ(line.text(), "thread sort, sort 3 of 10, 0:30 elapsed, about 1:10 left");
    line.set_prefix("step 2/3 (2 CPUs)");
    line.set_detail("precision 3.1% (target 2%)");
    now += 3'600'000'000'000;
    EXPECT_EQ(line.text(), "step 2/3 (2 CPUs), thread sort, sort 3 of 10, precision 3.1% (target 2%), 1:00:30 "
                           "elapsed, about 2:21:10 left");
    line.erase();
    const std::string drawn = terminal.str();
    EXPECT_EQ(drawn.rfind("\r\x1b[K"), drawn.size() - 4) << "the last thing written erases the line";
    EXPECT_LACKS(drawn, '\n') << "the line is rewritten in place, never scrolled";

    // Without a terminal every call does nothing, and nothing fails.
    progress_line nowhere(nullptr);
    nowhere.phase("parallel sort", 3);
    nowhere.sorted();
    nowhere.draw();
    nowhere.erase();
}
