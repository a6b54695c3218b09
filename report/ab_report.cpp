// `ab` on the console: its table, its sentences, a line per finished round.
#include "report/ab_report.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>
#include <sstream>

#include "common/format.hpp"
#include "common/text.hpp"
#include "report/comparison_report.hpp"

std::string side_text(const ab_side& side) {
    std::string text = shell_quoted(side.program);
    for (const auto& word : side.arguments) {
        text += " " + shell_quoted(word);
    }
    return printable(text);
}

std::string round_line(const ab_round& round, std::size_t number, unsigned planned) {
    std::string line = "round " + std::to_string(number) + "/" + std::to_string(planned) + ", " +
                       (round.new_first ? "new" : "base") + " first: new/base";
    const char* separator = " ";
    for (const auto& b : round.base.strategies) {
        for (const auto& n : round.next.strategies) {
            if (n.name == b.name && b.summary.median > 0) {
                char ratio[32];
                std::snprintf(ratio, sizeof ratio, "%.3f",
                              static_cast<double>(n.summary.median) / static_cast<double>(b.summary.median));
                line += separator + printable(b.name) + " " + ratio;
                separator = ", ";
            }
        }
    }
    return line;
}

namespace {

// "4.1%": a change's size, its sign said in words.
std::string size_of(double change) { return fixed(100 * std::abs(change), 1) + "%"; }

// "4.1% slower", "2.0% faster", "no change": where one end of an interval lies.
std::string end_text(double change) {
    const std::string size = size_of(change);
    return size == "0.0%" ? "no change" : size + (change > 0 ? " slower" : " faster");
}

} // namespace

std::string plain_reading(const strategy_comparison& s, double alpha) {
    const std::string name = printable(s.name);
    if (!s.shift || !s.shift_interval || s.result == verdict::too_few_runs) {
        return name + ": too few rounds to test";
    }
    const auto [low, high] = *s.shift_interval;
    switch (s.result) {
    case verdict::slower:
        return "new is " + size_of(*s.shift) + " slower than base on " + name + " [" + size_of(low) + ", " +
               size_of(high) + "]";
    case verdict::faster:
        return "new is " + size_of(*s.shift) + " faster than base on " + name + " [" + size_of(high) + ", " +
               size_of(low) + "]";
    case verdict::equivalent:
        return name + ": no change beyond \u00b1" + size_of(std::max(std::abs(low), std::abs(high)));
    default:
        break;
    }
    std::string text = end_text(low) == end_text(high)
                           ? name + ": not decided at " + end_text(low)
                           : name + ": not decided, somewhere from " + end_text(low) + " to " + end_text(high);
    const std::optional<double> p = s.decisive_p();
    if (p && *p >= alpha && (low > 0 || high < 0)) {
        std::ostringstream said;
        said << " (p = " << p_value_text(p) << ", not below " << alpha << ")";
        text += said.str();
    }
    return text;
}

std::optional<double> detectable_change(const strategy_comparison& s, double threshold) {
    if (!s.shift_interval) {
        return std::nullopt;
    }
    return threshold + (s.shift_interval->second - s.shift_interval->first) / 2;
}

std::string looks_sentence(const ab_results& ab) {
    if (ab.looks.empty()) {
        return {};
    }
    const comparison& c = ab.judged;
    std::ostringstream out;
    out << "Until decided (--max-time): looked at";
    for (std::size_t k = 0; k < ab.looks.size(); ++k) {
        out << (k == 0 ? " " : ", ") << ab.looks[k].rounds;
    }
    out << " rounds, each look's tests and intervals at its share of " << c.alpha << " (";
    for (std::size_t k = 0; k < ab.looks.size(); ++k) {
        char share[32];
        std::snprintf(share, sizeof share, "%.4g", ab.looks[k].alpha);
        out << (k == 0 ? "" : ", ") << share;
    }
    out << "), so that a false call stays below " << c.alpha << " whatever round it stops at; a strategy "
        << "decided at a look keeps that verdict. "
        << (c.undecided().empty() ? "Every strategy was decided." : "It stopped with some undecided.");
    return out.str();
}

std::string pairs_sentence(const ab_results& ab) {
    if (!ab.paired()) {
        return {};
    }
    std::ostringstream out;
    out << "Each round started both sides as workers that sorted the same arrays unit by unit, "
        << ab.rounds.front().pairs.size() << " pairs a round, each strategy's in ABBA order. Spread of the log ratios (sd) within a round's pairs / across the rounds:";
    const char* separator = " ";
    for (const auto& step : ab.judged.steps) {
        for (const auto& s : step.strategies) {
            out << separator << printable(s.name) << " " << (s.pair_sd ? size_of(std::expm1(*s.pair_sd)) : "n/a")
                << " / " << (s.round_sd ? size_of(std::expm1(*s.round_sd)) : "n/a");
            separator = "; ";
        }
    }
    out << ".";
    return out.str();
}

const char* rounds_design(const ab_results& ab) {
    return ab.paired() ? "each pairing both sides' units on the same arrays, the side that starts alternating"
                       : "each running both sides once in an alternating order";
}

void print_ab(const ab_results& ab, std::ostream& out) {
    const comparison& c = ab.judged;
    out << "Interleaved comparison: " << ab.rounds.size() << " rounds, " << rounds_design(ab) << " (seed " << ab.seed
        << ")" << std::endl;
    out << "  base: " << side_text(ab.base) << std::endl;
    out << "  new:  " << side_text(ab.next) << std::endl;
    std::string settings;
    if (!c.differences.empty()) {
        out << "The sides differ in:" << std::endl;
        for (const auto& d : c.differences) {
            out << "  " << d.field << ": " << printable(d.base) << " -> " << printable(d.next) << std::endl;
            if (is_run_setting(d)) {
                settings += (settings.empty() ? "" : ", ") + d.field;
            }
        }
    }
    if (!settings.empty()) {
        out << "The sides run with different settings (" << settings << "): each verdict compares those settings."
            << std::endl;
    }
    out << "Per round, " << (ab.paired() ? "the median of its pairs' ratios, new over base" : "the new side's median over the base side's") << "; over the rounds, the Hodges-Lehmann estimate of "
        << "that ratio with its " << 100 * (1 - c.alpha) << "% interval and the exact Wilcoxon signed-rank test. "
        << gate_rule(c) << " The medians are each side's median over the rounds." << std::endl;
    if (!ab.looks.empty()) {
        out << looks_sentence(ab) << std::endl;
    }
    if (ab.paired()) {
        out << pairs_sentence(ab) << std::endl;
    }
    for (const auto& step : c.steps) {
        out << std::endl;
        print_comparison_rows(step, false, std::nullopt, out);
        out << std::endl;
        for (const auto& s : step.strategies) {
            out << plain_reading(s, c.alpha) << std::endl;
        }
        if (ab.same_sides()) {
            out << std::endl
                << "Both sides are the same program with the same options (an A/A run): it measures the noise, and "
                << "a slower or faster here is a false call. What these rounds can tell apart:" << std::endl;
            for (const auto& s : step.strategies) {
                const std::optional<double> detectable = detectable_change(s, c.threshold);
                out << "  " << printable(s.name) << ": the rounds' ratios spread by "
                    << (s.round_sd ? size_of(std::expm1(*s.round_sd)) : "n/a") << " (sd); "
                    << (detectable ? "a change beyond \u00b1" + size_of(*detectable) + " could be called"
                                   : "too few rounds for an interval")
                    << std::endl;
            }
        }
    }
    if (!c.skipped.empty()) {
        out << std::endl << "Not compared:" << std::endl;
        for (const auto& item : c.skipped) {
            out << "  " << item << std::endl;
        }
    }
}
