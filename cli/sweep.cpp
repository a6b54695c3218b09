#include "cli/sweep.hpp"

#include "cli/step_process.hpp"
#include "cli/step_record.hpp"
#include "cli/history_command.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <random>
#include <system_error>

#include "bench/measure.hpp"
#include "bench/progress.hpp"
#include "common/error.hpp"
#include "common/format.hpp"
#include "common/output_file.hpp"
#include "machine/cpus.hpp"
#include "report/breakdown_report.hpp"
#include "report/exports.hpp"
#include "report/json_reader.hpp"
#include "report/resources_report.hpp"
#include "report/sweep_report.hpp"

namespace {

void write_sweep_exports(const sweep_results& sweep, const export_paths& exports) {
    write_export(exports.json, sweep, write_sweep_json);
    write_export(exports.csv, sweep, write_sweep_csv);
    write_export(exports.markdown, sweep, write_sweep_markdown);
    write_export(exports.chart, sweep, write_scaling_chart);
    write_export(exports.html, sweep, write_sweep_html);
    if (!sweep.steps.empty()) {
        write_export(exports.gbench, sweep, write_gbench);
    }
}

// A finished step on the console: its line, its breakdown and resources when asked, and on stderr
// what changed on the machine and the precision targets it missed.
void print_step(const options& opts, const benchmark_results& step, std::size_t number, const std::string& name,
                std::ostream& out) {
    print_step_summary({step}, number, opts.cpu_counts.size(), out);
    if (step.breakdown) {
        print_breakdown(*step.breakdown, out);
    }
    if (opts.resources) {
        print_resources(step.resources, out);
    }
    for (const auto& warning : step.environment_warnings) {
        std::cerr << "warning: " << name << ": " << warning << std::endl;
    }
    for (const auto& s : step.strategies) {
        if (!s.target_reached.value_or(true)) {
            std::cerr << "warning: " << name << ": " << s.name << " missed its precision target of "
                      << percent_text(opts.precision->target) << " ("
                      << (s.summary.interval ? precision_text(s.summary) : std::string("no interval")) << " after "
                      << s.durations.size() << " sorts)" << std::endl;
        }
    }
}

} // namespace

std::vector<std::string> step_arguments(const options& opts) {
    std::vector<std::string> args = {"--size",  std::to_string(opts.sizes.array_size),
                                     "--runs",  std::to_string(opts.sizes.run_count),
                                     "--chunk", std::to_string(opts.sizes.chunk_size),
                                     "--no-pause"};
    if (opts.reference) {
        args.push_back("--reference");
    }
    if (opts.breakdown) {
        args.push_back("--breakdown");
    }
    if (opts.resources) {
        args.push_back("--resources"); // the step's counters open as the sweep's would
    }
    if (opts.no_counters) {
        args.push_back("--no-counters");
    }
    if (opts.precision) {
        char target[32];
        std::snprintf(target, sizeof target, "%.17g", 100 * opts.precision->target);
        args.insert(args.end(), {"--precision", target, "--max-runs", std::to_string(opts.precision->max_runs)});
        if (opts.precision->max_time_ns) {
            args.insert(args.end(), {"--max-time", std::to_string(*opts.precision->max_time_ns / 1e9) + "s"});
        }
    }
    args.push_back("--values");
    args.push_back(value_kind_name(opts.sizes.values));
    return args;
}

std::vector<std::vector<std::size_t>> round_orders(std::size_t steps, unsigned rounds, std::uint64_t seed) {
    std::vector<std::size_t> ascending(steps);
    for (std::size_t k = 0; k < steps; ++k) {
        ascending[k] = k;
    }
    if (rounds <= 1) {
        return {ascending};
    }
    // Fisher-Yates on a fixed generator, so the same seed gives the same orders everywhere.
    std::mt19937_64 generator(seed);
    std::vector<std::vector<std::size_t>> orders;
    for (unsigned r = 0; r < rounds; ++r) {
        std::vector<std::size_t> order = ascending;
        for (std::size_t k = order.size(); k > 1; --k) {
            std::swap(order[k - 1], order[generator() % k]);
        }
        orders.push_back(std::move(order));
    }
    return orders;
}

int run_sweep(const options& opts, const std::vector<unsigned>& cpu_order) {
    const std::string program = std::filesystem::read_symlink("/proc/self/exe").string();
    const scratch_folder scratch("quicksort_bench-sweep");
    const signal_catcher signals;
    // Standard output holds an export written to "-" alone.
    std::ostream& out = opts.exports.to_stdout() ? std::cerr : std::cout;
    sweep_results sweep;
    sweep.planned_counts = opts.cpu_counts;
    sweep.rounds = opts.rounds;
    sweep.seed = opts.seed;
    const std::size_t total = opts.cpu_counts.size();
    const std::uint64_t strategies = opts.reference ? 6 : 4;
    progress_line progress(::isatty(STDERR_FILENO) == 1 ? &std::cerr : nullptr);
    // With a precision goal nobody knows the count of sorts ahead: no estimate then.
    const std::uint64_t runs = opts.precision ? 0 : opts.sizes.run_count;
    progress.restart(total * opts.rounds * strategies * runs);

    // Every round runs every step once, in an order of its own, so that drift of the machine over
    // minutes spreads over all CPU counts instead of landing on the last ones.
    const std::vector<std::vector<std::size_t>> orders = round_orders(total, opts.rounds, opts.seed);
    std::vector<std::vector<benchmark_results>> measured(total);
    int exit_code = EXIT_SUCCESS;
    for (std::size_t r = 0; r < orders.size() && exit_code == EXIT_SUCCESS; ++r) {
        sweep.order.emplace_back();
        const std::string round = opts.rounds > 1 ? "round " + std::to_string(r + 1) + "/" +
                                                        std::to_string(opts.rounds) + ", "
                                                  : "";
        for (const std::size_t k : orders[r]) {
            const unsigned n = opts.cpu_counts[k];
            const std::vector<unsigned> cpus(cpu_order.begin(), cpu_order.begin() + n);
            const std::string record = (scratch.path / ("step-" + std::to_string(k + 1) + ".json")).string();
            const std::string step_name = "step " + std::to_string(k + 1) + "/" + std::to_string(total) + " (" +
                                          cpus_text(n) + ")";
            progress.phase("", 0);
            progress.set_prefix(round + step_name);
            measured_step outcome = measure_step(program, step_arguments(opts), cpus, record, runs, progress);
            if (outcome.ok) {
                measured[k].push_back(std::move(outcome.record));
            }
            progress.erase();
            if (!outcome.ok) {
                sweep.failure = (opts.rounds > 1 ? "round " + std::to_string(r + 1) + ", " : "") + step_name + ": " +
                                outcome.failure;
                print_error(std::cerr, sweep.failure);
                exit_code = outcome.interrupted_by != 0 ? 128 + outcome.interrupted_by : EXIT_FAILURE;
                break;
            }
            sweep.order.back().push_back(n);
            if (opts.rounds > 1) {
                out << "Round " << r + 1 << "/" << opts.rounds << ": ";
            }
            print_step(opts, measured[k].back(), k + 1, step_name, out);
        }
    }
    // A step's durations are pooled over its rounds; steps that never ran are left out.
    for (std::size_t k = 0; k < total; ++k) {
        if (!measured[k].empty()) {
            sweep.steps.push_back({pool_rounds(measured[k])});
        }
    }
    if (sweep.complete()) {
        print_scaling_tables(sweep, out);
    }
    write_sweep_exports(sweep, opts.exports);
    if (exit_code == EXIT_SUCCESS && sweep.complete() && opts.record) {
        std::ostringstream document;
        write_sweep_json(sweep, document);
        exit_code = record_run(opts, sweep, document.str());
    }
    return exit_code;
}

int run_sweep_step(const options& opts, int result_fd) {
    discard_stream quiet; // a step's phases print their progress lines nowhere
    const std::vector<unsigned> cpus = allowed_cpus();
    const sort_listener tell_parent = [](std::string_view strategy) {
        const std::string line = std::string(strategy) + "\n";
        [[maybe_unused]] const auto written = ::write(STDOUT_FILENO, line.data(), line.size());
    };
    measured_run run = measure(opts, console{quiet, false}, tell_parent, static_cast<unsigned>(cpus.size()));
    // What this process itself sees, so that a reader can check the step ran where it claims.
    run.results.context.cpus = cpus;
    run.results.context.tbb_threads = parallel_loop_threads();
    std::ostringstream record;
    write_json(run.results, record);
    write_to_descriptor(result_fd, record.str());
    return EXIT_SUCCESS;
}
