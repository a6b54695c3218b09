// The `history` actions: list, trend, compare, import and export over a stored history.
#include "records/json_fields.hpp"
#include "cli/history_mode.hpp"
#include "cli/history_import.hpp"
#include "cli/recording.hpp"

#include <algorithm>
#include <iostream>
#include <map>
#include <tuple>

#include "common/error.hpp"
#include "common/format.hpp"
#include "common/text.hpp"
#include "records/comparison.hpp"
#include "records/json_reader.hpp"
#include "records/strategy.hpp"
#include "report/comparison_report.hpp"
#include "report/exports.hpp"
#include "report/history_report.hpp"
#include "report/trend_report.hpp"

namespace {

// Groups the medians of `runs` into series that never mix machines, sizes, chunks, value kinds or
// CPU counts, each in time order, grouped by strategy.
std::vector<trend_series> series_of(const std::vector<stored_run>& runs, const std::vector<stored_median>& medians,
                                    const std::optional<std::string>& strategy) {
    std::map<std::int64_t, const stored_run*> by_id;
    for (const auto& r : runs) {
        by_id[r.id] = &r;
    }
    using key = std::tuple<std::string, std::uint64_t, std::int64_t, std::string, unsigned, std::string>;
    std::map<key, std::size_t> index;
    std::vector<trend_series> series;
    // The medians come in the runs' order, so each series fills in time order.
    for (const auto& m : medians) {
        const auto run = by_id.find(m.run_id);
        if (run == by_id.end() || (strategy && m.strategy != *strategy)) {
            continue;
        }
        const stored_run& r = *run->second;
        // Every machine a series of its own, also when every machine's runs are shown.
        const std::string& machine = r.machine_name;
        const key k{machine, r.array_size, r.chunk_size, r.values, m.cpus, m.strategy};
        auto [at, added] = index.try_emplace(k, series.size());
        if (added) {
            series.push_back({m.strategy, machine, r.array_size, r.chunk_size, r.values, m.cpus, {}, {}});
        }
        series[at->second].points.push_back({r.id, r.run_time, r.label, m.median_ns, m.low_ns, m.high_ns, r.processes,
                                             {r.compiler, r.kernel, r.tbb_version, r.source_revision}});
    }
    // Grouped by strategy, each strategy's machines side by side.
    const auto rank = [](const std::string& name) {
        const strategy_info* row = info_named(name);
        return row != nullptr ? index_of(row->id) : strategy_table.size();
    };
    std::stable_sort(series.begin(), series.end(),
                     [&](const trend_series& a, const trend_series& b) { return rank(a.strategy) < rank(b.strategy); });
    return series;
}

// The runs a filter selects: none in an empty history is said, none of a filter refused.
std::vector<stored_run> selected(history_store& store, const history_options& h) {
    std::vector<stored_run> runs = store.list(h.filter);
    if (runs.empty() && store.count() > 0) {
        throw history_error("no stored run matches the filters given", 2);
    }
    return runs;
}

// After a command's output: the runs of other machines a filter left out, counted on stderr.
void note_others(history_store& store, const history_options& h) {
    if (const auto [others, machines] = store.others(h.filter); others > 0) {
        std::cerr << "quicksort_bench: note: " << count_text(others, "run", "runs") << " of "
                  << count_text(machines, "other machine", "other machines")
                  << " not shown (--all-machines shows every machine's, --machine picks one)" << std::endl;
    }
}

int list_runs(const history_options& h) {
    // A history not yet created holds no runs: listing it creates nothing.
    if (!is_postgres_location(h.file) && !std::filesystem::exists(h.file)) {
        std::cout << "The history " << shown_location(h.file) << " holds no runs yet (--record stores one)." << std::endl;
        return 0;
    }
    history_store store(h.file, history_mode::read);
    const std::vector<stored_run> runs = selected(store, h);
    if (runs.empty()) {
        std::cout << "The history " << shown_location(h.file) << " holds no runs yet (--record stores one)." << std::endl;
        return 0;
    }
    print_history_list(runs, shown_location(h.file), std::cout);
    note_others(store, h);
    return 0;
}

int show_trend(const history_options& h) {
    history_store store(h.file, history_mode::read);
    const std::vector<stored_run> runs = selected(store, h);
    std::vector<std::int64_t> ids;
    for (const auto& r : runs) {
        ids.push_back(r.id);
    }
    trend_report trend;
    trend.history = shown_location(h.file);
    trend.series = series_of(runs, store.medians(ids, h.strategy), h.strategy);
    if (trend.series.empty()) {
        throw history_error(runs.empty() ? "the history " + shown_location(h.file) + " holds no runs yet"
                                         : "no selected run measured '" + h.strategy.value_or("") + "'",
                            2);
    }
    for (auto& s : trend.series) {
        s.changes = changes_of(s.points, trend.settings);
    }
    print_trend(trend, h.exports.to_stdout() ? std::cerr : std::cout);
    write_exports(h.exports, trend);
    note_others(store, h);
    return 0;
}

// A stored run's document read back; a damaged one is named by its run.
export_document stored_document(history_store& store, std::int64_t id) {
    try {
        return parse_export(store.document(id));
    } catch (const export_error& e) {
        throw history_error("run " + std::to_string(id) + ": its stored document is damaged (" + e.what() + ")", 2);
    }
}

int compare_stored(const history_options& h) {
    history_store store(h.file, history_mode::read);
    const std::int64_t base = store.resolve(h.inputs.at(0));
    const std::int64_t next = store.resolve(h.inputs.at(1));
    if (base == next) {
        throw history_error("'" + printable(h.inputs.at(0)) + "' and '" + printable(h.inputs.at(1)) +
                                "' are both run " + std::to_string(base) + ": a run compared with itself says nothing",
                            2);
    }
    const export_document base_run = stored_document(store, base);
    const export_document next_run = stored_document(store, next);
    const std::string next_name = "run " + std::to_string(next);
    comparison c = compare_runs(base_run.sweep, {{next_name, next_run.sweep}}, 0.05, 0.02);
    c.base_name = "run " + std::to_string(base);
    print_comparison(c, std::cout);
    return 0;
}

int export_runs(const history_options& h) {
    history_store store(h.file, history_mode::read);
    int status = 0;
    for (const auto& r : selected(store, h)) {
        nlohmann::ordered_json document;
        try {
            document = nlohmann::ordered_json::parse(store.document(r.id));
        } catch (const nlohmann::json::exception& e) {
            std::cerr << "quicksort_bench: warning: run " << r.id << ": its stored document is damaged (" << e.what()
                      << "); skipped" << std::endl;
            status = 1;
            continue;
        }
        const nlohmann::ordered_json line = {{"run", r.id},           {"time", r.run_time},
                                             {"label", r.label},      {"machine", r.machine_name},
                                             {"machine_id", r.machine_id}, {"document", std::move(document)}};
        std::cout << json_fields::json_text(line) << '\n';
    }
    std::cout << std::flush;
    note_others(store, h);
    return status;
}

} // namespace

int run_history(const history_options& h) {
    warn_of_password(h.file);
    try {
        if (h.action == "list") {
            return list_runs(h);
        }
        if (h.action == "trend") {
            return show_trend(h);
        }
        if (h.action == "compare") {
            return compare_stored(h);
        }
        if (h.action == "import") {
            return import_files(h);
        }
        if (h.action == "push") {
            return push_runs(h);
        }
        if (h.action == "machines") {
            history_store store(h.file, history_mode::read);
            print_machines(store.machines(), std::cout);
            return 0;
        }
        return export_runs(h);
    } catch (const history_error& e) {
        print_error(std::cerr, e.what());
        return e.status();
    } catch (const std::runtime_error& e) { // export_error or comparison_refused: a file or a pair refused
        print_error(std::cerr, e.what());
        return 2;
    }
}

