#include <nlohmann/json.hpp>

#include <ostream>

#include "report/exports.hpp"

namespace {

nlohmann::json ratio_json(const std::optional<double>& ratio) {
    return ratio ? nlohmann::json(*ratio) : nlohmann::json(nullptr);
}

nlohmann::ordered_json results_json(const benchmark_results& results) {
    const run_context& c = results.context;
    nlohmann::ordered_json doc;
    doc["context"] = {
        {"date_time", c.date_time},     {"host_name", c.host_name},   {"cpu_model", c.cpu_model},
        {"logical_cpus", c.logical_cpus}, {"compiler", c.compiler},   {"build_type", c.build_type},
        {"tbb_version", c.tbb_version}, {"array_size", c.array_size}, {"chunk_size", c.chunk_size},
        {"run_count", c.run_count},     {"generator", c.generator},
    };
    if (!c.cpus.empty()) {
        doc["context"]["cpus"] = c.cpus;
        doc["context"]["tbb_threads"] = c.tbb_threads;
    }

    auto strategies = nlohmann::ordered_json::array();
    for (const auto& s : results.strategies) {
        nlohmann::ordered_json entry = {
            {"name", s.name},
            {"reference", s.reference},
            {"durations_ns", s.durations},
            {"mean_ns", s.summary.mean},
            {"median_ns", s.summary.median},
            {"min_ns", s.summary.min},
            {"max_ns", s.summary.max},
            {"stddev_ns", s.summary.stddev},
            {"cv", s.summary.cv},
        };
        if (s.reference) {
            entry["times_faster_than_parallel_sort"] = ratio_json(s.times_faster_than_parallel);
        }
        strategies.push_back(std::move(entry));
    }
    doc["strategies"] = std::move(strategies);

    auto speedups = nlohmann::ordered_json::array();
    for (const auto& s : results.speedups) {
        speedups.push_back({
            {"name", s.name},
            {"mean_printed", s.mean_printed},
            {"median_printed", s.median_printed},
            {"mean_ratio", ratio_json(s.mean_ratio)},
            {"median_ratio", ratio_json(s.median_ratio)},
        });
    }
    doc["speedups"] = std::move(speedups);
    return doc;
}

} // namespace

void write_json(const benchmark_results& results, std::ostream& out) { out << results_json(results).dump(2) << '\n'; }

void write_sweep_json(const sweep_results& sweep, std::ostream& out) {
    nlohmann::ordered_json doc;
    doc["sweep"] = {
        {"cpu_counts", sweep.planned_counts},
        {"complete", sweep.complete()},
        {"failure", sweep.failure.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(sweep.failure)},
    };
    auto steps = nlohmann::ordered_json::array();
    for (const auto& step : sweep.steps) {
        steps.push_back(results_json(step.results));
    }
    doc["steps"] = std::move(steps);
    auto scaling = nlohmann::ordered_json::array();
    for (const auto& strategy : scaling_of(sweep)) {
        auto points = nlohmann::ordered_json::array();
        for (const auto& p : strategy.points) {
            points.push_back({{"cpus", p.cpus},
                              {"median_ns", p.median},
                              {"speedup", ratio_json(p.speedup)},
                              {"efficiency", ratio_json(p.efficiency)}});
        }
        scaling.push_back({{"name", strategy.name}, {"reference", strategy.reference}, {"points", std::move(points)}});
    }
    doc["scaling"] = std::move(scaling);
    out << doc.dump(2) << '\n';
}
