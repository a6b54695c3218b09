#include "report/comparison.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iomanip>
#include <ostream>
#include <tuple>

#include "report/stats.hpp"
#include "report/format.hpp"

std::string verdict_text(verdict v) {
    switch (v) {
    case verdict::faster: return "faster";
    case verdict::slower: return "slower";
    case verdict::too_few_runs: return "too few runs to test";
    case verdict::no_change: break;
    }
    return "no change";
}

bool comparison::any_slower() const {
    for (const auto& step : steps) {
        for (const auto& s : step.strategies) {
            if (s.result == verdict::slower) {
                return true;
            }
        }
    }
    return false;
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

namespace {

void require_same(const std::string& field, const std::string& base, const std::string& next) {
    if (base != next) {
        throw comparison_refused("the runs do not measure the same work: " + field + " is " + base + " in the base and " +
                                 next + " in the new run");
    }
}

strategy_comparison compare_strategy(const strategy_result& base, const strategy_result& next, double alpha,
                                     double threshold) {
    strategy_comparison s;
    s.name = base.name;
    s.base = base.durations;
    s.next = next.durations;
    s.base_median = base.summary.median;
    s.next_median = next.summary.median;
    if (base.summary.interval) {
        s.base_precision = base.summary.interval->precision;
    }
    if (next.summary.interval) {
        s.next_precision = next.summary.interval->precision;
    }
    if (s.base_median != 0) {
        s.change = static_cast<double>(s.next_median - s.base_median) / static_cast<double>(s.base_median);
    }
    if (s.base.size() < min_runs_to_test || s.next.size() < min_runs_to_test) {
        s.result = verdict::too_few_runs;
        return s;
    }
    s.p_value = mann_whitney_u(s.base, s.next).p_value;
    if (*s.p_value < alpha && s.change && std::abs(*s.change) > threshold) {
        s.result = *s.change < 0 ? verdict::faster : verdict::slower;
    }
    return s;
}

} // namespace

comparison compare_runs(const sweep_results& base, const sweep_results& next, double alpha, double threshold) {
    if (base.steps.empty() || next.steps.empty()) {
        throw comparison_refused(base.steps.empty() ? "the base run holds no completed step"
                                                    : "the new run holds no completed step");
    }
    comparison c;
    c.alpha = alpha;
    c.threshold = threshold;
    c.base_context = base.steps.front().results.context;
    c.next_context = next.steps.front().results.context;
    const run_context& b = c.base_context;
    const run_context& n = c.next_context;
    require_same("context.array_size", std::to_string(b.array_size), std::to_string(n.array_size));
    require_same("context.chunk_size", std::to_string(b.chunk_size), std::to_string(n.chunk_size));
    require_same("context.values", b.values, n.values);
    const auto counts = [](const sweep_results& s) {
        std::string text;
        for (const auto& step : s.steps) {
            text += (text.empty() ? "" : ",") + std::to_string(step.cpu_count());
        }
        return text.empty() ? "a single run" : text;
    };
    require_same("the CPU counts of the steps", counts(base), counts(next));

    for (const auto& [field, base_value, next_value] :
         {std::tuple<const char*, std::string, std::string>{"host_name", b.host_name, n.host_name},
          {"cpu_model", b.cpu_model, n.cpu_model},
          {"logical_cpus", std::to_string(b.logical_cpus), std::to_string(n.logical_cpus)},
          {"compiler", b.compiler, n.compiler},
          {"build_type", b.build_type, n.build_type},
          {"tbb_version", b.tbb_version, n.tbb_version},
          {"run_count", std::to_string(b.run_count), std::to_string(n.run_count)}}) {
        if (base_value != next_value) {
            c.differences.push_back({field, base_value, next_value});
        }
    }

    for (std::size_t k = 0; k < base.steps.size(); ++k) {
        const auto& base_list = base.steps[k].results.strategies;
        const auto& next_list = next.steps[k].results.strategies;
        step_comparison step;
        step.cpus = base.steps[k].cpu_count();
        for (const auto& s : base_list) {
            const auto match = std::find_if(next_list.begin(), next_list.end(),
                                            [&](const strategy_result& other) { return other.name == s.name; });
            if (match == next_list.end()) {
                throw comparison_refused("strategy \"" + s.name + "\" is measured in the base run only");
            }
            step.strategies.push_back(compare_strategy(s, *match, alpha, threshold));
        }
        for (const auto& s : next_list) {
            if (std::none_of(base_list.begin(), base_list.end(),
                             [&](const strategy_result& other) { return other.name == s.name; })) {
                throw comparison_refused("strategy \"" + s.name + "\" is measured in the new run only");
            }
        }
        c.steps.push_back(std::move(step));
    }
    return c;
}

void print_comparison(const comparison& c, std::ostream& out) {
    out << "Comparing " << c.base_name << " (base) with " << c.next_name << " (new)" << std::endl;
    if (!c.differences.empty()) {
        out << "The runs differ in:" << std::endl;
        for (const auto& d : c.differences) {
            out << "  " << d.field << ": " << d.base << " -> " << d.next << std::endl;
        }
    }
    out << "A change is real when the Mann-Whitney U test gives p < " << c.alpha << " and it exceeds "
        << 100 * c.threshold << "%." << std::endl;
    for (const auto& step : c.steps) {
        out << std::endl;
        if (step.cpus > 0) {
            out << "On " << step.cpus << (step.cpus == 1 ? " CPU:" : " CPUs:") << std::endl;
        }
        out << std::left << std::setw(34) << "strategy" << std::right << std::setw(20) << "base (ms)" << std::setw(20)
            << "new (ms)" << std::setw(10) << "change" << std::setw(10) << "p-value" << "  verdict" << std::endl;
        for (const auto& s : step.strategies) {
            // "±" is two bytes: widen those cells by one so the columns stay aligned.
            const std::string base = median_cell(s.base_median, s.base_precision);
            const std::string next = median_cell(s.next_median, s.next_precision);
            out << std::left << std::setw(34) << s.name << std::right << std::setw(s.base_precision ? 21 : 20) << base
                << std::setw(s.next_precision ? 21 : 20) << next << std::setw(10) << change_text(s.change) << std::setw(10)
                << p_value_text(s.p_value) << "  " << verdict_text(s.result) << std::endl;
        }
    }
}
