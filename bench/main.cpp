#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <iterator>
#include <mutex>
#include <new>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "bench/console.hpp"
#include "bench/context.hpp"
#include "bench/durations.hpp"
#include "bench/generator.hpp"
#include "bench/options.hpp"
#include "bench/phases.hpp"
#include "bench/sort_pool.hpp"
#include "report/console_report.hpp"
#include "report/exports.hpp"
#include "report/output_file.hpp"
#include "report/results.hpp"
#include "report/stats.hpp"

namespace {

// Every queued array is copied twice, the second copy under queue_mutex; all of it happens before
// any worker exists, so none of it is timed.
void queue_sequential_sorts(sort_pool& pool, value_array& data, const bench_config& sizes) {
    for (std::uint64_t run = 0; run < sizes.run_count; ++run) {
        generate_values(data, sizes.array_size);
        const sort_task task{data, sizes.array_size};
        {
            const std::lock_guard lock(pool.queue_mutex);
            pool.tasks.push_back(task);
        }
        data.clear();
    }
}

void write_export(const std::string& path, const benchmark_results& results,
                  void (*reporter)(const benchmark_results&, std::ostream&)) {
    if (path.empty()) {
        return;
    }
    std::ostringstream text;
    reporter(results, text);
    write_file_atomically(path, text.str());
}

void write_exports(const benchmark_results& results, const export_paths& exports) {
    write_export(exports.json, results, write_json);
    write_export(exports.csv, results, write_csv);
    write_export(exports.markdown, results, write_markdown);
    write_export(exports.chart, results, write_svg_chart);
}

int run_benchmark(const options& opts) {
    const bench_config& sizes = opts.sizes;
    const console con = standard_console();
    seed_generator(1);

    sort_pool pool;
    value_array data;
    queue_sequential_sorts(pool, data, sizes);

    run_sequential_sorts(pool, sizes.run_count, con);

    run_thread_sorts(thread_times, thread_times_mutex, sizes);
    con.out << "Quicksort just creating threads: Complete" << std::endl;

    run_parallel_sorts(data, parallel_times, sizes);
    con.out << "Parallel Quicksort: Complete" << std::endl;

    run_parallel_for_sorts(parallel_for_times, parallel_for_times_mutex, sizes);

    duration_list std_sort_times;
    duration_list std_par_sort_times;
    if (opts.reference) {
        run_reference_sorts(data, std_sort_times, std_par_sort_times, sizes);
    }

    // The records keep the completion order; the statistics below sort the lists in place.
    const benchmark_results results = make_results(
        describe_run(sizes), make_strategy(sequential_sort_name, sequential_times),
        make_strategy(thread_sort_name, thread_times), make_strategy(parallel_sort_name, parallel_times),
        make_strategy(parallel_for_sort_name, parallel_for_times),
        opts.reference ? std::vector{make_strategy(std_sort_name, std_sort_times),
                                     make_strategy(std_par_sort_name, std_par_sort_times)}
                       : std::vector<strategy_result>{});

    report_stats stats;
    stats.sequential = compute_stats(sequential_times);
    stats.parallel = compute_stats(parallel_times);
    stats.thread = compute_stats(thread_times);
    stats.parallel_for = compute_stats(parallel_for_times);

    con.clear();
    std::vector<strategy_result> references;
    std::copy_if(results.strategies.begin(), results.strategies.end(), std::back_inserter(references),
                 [](const strategy_result& s) { return s.reference; });
    print_report(stats, sizes.run_count, con.out, references);
    write_exports(results, opts.exports);
    if (!opts.no_pause) {
        wait_for_key(con.out, STDIN_FILENO);
    }

    return EXIT_SUCCESS;
}

// The message for whatever ended the run.
std::string describe_failure() {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return "out of memory";
    } catch (const std::ios_base::failure&) {
        return "cannot write to standard output (closed, full or a broken pipe)";
    } catch (const std::system_error& e) {
        return std::string("cannot start a thread or task: ") + e.what();
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unexpected failure";
    }
}

} // namespace

int main(int argc, char** argv) {
    // A closed or broken standard output must end the run with an error, not pass silently (the
    // stream would just stop writing) or kill the process without a word (SIGPIPE).
    std::signal(SIGPIPE, SIG_IGN);
    std::cout.exceptions(std::ios::badbit | std::ios::failbit);
    try {
        const parse_outcome parsed = parse_options(argc, argv, std::cout, std::cerr);
        if (parsed.exit_code) {
            return *parsed.exit_code;
        }
        return run_benchmark(parsed.opts);
    } catch (...) {
        const std::string message = describe_failure();
        // std::cerr flushes std::cout first, and so does the exit: a failed output must not throw again.
        std::cout.exceptions(std::ios::goodbit);
        std::cerr << "quicksort_bench: error: " << message << std::endl;
    }
    return EXIT_FAILURE;
}
