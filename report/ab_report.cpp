#include "report/ab_report.hpp"

#include <cstdio>
#include <ostream>

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

void print_ab(const ab_results& ab, std::ostream& out) {
    const comparison& c = ab.judged;
    out << "Interleaved comparison: " << ab.rounds.size() << " rounds, each running both sides once in a shuffled "
        << "order (seed " << ab.seed << ")" << std::endl;
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
    out << "Per round, the new side's median over the base side's; over the rounds, the Hodges-Lehmann estimate of "
        << "that ratio with its " << 100 * (1 - c.alpha) << "% interval and the exact Wilcoxon signed-rank test. "
        << gate_rule(c) << " The medians are each side's median over the rounds." << std::endl;
    for (const auto& step : c.steps) {
        out << std::endl;
        print_comparison_rows(step, false, std::nullopt, out);
    }
    if (!c.skipped.empty()) {
        out << std::endl << "Not compared:" << std::endl;
        for (const auto& item : c.skipped) {
            out << "  " << item << std::endl;
        }
    }
}
