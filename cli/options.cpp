// The command line read into settings; with no arguments, the classic run.
#include "cli/options.hpp"

#include <algorithm>
#include <ostream>
#include <set>
#include <string>

#include "cli/ab_command.hpp"
#include "cli/compare_command.hpp"
#include "cli/history_command.hpp"
#include "cli/option_rules.hpp"
#include "cli/run_settings_table.hpp"
#include "common/error.hpp"

namespace {

constexpr const char* program_name = "quicksort_bench";

// What the benchmark's own options were given, before they are checked: by `setting`.
struct run_texts {
    setting_texts settings;
    const setting_text& operator[](setting s) const { return settings[static_cast<std::size_t>(s)]; }
    setting_text& operator[](setting s) { return settings[static_cast<std::size_t>(s)]; }
    const std::string& text(setting s) const { return (*this)[s].text; }
};

void add_run_options(CLI::App& app, run_texts& texts) {
    for (std::size_t k = 0; k < setting_options.size(); ++k) {
        add_setting(app, static_cast<setting>(k), texts.settings[k]);
    }
}

// The flags and the exports, which need no check of their own.
void take_run_flags(options& opts, const run_texts& texts) {
    for (const auto& [flag, s] : {std::pair{&options::no_pause, setting::no_pause},
                                  {&options::breakdown, setting::breakdown},
                                  {&options::resources, setting::resources},
                                  {&options::no_counters, setting::no_counters},
                                  {&options::record, setting::record},
                                  {&options::validate, setting::validate}}) {
        opts.*flag = texts[s].on;
    }
    for (const auto& [path, s] : {std::pair{&export_paths::json, setting::export_json},
                                  {&export_paths::csv, setting::export_csv},
                                  {&export_paths::markdown, setting::export_markdown},
                                  {&export_paths::chart, setting::chart},
                                  {&export_paths::gbench, setting::export_gbench},
                                  {&export_paths::html, setting::export_html}}) {
        opts.exports.*path = texts.text(s);
    }
}

// Processes are the unit of repetition: with a precision goal the run adds processes, not sorts.
void finish_process_options(const CLI::App& app, options& opts, const run_texts& texts) {
    constexpr auto most_processes = static_cast<unsigned>(max_processes_allowed);
    if (app.count("--processes") > 0) {
        opts.processes = parse_count<unsigned>("--processes", texts.text(setting::processes), 1, most_processes);
        if (app.count("--cpus") > 0) {
            throw CLI::ValidationError("--processes does not combine with --cpus: a sweep's rounds are its processes "
                                       "(--rounds)");
        }
    }
    if (app.count("--max-processes") > 0) {
        if (app.count("--processes") == 0 || app.count("--precision") == 0) {
            throw CLI::ValidationError("--max-processes limits --precision over --processes; both must be given");
        }
        opts.precision->max_processes =
            parse_count<unsigned>("--max-processes", texts.text(setting::max_processes), opts.processes,
                                  most_processes);
    }
    if (opts.processes > 1 && opts.precision) {
        if (app.count("--max-runs") > 0) {
            throw CLI::ValidationError("--max-runs limits the sorts of one process; with --processes the precision "
                                       "adds processes (--max-processes)");
        }
        if (opts.precision->max_processes == 0) {
            opts.precision->max_processes = std::max(30u, opts.processes);
        }
        opts.precision->min_processes = opts.processes;
        if (app.count(option_name(setting::runs)) == 0) {
            opts.sizes.run_count = bench_config{}.run_count;
        }
        opts.precision->max_runs = opts.sizes.run_count;
    }
}

void finish_run_options(const CLI::App& app, options& opts, const run_texts& texts, unsigned usable_cpus) {
    bench_config& sizes = opts.sizes;
    read_setting(app, setting::size, texts[setting::size], opts);
    read_setting(app, setting::runs, texts[setting::runs], opts);
    read_setting(app, setting::values, texts[setting::values], opts);
    read_setting(app, setting::reference, texts[setting::reference], opts);
    if (app.count("--precision") > 0) {
        precision_goal goal;
        goal.target = parse_decimal("--precision", texts.text(setting::precision), "a percentage from 0.1 to 50",
                                    [](double p) { return p >= 0.1 && p <= 50; }) /
                      100;
        if (app.count(option_name(setting::runs)) == 0) {
            sizes.run_count = min_runs_for_interval;
        }
        goal.max_runs = std::max(goal.max_runs, sizes.run_count);
        if (app.count("--max-runs") > 0) {
            goal.max_runs = parse_count<std::uint64_t>(
                "--max-runs", texts.text(setting::max_runs), sizes.run_count, max_run_count);
        }
        if (app.count("--max-time") > 0) {
            goal.max_time_ns = parse_duration("--max-time", texts.text(setting::max_time));
        }
        opts.precision = goal;
    } else {
        for (const char* limit : {"--max-runs", "--max-time"}) {
            if (app.count(limit) > 0) {
                throw CLI::ValidationError(std::string(limit) + " limits --precision, which is not given");
            }
        }
    }
    read_setting(app, setting::chunk, texts[setting::chunk], opts);
    if (app.count("--cpus") > 0) {
        try {
            opts.cpu_counts = parse_cpu_counts(texts.text(setting::cpus), usable_cpus);
        } catch (const cpu_list_error& e) {
            throw CLI::ValidationError("--cpus", e.what());
        }
    }
    if (app.count("--rounds") > 0) {
        opts.rounds = parse_count<unsigned>("--rounds", texts.text(setting::rounds), 1, 1000);
    }
    if (app.count("--seed") > 0) {
        opts.seed = parse_count<std::uint64_t>("--seed", texts.text(setting::seed), 0, UINT64_MAX);
    }
    finish_process_options(app, opts, texts);
    for (const char* record_only : {"--history", "--label"}) {
        if (app.count(record_only) > 0 && !opts.record) {
            throw CLI::ValidationError(std::string(record_only) + " belongs to --record, which is not given");
        }
    }
    opts.history_file = texts.text(setting::history);
    opts.label = texts.text(setting::label);
    if (const auto refusal = label_refusal(opts.label)) {
        throw CLI::ValidationError("--label", *refusal);
    }
    for (const char* sweep_only : {"--rounds", "--seed"}) {
        if (app.count(sweep_only) > 0 && app.count("--cpus") == 0) {
            throw CLI::ValidationError(std::string(sweep_only) + " belongs to a sweep, and --cpus is not given");
        }
    }
    // The counters cost the timed sorts something (a software page-fault counter counts every fault
    // of the merge inside its interval): they open only when the resources are asked for.
    opts.counters = opts.resources && !opts.no_counters;
    check_export_paths(app, export_values(opts.exports, &exporter::run));
}

named_values run_values(const run_texts& texts) {
    named_values values;
    for (std::size_t k = 0; k < setting_options.size(); ++k) {
        if (!setting_options[k].is_flag()) {
            values.emplace_back(setting_options[k].name, &texts.settings[k].text);
        }
    }
    return values;
}

} // namespace

parse_outcome parse_options(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                            unsigned usable_cpus) {
    parse_outcome outcome;
    options& opts = outcome.opts;
    CLI::App app{"Times four quicksort strategies (sequential on a thread pool, two threads, chunked parallel, "
                 "chunked parallel inside a parallel loop) on arrays of pseudo-random integers.",
                 program_name};
    app.set_version_flag("--version", std::string(program_name) + " 1.0.0");
    run_texts texts;
    add_run_options(app, texts);

    compare_options cmp;
    compare_texts cmp_texts;
    CLI::App* compare = add_compare_command(app, cmp, cmp_texts);

    history_options hist;
    history_texts hist_texts;
    CLI::App* history = add_history_command(app, hist, hist_texts);

    ab_options ab;
    ab_texts ab_text;
    CLI::App* ab_command = add_ab_command(app, ab, ab_text);

    CLI::App* check = app.add_subcommand(
        "check", "Say whether this machine can give trustworthy numbers now: frequency scaling, topology, load, "
                 "memory, counters, throttling; exit status 0 when all is ok, 1 when something warns");
    std::string check_json;
    check->add_option("--export-json", check_json, "Write the same as JSON")->type_name("FILE");

    try {
        if (const std::string repeated = repeated_option(app, argc, argv); !repeated.empty()) {
            throw CLI::ValidationError(repeated + " is given twice");
        }
        app.parse(argc, argv);
        take_run_flags(opts, texts);
        refuse_option_as_value(app, run_values(texts));
        if (*check) {
            refuse_benchmark_options(app, "check takes no benchmark options");
            refuse_option_as_value(*check, {{"--export-json", &check_json}});
            check_export_paths(*check, {{"--export-json", &check_json}});
            opts.check = check_json;
        } else if (*history) {
            finish_history(app, *history, hist, hist_texts);
            opts.history = hist;
        } else if (*compare) {
            finish_compare(app, *compare, cmp, cmp_texts);
            opts.compare = cmp;
        } else if (*ab_command) {
            finish_ab(app, *ab_command, ab, ab_text);
            opts.ab = ab;
        } else {
            finish_run_options(app, opts, texts, usable_cpus);
        }
    } catch (const CLI::CallForHelp&) {
        // Each usage line names the program and the subcommands it stands under.
        const CLI::App* asked = *compare ? compare : *check ? check : *ab_command ? ab_command : &app;
        std::string under = asked == &app ? "" : program_name;
        if (*history) {
            const bool action = !history->get_subcommands().empty();
            asked = action ? history->get_subcommands().front() : history;
            under = action ? std::string(program_name) + " history" : program_name;
        }
        out << asked->help(under) << std::flush;
        outcome.exit_code = 0;
    } catch (const CLI::CallForVersion& e) {
        out << e.what() << std::endl;
        outcome.exit_code = 0;
    } catch (const CLI::ParseError& e) {
        print_error(err, own_words(e) + " (see --help)");
        outcome.exit_code = 2;
    }
    return outcome;
}
