// A comparison's table on the console, and the cells its other formats share.
#include "report/comparison_report.hpp"

#include <cstdio>
#include <iomanip>
#include <ostream>
#include <sstream>

#include "common/format.hpp"
#include "common/text.hpp"

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

std::string decisive_p_text(const strategy_comparison& s) {
    return p_value_text(s.decisive_p());
}

std::string holm_note(const comparison& c) {
    if (c.tests() < 2) {
        return "";
    }
    std::ostringstream note;
    note << " The p-values are Holm's, adjusted for the " << c.tests() << " tests made, so that " << c.alpha
         << " bounds the chance of any false call among them.";
    return note.str();
}

std::string rule_text(const strategy_comparison& s, const std::optional<double>& drift) {
    switch (s.rule) {
    case judged_by::processes:
        return "process medians, " + std::to_string(s.base_processes) + " vs " + std::to_string(s.next_processes);
    case judged_by::drift:
        return "sorts, drift \u00b1" + fixed_or_na(drift ? std::optional(100 * *drift) : std::nullopt, 1) + "%";
    case judged_by::rounds:
        return "interleaved, " + std::to_string(s.rounds) + (s.rounds == 1 ? " round" : " rounds");
    case judged_by::sorts:
        break;
    }
    return "sorts";
}

std::string verdict_cell(const strategy_comparison& s) {
    std::string text = verdict_text(s.result);
    // A count past what the options allow is no advice.
    const auto would_decide = [](std::uint64_t count, const char* option, std::uint64_t most) {
        return count > most ? std::string("not decidable with at most ") + std::to_string(most) + " a side (" +
                                  option + ")"
                            : "about " + std::to_string(count) + " a side would decide: " + option + " " +
                                  std::to_string(count);
    };
    if (s.result == verdict::too_few_processes) {
        text += " (" + std::to_string(s.base_processes) + " vs " + std::to_string(s.next_processes) + " processes; " +
                would_decide(s.processes_to_decide.value_or(min_processes_to_decide), "--processes",
                             max_processes_allowed) +
                ")";
    }
    // Over processes the test's samples are the processes' medians, and so are its counts; in `ab`
    // they are the rounds, which both sides share.
    const bool by_processes = s.rule == judged_by::processes;
    const bool by_rounds = s.rule == judged_by::rounds;
    const std::string unit = by_rounds ? " rounds" : by_processes ? " processes" : " runs";
    if (s.result == verdict::inconclusive && by_rounds) {
        text += !s.runs_to_decide ? " (no practical count of rounds would decide it)"
                : *s.runs_to_decide > max_ab_rounds
                    ? " (not decidable with at most " + std::to_string(max_ab_rounds) + " rounds)"
                    : " (about " + std::to_string(*s.runs_to_decide) + " rounds would decide: --rounds " +
                          std::to_string(*s.runs_to_decide) + ")";
    } else if (s.result == verdict::inconclusive) {
        text += s.runs_to_decide ? " (" + would_decide(*s.runs_to_decide, by_processes ? "--processes" : "--runs",
                                                       by_processes ? max_processes_allowed : max_runs_allowed) +
                                       ")"
                                 : " (no practical count of" + unit + " would decide it)";
    }
    if (s.result == verdict::too_few_runs && by_rounds) {
        text += " (fewer rounds than the test needs at this alpha)";
    }
    if (s.weak && s.result != verdict::too_few_runs && s.result != verdict::too_few_processes) {
        text += " (weak: fewer than " + std::to_string(min_runs_for_a_strong_test) + unit + ")";
    }
    return text;
}

void print_comparison_rows(const step_comparison& step, bool several, const std::optional<double>& drift,
                           std::ostream& out) {
    // Every column as wide as its widest cell needs, so that a wide value never runs into the next.
    std::vector<std::string> names{"strategy"}, bases{"base (ms)"}, nexts{"new (ms)"}, shifts{"shift"}, ps{"p-value"};
    for (const auto& s : step.strategies) {
        names.push_back(printable(several ? s.name + " [" + std::to_string(s.run + 1) + "]" : s.name));
        bases.push_back(median_cell(s.base_median, s.base_precision));
        nexts.push_back(median_cell(s.next_median, s.next_precision));
        shifts.push_back(shift_text(s));
        ps.push_back(decisive_p_text(s));
    }
    const std::size_t widths[] = {column_width(34, names), column_width(16, bases), column_width(16, nexts),
                                  column_width(26, shifts), column_width(10, ps)};
    for (std::size_t row = 0; row < names.size(); ++row) {
        out << padded(names[row], widths[0], true) << padded(bases[row], widths[1], false)
            << padded(nexts[row], widths[2], false) << padded(shifts[row], widths[3], false)
            << padded(ps[row], widths[4], false) << "  ";
        if (row == 0) {
            out << "verdict" << std::endl;
            continue;
        }
        const strategy_comparison& s = step.strategies[row - 1];
        out << verdict_cell(s) << " [" << rule_text(s, drift) << "]" << std::endl;
    }
}

std::string gate_rule(const comparison& c) {
    std::ostringstream rule;
    rule << "Slower or faster: p < " << c.alpha << " and the whole interval beyond " << 100 * c.threshold
         << "%; equivalent: the whole interval within \u00b1" << 100 * c.threshold << "%." << holm_note(c);
    return rule.str();
}

void print_comparison(const comparison& c, std::ostream& out) {
    out << "Comparing " << printable(c.base_name) << " (base) with";
    for (std::size_t r = 0; r < c.next_names.size(); ++r) {
        out << (r == 0 ? " " : ", ") << printable(c.next_names[r]);
    }
    out << (c.next_names.size() == 1 ? " (new)" : " (new runs)") << std::endl;
    if (!c.differences.empty()) {
        out << "The runs differ in:" << std::endl;
        for (const auto& d : c.differences) {
            out << "  " << d.field << ": " << printable(d.base) << " -> " << printable(d.next)
                << (c.next_names.size() > 1 ? " (" + printable(c.next_names[d.run]) + ")" : "") << std::endl;
        }
    }
    out << "The shift is the Hodges-Lehmann estimate of new - base with its 95% interval, relative to the base "
        << "median. " << gate_rule(c) << std::endl;
    out << "The unit is the process: with " << min_processes_to_decide
        << " or more processes on both sides the test runs on their medians; with fewer, the shift of the sorts "
        << (c.drift ? "decides only when its whole interval lies beyond the drift of \u00b1" +
                          fixed_or_na(100 * *c.drift, 1) + "% (--drift)"
                    : "is shown but not judged (--drift accepts it beyond a drift you know)")
        << "." << std::endl;
    const bool several = c.next_names.size() > 1;
    for (const auto& step : c.steps) {
        out << std::endl;
        if (step.cpus > 0) {
            out << "On " << cpus_text(step.cpus) << ":" << std::endl;
        }
        print_comparison_rows(step, several, c.drift, out);
    }
    if (several) {
        out << std::endl;
        for (std::size_t r = 0; r < c.next_names.size(); ++r) {
            out << "[" << r + 1 << "] " << printable(c.next_names[r]) << std::endl;
        }
    }
    if (!c.skipped.empty()) {
        out << std::endl << "Not compared:" << std::endl;
        for (const auto& item : c.skipped) {
            out << "  " << item << std::endl;
        }
    }
}
