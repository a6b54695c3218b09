// The comparison's and the readiness check's JSON.
#include <nlohmann/json.hpp>

#include <cmath>
#include <ostream>

#include "records/json_fields.hpp"
#include "records/record_fields.hpp"
#include "report/ab_report.hpp"
#include "report/comparison_report.hpp"
#include "report/exports.hpp"

namespace {

nlohmann::ordered_json pair_json(const std::optional<std::pair<double, double>>& pair) {
    return pair ? nlohmann::ordered_json{pair->first, pair->second} : nlohmann::ordered_json(nullptr);
}

using json_fields::to_json;

} // namespace

void write_comparison_json(const comparison& c, std::ostream& out) {
    nlohmann::ordered_json doc;
    doc["format_version"] = export_format_version;
    doc["base"] = c.base_name;
    doc["new"] = c.next_names;
    doc["alpha"] = c.alpha;
    doc["threshold"] = c.threshold;
    auto differences = nlohmann::ordered_json::array();
    for (const auto& d : c.differences) {
        differences.push_back({{"new_run", d.run}, {"field", d.field}, {"base", d.base}, {"new", d.next}});
    }
    doc["differences"] = std::move(differences);
    doc["not_compared"] = c.skipped;
    auto steps = nlohmann::ordered_json::array();
    for (const auto& step : c.steps) {
        auto strategies = nlohmann::ordered_json::array();
        for (const auto& s : step.strategies) {
            strategies.push_back({{"name", s.name},
                                  {"new_run", s.run},
                                  {"base_median_ns", s.base_median},
                                  {"new_median_ns", s.next_median},
                                  {"base_median_precision", to_json(s.base_precision)},
                                  {"new_median_precision", to_json(s.next_precision)},
                                  {"change", to_json(s.change)},
                                  {"shift_ns", to_json(s.shift_ns)},
                                  {"shift_interval_ns", pair_json(s.shift_interval_ns)},
                                  {"shift", to_json(s.shift)},
                                  {"shift_interval", pair_json(s.shift_interval)},
                                  {"p_value", to_json(s.p_value)},
            {"adjusted_p_value", to_json(s.adjusted_p_value)},
                                  {"adjusted_p_value", to_json(s.adjusted_p_value)},
                                  {"verdict", verdict_text(s.result)},
                                  {"runs_to_decide", s.runs_to_decide ? nlohmann::ordered_json(*s.runs_to_decide)
                                                                      : nlohmann::ordered_json(nullptr)},
                                  {"weak_test", s.weak},
                                  {"rule", rule_text(s, c.drift)},
                                  {"unit", s.rule == judged_by::processes ? "process medians" : "sorts"},
                                  {"base_processes", s.base_processes},
                                  {"new_processes", s.next_processes},
                                  {"processes_to_decide", s.processes_to_decide
                                                              ? nlohmann::ordered_json(*s.processes_to_decide)
                                                              : nlohmann::ordered_json(nullptr)},
                                  {"base_durations_ns", s.base},
                                  {"new_durations_ns", s.next}});
        }
        steps.push_back({{"cpus", step.cpus}, {"strategies", std::move(strategies)}});
    }
    doc["steps"] = std::move(steps);
    doc["any_slower"] = c.any(verdict::slower);
    doc["undecided"] = c.undecided();
    out << json_fields::json_text(doc, 2) << '\n';
}

namespace {

nlohmann::ordered_json side_json(const ab_side& side) {
    return {{"program", side.program}, {"arguments", side.arguments}, {"options", side.options_text}};
}

// A row's figures on the scale the test ran on (the log ratio) and as a relative change.
nlohmann::ordered_json ab_row_json(const strategy_comparison& s, const comparison& c) {
    const auto log_of = [](const std::optional<double>& change) {
        return change ? nlohmann::ordered_json(std::log1p(*change)) : nlohmann::ordered_json(nullptr);
    };
    nlohmann::ordered_json row = {{"strategy", s.name},
            {"rounds", s.rounds},
            {"base_median_ns", s.base_median},
            {"new_median_ns", s.next_median},
            {"base_medians_ns", s.base},
            {"new_medians_ns", s.next},
            {"log_ratios", s.round_log_ratios},
            {"round_sd", to_json(s.round_sd)},
            {"log_ratio_estimate", log_of(s.shift)},
            {"log_ratio_interval", s.shift_interval ? nlohmann::ordered_json{std::log1p(s.shift_interval->first),
                                                                           std::log1p(s.shift_interval->second)}
                                                    : nlohmann::ordered_json(nullptr)},
            {"estimate", to_json(s.shift)},
            {"interval", pair_json(s.shift_interval)},
            {"p_value", to_json(s.p_value)},
            {"adjusted_p_value", to_json(s.adjusted_p_value)},
            {"verdict", verdict_text(s.result)},
            {"rounds_to_decide", s.runs_to_decide ? nlohmann::ordered_json(*s.runs_to_decide)
                                                  : nlohmann::ordered_json(nullptr)},
            {"rule", rule_text(s, c.drift)}};
    if (s.pair_sd) {
        row["pair_sd"] = *s.pair_sd; // rounds of pairs only, so that a record of process rounds keeps its bytes
    }
    return row;
}

} // namespace

void write_ab_json(const ab_results& ab, std::ostream& out) {
    const comparison& c = ab.judged;
    nlohmann::ordered_json doc;
    doc["format_version"] = export_format_version;
    doc["kind"] = "ab";
    doc["complete"] = ab.complete();
    doc["failure"] = ab.complete() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(ab.failure);
    doc["rounds_planned"] = ab.rounds_planned;
    doc["seed"] = ab.seed;
    doc["alpha"] = c.alpha;
    doc["threshold"] = c.threshold;
    doc["base"] = side_json(ab.base);
    doc["new"] = side_json(ab.next);
    doc["same_sides"] = ab.same_sides();
    auto sides_differ = nlohmann::ordered_json::array();
    for (const auto& d : c.differences) {
        sides_differ.push_back({{"field", d.field}, {"base", d.base}, {"new", d.next}, {"setting", is_run_setting(d)}});
    }
    doc["sides_differ"] = std::move(sides_differ);
    doc["not_compared"] = c.skipped;
    auto rounds = nlohmann::ordered_json::array();
    for (std::size_t k = 0; k < ab.rounds.size(); ++k) {
        const ab_round& r = ab.rounds[k];
        rounds.push_back({{"round", k + 1},
                          {"order", r.new_first ? nlohmann::ordered_json{"new", "base"}
                                                : nlohmann::ordered_json{"base", "new"}},
                          {"environment_pad", {{"base", r.base_pad}, {"new", r.next_pad}}},
                          {"base", *r.base_record},
                          {"new", *r.next_record}});
        if (!r.pairs.empty()) {
            auto pairs = nlohmann::ordered_json::array();
            for (const ab_pair& pair : r.pairs) {
                pairs.push_back({{"strategy", pair.strategy},
                                 {"array", pair.array},
                                 {"first", pair.new_first ? "new" : "base"},
                                 {"base_ns", pair.base_ns},
                                 {"new_ns", pair.next_ns}});
            }
            rounds.back()["pairs"] = std::move(pairs);
        }
    }
    doc["rounds"] = std::move(rounds);
    auto looks = nlohmann::ordered_json::array();
    for (const auto& look : ab.looks) {
        looks.push_back({{"rounds", look.rounds}, {"alpha", look.alpha}});
    }
    doc["looks"] = std::move(looks);
    auto differences = nlohmann::ordered_json::array();
    for (const auto& step : c.steps) {
        for (const auto& s : step.strategies) {
            differences.push_back(ab_row_json(s, c));
        }
    }
    doc["differences"] = std::move(differences);
    doc["any_slower"] = c.any(verdict::slower);
    doc["undecided"] = c.undecided();
    out << json_fields::json_text(doc, 2) << '\n';
}

void write_check_json(const std::vector<check_line>& lines, const environment_facts& facts, std::ostream& out) {
    nlohmann::ordered_json doc;
    doc["format_version"] = export_format_version;
    bool ok = true;
    auto list = nlohmann::ordered_json::array();
    for (const auto& line : lines) {
        ok = ok && line.ok;
        list.push_back(
            {{"status", line.ok ? "ok" : "warn"}, {"topic", line.topic}, {"found", line.text}, {"advice", line.advice}});
    }
    doc["verdict"] = ok ? "ok" : "warn";
    doc["lines"] = std::move(list);
    doc["environment"] = json_fields::record_json(facts);
    out << json_fields::json_text(doc, 2) << '\n';
}
