// The `history` subcommand's options, read into the settings of its actions.
#include "cli/history_command.hpp"

#include <tuple>

#include "cli/run_settings_table.hpp"

namespace {

void add_filters(CLI::App& sub, history_options& h, history_texts& texts) {
    sub.add_option("--machine", texts.machine, "Only this machine's runs (its short name, host name or id)")
        ->type_name("NAME");
    sub.add_option("--label", texts.label, "Only the runs with this label")->type_name("TEXT");
    sub.add_option("--revision", texts.revision, "Only the runs built from this source revision (git describe)")
        ->type_name("REV");
    sub.add_option("--since", texts.since, "Only runs from this date on (2026-12-07, or 2026-12-07T13:00:00, UTC)")
        ->type_name("DATE");
    sub.add_option("--until", texts.until, "Only runs up to this date (a day counts whole)")->type_name("DATE");
    sub.add_option(option_name(setting::size), texts.size, "Only runs of this array size")->type_name("N");
    sub.add_option("--last", texts.last, "Only the newest N of the runs selected")->type_name("N");
    sub.add_flag("--all-machines", h.filter.all_machines,
                 "Every machine's runs (otherwise one machine's: --machine, or that of the newest run)");
}

} // namespace

CLI::App* add_history_command(CLI::App& app, history_options& h, history_texts& texts) {
    CLI::App* history = app.add_subcommand(
        "history", "The history of recorded runs (--record): list, trend with change points, compare, import, export, "
                   "push, machines");
    history->require_subcommand(1, 1);
    const auto action = [&](const char* name, const char* description) {
        CLI::App* sub = history->add_subcommand(name, description);
        sub->add_option("--history", texts.file,
                        "The history: an SQLite file, a PostgreSQL URI postgresql://... or key/value string (host=... "
                        "dbname=..., service=...) (default "
                        "$QUICKSORT_BENCH_HISTORY, else $XDG_DATA_HOME/quicksort_bench/history.sqlite)")
            ->type_name("FILE|URI");
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
    CLI::App* push = action("push", "Copy the runs of the history (--history, a local file) into another history, "
                                    "one transaction per run; runs stored there already are skipped");
    push->add_option("--to", texts.to, "The history to copy into: a file or a PostgreSQL URI")
        ->required()
        ->type_name("FILE|URI");
    action("machines", "One line per machine: name, host, CPU model, logical CPUs, memory, kernel and compiler of its "
                       "newest run, runs, first and last run");
    return history;
}

void finish_history(const CLI::App& app, const CLI::App& history, history_options& h, const history_texts& texts) {
    refuse_benchmark_options(app, "history takes no benchmark options");
    const CLI::App* sub = history.get_subcommands().at(0);
    h.action = sub->get_name();
    try {
        h.file = history_location(texts.file);
    } catch (const history_error& e) {
        throw CLI::ValidationError("--history", e.what());
    }
    const auto given = [&](const char* name) { return sub->get_option_no_throw(name) != nullptr && sub->count(name) > 0; };
    if (given("--machine")) {
        if (texts.machine.empty()) {
            throw CLI::ValidationError("--machine", "names no machine (give its short name, host name or id)");
        }
        if (h.filter.all_machines) {
            throw CLI::ValidationError("--machine picks one machine, --all-machines every one: give one of them");
        }
        h.filter.machine = texts.machine;
    }
    if (const auto refusal = label_refusal(h.label)) {
        throw CLI::ValidationError("--label", *refusal);
    }
    if (given("--revision")) {
        h.filter.revision = texts.revision;
    }
    if (h.action == "push") {
        h.inputs = {texts.to};
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
    if (given(option_name(setting::size))) {
        h.filter.size = parse_count<std::uint64_t>(option_name(setting::size), texts.size, 1, max_array_size);
    }
    if (given("--last")) {
        h.filter.last = parse_count<std::size_t>("--last", texts.last, 1, 1'000'000'000);
    }
    if (given("--strategy")) {
        h.strategy = texts.strategy;
    }
    if (h.action == "trend") {
        check_export_paths(*sub, export_values(h.exports, &exporter::trend));
    }
}

