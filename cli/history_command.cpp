#include "cli/history_command.hpp"

#include <nlohmann/json.hpp>

#include <fstream>
#include <iomanip>
#include <iostream>
#include <map>
#include <sstream>
#include <tuple>

#include "common/error.hpp"
#include "common/output_file.hpp"
#include "report/comparison.hpp"
#include "report/json_reader.hpp"
#include "report/trend_report.hpp"

namespace {

void add_filters(CLI::App& sub, history_options& h, history_texts& texts) {
    sub.add_option("--machine", texts.machine, "Only this machine's runs (its short name or id)")->type_name("NAME");
    sub.add_option("--label", texts.label, "Only the runs with this label")->type_name("TEXT");
    sub.add_option("--since", texts.since, "Only runs from this date on (2026-12-07, or 2026-12-07T13:00:00, UTC)")
        ->type_name("DATE");
    sub.add_option("--until", texts.until, "Only runs up to this date (a day counts whole)")->type_name("DATE");
    sub.add_option("--size", texts.size, "Only runs of this array size")->type_name("N");
    sub.add_option("--last", texts.last, "Only the newest N of the runs selected")->type_name("N");
    sub.add_flag("--all-machines", h.filter.all_machines,
                 "Every machine's runs (otherwise one machine's: --machine, or that of the newest run)");
}

std::string history_file_text(const std::string& given) {
    return given.empty() ? default_history_path().string() : given;
}

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

void print_list(const std::vector<stored_run>& runs, std::ostream& out) {
    out << std::left << std::setw(6) << "run" << std::setw(26) << "date and time" << std::setw(24) << "machine"
        << std::setw(7) << "kind" << std::right << std::setw(11) << "size" << std::setw(8) << "sorts" << std::setw(11)
        << "processes" << std::setw(9) << "values" << std::setw(6) << "CPUs" << "  label" << std::endl;
    for (const auto& r : runs) {
        out << std::left << std::setw(6) << r.id << std::setw(26) << r.run_time << std::setw(24) << r.machine_name
            << std::setw(7) << r.kind << std::right << std::setw(11) << r.array_size << std::setw(8) << r.runs
            << std::setw(11) << r.processes << std::setw(9) << r.values << std::setw(6) << r.cpus << "  " << r.label
            << std::endl;
    }
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
        history_store store(h.file, false);
        runs = selected(store, h);
    }
    if (runs.empty()) {
        std::cout << "The history " << h.file << " holds no runs yet (--record stores one)." << std::endl;
        return 0;
    }
    print_list(runs, std::cout);
    return 0;
}

int show_trend(const history_options& h) {
    history_store store(h.file, false);
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
    std::ostream& out = h.exports.to_stdout() ? std::cerr : std::cout;
    print_trend(trend, out);
    write_export(h.exports.json, trend, write_trend_json);
    write_export(h.exports.markdown, trend, write_trend_markdown);
    write_export(h.exports.chart, trend, write_trend_svg);
    write_export(h.exports.html, trend, write_trend_html);
    return 0;
}

int compare_stored(const history_options& h) {
    history_store store(h.file, false);
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
    std::vector<std::pair<export_document, std::string>> documents;
    for (const auto& file : h.inputs) {
        export_document doc = read_export_file(file);
        std::ifstream in(file, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        documents.emplace_back(std::move(doc), text.str());
    }
    history_store store(h.file, true);
    for (std::size_t k = 0; k < documents.size(); ++k) {
        const auto& [doc, text] = documents[k];
        if (!doc.sweep.complete() && doc.sweep.is_sweep()) {
            std::cout << "skipped " << h.inputs[k] << ": an incomplete sweep" << std::endl;
            continue;
        }
        const auto id = store.record(doc.sweep, text, h.label);
        std::cout << (id ? "imported " + h.inputs[k] + " as run " + std::to_string(*id)
                         : "skipped " + h.inputs[k] + ": already stored")
                  << std::endl;
    }
    return 0;
}

int export_runs(const history_options& h) {
    history_store store(h.file, false);
    for (const auto& r : selected(store, h)) {
        const nlohmann::ordered_json line = {{"run", r.id},
                                             {"time", r.run_time},
                                             {"label", r.label},
                                             {"machine", r.machine_name},
                                             {"machine_id", r.machine_id},
                                             {"document", nlohmann::ordered_json::parse(store.document(r.id))}};
        std::cout << line.dump() << '\n';
    }
    std::cout << std::flush;
    return 0;
}

} // namespace

CLI::App* add_history_command(CLI::App& app, history_options& h, history_texts& texts) {
    CLI::App* history = app.add_subcommand(
        "history", "The history of recorded runs (--record): list, trend with change points, compare, import, export");
    history->require_subcommand(1, 1);
    const auto action = [&](const char* name, const char* description) {
        CLI::App* sub = history->add_subcommand(name, description);
        sub->add_option("--history", texts.file, "The history database (default $XDG_DATA_HOME/quicksort_bench/"
                                                 "history.sqlite)")
            ->type_name("FILE");
        return sub;
    };
    add_filters(*action("list", "One line per stored run"), h, texts);
    CLI::App* trend = action("trend", "Per strategy the medians of the stored runs in time order, with the change "
                                      "points found in them");
    add_filters(*trend, h, texts);
    trend->add_option("--strategy", texts.strategy, "Only this strategy's series")->type_name("NAME");
    trend->add_option("--export-json", h.exports.json, "Write the trends as JSON")->type_name("FILE");
    trend->add_option("--export-markdown", h.exports.markdown, "Write the trends as Markdown")->type_name("FILE");
    trend->add_option("--chart", h.exports.chart, "Write an SVG chart per series")->type_name("FILE");
    trend->add_option("--export-html", h.exports.html, "Write one HTML page with a chart per series")
        ->type_name("FILE");
    CLI::App* compare = action("compare", "Compare two stored runs as compare does (a run id, a label, or latest)");
    compare->add_option("runs", h.inputs, "The base run and the new run")->required()->expected(2)->type_name("A B");
    CLI::App* import = action("import", "Store --export-json files written earlier or elsewhere");
    import->add_option("files", h.inputs, "The files")->required()->expected(1, -1)->type_name("FILE.json...");
    import->add_option("--label", h.label, "Tag the imported runs")->type_name("TEXT");
    add_filters(*action("export", "Write the selected runs as JSON Lines to standard output"), h, texts);
    return history;
}

void finish_history(const CLI::App& app, const CLI::App& history, history_options& h, const history_texts& texts) {
    refuse_benchmark_options(app, "history takes no benchmark options");
    const CLI::App* sub = history.get_subcommands().at(0);
    h.action = sub->get_name();
    h.file = history_file_text(texts.file);
    const auto given = [&](const char* name) { return sub->get_option_no_throw(name) != nullptr && sub->count(name) > 0; };
    if (given("--machine")) {
        h.filter.machine = texts.machine;
    }
    if (given("--label") && h.action != "import") {
        h.filter.label = texts.label;
    }
    for (const auto& [name, text, end_of_day] : {std::tuple<const char*, const std::string*, bool>{"--since", &texts.since, false},
                                                 {"--until", &texts.until, true}}) {
        if (!given(name)) {
            continue;
        }
        const auto epoch = parse_filter_date(*text);
        if (!epoch) {
            throw CLI::ValidationError(name, "'" + *text + "' is not a date such as 2026-12-07 or 2026-12-07T13:00:00");
        }
        const bool whole_day = text->size() == 10;
        (end_of_day ? h.filter.until_epoch : h.filter.since_epoch) = *epoch + (end_of_day && whole_day ? 86'399 : 0);
    }
    if (given("--size")) {
        h.filter.size = parse_count<std::uint64_t>("--size", texts.size, 1, max_array_size);
    }
    if (given("--last")) {
        h.filter.last = parse_count<std::size_t>("--last", texts.last, 1, 1'000'000'000);
    }
    if (given("--strategy")) {
        h.strategy = texts.strategy;
    }
    if (h.action == "trend") {
        check_export_paths(*sub, {{"--export-json", &h.exports.json},
                                  {"--export-markdown", &h.exports.markdown},
                                  {"--chart", &h.exports.chart},
                                  {"--export-html", &h.exports.html}});
    }
}

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

int record_run(const options& opts, const sweep_results& run, const std::string& document) {
    if (!opts.record) {
        return 0;
    }
    const std::string file = history_file_text(opts.history_file);
    try {
        history_store store(file, true);
        const auto id = store.record(run, document, opts.label);
        std::cerr << (id ? "Recorded as run " + std::to_string(*id) + " in " + file : "Already recorded in " + file)
                  << std::endl;
        return 0;
    } catch (const history_error& e) {
        print_error(std::cerr, std::string("the run was not recorded: ") + e.what());
        return 1;
    }
}
