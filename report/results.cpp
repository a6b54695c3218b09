#include "report/results.hpp"

#include <cstdio>
#include <utility>

#include "report/console_report.hpp"

std::optional<double> exact_ratio(std::int64_t numerator, std::int64_t divisor) {
    if (divisor == 0) {
        return std::nullopt;
    }
    return static_cast<double>(numerator) / static_cast<double>(divisor);
}

std::string format_ratio(const std::optional<double>& ratio) {
    if (!ratio) {
        return "n/a";
    }
    char text[64];
    std::snprintf(text, sizeof text, "%.2f", *ratio);
    return text;
}

strategy_result make_strategy(std::string name, duration_list durations) {
    strategy_result result;
    result.name = std::move(name);
    result.summary = summarize(durations);
    result.durations = std::move(durations);
    return result;
}

namespace {

speedup_result speedup(std::string name, const duration_summary& slower, const duration_summary& parallel) {
    return {std::move(name),
            format_speedup(slower.mean, parallel.mean),
            format_speedup(slower.median, parallel.median),
            exact_ratio(slower.mean, parallel.mean),
            exact_ratio(slower.median, parallel.median)};
}

} // namespace

benchmark_results make_results(run_context context, strategy_result sequential, strategy_result thread,
                               strategy_result parallel, strategy_result parallel_for,
                               std::vector<strategy_result> references) {
    benchmark_results results;
    results.context = std::move(context);
    results.speedups = {
        speedup("parallel to sequential", sequential.summary, parallel.summary),
        speedup("parallel to just threads", thread.summary, parallel.summary),
        speedup("parallel quicksort using a normal for loop to using a parallel_for", parallel_for.summary,
                parallel.summary),
    };
    for (auto& reference : references) {
        reference.reference = true;
        reference.times_faster_than_parallel = exact_ratio(parallel.summary.median, reference.summary.median);
    }
    results.strategies.push_back(std::move(sequential));
    results.strategies.push_back(std::move(thread));
    results.strategies.push_back(std::move(parallel));
    results.strategies.push_back(std::move(parallel_for));
    for (auto& reference : references) {
        results.strategies.push_back(std::move(reference));
    }
    return results;
}
