// The field lists of a result record and of a sweep: what --export-json writes, in its order, and
// what the reader takes back. The figures a reader recomputes (summaries, speedups, scaling) are
// written where they stand and never read.
#pragma once

#include <climits>
#include <type_traits>

#include "records/json_fields.hpp"
#include "records/results.hpp"

// The version every JSON export names as "format_version"; files written before the field existed
// are version 1. Raise it when a reader of an older version would misread a file.
inline constexpr int export_format_version = 6;

namespace json_fields {

// The derived parts the writer computes (record_json.cpp).
ordered interval_json(const std::optional<median_interval>& interval);
ordered across_processes_json(const process_estimate& e);
ordered speedups_json(const std::vector<speedup_result>& speedups);
ordered steps_json(const std::vector<sweep_step>& steps);
ordered scaling_json(const sweep_results& sweep);

const char* not_a_value_kind(const json& j);
const char* not_a_precision(const json& j);
const char* not_a_load_average(const json& j);

inline constexpr std::int64_t max_index = 2'147'483'647;
inline constexpr std::int64_t max_cpus = 1 << 20;

} // namespace json_fields

template <typename Goal, typename Visit>
    requires std::is_same_v<std::remove_const_t<Goal>, precision_goal>
void each_precision_field(Goal& g, Visit& visit, std::uint64_t min_runs) {
    using namespace json_fields;
    visit("target", g.target, rule{.check = not_a_precision});
    visit.derived("min_runs", [&] { return min_runs; });
    visit("max_runs", g.max_runs, whole(1, 1'000'000'000));
    visit("max_time_ns", g.max_time_ns, whole(1, json_values::max_duration_ns));
    visit("max_processes", g.max_processes, rule{.min = 1, .max = 1'000'000, .optional = true, .omit = g.max_processes == 0});
    visit("min_processes", g.min_processes, rule{.min = 1, .max = 1'000'000, .optional = true, .omit = g.min_processes == 0});
}

template <typename Context, typename Visit>
    requires std::is_same_v<std::remove_const_t<Context>, run_context>
void each_field(Context& c, Visit& visit) {
    using namespace json_fields;
    visit("date_time", c.date_time);
    visit("host_name", c.host_name);
    visit("cpu_model", c.cpu_model);
    visit("logical_cpus", c.logical_cpus, whole(0, max_cpus));
    visit("compiler", c.compiler);
    visit("build_type", c.build_type);
    visit("tbb_version", c.tbb_version);
    visit("array_size", c.array_size, whole(1, max_index));
    visit("chunk_size", c.chunk_size, whole(1, max_index));
    // A run of processes, and a sweep's step of rounds, count every process's sorts.
    visit("run_count", c.run_count, whole(1, 1'000'000'000));
    // Exports from before the value kinds existed hold classic values.
    visit("values", c.values, rule{.optional = true, .check = not_a_value_kind});
    visit("generator", c.generator);
    visit("cpu_mhz", c.cpu_mhz, optional_whole(0, 1 << 30));
    visit("cpu_scaling_enabled", c.cpu_scaling_enabled, rule{.optional = true});
    visit("caches", c.caches, rule{.optional = true});
    visit("load_avg", c.load_avg, rule{.optional = true, .check = not_a_load_average});
    visit("processes", c.processes, optional_whole(1, 1'000'000));
    visit("kernel", c.kernel, rule{.optional = true});
    visit("memory_bytes", c.memory_bytes, optional_whole(0, INT64_MAX));
    // Records of version 4 and before name no build: "unknown".
    visit("program_version", c.program_version, rule{.optional = true});
    visit("source_revision", c.source_revision, rule{.optional = true});
    visit.group("precision", c.precision, [&c](auto& goal, auto& v) { each_precision_field(goal, v, c.run_count); });
    visit("cpus", c.cpus, rule{.min = 0, .max = max_cpus, .optional = true, .omit = c.cpus.empty()});
    visit("tbb_threads", c.tbb_threads, rule{.min = 0, .max = max_cpus, .optional = true, .omit = c.cpus.empty()});
}

template <typename Strategy, typename Visit>
    requires std::is_same_v<std::remove_const_t<Strategy>, strategy_result>
void each_field(Strategy& s, Visit& visit) {
    using namespace json_fields;
    const duration_summary& summary = s.summary;
    visit("name", s.name);
    visit("reference", s.reference);
    visit("durations_ns", s.durations, whole(0, json_values::max_duration_ns));
    visit.derived("mean_ns", [&] { return summary.mean; });
    visit.derived("median_ns", [&] { return summary.median; });
    visit.derived("min_ns", [&] { return summary.min; });
    visit.derived("max_ns", [&] { return summary.max; });
    visit.derived("stddev_ns", [&] { return summary.stddev; });
    visit.derived("cv", [&] { return summary.cv; });
    visit.derived("warnings", [&] { return s.warnings; });
    visit("cpu_ns", s.cpu_ns,
          rule{.min = 0, .max = json_values::max_duration_ns, .optional = true, .omit = s.cpu_ns.empty()});
    visit("array_ids", s.array_ids, rule{.optional = true, .omit = s.array_ids.empty()});
    visit.derived("runs", [&] { return s.durations.size(); });
    visit.derived("median_interval_ns", [&] { return interval_json(summary.interval); });
    visit.derived("median_interval_coverage", [&] {
        return summary.interval ? std::optional(summary.interval->coverage) : std::nullopt;
    });
    visit.derived("median_precision", [&] {
        return summary.interval ? std::optional(summary.interval->precision) : std::nullopt;
    });
    visit.derived_if("target_reached", s.target_reached.has_value(), [&] { return *s.target_reached; });
    visit.derived_if("times_faster_than_parallel_sort", s.reference, [&] { return s.times_faster_than_parallel; });
    visit("processes", s.processes,
          rule{.min = 0, .max = json_values::max_duration_ns, .optional = true, .omit = s.processes.size() < 2});
    visit.derived_if("across_processes", s.across_processes.has_value(),
                     [&] { return across_processes_json(*s.across_processes); });
}

// A result record: its strategies are read raw and made whole by the reader, which also checks
// what one field cannot say alone (counts, names, processes).
template <typename Results, typename Visit>
    requires std::is_same_v<std::remove_const_t<Results>, benchmark_results>
void each_field(Results& r, Visit& visit) {
    using namespace json_fields;
    visit.derived("format_version", [] { return export_format_version; });
    visit.derived("kind", [&] { return r.context.processes > 1 ? "processes" : "run"; });
    visit.group("context", r.context, [&r](auto& context, auto& v) {
        each_field(context, v);
        v.section("environment", r.environment_before.has_value(), [&r](auto& e) {
            e("before", r.environment_before);
            e("after", r.environment_after);
            e("warnings", r.environment_warnings);
        });
    });
    visit("strategies", r.strategies);
    visit.derived("speedups", [&] { return speedups_json(r.speedups); });
    visit("resources", r.resources, rule{.optional = true, .omit = r.resources.empty()});
    visit("process_costs_ns", r.process_costs_ns,
          rule{.min = 0, .max = json_values::max_duration_ns, .optional = true, .omit = r.process_costs_ns.empty()});
    const bool planned = r.processes_planned > 0;
    visit.derived_if("complete", planned, [&] { return r.complete(); });
    visit("processes_planned", r.processes_planned, rule{.min = 1, .max = 1'000'000, .optional = true, .omit = !planned});
    visit("failure", r.failure, rule{.optional = true, .omit = !planned, .empty_is_null = true});
    visit.section("memory_floor", r.floor.measured(), [&r](auto& m) {
        m.derived("ns", [&] { return r.floor.ns(); });
        m.derived("bytes_per_second", [&] { return r.floor.bytes_per_second(); });
        m.derived("one_cpu_ns", [&] { return r.floor.one_cpu_ns(); });
        m.derived("one_cpu_bytes_per_second", [&] { return r.floor.one_cpu_bytes_per_second(); });
        m("bytes_per_pass", r.floor.bytes_per_pass, whole(1, INT64_MAX));
        m("passes_ns", r.floor.passes_ns, rule{.min = 0, .max = json_values::max_duration_ns});
        m("one_cpu_passes_ns", r.floor.one_cpu_passes_ns, rule{.min = 0, .max = json_values::max_duration_ns});
    });
    visit.section("memory", r.predicted_peak_bytes > 0, [&r](auto& m) {
        m("predicted_peak_bytes", r.predicted_peak_bytes, whole(0, INT64_MAX));
        m("measured_peak_rss_bytes", r.peak_rss_bytes, whole(0, INT64_MAX));
    });
}

// A sweep: its steps are result records of their own, read one by one.
template <typename Sweep, typename Visit>
    requires std::is_same_v<std::remove_const_t<Sweep>, sweep_results>
void each_field(Sweep& s, Visit& visit) {
    using namespace json_fields;
    visit.derived("format_version", [] { return export_format_version; });
    visit.derived("kind", [] { return "sweep"; });
    visit.section("sweep", true, [&s](auto& v) {
        v("cpu_counts", s.planned_counts, whole(1, max_cpus));
        v.derived("complete", [&] { return s.complete(); });
        v("failure", s.failure, rule{.empty_is_null = true});
        v("rounds", s.rounds, optional_whole(1, 1000));
        v("seed", s.seed, optional_whole(0, INT64_MAX));
        v("order", s.order, rule{.min = 1, .max = max_cpus, .optional = true});
    });
    visit.derived("steps", [&] { return steps_json(s.steps); });
    visit.derived("scaling", [&] { return scaling_json(s); });
}
