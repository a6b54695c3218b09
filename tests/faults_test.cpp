// The built binary under faults it cannot avoid: each must end in one clear line and a non-zero
// exit, never "terminate called", a core dump or a hang.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/format.hpp"
#include "process.hpp"
#include "thread_limit.hpp"

namespace {

const std::string small_run = " --size 1000000 --runs 3 --chunk 50000";

process_result shell(const std::string& script) { return run_process("/bin/bash", {"-c", script}); }

// Status 1 for a failure during the run; 2 where the memory model refused the run at once.
void expect_one_error_line(const process_result& r, const std::string& what, bool may_refuse = false) {
    EXPECT_EQ(r.signal, 0) << what;
    EXPECT_TRUE(r.exit_code == 1 || (may_refuse && r.exit_code == 2)) << what << ": " << r.exit_code;
    EXPECT_EQ(r.err.rfind("quicksort_bench: error: ", 0), 0u) << what << ": " << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << what << ": " << r.err;
    EXPECT_LACKS(r.err, "terminate called") << what;
}

} // namespace

TEST(Faults, TooLittleAddressSpaceEndsWithOneLineWhereverItStrikes) {
    QSB_SKIP_IF_SANITIZED();
    // From "no array fits" through "no thread stack fits" to "everything fits".
    int failures = 0;
    int successes = 0;
    for (const int kb : {30'000, 60'000, 150'000, 300'000, 420'000, 2'000'000}) {
        const process_result r =
            shell("ulimit -v " + std::to_string(kb) + "; exec '" + bench_binary() + "'" + small_run);
        const std::string what = "ulimit -v " + std::to_string(kb);
        if (r.exit_code == 0) {
            ++successes;
            EXPECT_HAS(r.out, "Results:") << what;
            EXPECT_LACKS(r.err, "error") << what << ": " << r.err;
        } else {
            ++failures;
            expect_one_error_line(r, what, true);
            EXPECT_LACKS(r.out, "Results:") << what << ": a failed run has no report";
            if (r.err.find("cannot start a thread or task") != std::string::npos) {
                EXPECT_HAS(r.err, "limited to " + format_bytes(1024ull * static_cast<std::uint64_t>(kb)) + " by ulimit -v")
                    << what << ": " << r.err;
            }
        }
    }
    EXPECT_GE(failures, 2);
    EXPECT_GE(successes, 1);
    const process_result classic = shell("ulimit -v 300000; exec '" + bench_binary() + "'");
    expect_one_error_line(classic, "default sizes under 300 MB", true);
    EXPECT_HAS(classic.err, "this run needs about") << "refused before any work";
}

TEST(Faults, StandardOutputThatCannotBeWritten) {
    const std::string run = "'" + bench_binary() + "' --size 20000 --runs 2";
    for (const auto& [what, script] : std::vector<std::pair<std::string, std::string>>{
             {"closed", run + " >&-"},
             {"full device", run + " >/dev/full"},
             {"broken pipe", run + " | true; exit ${PIPESTATUS[0]}"},
             {"help, closed", "'" + bench_binary() + "' --help >&-"}}) {
        const process_result r = shell(script);
        expect_one_error_line(r, what);
        EXPECT_HAS(r.err, "standard output") << what << ": " << r.err;
    }
}
