#include "cli/classic_run.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <mutex>
#include <sstream>

#include "bench/adaptive.hpp"
#include "bench/breakdown.hpp"
#include "bench/context.hpp"
#include "machine/counters.hpp"
#include "machine/readiness.hpp"
#include "machine/facts.hpp"
#include "bench/memory_model.hpp"
#include "bench/durations.hpp"
#include "bench/generator.hpp"
#include "bench/progress.hpp"
#include "bench/sort_pool.hpp"
#include "report/breakdown_report.hpp"
#include "report/exports.hpp"
#include "common/output_file.hpp"
#include "report/resources_report.hpp"
#include "common/format.hpp"
#include "analysis/stats.hpp"

namespace {

// Every queued array is copied twice, the second copy under queue_mutex; all of it happens before
// any worker exists, so none of it is timed.
void queue_sequential_sorts(sort_pool& pool, value_array& data, const bench_config& sizes) {
    for (std::uint64_t run = 0; run < sizes.run_count; ++run) {
        generate_values(data, sizes.array_size, sizes.values);
        const sort_task task{data, sizes.array_size};
        {
            const std::lock_guard lock(pool.queue_mutex);
            pool.tasks.push_back(task);
        }
        data.clear();
    }
}

// Where the pool's progress lines go once the phase's first batch has shown them.
class discard_stream : public std::ostream {
    struct discard_buffer : std::streambuf {
        int overflow(int c) override { return c; }
    } buffer_;

public:
    discard_stream() : std::ostream(&buffer_) {}
};

} // namespace

measured_run measure(const options& opts, const console& con, const sort_listener& on_sorted, unsigned workers) {
    const bench_config& sizes = opts.sizes;
    seed_generator(1);

    // A line per phase on the terminal; the sequential phase has its own lines on standard output
    // and gets this one only when those go elsewhere.
    progress_line progress(con.progress);
    progress_line* shown = &progress;
    const sort_listener listener = [&](std::string_view strategy) {
        if (shown != nullptr) {
            shown->sorted();
        }
        if (on_sorted) {
            on_sorted(strategy);
        }
    };
    // What each phase used of the machine, read only at its ends.
    const environment_facts environment_before = read_environment();
    const counter_set counters(!opts.no_counters);
    std::vector<phase_resources> resources;
    resource_reading phase_start;
    const auto begin_phase = [&](const char* name, std::uint64_t sorts, bool show = true) {
        shown = show ? &progress : nullptr;
        if (show) {
            progress.restart(sorts);
            progress.phase(name, sorts);
        }
        phase_start = read_resources(counters);
    };
    const auto end_phase = [&](const char* name) {
        resources.push_back(resources_between(name, phase_start, read_resources(counters), workers));
        progress.erase();
    };

    sort_pool pool;
    pool.on_sorted = listener;
    pool.on_worker_start = [&counters] { return counters.follow_this_thread(); };
    value_array data;

    // Each phase runs its sorts in one go, or with a precision goal in batches that keep the
    // phase's character until its median is precise enough. Phases never overlap.
    const duration_ns run_start = now_ns();
    const auto run_phase = [&](const duration_list& times, std::uint64_t batch,
                               const std::function<void(std::uint64_t)>& run_batch) {
        if (!opts.precision) {
            run_batch(sizes.run_count);
            return;
        }
        const precision_goal& goal = *opts.precision;
        const auto show_precision = [&] {
            const duration_summary summary = summarize(times);
            progress.set_detail((summary.interval ? "precision " + precision_text(summary).substr(2)
                                                  : std::string("no interval yet")) +
                                " (target " + fixed_or_na(100 * goal.target, 1) + "%)");
        };
        measure_until_precise(times, sizes.run_count, batch, goal, run_start, now_ns, run_batch, show_precision);
    };
    const auto batch_of = [&](std::uint64_t n) {
        bench_config batch = sizes;
        batch.run_count = n;
        return batch;
    };
    const std::uint64_t one_per_cpu = std::max(1u, workers);

    begin_phase(sequential_sort_name, opts.precision ? 0 : sizes.run_count, !con.is_terminal);
    bool first_batch = true;
    discard_stream quiet;
    run_phase(sequential_times, one_per_cpu, [&](std::uint64_t n) {
        queue_sequential_sorts(pool, data, batch_of(n));
        // The phase's own lines count its first batch; later batches show on the progress line.
        run_sequential_sorts(pool, n, first_batch ? con : console{quiet, false}, workers);
        first_batch = false;
    });
    end_phase(sequential_sort_name);

    begin_phase(thread_sort_name, opts.precision ? 0 : sizes.run_count);
    run_phase(thread_times, one_per_cpu, [&](std::uint64_t n) {
        run_thread_sorts(thread_times, thread_times_mutex, batch_of(n), listener);
    });
    end_phase(thread_sort_name);
    con.out << "Quicksort just creating threads: Complete" << std::endl;

    begin_phase(parallel_sort_name, opts.precision ? 0 : sizes.run_count);
    duration_list parallel_cpu;
    run_phase(parallel_times, 1,
              [&](std::uint64_t n) { run_parallel_sorts(data, parallel_times, batch_of(n), listener, &parallel_cpu); });
    end_phase(parallel_sort_name);
    con.out << "Parallel Quicksort: Complete" << std::endl;

    begin_phase(parallel_for_sort_name, opts.precision ? 0 : sizes.run_count);
    run_phase(parallel_for_times, one_per_cpu, [&](std::uint64_t n) {
        run_parallel_for_sorts(parallel_for_times, parallel_for_times_mutex, batch_of(n), listener);
    });
    end_phase(parallel_for_sort_name);

    duration_list std_sort_times;
    duration_list std_par_sort_times;
    duration_list reference_cpu[2];
    if (opts.reference) {
        for (const bool parallel : {false, true}) {
            duration_list& times = parallel ? std_par_sort_times : std_sort_times;
            const char* name = parallel ? std_par_sort_name : std_sort_name;
            begin_phase(name, opts.precision ? 0 : sizes.run_count);
            run_phase(times, 1, [&](std::uint64_t n) {
                run_reference_sort(data, times, parallel, batch_of(n), listener, &reference_cpu[parallel]);
            });
            end_phase(name);
        }
    }

    // The records keep the completion order; the statistics below sort the lists in place.
    measured_run run;
    run_context context = describe_run(sizes);
    if (opts.precision) {
        context.precision = precision_setting{opts.precision->target, opts.precision->max_runs,
                                              opts.precision->max_time_ns};
    }
    run.results = make_results(
        std::move(context), make_strategy(sequential_sort_name, sequential_times),
        make_strategy(thread_sort_name, thread_times), make_strategy(parallel_sort_name, parallel_times),
        make_strategy(parallel_for_sort_name, parallel_for_times),
        opts.reference ? std::vector{make_strategy(std_sort_name, std_sort_times),
                                     make_strategy(std_par_sort_name, std_par_sort_times)}
                       : std::vector<strategy_result>{});
    run.results.strategies[2].cpu_ns = std::move(parallel_cpu);
    if (opts.reference) {
        run.results.strategies[4].cpu_ns = std::move(reference_cpu[0]);
        run.results.strategies[5].cpu_ns = std::move(reference_cpu[1]);
    }

    if (opts.breakdown) {
        // The step of a sweep reports only timed sorts to its parent.
        begin_phase("breakdown", 4 * sizes.run_count);
        // The breakdown keeps --runs: it explains the time, it does not measure it.
        run.results.breakdown = measure_breakdown(sizes, run.results, [&](std::string_view) { progress.sorted(); });
        end_phase("breakdown");
    }

    run.results.resources = std::move(resources);
    run.results.environment_before = environment_before;
    run.results.environment_after = read_environment();
    run.results.environment_warnings = environment_changes(environment_before, *run.results.environment_after);
    run.results.predicted_peak_bytes = predict_peak(opts, workers).peak_bytes;
    run.results.peak_rss_bytes = peak_rss_bytes();

    run.stats.sequential = compute_stats(sequential_times);
    run.stats.parallel = compute_stats(parallel_times);
    run.stats.thread = compute_stats(thread_times);
    run.stats.parallel_for = compute_stats(parallel_for_times);
    return run;
}

int run_classic(const options& opts) {
    const console con = standard_console(opts.exports.to_stdout());
    const measured_run run = measure(opts, con);

    con.clear();
    std::vector<strategy_result> references;
    std::copy_if(run.results.strategies.begin(), run.results.strategies.end(), std::back_inserter(references),
                 [](const strategy_result& s) { return s.reference; });
    print_report(run.stats, opts.sizes.run_count, con.out, references,
                 opts.precision ? runs_line(run.results) : "");
    print_precision(run.results, con.out);
    if (run.results.breakdown) {
        print_breakdown(*run.results.breakdown, con.out);
    }
    if (opts.resources) {
        print_resources(run.results.resources, con.out);
    }
    // Advice on how far each median can be trusted, beside the report rather than in it.
    for (const auto& s : run.results.strategies) {
        for (const auto& warning : s.warnings) {
            std::cerr << "advice: " << s.name << ": " << warning << std::endl;
        }
    }
    for (const auto& warning : run.results.environment_warnings) {
        std::cerr << "warning: " << warning << std::endl;
    }

    write_export(opts.exports.json, run.results, write_json);
    write_export(opts.exports.csv, run.results, write_csv);
    write_export(opts.exports.markdown, run.results, write_markdown);
    write_export(opts.exports.chart, run.results, write_svg_chart);
    write_export(opts.exports.html, run.results, write_html);
    write_export(opts.exports.gbench, run.results, [](const benchmark_results& results, std::ostream& out) {
        sweep_results single;
        single.planned_counts = {0};
        single.steps = {{results}};
        write_gbench(single, out);
    });
    if (!opts.no_pause && !opts.exports.to_stdout()) {
        wait_for_key(con.out, STDIN_FILENO);
    }
    return EXIT_SUCCESS;
}
