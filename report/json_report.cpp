#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <tuple>
#include <ostream>

#include "report/breakdown_json.hpp"
#include "report/breakdown_report.hpp"
#include "report/exports.hpp"

namespace {

nlohmann::ordered_json ratio_json(const std::optional<double>& ratio) {
    return ratio ? nlohmann::ordered_json(*ratio) : nlohmann::ordered_json(nullptr);
}

nlohmann::ordered_json pair_json(const std::optional<std::pair<double, double>>& pair) {
    return pair ? nlohmann::ordered_json{pair->first, pair->second} : nlohmann::ordered_json(nullptr);
}

// The breakdown's figures convert through nlohmann::json, for which their field lists are declared.
template <typename Figures>
nlohmann::ordered_json ordered(const Figures& figures) {
    return nlohmann::ordered_json(nlohmann::json(figures));
}

nlohmann::ordered_json caches_json(const std::vector<cache_level>& caches) {
    auto list = nlohmann::ordered_json::array();
    for (const auto& cache : caches) {
        list.push_back({{"type", cache.type},
                        {"level", cache.level},
                        {"size", cache.size},
                        {"num_sharing", cache.num_sharing}});
    }
    return list;
}

template <typename T>
nlohmann::ordered_json maybe(const std::optional<T>& value) {
    return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
}

nlohmann::ordered_json environment_json(const environment_facts& f) {
    auto counters = nlohmann::ordered_json::array();
    for (const auto& c : f.counters) {
        counters.push_back({{"name", c.name}, {"hardware", c.hardware}, {"available", c.available}, {"reason", c.reason}});
    }
    auto busiest = nlohmann::ordered_json::array();
    for (const auto& [name, percent] : f.busiest) {
        busiest.push_back({{"name", name}, {"cpu_percent", percent}});
    }
    return {
        {"governor", maybe(f.governor)},
        {"scaling_min_khz", maybe(f.scaling_min_khz)},
        {"scaling_max_khz", maybe(f.scaling_max_khz)},
        {"boost", maybe(f.boost)},
        {"packages", f.packages},
        {"numa_nodes", f.numa_nodes},
        {"cores", f.cores},
        {"hardware_threads", f.hardware_threads},
        {"load_avg", f.load_avg},
        {"runnable", maybe(f.runnable)},
        {"busiest", busiest},
        {"mem_available_bytes", maybe(f.mem_available_bytes)},
        {"swap_total_bytes", maybe(f.swap_total_bytes)},
        {"swap_free_bytes", maybe(f.swap_free_bytes)},
        {"transparent_hugepages", maybe(f.transparent_hugepages)},
        {"aslr", maybe(f.aslr)},
        {"perf_event_paranoid", maybe(f.perf_event_paranoid)},
        {"counters", counters},
        {"throttle_count", maybe(f.throttle_count)},
        {"virtual_machine", f.virtual_machine},
    };
}

nlohmann::ordered_json resources_json(const std::vector<phase_resources>& resources) {
    auto list = nlohmann::ordered_json::array();
    for (const auto& p : resources) {
        auto counters = nlohmann::ordered_json::object();
        for (const auto& c : p.counters) {
            counters[c.name] = c.value ? nlohmann::ordered_json(*c.value) : nlohmann::ordered_json(c.reason);
        }
        list.push_back({{"phase", p.phase},
                        {"wall_ns", p.wall_ns},
                        {"user_ns", p.user_ns},
                        {"system_ns", p.system_ns},
                        {"parallelism", p.parallelism},
                        {"cpus", p.cpus},
                        {"voluntary_switches", p.voluntary_switches},
                        {"involuntary_switches", p.involuntary_switches},
                        {"minor_faults", p.minor_faults},
                        {"major_faults", p.major_faults},
                        {"counters", counters}});
    }
    return list;
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
    };
    if (c.precision) {
        doc["context"]["precision"] = {
            {"target", c.precision->target},
            {"min_runs", c.run_count},
            {"max_runs", c.precision->max_runs},
            {"max_time_ns", c.precision->max_time_ns ? nlohmann::ordered_json(*c.precision->max_time_ns)
                                                     : nlohmann::ordered_json(nullptr)},
        };
    }
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
            {"stddev_ns", ratio_json(s.summary.stddev)},
            {"cv", ratio_json(s.summary.cv)},
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
            entry["times_faster_than_parallel_sort"] = ratio_json(s.times_faster_than_parallel);
        }
        strategies.push_back(std::move(entry));
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
            {"mean_ratio", ratio_json(s.mean_ratio)},
            {"median_ratio", ratio_json(s.median_ratio)},
        });
    }
    doc["speedups"] = std::move(speedups);
    if (results.environment_before) {
        doc["context"]["environment"] = {
            {"before", environment_json(*results.environment_before)},
            {"after", results.environment_after ? environment_json(*results.environment_after)
                                                : nlohmann::ordered_json(nullptr)},
            {"warnings", results.environment_warnings},
        };
    }
    if (!results.resources.empty()) {
        doc["resources"] = resources_json(results.resources);
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
                              {"speedup", ratio_json(p.speedup)},
                              {"speedup_interval", pair_json(p.speedup_interval)},
                              {"efficiency", ratio_json(p.efficiency)}});
        }
        scaling.push_back({{"name", strategy.name}, {"reference", strategy.reference}, {"points", std::move(points)}});
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
                                  {"base_median_precision", ratio_json(s.base_precision)},
                                  {"new_median_precision", ratio_json(s.next_precision)},
                                  {"change", ratio_json(s.change)},
                                  {"shift_ns", ratio_json(s.shift_ns)},
                                  {"shift_interval_ns", pair_json(s.shift_interval_ns)},
                                  {"shift", ratio_json(s.shift)},
                                  {"shift_interval", pair_json(s.shift_interval)},
                                  {"p_value", ratio_json(s.p_value)},
                                  {"verdict", verdict_text(s.result)},
                                  {"runs_to_decide", s.runs_to_decide ? nlohmann::ordered_json(*s.runs_to_decide)
                                                                      : nlohmann::ordered_json(nullptr)},
                                  {"weak_test", s.weak},
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

void write_gbench(const sweep_results& runs, std::ostream& out) {
    nlohmann::ordered_json doc;
    const run_context& c = runs.steps.front().results.context;
    std::string build = c.build_type;
    std::transform(build.begin(), build.end(), build.begin(), [](unsigned char ch) { return std::tolower(ch); });
    doc["context"] = {
        {"date", c.date_time},
        {"host_name", c.host_name},
        {"executable", "quicksort_bench"},
        {"num_cpus", c.logical_cpus},
        {"mhz_per_cpu", c.cpu_mhz},
        {"cpu_scaling_enabled", c.cpu_scaling_enabled},
        {"caches", caches_json(c.caches)},
        {"load_avg", c.load_avg},
        {"library_build_type", build == "release" ? "release" : "debug"},
    };
    auto benchmarks = nlohmann::ordered_json::array();
    std::size_t family = 0;
    for (const auto& step : runs.steps) {
        for (const auto& s : step.results.strategies) {
            // Google Benchmark writes a benchmark's arguments after slashes, so runs of other sizes
            // (or CPU counts) never pair up by name in compare.py.
            std::string name = s.name + "/" + std::to_string(step.results.context.array_size);
            if (!step.results.context.cpus.empty()) {
                name += "/cpus:" + std::to_string(step.cpu_count());
            }
            const auto entry = [&](const char* run_type) {
                return nlohmann::ordered_json{{"name", name},
                                              {"family_index", family},
                                              {"per_family_instance_index", 0},
                                              {"run_name", name},
                                              {"run_type", run_type},
                                              {"repetitions", s.durations.size()}};
            };
            const bool cpu_known = s.cpu_ns.size() == s.durations.size();
            for (std::size_t k = 0; k < s.durations.size(); ++k) {
                auto run = entry("iteration");
                run["repetition_index"] = k;
                run["threads"] = 1;
                run["iterations"] = 1;
                run["real_time"] = static_cast<double>(s.durations[k]);
                // Only sorts that ran one at a time have a CPU time of their own.
                run["cpu_time"] = static_cast<double>(cpu_known ? s.cpu_ns[k] : s.durations[k]);
                run["time_unit"] = "ns";
                benchmarks.push_back(std::move(run));
            }
            // Google Benchmark writes no spread for a single repetition.
            const duration_summary cpu = cpu_known ? summarize(s.cpu_ns) : s.summary;
            std::vector<std::tuple<const char*, double, double>> aggregates = {
                {"mean", static_cast<double>(s.summary.mean), static_cast<double>(cpu.mean)},
                {"median", static_cast<double>(s.summary.median), static_cast<double>(cpu.median)}};
            if (s.summary.stddev && s.summary.cv && cpu.stddev && cpu.cv) {
                aggregates.emplace_back("stddev", *s.summary.stddev, *cpu.stddev);
                aggregates.emplace_back("cv", *s.summary.cv, *cpu.cv);
            }
            for (const auto& [aggregate, value, cpu_value] : aggregates) {
                auto run = entry("aggregate");
                run["name"] = name + "_" + aggregate;
                run["threads"] = 1;
                run["aggregate_name"] = aggregate;
                run["aggregate_unit"] = std::string(aggregate) == "cv" ? "percentage" : "time";
                run["iterations"] = s.durations.size();
                run["real_time"] = value;
                run["cpu_time"] = cpu_value;
                run["time_unit"] = "ns";
                benchmarks.push_back(std::move(run));
            }
            ++family;
        }
    }
    doc["benchmarks"] = std::move(benchmarks);
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
    doc["environment"] = environment_json(facts);
    out << doc.dump(2) << '\n';
}
