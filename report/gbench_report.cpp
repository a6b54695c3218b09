// Google Benchmark's JSON format, for the tools that read its files.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <ostream>
#include <tuple>

#include "report/exports.hpp"
#include "records/json_fields.hpp"

namespace {

using ordered = nlohmann::ordered_json;

ordered context_json(const run_context& c) {
    std::string build = c.build_type;
    std::transform(build.begin(), build.end(), build.begin(), [](unsigned char ch) { return std::tolower(ch); });
    return {
        {"date", c.date_time},
        {"host_name", c.host_name},
        {"executable", "quicksort_bench"},
        {"num_cpus", c.logical_cpus},
        {"mhz_per_cpu", c.cpu_mhz},
        {"cpu_scaling_enabled", c.cpu_scaling_enabled},
        {"caches", json_fields::to_json(c.caches)},
        {"load_avg", c.load_avg},
        {"library_build_type", build == "release" ? "release" : "debug"},
    };
}

// A strategy's repetitions: one per process, its median over its sorts, since the process is the
// unit of repetition; otherwise one per sort.
struct repetitions {
    duration_list real;
    duration_list cpu;
    std::vector<std::size_t> iterations;
};

repetitions repetitions_of(const strategy_result& s) {
    const bool cpu_known = s.cpu_ns.size() == s.durations.size();
    repetitions r;
    if (s.processes.size() > 1) {
        std::size_t first = 0;
        for (const auto& p : s.processes) {
            r.real.push_back(median_of(p));
            r.cpu.push_back(cpu_known ? median_of(duration_list(s.cpu_ns.begin() + static_cast<std::ptrdiff_t>(first),
                                                                s.cpu_ns.begin() + static_cast<std::ptrdiff_t>(first + p.size())))
                                      : r.real.back());
            r.iterations.push_back(p.size());
            first += p.size();
        }
    } else {
        r.real = s.durations;
        // Only sorts that ran one at a time have a CPU time of their own.
        r.cpu = cpu_known ? s.cpu_ns : s.durations;
        r.iterations.assign(r.real.size(), 1);
    }
    return r;
}

// Every repetition as an "iteration" entry, then the mean, median, stddev and cv aggregates.
void add_entries(ordered& benchmarks, const std::string& name, std::size_t family, const repetitions& r) {
    const auto entry = [&](const char* run_type) {
        return ordered{{"name", name},
                       {"family_index", family},
                       {"per_family_instance_index", 0},
                       {"run_name", name},
                       {"run_type", run_type},
                       {"repetitions", r.real.size()}};
    };
    for (std::size_t k = 0; k < r.real.size(); ++k) {
        auto run = entry("iteration");
        run["repetition_index"] = k;
        run["threads"] = 1;
        run["iterations"] = r.iterations[k];
        run["real_time"] = static_cast<double>(r.real[k]);
        run["cpu_time"] = static_cast<double>(r.cpu[k]);
        run["time_unit"] = "ns";
        benchmarks.push_back(std::move(run));
    }
    // Google Benchmark writes no spread for a single repetition.
    const duration_summary real_summary = summarize(r.real);
    const duration_summary cpu_summary = summarize(r.cpu);
    std::vector<std::tuple<const char*, double, double>> aggregates = {
        {"mean", static_cast<double>(real_summary.mean), static_cast<double>(cpu_summary.mean)},
        {"median", static_cast<double>(real_summary.median), static_cast<double>(cpu_summary.median)}};
    if (real_summary.stddev && real_summary.cv && cpu_summary.stddev && cpu_summary.cv) {
        aggregates.emplace_back("stddev", *real_summary.stddev, *cpu_summary.stddev);
        aggregates.emplace_back("cv", *real_summary.cv, *cpu_summary.cv);
    }
    for (const auto& [aggregate, value, cpu_value] : aggregates) {
        auto run = entry("aggregate");
        run["name"] = name + "_" + aggregate;
        run["threads"] = 1;
        run["aggregate_name"] = aggregate;
        run["aggregate_unit"] = std::string(aggregate) == "cv" ? "percentage" : "time";
        run["iterations"] = r.real.size();
        run["real_time"] = value;
        run["cpu_time"] = cpu_value;
        run["time_unit"] = "ns";
        benchmarks.push_back(std::move(run));
    }
}

} // namespace

void write_gbench(const sweep_results& runs, std::ostream& out) {
    ordered doc;
    doc["context"] = context_json(runs.steps.front().results.context);
    auto benchmarks = ordered::array();
    std::size_t family = 0;
    for (const auto& step : runs.steps) {
        for (const auto& s : step.results.strategies) {
            // Google Benchmark writes a benchmark's arguments after slashes, so runs of other sizes
            // (or CPU counts) never pair up by name in compare.py.
            std::string name = s.name + "/" + std::to_string(step.results.context.array_size);
            if (runs.is_sweep()) {
                name += "/cpus:" + std::to_string(step.cpu_count());
            }
            add_entries(benchmarks, name, family++, repetitions_of(s));
        }
    }
    doc["benchmarks"] = std::move(benchmarks);
    out << json_fields::json_text(doc, 2) << '\n';
}

void write_run_gbench(const benchmark_results& run, std::ostream& out) { write_gbench(as_sweep(run), out); }
