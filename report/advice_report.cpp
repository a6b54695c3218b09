// What a finished run says on stderr beside its report: how far each median can be trusted, the
// design a run of processes suggests, and what changed on the machine.
#include "report/advice_report.hpp"

#include <cmath>
#include <cstdio>
#include <ostream>

#include "common/format.hpp"
#include "records/derived.hpp"

namespace {

std::string percent(double fraction) { return fixed(100 * fraction, 1) + "%"; }

// How many processes the target asks for, never a count past what the options allow.
std::string processes_line(const strategy_result& s, const process_design& d) {
    std::string line = s.name + ": its process medians spread " + percent(*d.median_cv) + " (cv), so ";
    if (*d.processes_for_target > d.most_processes) {
        line += percent_text(d.target) + " is not reachable with --max-processes " + std::to_string(d.most_processes);
    } else {
        line += "about " + count_text(*d.processes_for_target, "process", "processes") + " would reach " +
                percent_text(d.target);
    }
    if (const auto now = process_precision(s)) {
        line += " (" + std::to_string(s.processes.size()) + " reached \u00b1" + fixed(100 * *now, 1) + "%)";
    }
    return line;
}

// Within a process: how much is noise, how much the input, and what a process and a sort cost.
std::string within_line(const strategy_result& s, const process_design& d) {
    const variance_components& v = *s.components;
    std::string line = s.name + ": within a process its sorts spread " + percent(v.within_cv) + " (cv)";
    if (d.input_share) {
        line += ", " + percent(*d.input_share) + " of it which array was sorted (arrays recur from process to process)" +
                ", the rest noise";
    }
    if (d.process_cost_ns && d.sort_cost_ns) {
        line += "; a process costs " + fixed(*d.process_cost_ns / 1e6, 0) + " ms beyond its sorts, a sort " +
                fixed(*d.sort_cost_ns / 1e6, 0) + " ms";
        line += d.sorts_per_process
                    ? ", so " + count_text(*d.sorts_per_process, "sort", "sorts") + " per process cost the least time"
                    : ", and with no noise between processes more sorts per process cost the least time";
    }
    return line;
}

} // namespace

std::vector<std::string> design_advice(const benchmark_results& results) {
    std::vector<std::string> lines;
    for (const auto& s : results.strategies) {
        const auto design = design_of(results, s);
        if (!design) {
            continue;
        }
        if (design->median_cv && design->processes_for_target) {
            lines.push_back(processes_line(s, *design));
        }
        lines.push_back(within_line(s, *design));
    }
    if (!lines.empty()) {
        lines.push_back("more processes (--processes) narrow the interval over processes; more sorts per process "
                        "(--runs) narrow each process's median, not the spread between processes");
    }
    return lines;
}

void print_advice(const benchmark_results& results, std::ostream& err) {
    for (const auto& s : results.strategies) {
        for (const auto& warning : s.warnings) {
            err << "advice: " << s.name << ": " << warning << std::endl;
        }
    }
    for (const auto& line : design_advice(results)) {
        err << "advice: " << line << std::endl;
    }
    for (const auto& warning : results.environment_warnings) {
        err << "warning: " << warning << std::endl;
    }
}

void print_step_warnings(const benchmark_results& step, const std::string& name, std::ostream& err) {
    for (const auto& warning : step.environment_warnings) {
        err << "warning: " << name << ": " << warning << std::endl;
    }
    const auto& goal = step.context.precision;
    for (const auto& s : step.strategies) {
        if (goal && !s.target_reached.value_or(true)) {
            err << "warning: " << name << ": " << s.name << " missed its precision target of "
                << percent_text(goal->target) << " ("
                << (s.summary.interval ? precision_text(s.summary) : std::string("no interval")) << " after "
                << s.durations.size() << " sorts)" << std::endl;
        }
    }
}
