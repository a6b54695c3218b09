// Two exports of the same work set side by side: per strategy the medians, the change and whether
// a Mann-Whitney U test over the two runs' durations calls it real.
#pragma once

#include <iosfwd>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "report/results.hpp"

// Two exports that do not measure the same work (sizes, chunk, value kind, CPU counts, strategies).
class comparison_refused : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class verdict { faster, slower, no_change, too_few_runs };
std::string verdict_text(verdict v); // "faster", "slower", "no change", "too few runs to test"

inline constexpr std::size_t min_runs_to_test = 5;

struct strategy_comparison {
    std::string name;
    duration_list base;  // every duration of each side
    duration_list next;
    std::int64_t base_median = 0;
    std::int64_t next_median = 0;
    std::optional<double> base_precision; // of each median, from its 95% interval; absent below six runs
    std::optional<double> next_precision;
    std::optional<double> change;  // (new - base) / base; absent when the base median is 0
    std::optional<double> p_value; // absent with too few runs
    verdict result = verdict::no_change;
};

struct step_comparison {
    unsigned cpus = 0; // 0 for a single run
    std::vector<strategy_comparison> strategies;
};

struct context_difference {
    std::string field;
    std::string base;
    std::string next;
};

struct comparison {
    std::string base_name; // the files as given
    std::string next_name;
    run_context base_context; // of the first step
    run_context next_context;
    std::vector<context_difference> differences; // machine, compiler, build, library
    std::vector<step_comparison> steps;
    double alpha = 0.05;
    double threshold = 0.02; // a change below this fraction is "no change" whatever the p-value
    bool any_slower() const;
};

// Matches the two exports step by step and strategy by strategy. Throws comparison_refused naming
// the field when they differ in what they measure.
comparison compare_runs(const sweep_results& base, const sweep_results& next, double alpha, double threshold);

// The console table: the differences, then per step a row per strategy with five columns.
void print_comparison(const comparison& c, std::ostream& out);

// "100.40 ±0.4%", or "100.40" without a precision: a median in milliseconds.
std::string median_cell(std::int64_t median, const std::optional<double>& precision);

// "+4.1%", "-12.0%", "n/a"; "0.0312", "<0.0001", "n/a".
std::string change_text(const std::optional<double>& change);
std::string p_value_text(const std::optional<double>& p);
