#include "report/comparison.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iomanip>
#include <map>
#include <ostream>
#include <set>
#include <tuple>

#include "common/format.hpp"
#include "report/stats.hpp"

std::string verdict_text(verdict v) {
    switch (v) {
    case verdict::faster: return "faster";
    case verdict::slower: return "slower";
    case verdict::equivalent: return "equivalent";
    case verdict::too_few_runs: return "too few runs to test";
    case verdict::inconclusive: break;
    }
    return "inconclusive";
}

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

std::vector<std::string> comparison::undecided() const {
    std::vector<std::string> names;
    for (const auto& step : steps) {
        for (const auto& s : step.strategies) {
            if (s.result == verdict::inconclusive || s.result == verdict::too_few_runs) {
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

std::string median_cell(std::int64_t median, const std::optional<double>& precision) {
    return format_ms(median) + (precision ? " \u00b1" + fixed_or_na(100 * *precision, 1) + "%" : "");
}

std::string change_text(const std::optional<double>& change) {
    if (!change) {
        return "n/a";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%+.1f%%", 100 * *change);
    return text;
}

std::string shift_text(const strategy_comparison& s) {
    std::string text = change_text(s.shift);
    if (s.shift_interval) {
        text += " [" + change_text(s.shift_interval->first) + ", " + change_text(s.shift_interval->second) + "]";
    }
    return text;
}

std::string p_value_text(const std::optional<double>& p) {
    if (!p) {
        return "n/a";
    }
    if (*p < 0.0001) {
        return "<0.0001";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.4f", *p);
    return text;
}

std::string verdict_cell(const strategy_comparison& s) {
    std::string text = verdict_text(s.result);
    if (s.result == verdict::inconclusive) {
        text += s.runs_to_decide ? " (about " + std::to_string(*s.runs_to_decide) + " runs a side would decide)"
                                 : " (no practical count of runs would decide it)";
    }
    if (s.weak && s.result != verdict::too_few_runs) {
        text += " (weak: fewer than " + std::to_string(min_runs_for_a_strong_test) + " runs)";
    }
    return text;
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
    if (!s.shift_interval) {
        s.result = verdict::inconclusive;
        return s;
    }
    const auto [low, high] = *s.shift_interval;
    if (*s.p_value < alpha && low > threshold) {
        s.result = verdict::slower;
    } else if (*s.p_value < alpha && high < -threshold) {
        s.result = verdict::faster;
    } else if (low >= -threshold && high <= threshold) {
        s.result = verdict::equivalent;
    } else {
        s.result = verdict::inconclusive;
        // The interval narrows with the square root of the runs: enough runs make its half-width
        // smaller than the estimate's distance from the threshold.
        const double half_width = (high - low) / 2;
        const double margin = std::abs(std::abs(*s.shift) - threshold);
        if (margin > 1e-6) {
            const double runs = static_cast<double>(std::max(base.size(), next.size())) * std::pow(half_width / margin, 2);
            if (runs <= 1e6) { // beyond, no practical count of runs would decide it
                s.runs_to_decide = std::max<std::uint64_t>(std::max(base.size(), next.size()) + 1,
                                                           static_cast<std::uint64_t>(std::ceil(runs)));
            }
        }
    }
    return s;
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
        const unsigned n = step.cpu_count();
        keys.push_back(n == 0 && other_is_sweep ? step.results.context.logical_cpus : n);
    }
    return keys;
}

bool is_sweep(const sweep_results& run) { return !run.steps.empty() && run.steps.front().cpu_count() > 0; }

} // namespace

comparison compare_runs(const sweep_results& base, const std::vector<std::pair<std::string, sweep_results>>& nexts,
                        double alpha, double threshold) {
    if (base.steps.empty()) {
        throw comparison_refused("the base run holds no completed step");
    }
    comparison c;
    c.alpha = alpha;
    c.threshold = threshold;
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
        require_same("context.array_size", std::to_string(b.array_size), std::to_string(n.array_size), file);
        require_same("context.chunk_size", std::to_string(b.chunk_size), std::to_string(n.chunk_size), file);
        require_same("context.values", b.values, n.values, file);
        for (const auto& [field, base_value, next_value] :
             {std::tuple<const char*, std::string, std::string>{"host_name", b.host_name, n.host_name},
              {"cpu_model", b.cpu_model, n.cpu_model},
              {"logical_cpus", std::to_string(b.logical_cpus), std::to_string(n.logical_cpus)},
              {"compiler", b.compiler, n.compiler},
              {"build_type", b.build_type, n.build_type},
              {"tbb_version", b.tbb_version, n.tbb_version},
              {"run_count", std::to_string(b.run_count), std::to_string(n.run_count)}}) {
            if (base_value != next_value) {
                c.differences.push_back({r, field, base_value, next_value});
            }
        }

        const std::string where = nexts.size() > 1 ? file : "the new run";
        const std::vector<unsigned> base_keys = step_keys(base, is_sweep(next));
        const std::vector<unsigned> next_keys = step_keys(next, is_sweep(base));
        bool shared = false;
        for (std::size_t k = 0; k < base.steps.size(); ++k) {
            const auto match = std::find(next_keys.begin(), next_keys.end(), base_keys[k]);
            const std::string on = base_keys[k] > 0 ? " on " + cpus_text(base_keys[k]) : "";
            if (match == next_keys.end()) {
                c.skipped.push_back("only in the base run: the step" + on);
                continue;
            }
            const auto& base_list = base.steps[k].results.strategies;
            const auto& next_list = next.steps[static_cast<std::size_t>(match - next_keys.begin())].results.strategies;
            step_comparison& step = steps[base_keys[k]];
            step.cpus = is_sweep(base) || is_sweep(next) ? base_keys[k] : 0;
            for (const auto& s : base_list) {
                const auto other = std::find_if(next_list.begin(), next_list.end(),
                                                [&](const strategy_result& x) { return x.name == s.name; });
                if (other == next_list.end()) {
                    c.skipped.push_back("only in the base run: " + s.name + on);
                    continue;
                }
                strategy_comparison row = compare_samples(s.name, s.durations, other->durations, alpha, threshold);
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
        for (std::size_t k = 0; k < next.steps.size(); ++k) {
            if (std::find(base_keys.begin(), base_keys.end(), next_keys[k]) == base_keys.end()) {
                c.skipped.push_back("only in " + where + ": the step on " + cpus_text(next_keys[k]));
            }
        }
        if (!shared) {
            throw comparison_refused("the base run and " + file + " have nothing in common to compare");
        }
    }
    // The skipped items of several new runs repeat: list each once.
    std::vector<std::string> once;
    for (const auto& item : c.skipped) {
        if (std::find(once.begin(), once.end(), item) == once.end()) {
            once.push_back(item);
        }
    }
    c.skipped = std::move(once);
    // Rows per strategy in the base's order, each new run after the other.
    for (auto& [cpus, step] : steps) {
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
        c.steps.push_back(std::move(step));
    }
    return c;
}

void print_comparison(const comparison& c, std::ostream& out) {
    out << "Comparing " << c.base_name << " (base) with";
    for (std::size_t r = 0; r < c.next_names.size(); ++r) {
        out << (r == 0 ? " " : ", ") << c.next_names[r];
    }
    out << (c.next_names.size() == 1 ? " (new)" : " (new runs)") << std::endl;
    if (!c.differences.empty()) {
        out << "The runs differ in:" << std::endl;
        for (const auto& d : c.differences) {
            out << "  " << d.field << ": " << d.base << " -> " << d.next
                << (c.next_names.size() > 1 ? " (" + c.next_names[d.run] + ")" : "") << std::endl;
        }
    }
    out << "The shift is the Hodges-Lehmann estimate of new - base with its 95% interval, relative to the base "
        << "median. Slower or faster: p < " << c.alpha << " and the whole interval beyond " << 100 * c.threshold
        << "%; equivalent: the whole interval within \u00b1" << 100 * c.threshold << "%." << std::endl;
    const bool several = c.next_names.size() > 1;
    for (const auto& step : c.steps) {
        out << std::endl;
        if (step.cpus > 0) {
            out << "On " << cpus_text(step.cpus) << ":" << std::endl;
        }
        out << std::left << std::setw(34) << "strategy" << std::right << std::setw(16) << "base (ms)" << std::setw(16)
            << "new (ms)" << std::setw(26) << "shift" << std::setw(10) << "p-value" << "  verdict" << std::endl;
        for (const auto& s : step.strategies) {
            // "±" is two bytes in one column: widen those cells by one so the columns stay aligned.
            const std::string name = several ? s.name + " [" + std::to_string(s.run + 1) + "]" : s.name;
            out << std::left << std::setw(34) << name << std::right << std::setw(s.base_precision ? 17 : 16)
                << median_cell(s.base_median, s.base_precision) << std::setw(s.next_precision ? 17 : 16)
                << median_cell(s.next_median, s.next_precision) << std::setw(26) << shift_text(s) << std::setw(10)
                << p_value_text(s.p_value) << "  " << verdict_cell(s) << std::endl;
        }
    }
    if (several) {
        out << std::endl;
        for (std::size_t r = 0; r < c.next_names.size(); ++r) {
            out << "[" << r + 1 << "] " << c.next_names[r] << std::endl;
        }
    }
    if (!c.skipped.empty()) {
        out << std::endl << "Not compared:" << std::endl;
        for (const auto& item : c.skipped) {
            out << "  " << item << std::endl;
        }
    }
}
