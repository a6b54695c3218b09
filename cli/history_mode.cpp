// The `history` actions: list, trend, compare, import and export over a stored history.
#include "records/json_fields.hpp"
#include "cli/history_mode.hpp"

#include <iostream>
#include <map>
#include <tuple>

#include "common/error.hpp"
#include "records/comparison.hpp"
#include "records/json_reader.hpp"
#include "report/comparison_report.hpp"
#include "report/exports.hpp"
#include "report/history_report.hpp"
#include "report/trend_report.hpp"

namespace {

// Groups the medians of `runs` into series that never mix machines, sizes, chunks, value kinds or
// CPU counts, each in time order.
std::vector<trend_series> series_of(const std::vector<stored_run>& runs, const std::vector<stored_median>& medians,
                                    bool all_machines, const std::optional<std::string>& strategy) {
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
        const std::string machine = all_machines ? "all machines" : r.machine_name;
        const key k{machine, r.array_size, r.chunk_size, r.values, m.cpus, m.strategy};
        auto [at, added] = index.try_emplace(k, series.size());
        if (added) {
            series.push_back({m.strategy, machine, r.array_size, r.chunk_size, r.values, m.cpus, {}, {}});
        }
        series[at->second].points.push_back({r.id, r.run_time, r.label, m.median_ns, m.low_ns, m.high_ns});
    }
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

int list_runs(const history_options& h) {
    // A history not yet created holds no runs: listing it creates nothing.
    std::vector<stored_run> runs;
    if (std::filesystem::exists(h.file)) {
        history_store store(h.file, history_mode::read);
        runs = selected(store, h);
    }
    if (runs.empty()) {
        std::cout << "The history " << h.file << " holds no runs yet (--record stores one)." << std::endl;
        return 0;
    }
    print_history_list(runs, std::cout);
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
    trend.history = h.file;
    trend.series = series_of(runs, store.medians(ids), h.filter.all_machines, h.strategy);
    if (trend.series.empty()) {
        throw history_error(runs.empty() ? "the history " + h.file + " holds no runs yet"
                                         : "no selected run measured '" + h.strategy.value_or("") + "'",
                            2);
    }
    for (auto& s : trend.series) {
        s.changes = changes_of(s.points, trend.settings);
    }
    print_trend(trend, h.exports.to_stdout() ? std::cerr : std::cout);
    write_exports(h.exports, trend);
    return 0;
}

int compare_stored(const history_options& h) {
    history_store store(h.file, history_mode::read);
    const std::int64_t base = store.resolve(h.inputs.at(0));
    const std::int64_t next = store.resolve(h.inputs.at(1));
    const export_document base_run = parse_export(store.document(base));
    const export_document next_run = parse_export(store.document(next));
    const std::string next_name = "run " + std::to_string(next);
    comparison c = compare_runs(base_run.sweep, {{next_name, next_run.sweep}}, 0.05, 0.02);
    c.base_name = "run " + std::to_string(base);
    print_comparison(c, std::cout);
    return 0;
}

int import_files(const history_options& h) {
    // Every file is read and checked before anything is stored: a bad one stores nothing.
    std::vector<export_document> documents;
    for (const auto& file : h.inputs) {
        documents.push_back(read_export_file(file));
    }
    history_store store(h.file, history_mode::write);
    for (std::size_t k = 0; k < documents.size(); ++k) {
        const export_document& doc = documents[k];
        if (!doc.sweep.complete() && doc.sweep.is_sweep()) {
            std::cout << "skipped " << h.inputs[k] << ": an incomplete sweep" << std::endl;
            continue;
        }
        const auto id = store.record(doc.sweep, doc.document, h.label);
        std::cout << (id ? "imported " + h.inputs[k] + " as run " + std::to_string(*id)
                         : "skipped " + h.inputs[k] + ": already stored")
                  << std::endl;
    }
    return 0;
}

int export_runs(const history_options& h) {
    history_store store(h.file, history_mode::read);
    for (const auto& r : selected(store, h)) {
        const nlohmann::ordered_json line = {{"run", r.id},
                                             {"time", r.run_time},
                                             {"label", r.label},
                                             {"machine", r.machine_name},
                                             {"machine_id", r.machine_id},
                                             {"document", nlohmann::ordered_json::parse(store.document(r.id))}};
        std::cout << json_fields::json_text(line) << '\n';
    }
    std::cout << std::flush;
    return 0;
}

} // namespace

int run_history(const history_options& h) {
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
        return export_runs(h);
    } catch (const history_error& e) {
        print_error(std::cerr, e.what());
        return e.status();
    } catch (const std::runtime_error& e) { // export_error or comparison_refused: a file or a pair refused
        print_error(std::cerr, e.what());
        return 2;
    }
}

