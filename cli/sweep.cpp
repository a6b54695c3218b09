// The CPU-count sweep: its rounds of steps, each a process of its own, then the scaling tables.
#include "cli/sweep.hpp"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <random>

#include "bench/progress.hpp"
#include "cli/child_process.hpp"
#include "cli/recording.hpp"
#include "common/error.hpp"
#include "common/format.hpp"
#include "machine/cpus.hpp"
#include "records/pooling.hpp"
#include "report/advice_report.hpp"
#include "report/breakdown_report.hpp"
#include "report/exports.hpp"
#include "report/resources_report.hpp"
#include "report/sweep_report.hpp"

namespace {

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
    print_step_warnings(step, name, std::cerr);
}

} // namespace

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
    campaign run("sweep");
    // Standard output holds an export written to "-" alone.
    std::ostream& out = opts.exports.to_stdout() ? std::cerr : std::cout;
    sweep_results sweep;
    sweep.planned_counts = opts.cpu_counts;
    sweep.cpu_sweep = true;
    sweep.rounds = opts.rounds;
    sweep.seed = opts.seed;
    const std::size_t total = opts.cpu_counts.size();
    const std::uint64_t strategies = strategies_measured(opts.reference);
    // With a precision goal nobody knows the count of sorts ahead: no estimate then.
    const std::uint64_t runs = opts.precision ? 0 : opts.sizes.run_count;
    run.progress().restart(total * opts.rounds * strategies * runs);

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
            const std::string step_name = "step " + std::to_string(k + 1) + "/" + std::to_string(total) + " (" +
                                          cpus_text(n) + ")";
            measured_step outcome = run.measure(round + step_name, program, child_arguments(opts), cpus,
                                                "step-" + std::to_string(k + 1) + ".json", runs);
            if (!outcome.ok) {
                sweep.failure = (opts.rounds > 1 ? "round " + std::to_string(r + 1) + ", " : "") + step_name + ": " +
                                outcome.failure;
                exit_code = campaign::failed(sweep.failure, outcome);
                break;
            }
            measured[k].push_back(std::move(outcome.record));
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
    write_exports(opts.exports, sweep);
    if (exit_code == EXIT_SUCCESS && sweep.complete()) {
        exit_code = record_run(opts, sweep);
    }
    return exit_code;
}
