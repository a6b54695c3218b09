#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <tuple>
#include <ostream>

#include "report/breakdown_json.hpp"
#include "report/breakdown_report.hpp"
#include "report/exports.hpp"
#include "report/json_fields.hpp"

namespace {

nlohmann::ordered_json pair_json(const std::optional<std::pair<double, double>>& pair) {
    return pair ? nlohmann::ordered_json{pair->first, pair->second} : nlohmann::ordered_json(nullptr);
}

// The breakdown's figures convert through nlohmann::json, for which their field lists are declared.
template <typename Figures>
nlohmann::ordered_json ordered(const Figures& figures) {
    return nlohmann::ordered_json(nlohmann::json(figures));
}

nlohmann::ordered_json strategy_json(const strategy_result& s) {
    nlohmann::ordered_json entry = {
        {"name", s.name},
        {"reference", s.reference},
        {"durations_ns", s.durations},
        {"mean_ns", s.summary.mean},
        {"median_ns", s.summary.median},
        {"min_ns", s.summary.min},
        {"max_ns", s.summary.max},
        {"stddev_ns", field_json(s.summary.stddev)},
        {"cv", field_json(s.summary.cv)},
        {"warnings", s.warnings},
    };
    if (!s.cpu_ns.empty()) {
        entry["cpu_ns"] = s.cpu_ns;
    }
    const auto& interval = s.summary.interval;
    entry["runs"] = s.durations.size();
    entry["median_interval_ns"] = interval ? nlohmann::ordered_json{interval->low, interval->high}
                                           : nlohmann::ordered_json(nullptr);
    entry["median_interval_coverage"] = interval ? nlohmann::ordered_json(interval->coverage)
                                                 : nlohmann::ordered_json(nullptr);
    entry["median_precision"] = interval ? nlohmann::ordered_json(interval->precision)
                                         : nlohmann::ordered_json(nullptr);
    if (s.target_reached) {
        entry["target_reached"] = *s.target_reached;
    }
    if (s.reference) {
        entry["times_faster_than_parallel_sort"] = field_json(s.times_faster_than_parallel);
    }
    if (s.processes.size() > 1) {
        auto processes = nlohmann::ordered_json::array();
        for (const auto& p : s.processes) {
            processes.push_back({{"durations_ns", p}, {"median_ns", median_of(p)}});
        }
        entry["processes"] = std::move(processes);
    }
    if (s.across_processes) {
        const process_estimate& e = *s.across_processes;
        entry["across_processes"] = {
            {"processes", e.processes},
            {"median_ns", e.median},
            {"median_interval_ns", e.interval ? nlohmann::ordered_json{e.interval->low, e.interval->high}
                                              : nlohmann::ordered_json(nullptr)},
            {"median_interval_coverage", e.interval ? nlohmann::ordered_json(e.interval->coverage)
                                                    : nlohmann::ordered_json(nullptr)},
            {"median_precision", e.interval ? nlohmann::ordered_json(e.interval->precision)
                                            : nlohmann::ordered_json(nullptr)},
        };
    }
    return entry;
}

// The variance within and between processes and the design they suggest, per strategy.
nlohmann::ordered_json design_json(const benchmark_results& results, const strategy_result& s) {
    const variance_components& v = *s.components;
    nlohmann::ordered_json entry = {
        {"within_cv", v.within_cv},
        {"between_cv", v.between_cv},
        {"between_estimate_negative", v.between_negative},
    };
    if (const auto design = design_of(s, results.process_costs_ns, sorts_in_flight(results, s))) {
        entry["process_cost_ns"] = design->process_cost_ns;
        entry["sort_cost_ns"] = design->sort_cost_ns;
        entry["suggested_sorts_per_process"] = field_json(design->sorts_per_process);
        entry["processes_for_advised_precision"] = design->processes_for_advised;
        entry["advised_precision"] = advised_precision;
    }
    return entry;
}

nlohmann::ordered_json results_json(const benchmark_results& results) {
    const run_context& c = results.context;
    nlohmann::ordered_json doc;
    doc["format_version"] = export_format_version;
    doc["context"] = {
        {"date_time", c.date_time},     {"host_name", c.host_name},   {"cpu_model", c.cpu_model},
        {"logical_cpus", c.logical_cpus}, {"compiler", c.compiler},   {"build_type", c.build_type},
        {"tbb_version", c.tbb_version}, {"array_size", c.array_size}, {"chunk_size", c.chunk_size},
        {"run_count", c.run_count},     {"values", c.values},         {"generator", c.generator},
        {"cpu_mhz", c.cpu_mhz},         {"cpu_scaling_enabled", c.cpu_scaling_enabled},
        {"caches", caches_json(c.caches)}, {"load_avg", c.load_avg},
        {"processes", c.processes},
        {"kernel", c.kernel},
        {"memory_bytes", c.memory_bytes},
    };
    if (c.precision) {
        doc["context"]["precision"] = {
            {"target", c.precision->target},
            {"min_runs", c.run_count},
            {"max_runs", c.precision->max_runs},
            {"max_time_ns", c.precision->max_time_ns ? nlohmann::ordered_json(*c.precision->max_time_ns)
                                                     : nlohmann::ordered_json(nullptr)},
        };
        if (c.precision->max_processes > 0) {
            doc["context"]["precision"]["max_processes"] = c.precision->max_processes;
        }
    }
    if (!c.cpus.empty()) {
        doc["context"]["cpus"] = c.cpus;
        doc["context"]["tbb_threads"] = c.tbb_threads;
    }

    auto strategies = nlohmann::ordered_json::array();
    for (const auto& s : results.strategies) {
        strategies.push_back(strategy_json(s));
        if (s.components) {
            strategies.back()["across_processes"]["variance"] = design_json(results, s);
        }
    }
    if (results.breakdown) {
        const breakdown_results& b = *results.breakdown;
        const contention_figures& c = b.contention;
        const std::vector<std::string> sentences = breakdown_sentences(b);
        strategies[0]["breakdown"] = ordered(b.sequential);
        strategies[1]["breakdown"] = ordered(b.thread);
        strategies[1]["breakdown"]["contention"] =
            ordered(contention_json{c.thread_in_loop_ns, c.thread_alone_ns, c.thread_factor.value_or(0)});
        strategies[2]["breakdown"] = ordered(b.parallel);
        strategies[3]["breakdown"]["contention"] =
            ordered(contention_json{c.chunked_in_loop_ns, c.chunked_alone_ns, c.chunked_factor.value_or(0)});
        for (std::size_t k = 0; k < 4; ++k) {
            strategies[k]["breakdown"]["runs"] = b.runs;
            strategies[k]["breakdown"]["summary"] = sentences[k];
        }
    }
    doc["strategies"] = std::move(strategies);

    auto speedups = nlohmann::ordered_json::array();
    for (const auto& s : results.speedups) {
        speedups.push_back({
            {"name", s.name},
            {"mean_printed", s.mean_printed},
            {"median_printed", s.median_printed},
            {"mean_ratio", field_json(s.mean_ratio)},
            {"median_ratio", field_json(s.median_ratio)},
        });
    }
    doc["speedups"] = std::move(speedups);
    if (results.environment_before) {
        doc["context"]["environment"] = {
            {"before", record_json(*results.environment_before)},
            {"after", results.environment_after ? record_json(*results.environment_after)
                                                : nlohmann::ordered_json(nullptr)},
            {"warnings", results.environment_warnings},
        };
    }
    if (!results.resources.empty()) {
        doc["resources"] = field_json(results.resources);
    }
    if (!results.process_costs_ns.empty()) {
        doc["process_costs_ns"] = results.process_costs_ns;
    }
    if (results.predicted_peak_bytes > 0) {
        doc["memory"] = {{"predicted_peak_bytes", results.predicted_peak_bytes},
                         {"measured_peak_rss_bytes", results.peak_rss_bytes}};
    }
    return doc;
}

} // namespace

void write_json(const benchmark_results& results, std::ostream& out) { out << results_json(results).dump(2) << '\n'; }

void write_sweep_json(const sweep_results& sweep, std::ostream& out) {
    nlohmann::ordered_json doc;
    doc["format_version"] = export_format_version;
    doc["sweep"] = {
        {"cpu_counts", sweep.planned_counts},
        {"complete", sweep.complete()},
        {"failure", sweep.failure.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(sweep.failure)},
        {"rounds", sweep.rounds},
        {"seed", sweep.seed},
        {"order", sweep.order},
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
                              {"sorts_per_second", field_json(p.sorts_per_second)},
                              {"speedup", field_json(p.speedup)},
                              {"speedup_interval", pair_json(p.speedup_interval)},
                              {"efficiency", field_json(p.efficiency)}});
        }
        scaling.push_back({{"name", strategy.name},
                           {"reference", strategy.reference},
                           {"measure", strategy.by_throughput ? "throughput" : "median"},
                           {"points", std::move(points)}});
    }
    doc["scaling"] = std::move(scaling);
    out << doc.dump(2) << '\n';
}

void write_comparison_json(const comparison& c, std::ostream& out) {
    nlohmann::ordered_json doc;
    doc["format_version"] = export_format_version;
    doc["base"] = c.base_name;
    doc["new"] = c.next_names;
    doc["alpha"] = c.alpha;
    doc["threshold"] = c.threshold;
    auto differences = nlohmann::ordered_json::array();
    for (const auto& d : c.differences) {
        differences.push_back({{"new_run", d.run}, {"field", d.field}, {"base", d.base}, {"new", d.next}});
    }
    doc["differences"] = std::move(differences);
    doc["not_compared"] = c.skipped;
    auto steps = nlohmann::ordered_json::array();
    for (const auto& step : c.steps) {
        auto strategies = nlohmann::ordered_json::array();
        for (const auto& s : step.strategies) {
            strategies.push_back({{"name", s.name},
                                  {"new_run", s.run},
                                  {"base_median_ns", s.base_median},
                                  {"new_median_ns", s.next_median},
                                  {"base_median_precision", field_json(s.base_precision)},
                                  {"new_median_precision", field_json(s.next_precision)},
                                  {"change", field_json(s.change)},
                                  {"shift_ns", field_json(s.shift_ns)},
                                  {"shift_interval_ns", pair_json(s.shift_interval_ns)},
                                  {"shift", field_json(s.shift)},
                                  {"shift_interval", pair_json(s.shift_interval)},
                                  {"p_value", field_json(s.p_value)},
                                  {"verdict", style_of(s.result).text},
                                  {"runs_to_decide", s.runs_to_decide ? nlohmann::ordered_json(*s.runs_to_decide)
                                                                      : nlohmann::ordered_json(nullptr)},
                                  {"weak_test", s.weak},
                                  {"rule", rule_text(s, c.drift)},
                                  {"unit", s.rule == judged_by::processes ? "process medians" : "sorts"},
                                  {"base_processes", s.base_processes},
                                  {"new_processes", s.next_processes},
                                  {"processes_to_decide", s.processes_to_decide
                                                              ? nlohmann::ordered_json(*s.processes_to_decide)
                                                              : nlohmann::ordered_json(nullptr)},
                                  {"base_durations_ns", s.base},
                                  {"new_durations_ns", s.next}});
        }
        steps.push_back({{"cpus", step.cpus}, {"strategies", std::move(strategies)}});
    }
    doc["steps"] = std::move(steps);
    doc["any_slower"] = c.any(verdict::slower);
    doc["undecided"] = c.undecided();
    out << doc.dump(2) << '\n';
}

void write_check_json(const std::vector<check_line>& lines, const environment_facts& facts, std::ostream& out) {
    nlohmann::ordered_json doc;
    doc["format_version"] = export_format_version;
    bool ok = true;
    auto list = nlohmann::ordered_json::array();
    for (const auto& line : lines) {
        ok = ok && line.ok;
        list.push_back(
            {{"status", line.ok ? "ok" : "warn"}, {"topic", line.topic}, {"found", line.text}, {"advice", line.advice}});
    }
    doc["verdict"] = ok ? "ok" : "warn";
    doc["lines"] = std::move(list);
    doc["environment"] = record_json(facts);
    out << doc.dump(2) << '\n';
}
