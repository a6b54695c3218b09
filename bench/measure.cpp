// Every timed phase once, in order, into one record; and a worker's units, one batch at a time.
#include "bench/measure.hpp"
#include "bench/memory_floor.hpp"

#include <oneapi/tbb/task_arena.h>

#include <algorithm>
#include <array>
#include <mutex>
#include <ostream>
#include <stdexcept>
#include <string>

#include "analysis/stats.hpp"
#include "bench/adaptive.hpp"
#include "bench/breakdown.hpp"
#include "bench/context.hpp"
#include "bench/durations.hpp"
#include "bench/generator.hpp"
#include "bench/memory_model.hpp"
#include "bench/progress.hpp"
#include "bench/sort_pool.hpp"
#include "bench/worker_counters.hpp"
#include "common/format.hpp"
#include "machine/counters.hpp"
#include "machine/facts.hpp"
#include "machine/readiness.hpp"
#include "records/strategy.hpp"

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

// One timed phase: its strategy, the list its durations go to, how many sorts a later batch of a
// precision goal asks for (one per CPU where sorts run side by side), the line printed when it
// ends, and how it runs a batch of n sorts.
struct phase_plan {
    strategy id;
    duration_list& times;
    duration_list* cpu_times; // where sorts run one at a time: the process's CPU time around each
    array_ids* ids;           // which array each sort sorted
    std::uint64_t batch;
    const char* done_line;
    std::function<void(std::uint64_t)> run_batch;
    bool progress_line = true; // the sequential phase has its own lines on a terminal
};

// What each phase used of the machine, read only at its ends, and the progress line it draws.
class phase_watch {
public:
    phase_watch(progress_line& progress, const counter_set& counters, unsigned workers)
        : progress_(progress), counters_(counters), workers_(workers) {}

    // `sorts` is 0 when the count is open; a phase that is not shown draws no line.
    void begin(const char* name, std::uint64_t sorts, bool show = true) {
        shown_ = show;
        if (show) {
            progress_.restart(sorts);
            progress_.phase(name, sorts);
        }
        start_ = read_resources(counters_);
    }
    void end(const char* name) {
        resources_.push_back(resources_between(name, start_, read_resources(counters_), workers_));
        progress_.erase();
    }
    void sorted() {
        if (shown_) {
            progress_.sorted();
        }
    }
    std::vector<phase_resources> take_resources() { return std::move(resources_); }

private:
    progress_line& progress_;
    const counter_set& counters_;
    unsigned workers_;
    bool shown_ = true;
    resource_reading start_;
    std::vector<phase_resources> resources_;
};

bench_config batch_of(const bench_config& sizes, std::uint64_t n) {
    bench_config batch = sizes;
    batch.run_count = n;
    return batch;
}

// Each phase runs its sorts in one go, or with a precision goal in batches that keep the phase's
// character until its median is precise enough.
void run_phase(const run_settings& opts, const phase_plan& phase, progress_line& progress, duration_ns run_start,
               std::size_t phases_left) {
    if (!opts.precision) {
        phase.run_batch(opts.sizes.run_count);
        return;
    }
    precision_goal goal = *opts.precision;
    const duration_ns phase_start = now_ns();
    goal.max_time_ns = time_share(goal, phase_start - run_start, phases_left);
    const auto show_precision = [&] {
        const duration_summary summary = summarize(phase.times);
        progress.set_detail((summary.interval ? "precision " + precision_text(summary).substr(2)
                                              : std::string("no interval yet")) +
                            " (target " + fixed_or_na(100 * goal.target, 1) + "%)");
    };
    measure_until_precise(phase.times, opts.sizes.run_count, phase.batch, goal, phase_start, now_ns, phase.run_batch,
                          show_precision);
}

// The record of the timed phases, one strategy per phase in the table's order.
benchmark_results make_records(const run_settings& opts, const std::vector<phase_plan>& phases) {
    run_context context = describe_run(opts.sizes);
    context.precision = opts.precision;
    std::vector<strategy_result> strategies;
    for (const phase_plan& phase : phases) {
        strategies.push_back(make_strategy(phase.id, phase.times));
        if (phase.cpu_times != nullptr) {
            strategies.back().cpu_ns = *phase.cpu_times;
        }
        strategies.back().array_ids = *phase.ids;
    }
    return make_results(std::move(context), std::move(strategies));
}

// What the run used of the machine and what changed on it, beside the memory it was predicted to need.
void add_machine_parts(benchmark_results& results, const run_settings& opts, unsigned workers,
                       const environment_facts& before, std::vector<phase_resources> resources) {
    results.resources = std::move(resources);
    results.environment_before = before;
    results.environment_after = read_environment_now();
    results.environment_warnings = environment_changes(before, *results.environment_after);
    results.predicted_peak_bytes = predict_peak(opts, workers).peak_bytes;
    results.peak_rss_bytes = peak_rss_bytes();
}

// What the phases share: the pool, the array the one-at-a-time phases reuse, and what each phase
// keeps beside its duration list (the references' durations too).
struct phase_state {
    struct lists {
        duration_list times;
        duration_list cpu;
        array_ids ids;
    };
    sort_pool pool;
    value_array data;
    discard_stream quiet; // where the pool's lines go once its first batch has shown them
    bool first_batch = true;
    std::array<lists, strategy_table.size()> by_strategy;
    lists& at(strategy id) { return by_strategy[index_of(id)]; }
};

// The table of timed phases, in the order they run: the four strategies, then the reference sorts
// when asked for.
std::vector<phase_plan> plan_phases(const run_settings& opts, const console& con, const sort_listener& listener,
                                    unsigned workers, phase_state& st) {
    const bench_config& sizes = opts.sizes;
    const std::uint64_t one_per_cpu = std::max(1u, workers);
    std::vector<phase_plan> phases = {
        {strategy::sequential, sequential_times, nullptr, &st.pool.ids, one_per_cpu, nullptr,
         [&, workers](std::uint64_t n) {
             queue_sequential_sorts(st.pool, st.data, batch_of(sizes, n));
             // The phase's own lines count its first batch; later batches show on the progress line.
             run_sequential_sorts(st.pool, n, st.first_batch ? con : console{st.quiet, false}, workers);
             st.first_batch = false;
         },
         !con.is_terminal},
        {strategy::thread, thread_times, nullptr, &st.at(strategy::thread).ids, one_per_cpu,
         "Quicksort just creating threads: Complete",
         [&](std::uint64_t n) {
             run_thread_sorts(thread_times, thread_times_mutex, batch_of(sizes, n), listener, &st.at(strategy::thread).ids);
         }},
        {strategy::parallel, parallel_times, &st.at(strategy::parallel).cpu, &st.at(strategy::parallel).ids, 1,
         "Parallel Quicksort: Complete",
         [&](std::uint64_t n) {
             run_parallel_sorts(st.data, parallel_times, batch_of(sizes, n), listener, &st.at(strategy::parallel).cpu,
                                &st.at(strategy::parallel).ids);
         }},
        {strategy::parallel_for, parallel_for_times, nullptr, &st.at(strategy::parallel_for).ids, one_per_cpu, nullptr,
         [&](std::uint64_t n) {
             run_parallel_for_sorts(parallel_for_times, parallel_for_times_mutex, batch_of(sizes, n), listener,
                                    &st.at(strategy::parallel_for).ids);
         }}};
    for (const strategy_info& row : strategy_table) {
        if (row.reference && opts.reference) {
            phase_state::lists& l = st.at(row.id);
            phases.push_back({row.id, l.times, &l.cpu, &l.ids, 1, nullptr,
                              [&, lp = &l, id = row.id, workers](std::uint64_t n) {
                                  run_reference_sort(st.data, lp->times, id, workers, batch_of(sizes, n), listener,
                                                     &lp->cpu, &lp->ids);
                              }});
        }
    }
    return phases;
}

} // namespace

unsigned parallel_loop_threads() { return static_cast<unsigned>(tbb::this_task_arena::max_concurrency()); }

benchmark_results measure(const run_settings& opts, const console& con, const sort_listener& on_sorted, unsigned workers) {
    const bench_config& sizes = opts.sizes;
    seed_generator(1);

    const environment_facts environment_before = read_environment_now();
    const counter_set counters(opts.counters);
    const tbb_worker_counters worker_counters(counters);
    progress_line progress(con.progress);
    phase_watch watch(progress, counters, workers);
    const sort_listener listener = [&](std::string_view strategy) {
        watch.sorted();
        if (on_sorted) {
            on_sorted(strategy);
        }
    };

    phase_state state;
    state.pool.on_sorted = listener;
    state.pool.on_worker_start = [&counters] { return counters.follow_this_thread(); };
    const std::vector<phase_plan> phases = plan_phases(opts, con, listener, workers, state);

    // Phases never overlap.
    const duration_ns run_start = now_ns();
    for (std::size_t k = 0; k < phases.size(); ++k) {
        const phase_plan& phase = phases[k];
        watch.begin(name_of(phase.id), opts.precision ? 0 : sizes.run_count, phase.progress_line);
        run_phase(opts, phase, progress, run_start, phases.size() - k);
        watch.end(name_of(phase.id));
        if (phase.done_line != nullptr) {
            con.out << phase.done_line << std::endl;
        }
    }

    benchmark_results results = make_records(opts, phases);
    if (opts.reference) {
        // After every sort, with the phases' array given back: the floor's two arrays are the peak.
        value_array().swap(state.data);
        results.floor = measure_memory_floor(sizes.array_size);
    }
    if (opts.breakdown) {
        // The breakdown keeps --runs: it explains the time, it does not measure it.
        watch.begin("breakdown", measured_strategy_count * sizes.run_count);
        results.breakdown = measure_breakdown(sizes, results, [&](std::string_view) { progress.sorted(); });
        watch.end("breakdown");
    }
    add_machine_parts(results, opts, workers, environment_before, watch.take_resources());
    return results;
}

struct unit_runner::state {
    run_settings opts;
    discard_stream quiet;
    console con{quiet, false};
    sort_listener listener; // none: the phases keep a reference to it
    phase_state phases_state;
    std::vector<phase_plan> phases;
    std::array<phase_state::lists, strategy_table.size()> units; // per strategy, each unit's median and first array
};

unit_runner::unit_runner(const run_settings& opts, unsigned workers) : state_(std::make_unique<state>()) {
    state_->opts = opts;
    seed_generator(1);
    state_->phases = plan_phases(state_->opts, state_->con, state_->listener, workers, state_->phases_state);
}

unit_runner::~unit_runner() = default;

std::vector<unit_runner::sort_time> unit_runner::run(strategy id) {
    const auto phase = std::find_if(state_->phases.begin(), state_->phases.end(),
                                    [id](const phase_plan& p) { return p.id == id; });
    if (phase == state_->phases.end()) {
        throw std::invalid_argument(std::string("this run does not measure ") + name_of(id));
    }
    phase_state::lists& unit = state_->units[index_of(id)];
    // The calling thread's generator set by the unit alone (its strategy and its number), so that
    // two workers sort the same arrays there whatever the parallel loops drew from it before.
    seed_generator(static_cast<std::uint32_t>(1 + 1'000'003 * index_of(id) + unit.times.size()));
    const std::size_t before = phase->times.size();
    phase->run_batch(phase->batch);
    std::vector<sort_time> sorted;
    for (std::size_t k = before; k < phase->times.size(); ++k) {
        sorted.push_back({k < phase->ids->size() ? (*phase->ids)[k] : 0, phase->times[k]});
    }
    unit.times.push_back(median_of(duration_list(phase->times.begin() + static_cast<std::ptrdiff_t>(before), phase->times.end())));
    // The unit's name whatever order its sorts finished in: the smallest of its arrays' identities.
    const auto smallest = std::min_element(sorted.begin(), sorted.end(),
                                           [](const sort_time& a, const sort_time& b) { return a.array < b.array; });
    unit.ids.push_back(smallest == sorted.end() ? 0 : smallest->array);
    return sorted;
}

benchmark_results unit_runner::record() const {
    run_context context = describe_run(state_->opts.sizes);
    std::vector<strategy_result> strategies;
    for (const phase_plan& phase : state_->phases) {
        const phase_state::lists& unit = state_->units[index_of(phase.id)];
        if (!unit.times.empty()) { // a strategy no unit was asked of is none this worker measured
            context.run_count = unit.times.size();
            strategies.push_back(make_strategy(phase.id, unit.times));
            strategies.back().array_ids = unit.ids;
        }
    }
    return make_results(std::move(context), std::move(strategies));
}
