// Writes result records and sweeps from their field lists.
#include "records/record_json.hpp"

#include <ostream>

#include "records/breakdown_json.hpp"
#include "records/record_fields.hpp"
#include "records/derived.hpp"

namespace json_fields {

ordered interval_json(const std::optional<median_interval>& interval) {
    return interval ? ordered{interval->low, interval->high} : ordered(nullptr);
}

ordered across_processes_json(const process_estimate& e) {
    return {
        {"processes", e.processes},
        {"median_ns", e.median},
        {"median_interval_ns", interval_json(e.interval)},
        {"median_interval_coverage", e.interval ? ordered(e.interval->coverage) : ordered(nullptr)},
        {"median_precision", e.interval ? ordered(e.interval->precision) : ordered(nullptr)},
    };
}

ordered speedups_json(const std::vector<speedup_result>& speedups) {
    auto list = ordered::array();
    for (const auto& s : speedups) {
        list.push_back({
            {"name", s.name},
            {"mean_printed", s.mean_printed},
            {"median_printed", s.median_printed},
            {"mean_ratio", to_json(s.mean_ratio)},
            {"median_ratio", to_json(s.median_ratio)},
        });
    }
    return list;
}

ordered steps_json(const std::vector<sweep_step>& steps) {
    auto list = ordered::array();
    for (const auto& step : steps) {
        list.push_back(run_json(step.results));
    }
    return list;
}

namespace {

ordered pair_json(const std::optional<std::pair<double, double>>& pair) {
    return pair ? ordered{pair->first, pair->second} : ordered(nullptr);
}

} // namespace

ordered scaling_json(const sweep_results& sweep) {
    auto scaling = ordered::array();
    for (const auto& strategy : scaling_of(sweep)) {
        auto points = ordered::array();
        for (const auto& p : strategy.points) {
            points.push_back({{"cpus", p.cpus},
                              {"median_ns", p.median},
                              {"sorts_per_second", to_json(p.sorts_per_second)},
                              {"speedup", to_json(p.speedup)},
                              {"speedup_interval", pair_json(p.speedup_interval)},
                              {"efficiency", to_json(p.efficiency)}});
        }
        scaling.push_back({{"name", strategy.name},
                           {"reference", strategy.reference},
                           {"measure", strategy.by_throughput ? "throughput" : "median"},
                           {"points", std::move(points)}});
    }
    return scaling;
}

const char* not_a_value_kind(const json& j) {
    return j == "classic" || j == "wide" ? nullptr : "neither \"classic\" nor \"wide\"";
}
const char* not_a_precision(const json& j) {
    const double p = j.get<double>();
    return p > 0 && p <= 0.5 ? nullptr : "not a precision between 0 and 0.5";
}
const char* not_a_load_average(const json& j) { return j.get<double>() >= 0 ? nullptr : "not a load average"; }

} // namespace json_fields

namespace {

using json_fields::ordered;

// The variance within and between processes and the design they suggest, per strategy.
ordered design_json(const benchmark_results& results, const strategy_result& s) {
    const variance_components& v = *s.components;
    ordered entry = {
        {"within_cv", v.within_cv},
        {"between_cv", v.between_cv},
        {"between_estimate_negative", v.between_negative},
    };
    if (const auto design = design_of(results, s)) {
        using json_fields::to_json;
        entry["median_cv"] = to_json(design->median_cv);
        entry["input_share"] = to_json(design->input_share);
        entry["target"] = design->target;
        entry["processes_for_target"] = to_json(design->processes_for_target);
        entry["process_cost_ns"] = to_json(design->process_cost_ns);
        entry["sort_cost_ns"] = to_json(design->sort_cost_ns);
        entry["suggested_sorts_per_process"] = to_json(design->sorts_per_process);
    }
    return entry;
}

// The breakdown's figures convert through nlohmann::json, for which their field lists are declared.
template <typename Figures>
ordered ordered_from(const Figures& figures) {
    return ordered(nlohmann::json(figures));
}

// Each measured strategy's breakdown, in the entry of its strategy.
void add_breakdown(const breakdown_results& b, ordered& strategies) {
    const contention_figures& c = b.contention;
    const auto entry = [&strategies](strategy id) -> ordered& { return strategies[index_of(id)]["breakdown"]; };
    entry(strategy::sequential) = ordered_from(b.sequential);
    entry(strategy::thread) = ordered_from(b.thread);
    entry(strategy::thread)["contention"] =
        ordered_from(contention_json{c.thread_in_loop_ns, c.thread_alone_ns, c.thread_factor.value_or(0)});
    entry(strategy::parallel) = ordered_from(b.parallel);
    entry(strategy::parallel_for)["contention"] =
        ordered_from(contention_json{c.chunked_in_loop_ns, c.chunked_alone_ns, c.chunked_factor.value_or(0)});
    const std::vector<std::string> sentences = breakdown_sentences(b);
    for (std::size_t k = 0; k < measured_strategy_count; ++k) {
        strategies[k]["breakdown"]["runs"] = b.runs;
        strategies[k]["breakdown"]["summary"] = sentences[k];
    }
}

} // namespace

nlohmann::ordered_json run_json(const benchmark_results& results) {
    ordered doc = json_fields::record_json(results);
    ordered& strategies = doc["strategies"];
    for (std::size_t k = 0; k < results.strategies.size(); ++k) {
        if (results.strategies[k].components) {
            strategies[k]["across_processes"]["variance"] = design_json(results, results.strategies[k]);
        }
    }
    if (results.breakdown) {
        add_breakdown(*results.breakdown, strategies);
    }
    return doc;
}

nlohmann::ordered_json sweep_json(const sweep_results& sweep) { return json_fields::record_json(sweep); }

nlohmann::ordered_json document_json(const sweep_results& run) {
    return run.is_sweep() ? sweep_json(run) : run_json(run.steps.at(0).results);
}

void write_json(const benchmark_results& results, std::ostream& out) { out << json_fields::json_text(run_json(results), 2) << '\n'; }

void write_sweep_json(const sweep_results& sweep, std::ostream& out) { out << json_fields::json_text(sweep_json(sweep), 2) << '\n'; }
