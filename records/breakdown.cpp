// The breakdown's derived figures and sentences.
#include "records/breakdown.hpp"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "common/format.hpp"

namespace {

std::string factor_text(const std::optional<double>& factor) { return factor ? fixed(*factor, 2) : "n/a"; }

} // namespace

std::string share_text(double part, double whole) {
    if (whole <= 0) {
        return "n/a";
    }
    return std::to_string(std::lround(100 * part / whole)) + "%";
}

std::vector<std::string> breakdown_sentences(const breakdown_results& b) {
    std::vector<std::string> sentences;

    const quicksort_figures& q = b.sequential;
    sentences.push_back(
        "The sequential sort's work is counting: " + fixed(q.counted_per_element, 1) +
        " atomic increments per element, " +
        share_text(static_cast<double>(q.counted_pivot_largest), static_cast<double>(q.counted)) +
        " of them in partitions whose pivot was the largest value of its range, as in runs of equal values.");

    const thread_figures& t = b.thread;
    const duration_ns slower = std::max(t.left_ns, t.right_ns);
    sentences.push_back("The thread sort lasts as long as its slower thread: " +
                        share_text(static_cast<double>(slower), static_cast<double>(t.sort_ns)) +
                        " of its time, with the pivot splitting the array " + fixed(100 * t.left_share, 0) + "/" +
                        fixed(100 * (1 - t.left_share), 0) + " and the faster thread idle for " +
                        share_text(static_cast<double>(t.idle_ns), static_cast<double>(t.sort_ns)) + " of it.");

    const chunked_figures& p = b.parallel;
    const std::pair<const char*, duration_ns> stages[] = {{"launching its tasks", p.launch_ns},
                                                         {"waiting for the chunk sorts", p.wait_ns},
                                                         {"splitting the chunks into runs", p.split_ns},
                                                         {"the one-thread merge", p.merge_ns}};
    const auto& top = *std::max_element(std::begin(stages), std::end(stages),
                                        [](const auto& a, const auto& b2) { return a.second < b2.second; });
    sentences.push_back("The parallel sort spends most of its time on " + std::string(top.first) + ": " +
                        share_text(static_cast<double>(top.second), static_cast<double>(p.sort_ns)) + ".");

    const contention_figures& c = b.contention;
    sentences.push_back("The parallel_for parallel sort loses " +
                        share_text(static_cast<double>(c.chunked_in_loop_ns - c.chunked_alone_ns),
                                   static_cast<double>(c.chunked_in_loop_ns)) +
                        " of its time to the sorts running beside it: each takes " + factor_text(c.chunked_factor) +
                        " times as long as alone (the thread sort " + factor_text(c.thread_factor) + " times).");
    return sentences;
}

std::vector<strategy_stages> stages_of(const breakdown_results& b) {
    const thread_figures& t = b.thread;
    const duration_ns both = std::min(t.left_ns, t.right_ns);
    const duration_ns threads_rest = t.sort_ns - t.first_partition_ns - both - t.idle_ns;
    const chunked_figures& p = b.parallel;
    const contention_figures& c = b.contention;
    return {
        {"sequential sort", {{"quicksort (instrumented)", b.sequential.sort_ns}}},
        {"thread sort",
         {{"first partition", t.first_partition_ns},
          {"both threads sorting", both},
          {"slower thread alone", t.idle_ns},
          {"rest", std::max<duration_ns>(0, threads_rest)}}},
        {"parallel sort",
         {{"launching tasks", p.launch_ns},
          {"waiting for chunk sorts", p.wait_ns},
          {"splitting into runs", p.split_ns},
          {"merging", p.merge_ns},
          {"rest", std::max<duration_ns>(0, p.rest_ns)}}},
        {"parallel_for parallel sort",
         {{"the sort alone", c.chunked_alone_ns},
          {"lost to concurrent sorts", std::max<duration_ns>(0, c.chunked_in_loop_ns - c.chunked_alone_ns)}}},
    };
}
