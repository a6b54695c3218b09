// The "Breakdown:" block after the report.
#include "report/breakdown_report.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>

#include "common/format.hpp"

namespace {

// "812.41 ms (78%)"
std::string ms_and_share(duration_ns ns, duration_ns whole) {
    return format_ms(ns) + " ms (" + share_text(static_cast<double>(ns), static_cast<double>(whole)) + ")";
}

std::string factor_text(const std::optional<double>& factor) { return factor ? fixed(*factor, 2) : "n/a"; }

} // namespace

void print_breakdown(const breakdown_results& b, std::ostream& out) {
    const std::vector<std::string> sentences = breakdown_sentences(b);
    out << "Breakdown:" << std::endl;
    out << std::endl;
    out << "From the median of " << b.runs << " instrumented sorts per strategy, run after the timed ones and never "
        << "mixed into them." << std::endl;
    out << std::endl;

    const quicksort_figures& q = b.sequential;
    out << "Sequential sort (quicksort):" << std::endl;
    out << "Partitions: " << q.partitions << std::endl;
    out << "Elements counted (one atomic increment each): " << q.counted << ", " << fixed(q.counted_per_element, 2)
        << " per array element" << std::endl;
    out << "Counted in partitions whose pivot was its range's largest value: " << q.counted_pivot_largest << " ("
        << share_text(static_cast<double>(q.counted_pivot_largest), static_cast<double>(q.counted)) << ")"
        << std::endl;
    out << "Swaps: " << q.swaps << std::endl;
    out << "Deepest recursion: " << q.deepest << std::endl;
    out << "Instrumented sort: " << format_ms(q.sort_ns) << " ms" << std::endl;
    out << sentences[0] << std::endl;
    out << std::endl;

    const thread_figures& t = b.thread;
    out << "Thread sort (thread_quicksort):" << std::endl;
    out << "First partition, on the calling thread: " << ms_and_share(t.first_partition_ns, t.sort_ns) << std::endl;
    out << "Left thread: " << format_ms(t.left_ns) << " ms, right thread: " << format_ms(t.right_ns) << " ms"
        << std::endl;
    out << "Pivot split: " << fixed(100 * t.left_share, 1) << "% left, " << fixed(100 * (1 - t.left_share), 1)
        << "% right" << std::endl;
    out << "Faster thread idle: " << ms_and_share(t.idle_ns, t.sort_ns) << std::endl;
    out << "Instrumented sort: " << format_ms(t.sort_ns) << " ms" << std::endl;
    out << sentences[1] << std::endl;
    out << std::endl;

    const chunked_figures& p = b.parallel;
    out << "Parallel sort (parallel_quicksort):" << std::endl;
    out << "Launching the tasks: " << ms_and_share(p.launch_ns, p.sort_ns) << std::endl;
    out << "Waiting for the chunk sorts: " << ms_and_share(p.wait_ns, p.sort_ns) << std::endl;
    out << "  chunk sorts from first start to last end: " << format_ms(p.chunk_span_ns)
        << " ms; summed task time: " << format_ms(p.task_sum_ns) << " ms" << std::endl;
    out << "Splitting into runs (two copies): " << ms_and_share(p.split_ns, p.sort_ns) << std::endl;
    out << "Merging: " << ms_and_share(p.merge_ns, p.sort_ns) << "; " << p.appended << " elements appended, "
        << p.reallocations << " reallocations" << std::endl;
    out << "Rest: " << ms_and_share(p.rest_ns, p.sort_ns) << std::endl;
    out << "Instrumented sort: " << format_ms(p.sort_ns) << " ms" << std::endl;
    out << sentences[2] << std::endl;
    out << std::endl;

    const contention_figures& c = b.contention;
    out << "Concurrent phases (contention factor = median in the parallel loop / median alone):" << std::endl;
    out << "Thread sort: " << format_ms(c.thread_in_loop_ns) << " ms in the loop, " << format_ms(c.thread_alone_ns)
        << " ms alone: " << factor_text(c.thread_factor) << std::endl;
    out << "Parallel_for parallel sort: " << format_ms(c.chunked_in_loop_ns) << " ms in the loop, "
        << format_ms(c.chunked_alone_ns) << " ms alone (the parallel sort): " << factor_text(c.chunked_factor)
        << std::endl;
    out << sentences[3] << std::endl;
    out << std::endl;
}
