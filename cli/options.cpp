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

// What the benchmark's own options were given, before they are checked.
struct run_texts {
    setting_texts settings;
    std::string precision, max_runs, max_time, cpus, rounds, seed, processes, max_processes, history, label;
    const setting_text& operator[](setting s) const { return settings[static_cast<std::size_t>(s)]; }
    setting_text& operator[](setting s) { return settings[static_cast<std::size_t>(s)]; }
};

void add_run_options(CLI::App& app, options& opts, run_texts& texts) {
    add_setting(app, setting::size, texts[setting::size]);
    add_setting(app, setting::runs, texts[setting::runs]);
    add_setting(app, setting::chunk, texts[setting::chunk]);
    app.add_flag("--no-pause", opts.no_pause,
                 "Do not wait for a key press after the report (there is no wait unless standard input and output "
                 "are a terminal and the run is in its foreground)");
    add_setting(app, setting::reference, texts[setting::reference]);
    app.add_flag("--breakdown", opts.breakdown,
                 "After the timed sorts, run every strategy again through instrumented copies of its routines "
                 "and show where its time goes (never mixed into the timed figures)");
    add_setting(app, setting::values, texts[setting::values]);
    export_paths& exports = opts.exports;
    app.add_option("--export-json", exports.json,
                   "Write every duration, statistics and the context as JSON (any export takes - for standard output)")
        ->type_name("FILE");
    app.add_option("--export-csv", exports.csv, "Write one CSV row per measured sort")->type_name("FILE");
    app.add_option("--export-markdown", exports.markdown, "Write a Markdown table of the results")
        ->type_name("FILE");
    app.add_option("--chart", exports.chart,
                   "Write an SVG chart: the medians, or in a sweep the speedup against the CPU count")
        ->type_name("FILE");
    app.add_option("--export-gbench", exports.gbench,
                   "Write the results in Google Benchmark's JSON format, for the tools that read it")
        ->type_name("FILE");
    app.add_option("--export-html", exports.html,
                   "Write one self-contained HTML page with the numbers, every sort, the charts and warnings")
        ->type_name("FILE");
    app.add_option("--precision", texts.precision,
                   "Keep measuring each strategy until its median is known to within PCT percent (its 95% "
                   "interval); --runs is then the minimum (default 6)")
        ->type_name("PCT");
    app.add_option("--max-runs", texts.max_runs, "With --precision: at most N sorts per strategy (default 100)")
        ->type_name("N");
    app.add_option("--max-time", texts.max_time,
                   "With --precision: add no more sorts (with --processes, no more processes) once the run has taken "
                   "this long (90s, 30m, 2h); the --processes asked for are a minimum it does not cut")
        ->type_name("DURATION");
    app.add_option("--cpus", texts.cpus,
                   "Sweep: measure every strategy on each of these counts of logical CPUs, e.g. 1,2,4 or 1-8 "
                   "or all (1, 2, 4, ... every CPU), then print how each one scales")
        ->type_name("LIST");
    app.add_flag("--resources", opts.resources,
                 "After the report, print what each phase used of the machine: CPU time, parallelism, context "
                 "switches, page faults, migrations and the counters the kernel allows");
    app.add_flag("--no-counters", opts.no_counters,
                 "With --resources: open no performance counters (the resources then come from getrusage alone); "
                 "without --resources none are opened, as they cost the timed sorts a little");
    app.add_option("--rounds", texts.rounds,
                   "Sweep: run every step R times, in a shuffled order each round, each round a process of its own; "
                   "from 6 rounds a step's median and interval come from its rounds' medians (default 1)")
        ->type_name("R");
    app.add_option("--processes", texts.processes,
                   "Run the whole measurement in K fresh processes, one after another, and estimate each median "
                   "over the processes' medians (an interval needs 6); the sorts of one process cannot show the "
                   "drift between processes (default 1)")
        ->type_name("K");
    app.add_option("--max-processes", texts.max_processes,
                   "With --processes and --precision: add processes until every median is known to within PCT, "
                   "up to K processes (default 30)")
        ->type_name("K");
    app.add_flag("--record", opts.record,
                 "After the report and the exports, store the run in the history (see `history`)");
    app.add_option("--history", texts.history,
                   "With --record: the history, an SQLite file or a PostgreSQL URI (postgresql://...) or key/value "
                   "string (host=... dbname=..., service=...); default $QUICKSORT_BENCH_HISTORY, else "
                   "$XDG_DATA_HOME/quicksort_bench/history.sqlite")
        ->type_name("FILE|URI");
    app.add_option("--label", texts.label, "With --record: tag the run (gcc-13, after-merge-fix)")->type_name("TEXT");
    app.add_option("--seed", texts.seed, "Sweep: the seed of the rounds' shuffled orders (default 1)")->type_name("N");
    app.add_flag("--validate", opts.validate,
                 "Check the options (and that the run fits in memory) and exit without measuring: status 0 when "
                 "they would run, 2 with the reason");
}

// Processes are the unit of repetition: with a precision goal the run adds processes, not sorts.
void finish_process_options(const CLI::App& app, options& opts, const run_texts& texts) {
    constexpr auto most_processes = static_cast<unsigned>(max_processes_allowed);
    if (app.count("--processes") > 0) {
        opts.processes = parse_count<unsigned>("--processes", texts.processes, 1, most_processes);
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
            parse_count<unsigned>("--max-processes", texts.max_processes, opts.processes, most_processes);
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
        goal.target = parse_decimal("--precision", texts.precision, "a percentage from 0.1 to 50",
                                    [](double p) { return p >= 0.1 && p <= 50; }) /
                      100;
        if (app.count(option_name(setting::runs)) == 0) {
            sizes.run_count = min_runs_for_interval;
        }
        goal.max_runs = std::max(goal.max_runs, sizes.run_count);
        if (app.count("--max-runs") > 0) {
            goal.max_runs = parse_count<std::uint64_t>("--max-runs", texts.max_runs, sizes.run_count, max_run_count);
        }
        if (app.count("--max-time") > 0) {
            goal.max_time_ns = parse_duration("--max-time", texts.max_time);
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
            opts.cpu_counts = parse_cpu_counts(texts.cpus, usable_cpus);
        } catch (const cpu_list_error& e) {
            throw CLI::ValidationError("--cpus", e.what());
        }
    }
    if (app.count("--rounds") > 0) {
        opts.rounds = parse_count<unsigned>("--rounds", texts.rounds, 1, 1000);
    }
    if (app.count("--seed") > 0) {
        opts.seed = parse_count<std::uint64_t>("--seed", texts.seed, 0, UINT64_MAX);
    }
    finish_process_options(app, opts, texts);
    for (const char* record_only : {"--history", "--label"}) {
        if (app.count(record_only) > 0 && !opts.record) {
            throw CLI::ValidationError(std::string(record_only) + " belongs to --record, which is not given");
        }
    }
    opts.history_file = texts.history;
    opts.label = texts.label;
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

named_values run_values(const options& opts, const run_texts& texts) {
    named_values values;
    for (const setting s : {setting::size, setting::runs, setting::chunk, setting::values}) {
        values.emplace_back(option_name(s), &texts[s].text);
    }
    values.insert(values.end(), {{"--cpus", &texts.cpus},
                                 {"--precision", &texts.precision},
                                 {"--max-runs", &texts.max_runs},
                                 {"--max-time", &texts.max_time},
                                 {"--rounds", &texts.rounds},
                                 {"--seed", &texts.seed},
                                 {"--processes", &texts.processes},
                                 {"--max-processes", &texts.max_processes},
                                 {"--history", &texts.history},
                                 {"--label", &texts.label}});
    const named_values exports = export_values(opts.exports, &exporter::run);
    values.insert(values.end(), exports.begin(), exports.end());
    return values;
}

} // namespace

bool run_option_takes_value(const std::string& name) {
    static const std::set<std::string> valued = [] {
        CLI::App app;
        options opts;
        run_texts texts;
        add_run_options(app, opts, texts);
        return valued_option_names(app);
    }();
    return valued.count(name) > 0;
}

parse_outcome parse_options(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                            unsigned usable_cpus) {
    parse_outcome outcome;
    options& opts = outcome.opts;
    CLI::App app{"Times four quicksort strategies (sequential on a thread pool, two threads, chunked parallel, "
                 "chunked parallel inside a parallel loop) on arrays of pseudo-random integers.",
                 program_name};
    app.set_version_flag("--version", std::string(program_name) + " 1.0.0");
    run_texts texts;
    add_run_options(app, opts, texts);

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
        refuse_option_as_value(app, run_values(opts, texts));
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
