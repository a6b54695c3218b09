// What a finished run says on stderr beside its report: how far each median can be trusted, the
// design a run of processes suggests, and what changed on the machine.
#include "report/advice_report.hpp"

#include <cmath>
#include <cstdio>
#include <ostream>

#include "records/derived.hpp"

std::vector<std::string> design_advice(const benchmark_results& results) {
    std::vector<std::string> lines;
    char text[400];
    for (const auto& s : results.strategies) {
        if (!s.components) {
            continue;
        }
        const variance_components& v = *s.components;
        std::snprintf(text, sizeof text, "%s: within-process cv %.1f%%, between-process cv %.1f%%%s", s.name.c_str(),
                      100 * v.within_cv, 100 * v.between_cv,
                      v.between_negative ? " (its estimate came out negative: the processes agreed better than their "
                                           "sorts' spread predicts)"
                                         : "");
        std::string line = text;
        const auto design = design_of(s, results.process_costs_ns, sorts_in_flight(results, s));
        if (design) {
            std::snprintf(text, sizeof text, "; a process costs %.0f ms beyond its sorts, a sort %.0f ms",
                          design->process_cost_ns / 1e6, design->sort_cost_ns / 1e6);
            line += text;
            if (design->sorts_per_process) {
                line += "; for the least time run " + std::to_string(*design->sorts_per_process) +
                        " sorts per process, about " + std::to_string(design->processes_for_advised) +
                        " processes for " + percent_text(advised_precision);
            } else {
                line += "; with no variation between processes, more sorts per process are cheapest (at today's " +
                        std::to_string(std::llround(v.sorts_per_process)) + " sorts per process, about " +
                        std::to_string(design->processes_for_advised) + " processes for " +
                        percent_text(advised_precision) + ")";
            }
        }
        lines.push_back(line);
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
