// Runs side by side: per strategy the medians, the shift, its test and verdict, and what differs.
#include "records/comparison.hpp"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <tuple>

#include "common/format.hpp"
#include "analysis/summary.hpp"

bool comparison::any(verdict v) const {
    for (const auto& step : steps) {
        for (const auto& s : step.strategies) {
            if (s.result == v) {
                return true;
            }
        }
    }
    return false;
}

std::size_t comparison::rows() const {
    std::size_t n = 0;
    for (const auto& step : steps) {
        n += step.strategies.size();
    }
    return n;
}

std::size_t comparison::tests() const {
    std::size_t n = 0;
    for (const auto& step : steps) {
        n += static_cast<std::size_t>(std::count_if(step.strategies.begin(), step.strategies.end(),
                                                    [](const strategy_comparison& s) { return s.p_value.has_value(); }));
    }
    return n;
}

std::vector<std::string> comparison::undecided() const {
    std::vector<std::string> names;
    for (const auto& step : steps) {
        for (const auto& s : step.strategies) {
            if (s.result == verdict::inconclusive || s.result == verdict::too_few_runs ||
                s.result == verdict::too_few_processes) {
                std::string name = s.name;
                if (step.cpus > 0) {
                    name += " on " + cpus_text(step.cpus);
                }
                if (next_names.size() > 1) {
                    name += " in " + next_names[s.run];
                }
                names.push_back(name + " (" + verdict_text(s.result) + ")");
            }
        }
    }
    return names;
}

strategy_comparison compare_samples(const std::string& name, const duration_list& base, const duration_list& next,
                                    double alpha, double threshold) {
    strategy_comparison s;
    s.name = name;
    s.base = base;
    s.next = next;
    const duration_summary base_summary = summarize(base);
    const duration_summary next_summary = summarize(next);
    s.base_median = base_summary.median;
    s.next_median = next_summary.median;
    if (base_summary.interval) {
        s.base_precision = base_summary.interval->precision;
    }
    if (next_summary.interval) {
        s.next_precision = next_summary.interval->precision;
    }
    if (s.base_median != 0) {
        s.change = static_cast<double>(s.next_median - s.base_median) / static_cast<double>(s.base_median);
    }
    if (base.empty() || next.empty()) {
        s.result = verdict::too_few_runs;
        return s;
    }
    const shift_estimate shift = hodges_lehmann(base, next, alpha);
    s.shift_ns = shift.estimate;
    s.shift_interval_ns = shift.interval;
    if (s.base_median != 0) {
        const auto relative = [&](double ns) { return ns / static_cast<double>(s.base_median); };
        s.shift = relative(shift.estimate);
        if (shift.interval) {
            s.shift_interval = std::pair{relative(shift.interval->first), relative(shift.interval->second)};
        }
    }
    s.weak = base.size() < min_runs_for_a_strong_test || next.size() < min_runs_for_a_strong_test;
    if (base.size() < min_runs_to_test || next.size() < min_runs_to_test) {
        s.result = verdict::too_few_runs;
        return s;
    }
    s.p_value = mann_whitney_u(base, next).p_value;
    judge_row(s, *s.p_value, alpha, threshold);
    return s;
}

void judge_row(strategy_comparison& s, double p_value, double alpha, double threshold) {
    if (!s.shift || !s.shift_interval) {
        s.result = verdict::inconclusive;
        return;
    }
    const shift_verdict judged =
        judge_shift(p_value, *s.shift, *s.shift_interval, alpha, threshold, std::max(s.base.size(), s.next.size()));
    s.result = judged.result;
    s.runs_to_decide = judged.runs_to_decide;
}

namespace {

// A row judged on one process's sorts: they cannot show how far the next process lands, so their
// verdict stands only beyond a drift the user vouches for.
void settle_by_drift(strategy_comparison& row, std::optional<double> drift) {
    const bool decided = row.result == verdict::slower || row.result == verdict::faster;
    const bool beyond_drift = decided && drift && row.shift_interval &&
                              (row.shift_interval->first > *drift || row.shift_interval->second < -*drift);
    if (drift && (row.result == verdict::equivalent || row.result == verdict::inconclusive || beyond_drift)) {
        row.rule = judged_by::drift;
        return;
    }
    row.rule = judged_by::sorts;
    row.processes_to_decide = std::max<std::uint64_t>(
        min_processes_to_decide, row.result == verdict::inconclusive ? row.runs_to_decide.value_or(0) : 0);
    row.result = verdict::too_few_processes;
    row.runs_to_decide.reset();
}

} // namespace

strategy_comparison compare_strategies(const strategy_result& base, const strategy_result& next, double alpha,
                                       double threshold, std::optional<double> drift) {
    const std::size_t base_processes = std::max<std::size_t>(1, base.processes.size());
    const std::size_t next_processes = std::max<std::size_t>(1, next.processes.size());
    if (base_processes >= min_processes_to_decide && next_processes >= min_processes_to_decide) {
        strategy_comparison row = compare_samples(base.name, process_medians(base.processes),
                                                  process_medians(next.processes), alpha, threshold);
        row.rule = judged_by::processes;
        row.base_processes = base_processes;
        row.next_processes = next_processes;
        return row;
    }
    strategy_comparison row = compare_samples(base.name, base.durations, next.durations, alpha, threshold);
    row.base_processes = base_processes;
    row.next_processes = next_processes;
    if (row.result != verdict::too_few_runs) {
        settle_by_drift(row, drift);
    }
    return row;
}

void judge_as_family(comparison& c) {
    std::vector<strategy_comparison*> tested;
    std::vector<double> p_values;
    for (auto& step : c.steps) {
        for (auto& s : step.strategies) {
            if (s.p_value) {
                tested.push_back(&s);
                p_values.push_back(*s.p_value);
            }
        }
    }
    const std::vector<double> adjusted = holm_adjusted(p_values);
    for (std::size_t k = 0; k < tested.size(); ++k) {
        strategy_comparison& s = *tested[k];
        s.adjusted_p_value = adjusted[k];
        if (adjusted[k] == *s.p_value) {
            continue; // judged as it stands
        }
        const bool by_sorts = s.rule == judged_by::sorts || s.rule == judged_by::drift;
        judge_row(s, adjusted[k], c.alpha, c.threshold);
        if (by_sorts) {
            s.processes_to_decide.reset();
            settle_by_drift(s, c.drift);
        }
    }
}

namespace {

void require_same(const std::string& field, const std::string& base, const std::string& next, const std::string& file) {
    if (base != next) {
        throw comparison_refused("the runs do not measure the same work: " + field + " is " + base + " in the base and " +
                                 next + " in " + file);
    }
}

// The CPU count each step stands for; a single run's is its machine's when matched with a sweep.
std::vector<unsigned> step_keys(const sweep_results& run, bool other_is_sweep) {
    std::vector<unsigned> keys;
    for (const auto& step : run.steps) {
        const unsigned n = run.is_sweep() ? step.cpu_count() : 0;
        keys.push_back(n == 0 && other_is_sweep ? step.results.context.logical_cpus : n);
    }
    return keys;
}

// Refuses runs of other work; notes the differences that do not stop a comparison.
void note_context(comparison& c, std::size_t r, const run_context& b, const run_context& n, const std::string& file) {
    require_same("context.array_size", std::to_string(b.array_size), std::to_string(n.array_size), file);
    require_same("context.chunk_size", std::to_string(b.chunk_size), std::to_string(n.chunk_size), file);
    require_same("context.values", b.values, n.values, file);
    const auto found = context_differences(
        b, n, {"host_name", "cpu_model", "logical_cpus", "compiler", "build_type", "tbb_version", "run_count"}, r);
    c.differences.insert(c.differences.end(), found.begin(), found.end());
}

// A context's field as the differences show it.
std::string field_text(const run_context& c, const std::string& field) {
    const std::pair<const char*, std::string> fields[] = {
        {"host_name", c.host_name},
        {"cpu_model", c.cpu_model},
        {"logical_cpus", std::to_string(c.logical_cpus)},
        {"compiler", c.compiler},
        {"build_type", c.build_type},
        {"tbb_version", c.tbb_version},
        {"run_count", std::to_string(c.run_count)},
        {"array_size", std::to_string(c.array_size)},
        {"values", c.values},
        {"chunk_size", std::to_string(c.chunk_size)},
        {"program_version", c.program_version},
        {"source_revision", c.source_revision},
    };
    for (const auto& [name, text] : fields) {
        if (field == name) {
            return text;
        }
    }
    throw std::logic_error("no context field " + field);
}

// One side of a comparison: its run and the CPU count each of its steps stands for.
struct keyed_run {
    const sweep_results& run;
    const std::vector<unsigned>& keys;
};

// Compares the steps and strategies the base and new run `r` share, noting what only one has;
// false when they share nothing.
bool compare_steps(comparison& c, std::map<unsigned, step_comparison>& steps, const keyed_run& base,
                   const keyed_run& next, std::size_t r, const std::string& where) {
    bool shared = false;
    for (std::size_t k = 0; k < base.run.steps.size(); ++k) {
        const auto match = std::find(next.keys.begin(), next.keys.end(), base.keys[k]);
        const std::string on = base.keys[k] > 0 ? " on " + cpus_text(base.keys[k]) : "";
        if (match == next.keys.end()) {
            c.skipped.push_back("only in the base run: the step" + on);
            continue;
        }
        const auto& base_list = base.run.steps[k].results.strategies;
        const auto& next_list = next.run.steps[static_cast<std::size_t>(match - next.keys.begin())].results.strategies;
        step_comparison& step = steps[base.keys[k]];
        step.cpus = base.run.is_sweep() || next.run.is_sweep() ? base.keys[k] : 0;
        for (const auto& s : base_list) {
            const auto other = std::find_if(next_list.begin(), next_list.end(),
                                            [&](const strategy_result& x) { return x.name == s.name; });
            if (other == next_list.end()) {
                c.skipped.push_back("only in the base run: " + s.name + on);
                continue;
            }
            strategy_comparison row = compare_strategies(s, *other, c.alpha, c.threshold, c.drift);
            row.run = r;
            step.strategies.push_back(std::move(row));
            shared = true;
        }
        for (const auto& s : next_list) {
            if (std::none_of(base_list.begin(), base_list.end(),
                             [&](const strategy_result& x) { return x.name == s.name; })) {
                c.skipped.push_back("only in " + where + ": " + s.name + on);
            }
        }
    }
    return shared;
}

// The skipped items of several new runs repeat: list each once.
void list_once(std::vector<std::string>& items) {
    std::vector<std::string> once;
    for (const auto& item : items) {
        if (std::find(once.begin(), once.end(), item) == once.end()) {
            once.push_back(item);
        }
    }
    items = std::move(once);
}

// Rows per strategy in the base's order, each new run after the other.
void order_rows(step_comparison& step) {
    std::vector<std::string> order;
    for (const auto& s : step.strategies) {
        if (std::find(order.begin(), order.end(), s.name) == order.end()) {
            order.push_back(s.name);
        }
    }
    std::stable_sort(step.strategies.begin(), step.strategies.end(),
                     [&](const strategy_comparison& x, const strategy_comparison& y) {
                         const auto rank = [&](const std::string& name) {
                             return std::find(order.begin(), order.end(), name) - order.begin();
                         };
                         return std::make_tuple(rank(x.name), x.run) < std::make_tuple(rank(y.name), y.run);
                     });
}

} // namespace

std::vector<context_difference> context_differences(const run_context& base, const run_context& next,
                                                    const std::vector<const char*>& fields, std::size_t run) {
    std::vector<context_difference> found;
    for (const char* field : fields) {
        std::string b = field_text(base, field);
        std::string n = field_text(next, field);
        if (b != n) {
            found.push_back({run, field, std::move(b), std::move(n)});
        }
    }
    return found;
}

comparison compare_runs(const sweep_results& base, const std::vector<std::pair<std::string, sweep_results>>& nexts,
                        double alpha, double threshold, std::optional<double> drift) {
    if (base.steps.empty()) {
        throw comparison_refused("the base run holds no completed step");
    }
    comparison c;
    c.alpha = alpha;
    c.threshold = threshold;
    c.drift = drift;
    c.base_context = base.steps.front().results.context;
    const run_context& b = c.base_context;
    std::map<unsigned, step_comparison> steps;
    for (std::size_t r = 0; r < nexts.size(); ++r) {
        const auto& [file, next] = nexts[r];
        c.next_names.push_back(file);
        if (next.steps.empty()) {
            throw comparison_refused(file + " holds no completed step");
        }
        const run_context& n = next.steps.front().results.context;
        c.next_contexts.push_back(n);
        note_context(c, r, b, n, file);

        const std::string where = nexts.size() > 1 ? file : "the new run";
        const std::vector<unsigned> base_keys = step_keys(base, next.is_sweep());
        const std::vector<unsigned> next_keys = step_keys(next, base.is_sweep());
        const bool shared = compare_steps(c, steps, {base, base_keys}, {next, next_keys}, r, where);
        for (std::size_t k = 0; k < next.steps.size(); ++k) {
            if (std::find(base_keys.begin(), base_keys.end(), next_keys[k]) == base_keys.end()) {
                c.skipped.push_back("only in " + where + ": the step on " + cpus_text(next_keys[k]));
            }
        }
        if (!shared) {
            throw comparison_refused("the base run and " + file + " have nothing in common to compare");
        }
    }
    list_once(c.skipped);
    for (auto& [cpus, step] : steps) {
        order_rows(step);
        c.steps.push_back(std::move(step));
    }
    judge_as_family(c);
    return c;
}
